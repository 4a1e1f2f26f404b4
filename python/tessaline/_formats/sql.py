"""SQL expressions that score a fitted binning inside a database, giving what
`transform` gives, bit for bit.

A numeric column becomes one CASE expression whose branches follow the
table's rules in this order: NULL (and NaN where the engine has it) to the
missing-value row, each special value to its row, then the intervals closed
on the right (``x <= t1``, ``x <= t2``, ..., the last one open above, so
+inf falls there and -inf in the first). The column is read as a double
first, as `transform` reads it, so that an integer beyond 2^53 is rounded
before it is compared. SQLite holds any value in any column: there text
(an empty field of an imported file) or a blob in a numeric column goes
where a missing value goes, instead of sorting above every number.

A categorical column compares the column with the category names of each
bin; a pooled category and one not seen in training go where `transform`
sends them (the pooled group's bin, else the missing-value row). SQLite stores a
boolean as the integer 1 or 0, which there also matches the category "True"
or "False". A WoE without a value (a single-class table) is NULL.

Floats are written so that the engine reads the exact double: DuckDB and
PostgreSQL parse decimal numbers correctly rounded, so they are shortest
decimals cast to DOUBLE (DOUBLE PRECISION) there; PostgreSQL holds NaN as
a value distinct from NULL, and both are missing values;
SQLite's parser may be off by one unit in the last place, so there every
non-integer is the exact quotient of two integers (m / 2^k, both exact in a
double), which SQLite evaluates without rounding.

Text is written so that every setting of the engine reads it as it is:
PostgreSQL reads a backslash in a plain string as an escape when
standard_conforming_strings is off, so a string holding one is an E''
string there, its backslashes doubled; SQLite's statements cannot hold the
character NUL, so there it is char(0) between the parts; PostgreSQL's text
cannot hold it at all, so a string with NUL is refused for it.

These writers and the types a value is cast to are the only ones: the
engines' counting queries write their literals with them too.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from typing import Any, Literal

import numpy as np

from .._core import checks
from .._core.placement import MISSING_SLOT, category_bins, number_rules
from .._core.protocols import BinnedColumn, BinnedTable, PointsModel
from .._version import __version__

Dialect = Literal["duckdb", "sqlite", "postgresql"]
DIALECTS: tuple[Dialect, ...] = ("duckdb", "sqlite", "postgresql")

# Largest power of two written as one integer literal (fits a signed 64-bit integer).
_CHUNK = 2**62

# A whole statement names the release that wrote it, in a comment every
# dialect reads; a bare CASE expression does not, as it goes inside a caller's own.
STAMP = f"/* written by tessaline {__version__} */\n"


def identifier(name: str) -> str:
    """A column or table name quoted for SQL."""
    return '"' + name.replace('"', '""') + '"'


# The type a value is cast to, to read it as a double, and as text.
DOUBLE = {"duckdb": "DOUBLE", "sqlite": "REAL", "postgresql": "DOUBLE PRECISION"}
TEXT = {"duckdb": "VARCHAR", "sqlite": "TEXT", "postgresql": "TEXT"}


def text(value: str, dialect: Dialect) -> str:
    """A string literal the engine reads as `value` whatever its settings."""
    quoted = value.replace("'", "''")
    if "\x00" in value:
        if dialect == "postgresql":
            raise ValueError(
                f"the text {value!r} holds the character NUL, which PostgreSQL's text cannot hold"
            )
        if dialect == "sqlite":
            return "(" + " || char(0) || ".join(f"'{part}'" for part in quoted.split("\x00")) + ")"
    if dialect == "postgresql" and "\\" in value:
        return "E'" + quoted.replace("\\", "\\\\") + "'"
    return f"'{quoted}'"


def number(value: float, dialect: Dialect) -> str:
    """A double as an SQL expression the engine reads exactly, infinities
    included; NaN as NULL."""
    value = float(value)
    if math.isnan(value):
        return "NULL"
    if math.isinf(value):
        if dialect == "sqlite":
            # A decimal beyond the doubles' range reads as an infinity.
            return "9e999" if value > 0 else "-9e999"
        return f"CAST('{'-' if value < 0 else ''}Infinity' AS {DOUBLE[dialect]})"
    if dialect == "postgresql":
        # PostgreSQL reads a double's text correctly rounded, its shortest form included.
        return f"CAST('{value!r}' AS {DOUBLE[dialect]})"
    if value.is_integer() and abs(value) < 2.0**53:
        return f"{int(value)}.0" if value != 0.0 or math.copysign(1.0, value) > 0 else "-0.0"
    if dialect == "duckdb":
        # A plain decimal literal would be a DECIMAL there, not a double.
        return f"CAST({value!r} AS {DOUBLE[dialect]})"
    # value = mantissa * 2**exponent with an odd integer mantissa below 2**53.
    fraction, exponent = math.frexp(value)
    mantissa, exponent = int(fraction * 2.0**53), exponent - 53
    while mantissa % 2 == 0:
        mantissa //= 2
        exponent += 1
    expression = f"CAST({mantissa} AS {DOUBLE[dialect]})"
    operator = " * " if exponent > 0 else " / "
    steps = abs(exponent)
    while steps:
        step = min(steps, 62)
        expression += operator + str(2**step)
        steps -= step
    return f"({expression})"


# The integer SQLite stores for a boolean, by the category name of the boolean.
_BOOLEAN_CODES = {"True": "1", "False": "0"}


def _is_missing(column: str, dialect: Dialect) -> str:
    if dialect == "duckdb":
        return f"{column} IS NULL OR isnan(CAST({column} AS DOUBLE))"
    if dialect == "postgresql":
        # NaN is a value there, distinct from NULL, equal to itself.
        return f"{column} IS NULL OR CAST({column} AS DOUBLE PRECISION) = 'NaN'"
    # SQLite stores a NaN as NULL; NULL, text and blobs are not numbers.
    return f"typeof({column}) NOT IN ('integer', 'real')"


def _as_double(column: str, dialect: Dialect) -> str:
    return f"CAST({column} AS {DOUBLE[dialect]})"


def _is_member(column: str, members: Sequence[str], names: set[str], dialect: Dialect) -> str:
    """Whether the column holds one of the category names `members`, among
    the table's category names `names`."""
    test = f"{column} IN ({', '.join(text(m, dialect) for m in members)})"
    codes = [
        _BOOLEAN_CODES[m]
        for m in members
        if dialect == "sqlite" and m in _BOOLEAN_CODES and _BOOLEAN_CODES[m] not in names
    ]
    if codes:
        test = f"({test} OR typeof({column}) = 'integer' AND {column} IN ({', '.join(codes)}))"
    return test


