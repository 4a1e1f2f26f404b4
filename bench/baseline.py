"""The regression gate: every timed row's ratio against the one a committed
run measured on this machine model (bench/baseline.json).

The issue targets leave most rows several times of slack, so a path made
twice as slow could still meet its target. A ratio is tessaline's time over a
peer's (or a floor's) timed in the same process on the same arrays, so on one
machine it holds from run to run, whatever the machine's speed that day; it
does not hold across processors (another cache, another vector width). The
baseline is therefore kept per machine model: one set of ratios for each CPU
model (its name and widest vector instructions: a virtual machine names an
AVX2 and an AVX-512 processor alike) and core count. A row above
REGRESSION_FACTOR times its baseline ratio is a regression; a row this
machine has no baseline for is listed, not failed.

    python bench/run.py --quick --update-baseline   # on an idle machine, then commit baseline.json

A run with --only updates the rows of its scripts and keeps the others.
"""

from __future__ import annotations

import json
import pathlib
from typing import Any

from common import Row

PATH = pathlib.Path(__file__).with_name("baseline.json")

# A path made twice as slow doubles its ratio; 1.6 leaves room for the
# shared machine's noise on the other side. A row above it is timed again
# (its script is run once more) and fails only when the better of its two
# ratios is still above: one passing load seldom lands on both runs.
REGRESSION_FACTOR = 1.6


def row_key(row: Row) -> str:
    return f"{row.function} | {row.rows} rows | {row.peer}"


def load(path: pathlib.Path, machine: str) -> dict[str, float]:
    """The baseline ratios of `machine` (empty when it has none)."""
    if not path.exists():
        return {}
    machines: dict[str, Any] = json.loads(path.read_text())
    return dict(machines.get(machine, {}).get("ratios", {}))


def updated(
    path: pathlib.Path, machine: str, date: str, rows: list[Row]
) -> dict[str, dict[str, Any]]:
    """The baseline document with this run's ratios in place of the ones
    `machine` had for the same rows; other rows and machines are kept."""
    machines: dict[str, Any] = json.loads(path.read_text()) if path.exists() else {}
    ratios = dict(machines.get(machine, {}).get("ratios", {}))
    ratios.update({row_key(r): float(f"{r.ratio:.4g}") for r in rows if r.ratio is not None})
    machines[machine] = {"date": date, "ratios": dict(sorted(ratios.items()))}
    return dict(sorted(machines.items()))


def write(path: pathlib.Path, document: dict[str, dict[str, Any]]) -> None:
    path.write_text(json.dumps(document, indent=1, ensure_ascii=False) + "\n")


def regressed(rows: list[Row], ratios: dict[str, float]) -> list[Row]:
    """The rows whose ratio exceeds REGRESSION_FACTOR times their baseline."""
    return [
        r
        for r in rows
        if r.ratio is not None
        and row_key(r) in ratios
        and r.ratio > REGRESSION_FACTOR * ratios[row_key(r)]
    ]


def without_baseline(rows: list[Row], ratios: dict[str, float]) -> list[Row]:
    return [r for r in rows if r.ratio is not None and row_key(r) not in ratios]


def best_of(first: list[Row], again: list[Row]) -> list[Row]:
    """Each row of `first` with the lower of its two ratios, where `again` (a
    second run of the same script) timed it too."""
    retimed = {row_key(r): r for r in again if r.ratio is not None}
    best = []
    for r in first:
        other = retimed.get(row_key(r))
        best.append(
            other if other is not None and r.ratio is not None and other.ratio < r.ratio else r
        )
    return best


def fail_lines(rows: list[Row], ratios: dict[str, float]) -> list[str]:
    return [
        f"FAIL: {r.function} at {r.rows:,} rows against {r.peer}: ratio {r.ratio:.3f}, "
        f"{r.ratio / ratios[row_key(r)]:.2f} times its baseline {ratios[row_key(r)]:.3f} "
        f"(limit {REGRESSION_FACTOR:g} times)"
        for r in regressed(rows, ratios)
    ]
