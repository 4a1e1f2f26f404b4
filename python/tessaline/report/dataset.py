"""Reading a CSV file for the report: its numeric columns as float64 arrays, its
other columns as categories and its target as 1 (event), 0 (non-event) or NaN
(missing). With pyarrow installed the file is read column by column into Arrow
arrays; without it the standard library reads it, with the same result."""
from __future__ import annotations

import csv
import functools
import math
import re
import pathlib
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core.arrays import FloatArray
from ..exceptions import DataError

# Cells read as missing values, compared after stripping and lower-casing. A
# plain "none" is a category in many files (no guarantor, no telephone), so
# it is not among them.
MISSING_CELLS = frozenset({"", "na", "n/a", "nan", "null"})


def is_missing(cell: str) -> bool:
    return cell.strip().lower() in MISSING_CELLS


# A number as a CSV user writes it: digits with an optional sign, decimal point
# and exponent, or a signed 'inf' (counted and left out of the binning).
# Python's float() would also take '1_000' as 1000.
_NUMBER = re.compile(r"[+-]?(?:(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|inf(?:inity)?)",
                     re.IGNORECASE)


def _number(cell: str) -> float | None:
    text = cell.strip()
    if _NUMBER.fullmatch(text) is None:
        return None
    return float(text)


@dataclass
class Dataset:
    path: pathlib.Path
    n_rows: int
    target_name: str
    target: FloatArray  # 1.0 event, 0.0 non-event, NaN missing
    event: str
    numeric: dict[str, FloatArray] = field(default_factory=dict)
    skipped: list[str] = field(default_factory=list)  # columns that are not numeric
    # Per column, the rows whose value is infinite ('inf', or beyond the float
    # range like '1e400'): binning leaves them out, so the report says how many.
    non_finite: dict[str, int] = field(default_factory=dict)
    # The columns that are not numbers, as text (None for a missing cell), binned as categories.
    categorical: dict[str, np.ndarray] = field(default_factory=dict)


def _numeric_column(cells: list[str]) -> FloatArray | None:
    """The column as float64 with NaN for missing cells, or None when a present
    cell is not a number or no cell is present."""
    values = np.empty(len(cells), dtype=np.float64)
    present = 0
    for i, cell in enumerate(cells):
        if is_missing(cell):
            values[i] = math.nan
            continue
        number = _number(cell)
        if number is None:
            return None
        values[i] = number
        present += 1
    return values if present else None


def _distinct(cells: list[str]) -> tuple[list[str], npt.NDArray[np.intp]]:
    """The distinct cells, and for each cell the position of its value among them."""
    index: dict[str, int] = {}
    inverse = np.fromiter((index.setdefault(c, len(index)) for c in cells), dtype=np.intp,
                          count=len(cells))
    return list(index), inverse


def _event_flags(column: tuple[list[str], npt.NDArray[np.intp]], name: str,
                 event: str | None) -> tuple[FloatArray, str]:
    """Event flags of the target column, given as its distinct cells and the
    position of each row's cell among them (a target holds few values)."""
    cells, inverse = column
    flags, wanted = _distinct_event_flags(cells, name, event)
    return flags[inverse], wanted


def _distinct_event_flags(cells: list[str], name: str,
                          event: str | None) -> tuple[FloatArray, str]:
    present = sorted({c.strip() for c in cells if not is_missing(c)})
    shown = ", ".join(present[:10]) + (", ..." if len(present) > 10 else "")
    if not present:
        raise DataError(f"target column '{name}' has no value")
    if event is None:
        numbers = {_number(v) for v in present}
        if numbers <= {0.0, 1.0}:
            return np.array([math.nan if is_missing(c) else float(c) for c in cells]), "1"
        raise DataError(f"target column '{name}' is not 0/1 (values: {shown}): "
                        "name the event value with --event")
    wanted = event.strip()
    wanted_number = _number(wanted)

    def matches(cell: str) -> bool:
        cell = cell.strip()
        if cell == wanted:
            return True
        number = _number(cell)
        return wanted_number is not None and number is not None and number == wanted_number

    flags = np.array([math.nan if is_missing(c) else float(matches(c)) for c in cells])
    if not np.any(flags == 1.0):
        raise DataError(f"no row of target column '{name}' holds the event value "
                        f"'{wanted}' (values: {shown})")
    return flags, wanted


def _unique(names: list[str]) -> list[str]:
    """Header names made unique by a numeric suffix ('age', 'age.1', ...).
    Each name remembers the next suffix to try, so N repeats of one name cost
    O(N), not O(N^2)."""
    seen: set[str] = set()
    next_suffix: dict[str, int] = {}
    unique = []
    for name in names:
        candidate, k = name, next_suffix.get(name, 0)
        if k or candidate in seen:
            k = max(k, 1)
            candidate = f"{name}.{k}"
            while candidate in seen:  # only when a header also spells 'age.1' itself
                k += 1
                candidate = f"{name}.{k}"
        next_suffix[name] = k + 1
        seen.add(candidate)
        unique.append(candidate)
    return unique


def _has_pyarrow() -> bool:
    try:
        import pyarrow.csv  # noqa: F401
    except ImportError:
        return False
    return True


def _arrow_number_pattern() -> str:
    return "^" + _NUMBER.pattern + "$"