def case(
    table: BinnedColumn,
    column: str,
    row_values: Sequence[str],
    missing_value: str,
    dialect: Dialect,
    unmatched_value: str | None = None,
) -> str:
    """The CASE expression giving, for the SQL expression `column`, the value
    of its row in `table`: `row_values` holds one SQL value per interval
    index (or bin of categories) then one per special value; `missing_value`
    is the value of a missing or unmatched entry (index -1), or
    `unmatched_value`, when given, that of a category matched by no bin."""
    if table.bin_categories is not None:
        # Categories are compared as names, so only NULL is missing.
        branches = [f"WHEN {column} IS NULL THEN {missing_value}"]
        bins = category_bins(table.bin_categories, table.pooled_categories, table.pooled_bin)
        every = set(bins.bin_of)
        for b, members in bins.members:
            branches.append(
                f"WHEN {_is_member(column, members, every, dialect)} THEN {row_values[b]}"
            )
        unmatched = missing_value if unmatched_value is None else unmatched_value
        fallback = row_values[bins.other] if bins.other != MISSING_SLOT else unmatched
        return "CASE " + " ".join(branches) + f" ELSE {fallback} END"
    value = _as_double(column, dialect)
    first_special = len(row_values) - len(table.special_values)
    tests: dict[str, Callable[[float], str]] = {
        "missing": lambda _: _is_missing(column, dialect),
        "equal": lambda v: f"{value} = {number(v, dialect)}",
        "at_most": lambda v: f"{value} <= {number(v, dialect)}",
    }
    branches = []
    for rule in number_rules(table.splits, table.special_values, first_special):
        result = missing_value if rule.slot == MISSING_SLOT else row_values[rule.slot]
        if rule.test == "else":
            return "CASE " + " ".join(branches) + f" ELSE {result} END"
        branches.append(f"WHEN {tests[rule.test](rule.value)} THEN {result}")
    raise AssertionError("the rules end with 'else'")


