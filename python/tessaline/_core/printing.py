"""Labels and plain-text tables shared by the result objects and the report."""

from __future__ import annotations

import math
from collections.abc import Collection, Sequence


def number(value: float) -> str:
    """A cut point or value as a reader wants it: no trailing zeros, and enough
    digits that two different cut points of one table never print the same."""
    return format(value, ".10g")


def count(value: float) -> str:
    """A count of rows, or a sum of weights: whole ones without decimals."""
    v = float(value)
    return str(int(v)) if v.is_integer() else number(v)


def interval(left: float, right: float) -> str:
    """'(-inf, 2.5]', '(2.5, 7]', '(7, +inf)'; NaN edges mark the missing-value row."""
    if math.isnan(left) and math.isnan(right):
        return "missing"
    lo = "(-inf" if left == -math.inf else f"({number(left)}"
    hi = "+inf)" if right == math.inf else f"{number(right)}]"
    return f"{lo}, {hi}"


def printable(text: str) -> str:
    """Text safe for a terminal: control characters (ANSI/OSC escape sequences
    among them) shown escaped, as '\\x1b', instead of acting on the terminal."""
    if text.isprintable():
        return text
    return "".join(c if c.isprintable() or c == " " else repr(c)[1:-1] for c in text)


def percent(value: float) -> str:
    return "-" if math.isnan(value) else f"{value:.1%}"


def fixed(value: float, digits: int) -> str:
    return "-" if math.isnan(value) else f"{value:.{digits}f}"


def text_table(
    header: Sequence[str], rows: Sequence[Sequence[str]], text_columns: Collection[int] = (0,)
) -> str:
    """Columns padded to their widest cell: the `text_columns` left-aligned,
    the others (numbers) right-aligned."""
    widths = [max([len(h), *(len(r[i]) for r in rows)]) for i, h in enumerate(header)]

    def line(cells: Sequence[str]) -> str:
        return "  ".join(
            c.ljust(w) if i in text_columns else c.rjust(w)
            for i, (c, w) in enumerate(zip(cells, widths))
        ).rstrip()

    out = [line(header), line(["-" * w for w in widths])]
    out.extend(line(r) for r in rows)
    return "\n".join(out)