def _numeric_arrow(column: Any) -> tuple[FloatArray | None, Any]:
    """The Arrow column of text as float64 (NaN for missing cells), or None when
    a present cell is not a number or none is present; with the stripped cells,
    missing ones null, for a column of categories."""
    import pyarrow as pa
    import pyarrow.compute as pc

    stripped = pc.utf8_trim_whitespace(column)
    # Most columns are numbers in every row: one cast tells, and a NaN among
    # its values sends the column the long way, where 'nan' is a missing cell.
    try:
        values = pc.cast(stripped, pa.float64()).to_numpy(zero_copy_only=False)
        if len(values) and not np.isnan(values).any():
            return values, None
    except pa.ArrowInvalid:
        pass
    lower = pc.utf8_lower(stripped)
    missing = functools.reduce(pc.or_, [pc.equal(lower, token) for token in sorted(MISSING_CELLS)])
    cells = pc.if_else(missing, pa.scalar(None, pa.string()), stripped)
    n_present = len(column) - (pc.sum(missing).as_py() or 0)
    head = cells.slice(0, 1000)
    numbers_in_head = pc.sum(pc.match_substring_regex(head, _arrow_number_pattern(), ignore_case=True))
    if n_present == 0 or (numbers_in_head.as_py() or 0) != len(head) - head.null_count:
        return None, cells
    numbers = pc.sum(pc.match_substring_regex(cells, _arrow_number_pattern(), ignore_case=True))
    if (numbers.as_py() or 0) != n_present:
        return None, cells
    values = pc.cast(cells, pa.float64()).to_numpy(zero_copy_only=False)
    return values.astype(np.float64), cells


def _columns_with_pyarrow(path: pathlib.Path, sep: str, header: list[str]) -> tuple[int, list[Any]]:
    """Every column of the file after its header, as Arrow text."""
    import pyarrow as pa
    import pyarrow.csv as pacsv

    names = [f"c{j}" for j in range(len(header))]

    def read(newlines_in_values: bool) -> Any:
        return pacsv.read_csv(
            path, read_options=pacsv.ReadOptions(column_names=names, skip_rows=1),
            parse_options=pacsv.ParseOptions(delimiter=sep, newlines_in_values=newlines_in_values),
            convert_options=pacsv.ConvertOptions(column_types={n: pa.string() for n in names},
                                                 strings_can_be_null=False,
                                                 quoted_strings_can_be_null=False))
    # Reading is twice as fast when no quoted cell holds a line break; a file
    # with one fails that way and is read again allowing them.
    try:
        table = read(False)
    except pa.ArrowInvalid:
        table = read(True)
    return table.num_rows, [table.column(j) for j in range(len(names))]


def _read_header(path: pathlib.Path, sep: str) -> list[str] | None:
    with open(path, newline="", encoding="utf-8-sig") as handle:
        return next(csv.reader(handle, delimiter=sep), None)


def read_dataset(path: str | pathlib.Path, target: str, event: str | None = None,
                 sep: str = ",") -> Dataset:
    """The numeric columns (every present cell a number) of a CSV file with a
    header row, and its target column as event flags: rows equal to `event`
    are events, other present values non-events; without `event` the target
    must already be 0/1."""
    path = pathlib.Path(path)
    if len(sep) != 1 or sep in "\r\n\"":
        raise DataError(f"the separator must be one character other than a quote or a "
                        f"line break, not {sep!r}")
    arrow = _has_pyarrow()
    try:
        if arrow:
            header = _read_header(path, sep)
            # A header cell holding a line break would shift Arrow's row count.
            arrow = header is not None and not any("\n" in h or "\r" in h for h in header)
        if arrow and header is not None:
            n_rows, arrow_columns = _columns_with_pyarrow(path, sep, header)
        else:
            with open(path, newline="", encoding="utf-8-sig") as handle:
                reader = csv.reader(handle, delimiter=sep)
                header = next(reader, None)
                records = list(reader)
    except OSError as error:
        raise DataError(f"cannot read {path}: {error.strerror or error}") from error
    except (csv.Error, UnicodeDecodeError, ValueError) as error:  # Arrow's errors are ValueErrors
        raise DataError(f"{path} is not a readable CSV file: {error}") from error
    if not header:
        raise DataError(f"{path} is empty")
    names = _unique([h.strip() for h in header])
    if target not in names:
        raise DataError(f"no column '{target}' in {path} (columns: {', '.join(names)})")
    if arrow:
        import pyarrow.compute as pc

        columns: dict[str, Any] = dict(zip(names, arrow_columns))
        encoded = pc.dictionary_encode(columns[target].combine_chunks())
        target_cells = (encoded.dictionary.to_pylist(), encoded.indices.to_numpy().astype(np.intp))
    else:
        for number, record in enumerate(records, start=2):
            if len(record) != len(names):
                raise DataError(f"{path}, line {number}: {len(record)} fields where the header "
                                f"has {len(names)}")
        n_rows = len(records)
        columns = {name: [r[j] for r in records] for j, name in enumerate(names)}
        target_cells = _distinct(columns[target])
    flags, wanted = _event_flags(target_cells, target, event)
    dataset = Dataset(path=path, n_rows=n_rows, target_name=target, target=flags,
                      event=wanted)
    for name in names:
        if name == target:
            continue
        if arrow:
            values, cells = _numeric_arrow(columns[name])
            text = cells.to_numpy(zero_copy_only=False) if values is None else None
        else:
            values = _numeric_column(columns[name])
            text = None if values is not None else np.array(
                [None if is_missing(c) else c.strip() for c in columns[name]], dtype=object)
        if values is None:
            assert text is not None  # a column is read as numbers or as text
            dataset.skipped.append(name)
            dataset.categorical[name] = text
        else:
            dataset.numeric[name] = values
            infinite = int(np.isinf(values).sum())
            if infinite:
                dataset.non_finite[name] = infinite
    return dataset