# What a query gives of a binary or of a continuous binning.
WOE_OUTPUTS = ("woe", "index")
MEAN_OUTPUTS = ("mean", "index")


def _checked(dialect: str, output: str, outputs: Sequence[str] = WOE_OUTPUTS) -> None:
    if dialect not in DIALECTS:
        raise ValueError(f"dialect must be one of {', '.join(DIALECTS)}, not {dialect!r}")
    checks.output_choice(output, outputs)


def binning_sql(
    table: BinnedColumn,
    column: str | None = None,
    *,
    output: Literal["woe", "index"] = "woe",
    dialect: Dialect = "duckdb",
) -> str:
    """The CASE expression scoring the column `column` (default: the table's
    name) as `transform(..., output)` does."""
    _checked(dialect, output)
    name = column if column is not None else table.name
    if name is None:
        raise ValueError("the table has no name: give the column to score")
    if output == "index":
        n_slots = len(table.splits) + 1 if table.bin_categories is None else table.n_bins
        values = [str(i) for i in range(n_slots)] + [
            str(table.n_bins + j) for j in range(len(table.special_values))
        ]
        return case(table, identifier(name), values, "-1", dialect)
    intervals, specials, missing = table.woe_by_index()
    values = [number(v, dialect) for v in np.concatenate((intervals, specials))]
    return case(table, identifier(name), values, number(missing, dialect), dialect)


def table_binning_sql(
    binning: BinnedTable,
    source: str,
    *,
    output: Literal["woe", "index"] = "woe",
    dialect: Dialect = "duckdb",
    selected: bool = False,
    keep: Sequence[str] = (),
) -> str:
    """A SELECT over the table `source` giving each binned column (the
    selected ones with `selected=True`) under its own name, as
    `TableBinning.transform` does, after the columns named in `keep` (an
    identifier, a target) passed through unchanged."""
    _checked(dialect, output)
    pairs = getattr(binning, "pair_tables", {})

    def expression(n: str) -> str:
        if n in pairs:
            return str(pairs[n].to_sql(output=output, dialect=dialect))
        return binning_sql(binning.tables[n], n, output=output, dialect=dialect)

    return STAMP + binned_select(
        source,
        binning.selected if selected else [*binning.tables, *pairs],
        keep,
        expression,
    )


def binned_select(
    source: str, names: Sequence[str], keep: Sequence[str], expression: Callable[[str], str]
) -> str:
    """A SELECT over the table `source` of the columns of `keep` passed
    through, then each column of `names` as `expression` scores it, under
    its own name."""
    clash = [k for k in keep if k in names]
    if clash:
        raise ValueError(f"keep names column(s) that the query bins: {', '.join(clash)}")
    columns = [identifier(k) for k in keep] + [f"{expression(n)} AS {identifier(n)}" for n in names]
    return "SELECT " + ",\n       ".join(columns) + f"\nFROM {identifier(source)}"


def scorecard_sql(
    card: PointsModel,
    source: str,
    *,
    dialect: Dialect = "duckdb",
    keep: Sequence[str] = (),
    name: str = "score",
) -> str:
    """A SELECT over the table `source` giving the columns of `keep`, each
    variable's points under the variable's name, and their sum as `name`,
    added in the order of the variables as `Scorecard.score` adds them."""
    _checked(dialect, "woe")
    if card.binning is None or not card.variables:
        raise ValueError("only a fitted Scorecard can be written as SQL")
    clash = [k for k in keep if k in card.variables or k == name]
    if clash:
        raise ValueError(
            f"keep names column(s) that the query gives points or the score: {', '.join(clash)}"
        )
    columns = [identifier(k) for k in keep] + [
        f"{points} AS {identifier(variable)}"
        for variable, points in zip(card.variables, points_cases(card, dialect))
    ]
    inner = "SELECT " + ",\n       ".join(columns) + f"\nFROM {identifier(source)}"
    outer = [identifier(k) for k in keep] + [identifier(v) for v in card.variables]
    total = score_sum(card, [identifier(v) for v in card.variables], dialect)
    return (
        STAMP + "SELECT " + ", ".join(outer) + f",\n       {total} AS {identifier(name)}\n"
        f"FROM ({inner}) AS points"
    )


