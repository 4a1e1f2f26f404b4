"""Loader for the embedded German credit data (examples/data/germancredit.csv)."""

from __future__ import annotations

import csv
import pathlib

import numpy as np

DATA = pathlib.Path(__file__).parent / "data" / "germancredit.csv"
TARGET = "creditability"
EVENT = "bad"


def load(path: pathlib.Path = DATA) -> tuple[dict[str, np.ndarray], np.ndarray]:
    """Numeric columns as float64 arrays, and the target as 1 for a bad loan, 0 for a good one."""
    with open(path, newline="") as handle:
        rows = list(csv.DictReader(handle))
    columns: dict[str, np.ndarray] = {}
    for name in rows[0]:
        if name == TARGET:
            continue
        try:
            columns[name] = np.array([float(r[name]) if r[name] != "" else np.nan for r in rows])
        except ValueError:
            continue  # a categorical column
    target = np.array([1.0 if r[TARGET] == EVENT else 0.0 for r in rows])
    return columns, target
