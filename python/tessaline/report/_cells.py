"""Cells of the model's documentation: one value, shown as text on the page
and kept as a number in the workbook, so that a validator's spreadsheet
sorts, sums and charts it. A share stays a fraction (shown in percent), an
interval or a change (before and after) takes two cells of a sheet."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass


@dataclass(frozen=True)
class Number:
    """A number as the page shows it (`text`) and as a sheet holds it
    (`value`, in the number format `format`; NaN an empty cell)."""

    value: float
    text: str
    format: str = "General"


@dataclass(frozen=True)
class Pair:
    """Two numbers in one cell of the page, joined by `joint`, and in two
    cells of a sheet, whose header names them by `ends`."""

    first: Number
    second: Number
    joint: str
    ends: tuple[str, str]


Cell = str | Number | Pair


def number(value: float, digits: int) -> Number:
    value = float(value)
    return Number(value, "-" if math.isnan(value) else f"{value:.{digits}f}", f"0.{'0' * digits}")


def signed(value: float) -> Number:
    value = float(value)
    return Number(value, "-" if math.isnan(value) else f"{value:+.3f}", "+0.000;-0.000;0.000")


def count(value: float) -> Number:
    return Number(float(value), f"{int(value)}", "0")


def share(value: float, digits: int = 1) -> Number:
    value = float(value)
    return Number(value, "-" if math.isnan(value) else f"{value:.{digits}%}", f"0.{'0' * digits}%")


def general(value: float, text: str) -> Number:
    return Number(float(value), text)


def interval(low: float, high: float, digits: int) -> Pair:
    return Pair(number(low, digits), number(high, digits), " – ", ("from", "to"))


def change(before: Number, after: Number) -> Pair:
    return Pair(before, after, " -> ", ("before", "after"))


def text(cell: Cell) -> str:
    """The cell as the page shows it."""
    if isinstance(cell, Pair):
        if math.isnan(cell.first.value) and math.isnan(cell.second.value):
            return "-"
        return f"{cell.first.text}{cell.joint}{cell.second.text}"
    return cell.text if isinstance(cell, Number) else cell


def sheet_header(header: Sequence[str], rows: Sequence[Sequence[Cell]]) -> tuple[str, ...]:
    """The header of a table on a sheet: a column of pairs in two columns."""
    paired = {j: c.ends for row in rows for j, c in enumerate(row) if isinstance(c, Pair)}
    return tuple(
        name
        for j, h in enumerate(header)
        for name in ((f"{h} {paired[j][0]}", f"{h} {paired[j][1]}") if j in paired else (h,))
    )


def sheet_cells(row: Sequence[Cell]) -> list[str | Number]:
    """The cells of a row on a sheet: a pair as its two numbers."""
    return [n for c in row for n in ((c.first, c.second) if isinstance(c, Pair) else (c,))]