def points_cases(card: PointsModel, dialect: Dialect) -> list[str]:
    """The CASE expression of each variable's points, in the card's order."""
    assert card.binning is not None
    out = []
    pairs = getattr(card.binning, "pair_tables", {})
    for variable in card.variables:
        if variable in pairs:
            out.append(_cell_points_case(card, pairs[variable], variable, dialect))
            continue
        table = card.binning.tables[variable]
        intervals, specials, missing = table.woe_by_index()
        points = card.points_of(variable, np.concatenate((intervals, specials, [missing])))
        values = [number(v, dialect) for v in points[:-1]]
        out.append(case(table, identifier(variable), values, number(points[-1], dialect), dialect))
    return out


def _cell_points_case(card: PointsModel, grid: Any, variable: str, dialect: Dialect) -> str:
    """The points of a pair's cell, looked up by the index the grid's own
    expression gives (the order of its `cells()`)."""
    points = card.points_of(variable, np.asarray(grid.cells()["woe"], dtype=np.float64))
    branches = " ".join(f"WHEN {i} THEN {number(p, dialect)}" for i, p in enumerate(points))
    return f"CASE {grid.to_sql(output='index', dialect=dialect)} {branches} END"


def score_sum(card: PointsModel, terms: Sequence[str], dialect: Dialect) -> str:
    """The score from the variables' points `terms`, added left to right in
    the card's order (after the base points when they are kept apart), as
    `Scorecard.score` adds them."""
    total = " + ".join(terms)
    if card.intercept_points == "separate":
        total = f"{number(card.base_points, dialect)} + {total}"
    return total


def continuous_binning_sql(
    table: Any,
    column: str | None = None,
    *,
    output: Literal["mean", "index"] = "mean",
    dialect: Dialect = "duckdb",
) -> str:
    """The CASE expression scoring the column `column` (default: the table's
    name) with a continuous binning's bin means (or bin indices), as its
    `transform` does: `table.means_by_index()` gives the mean of each
    interval index, special value, missing value and unseen category."""
    _checked(dialect, output, MEAN_OUTPUTS)
    name = _scored_column(table, column)
    if output == "index":
        return _index_case(table, name, dialect)
    intervals, specials, missing, unseen = table.means_by_index()
    values = [number(v, dialect) for v in np.concatenate((intervals, specials))]
    return case(
        table,
        identifier(name),
        values,
        number(missing, dialect),
        dialect,
        unmatched_value=number(unseen, dialect),
    )


def _scored_column(table: Any, column: str | None) -> str:
    name = column if column is not None else table.name
    if name is None:
        raise ValueError("the table has no name: give the column to score")
    return str(name)


def _index_case(table: Any, name: str, dialect: Dialect) -> str:
    """The CASE expression of each value's row index (-1 missing or unseen)."""
    n_slots = len(table.splits) + 1 if table.bin_categories is None else table.n_bins
    values = [str(i) for i in range(n_slots)] + [
        str(table.n_bins + j) for j in range(len(table.special_values))
    ]
    return case(table, identifier(name), values, "-1", dialect)


def multiclass_binning_sql(
    table: Any,
    column: str | None,
    position: int | None,
    *,
    output: Literal["woe", "index"] = "woe",
    dialect: Dialect = "duckdb",
) -> str:
    """The CASE expression scoring the column `column` (default: the table's
    name) with the WoE of the class in column `position` of a multiclass
    binning (or the row index), as its `transform` does:
    `table.woe_by_index()` gives the WoE of each row, the missing value and
    an unseen category."""
    _checked(dialect, output)
    name = _scored_column(table, column)
    if output == "index":
        return _index_case(table, name, dialect)
    intervals, specials, missing, unseen = table.woe_by_index()
    values = [number(v, dialect) for v in np.concatenate((intervals, specials))[:, position]]
    return case(
        table,
        identifier(name),
        values,
        number(missing[position], dialect),
        dialect,
        unmatched_value=number(unseen[position], dialect),
    )
