"""Reading a CSV file for the report: its numeric columns as float64 arrays, its
other columns as categories and its target as 1 (event), 0 (non-event) or NaN
(missing). With pyarrow installed the file is streamed through Arrow's reader
(see arrow_stream), each number column into one float64 array; without it, or
when Arrow cannot read it as it does, the standard library reads it, with the
same result. A pipe is read only once; a file may be read again from its start."""

from __future__ import annotations

import codecs
import csv
import io
import itertools
import math
import os
import pathlib
import re
import stat
import sys
import threading
from collections.abc import Iterable
from dataclasses import dataclass, field
from typing import Any, BinaryIO

import numpy as np
import numpy.typing as npt

from .._core.arrays import FloatArray
from .._core.dependencies import installed, require
from ..exceptions import DataError
from . import _arrow_arrays as arrow_arrays
from . import _arrow_stream as arrow_stream

# Cells read as missing values, compared after stripping and lower-casing. A
# plain "none" is a category in many files (no guarantor, no telephone), so
# it is not among them.
MISSING_CELLS = frozenset({"", "na", "n/a", "nan", "null"})


def is_missing(cell: str) -> bool:
    return cell.strip().lower() in MISSING_CELLS


# A number as a CSV user writes it: digits with an optional sign, decimal point
# and exponent, or a signed 'inf' (counted and left out of the binning).
# Python's float() would also take '1_000' as 1000.
_NUMBER = re.compile(
    r"[+-]?(?:(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|inf(?:inity)?)", re.IGNORECASE
)


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
    # Every column's name (the target's too), in the file's order.
    names: list[str] = field(default_factory=list)


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
    inverse = np.fromiter(
        (index.setdefault(c, len(index)) for c in cells), dtype=np.intp, count=len(cells)
    )
    return list(index), inverse


def _event_flags(
    column: tuple[list[str], npt.NDArray[np.intp]], name: str, event: str | None
) -> tuple[FloatArray, str]:
    """Event flags of the target column, given as its distinct cells and the
    position of each row's cell among them (a target holds few values)."""
    cells, inverse = column
    flags, wanted = _distinct_event_flags(cells, name, event)
    return flags[inverse], wanted


def _distinct_event_flags(cells: list[str], name: str, event: str | None) -> tuple[FloatArray, str]:
    present = sorted({c.strip() for c in cells if not is_missing(c)})
    shown = ", ".join(present[:10]) + (", ..." if len(present) > 10 else "")
    if not present:
        raise DataError(f"target column '{name}' has no value")
    if event is None:
        numbers = {_number(v) for v in present}
        if numbers <= {0.0, 1.0}:
            return np.array([math.nan if is_missing(c) else float(c) for c in cells]), "1"
        raise DataError(
            f"target column '{name}' is not 0/1 (values: {shown}): "
            "name the event value with --event"
        )
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
        raise DataError(
            f"no row of target column '{name}' holds the event value '{wanted}' (values: {shown})"
        )
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
    return installed("pyarrow.csv") is not None


def _arrow_number_pattern() -> str:
    return "^" + _NUMBER.pattern + "$"


def _all_numbers(cells: Any) -> FloatArray | None:
    """Arrow text cells as float64 when every cell is a number (Arrow takes
    no blank around one) and none is NaN: 'nan' is a missing cell."""
    pa = require("pyarrow", "the report's CSV reading")
    pc = require("pyarrow.compute", "the report's CSV reading")

    try:
        values = arrow_arrays.float_values(pc.cast(cells, pa.float64()))
    except pa.ArrowInvalid:
        return None
    return values if len(values) and not np.isnan(values).any() else None


# A cell that is missing once stripped and lower-cased, as one pattern.
_MISSING_PATTERN = "^(?:" + "|".join(re.escape(cell) for cell in sorted(MISSING_CELLS)) + ")$"


def _numbers_among(cells: Any) -> tuple[FloatArray | None, np.ndarray | None]:
    """Distinct Arrow text cells as float64 (NaN for missing cells) when every
    present cell is a number, else as stripped text (None for a missing cell)."""
    pa = require("pyarrow", "the report's CSV reading")
    pc = require("pyarrow.compute", "the report's CSV reading")

    # Most columns are numbers in every row: one cast tells, before and after
    # stripping, and the others go the long way.
    values = _all_numbers(cells)
    if values is not None:
        return values, None
    stripped = pc.utf8_trim_whitespace(cells)
    values = _all_numbers(stripped)
    if values is not None:
        return values, None
    missing = pc.match_substring_regex(pc.utf8_lower(stripped), _MISSING_PATTERN)
    absent = arrow_arrays.flags(missing)
    numbers = pc.match_substring_regex(stripped, _arrow_number_pattern(), ignore_case=True)
    if absent.all() or not (arrow_arrays.flags(numbers) | absent).all():
        text = np.array(stripped.to_pylist(), dtype=object)
        text[absent] = None
        return None, text
    values = np.full(len(cells), math.nan)
    present = pc.filter(stripped, pc.invert(missing))
    values[~absent] = arrow_arrays.float_values(pc.cast(present, pa.float64()))
    return values, None


def _text_arrow(column: Any) -> tuple[FloatArray | None, np.ndarray | None]:
    """A column Arrow read as text: float64 (NaN for missing cells) when every
    present cell is a number, else the stripped cells as objects (None for a
    missing cell). Each distinct cell is looked at once: a column of
    categories holds few, and its rows only point at them."""
    pc = require("pyarrow.compute", "the report's CSV reading")

    encoded = pc.dictionary_encode(column).combine_chunks()
    indices = encoded.indices
    if indices.null_count:  # none from Arrow's text; a null row is a missing cell
        indices = indices.fill_null(len(encoded.dictionary))
    rows = arrow_arrays.fixed_width(indices, np.int32)
    values, text = _numbers_among(encoded.dictionary)
    if values is not None:
        return np.append(values, math.nan)[rows], None
    assert text is not None  # the cells are numbers or text
    return None, np.append(text, np.array([None], dtype=object))[rows]


# The header line must end within this many bytes, so that an input without
# line breaks (a pipe from /dev/zero) is refused instead of filling the memory.
HEADER_LIMIT = 4 << 20
_CHUNK = 1 << 20
# An empty quoted cell, read after the input's last line: it is a record of its
# own unless a quote left open swallows it, which is how both readers tell.
_CLOSING_CELL = '""'
_LINE_BREAK = re.compile(r"\r\n|\r|\n")


def _open_input(path: pathlib.Path) -> BinaryIO:
    mode = os.stat(path).st_mode
    if stat.S_ISCHR(mode) or stat.S_ISBLK(mode):
        raise DataError(f"cannot read {path}: a device, not a file or a pipe")
    return open(path, "rb")


def _line_end(data: bytes) -> int:
    """Where the first line ends (at a line feed or a carriage return), or the
    length of the data."""
    return min((i for i in (data.find(b"\n"), data.find(b"\r")) if i >= 0), default=len(data))


def _read_head(handle: BinaryIO, path: pathlib.Path) -> bytes:
    """The input up to and a little past its first line break; the input is
    read only once (it may be a pipe), so the rest follows from `handle`."""
    chunks: list[bytes] = []
    size = 0
    while size <= HEADER_LIMIT:
        chunk = handle.read(_CHUNK)
        chunks.append(chunk)
        size += len(chunk)
        if _line_end(chunk) < len(chunk) or not chunk:
            break
    head = b"".join(chunks)
    if _line_end(head) > HEADER_LIMIT:
        raise DataError(f"{path}: the header line is longer than {HEADER_LIMIT} bytes")
    return head


def _records(lines: Iterable[str], sep: str, path: pathlib.Path) -> list[list[str]]:
    """The records of the text, the header first and blank lines left out. An
    error names the line of a record whose field count is not the header's, or
    of a quote left open, which would swallow the rest of the file."""
    reader = csv.reader(itertools.chain(lines, [_CLOSING_CELL]), delimiter=sep)
    records: list[list[str]] = []
    begin = end = 0
    for record in reader:
        begin, end = end + 1, reader.line_num
        if not record:
            continue
        # The last record is the closing cell, or the one whose quote is open.
        if records and len(record) != len(records[0]) and next(reader, None) is not None:
            raise DataError(
                f"{path}, line {begin}: {len(record)} fields where the header has {len(records[0])}"
            )
        records.append(record)
    last = records.pop()
    if last != [""]:
        line = begin + sum(len(_LINE_BREAK.findall(cell)) for cell in last[:-1])
        raise DataError(f"{path}, line {line}: a quote opened on this line is never closed")
    return records


def _columns_plain(
    data: bytes, sep: str, path: pathlib.Path
) -> tuple[list[str] | None, int, list[Any]]:
    """The header, the number of rows and every column as a list of cells."""
    text = io.TextIOWrapper(io.BytesIO(data), encoding="utf-8-sig", newline="")
    records = _records(text, sep, path)
    if not records:
        return None, 0, []
    rows = records[1:]
    return records[0], len(rows), [[r[j] for r in rows] for j in range(len(records[0]))]


def _first_line_header(head: bytes, sep: str) -> tuple[list[str], int] | None:
    """The header and where the body starts, when the header is the first line
    (a quoted name may hold a line break: the standard reader takes those)."""
    start = len(codecs.BOM_UTF8) if head.startswith(codecs.BOM_UTF8) else 0
    end = _line_end(head)
    try:
        records = list(csv.reader([head[start:end].decode("utf-8"), _CLOSING_CELL], delimiter=sep))
    except (csv.Error, UnicodeDecodeError):
        return None
    if len(records) != 2 or not records[0]:
        return None
    return records[0], end + (2 if head[end : end + 2] == b"\r\n" else 1)


class _Tee(io.RawIOBase):
    """The body of the input as Arrow streams it: every chunk taken from the
    input is kept, so that the input, read only once, can be read again from
    memory. The closing line follows the last chunk."""

    def __init__(self, handle: BinaryIO, head: bytes, body_start: int, closing: bytes) -> None:
        super().__init__()
        self.handle, self.head, self.body_start, self.closing = handle, head, body_start, closing
        self.unread_head: memoryview | bytes = memoryview(head)[body_start:]
        self.unread_closing = closing
        self.kept: list[bytes] = []
        self.data: bytes | None = None
        # A file is read again from its start when needed; only a pipe's
        # chunks are kept, the one copy of what it gave.
        self.keep = not handle.seekable()
        self.lock = threading.Lock()
        self.stopped = False

    def readable(self) -> bool:
        return True

    def read(self, size: int = -1) -> bytes | memoryview:
        # Arrow reads ahead on a thread of its own, which may still be
        # reading when a failed read turns to the input in memory: from then
        # on the stream ends, and no chunk is taken from under `whole`.
        with self.lock:
            if self.stopped:
                return b""
            if self.unread_head:
                chunk, self.unread_head = self.unread_head, b""
                return chunk
            chunk = self.handle.read(size)
            if chunk:
                if self.keep:
                    self.kept.append(chunk)
                return chunk
            chunk, self.unread_closing = self.unread_closing, b""
            return chunk

    def whole(self) -> bytes:
        """The whole input."""
        with self.lock:
            self.stopped = True
        if self.data is None:
            if self.keep:
                self.data = b"".join([self.head, *self.kept, self.handle.read()])
            else:
                # Read at offsets, never through the file's position: Arrow's
                # read-ahead may still be reading the handle when this runs.
                fd, parts, offset = self.handle.fileno(), [], 0
                while chunk := os.pread(fd, 1 << 30, offset):
                    parts.append(chunk)
                    offset += len(chunk)
                self.data = b"".join(parts)
        return self.data

    def body(self) -> bytes:
        """The input after the header line, and the closing line."""
        return b"".join([memoryview(self.whole())[self.body_start :], self.closing])


def _case_variants(word: str) -> list[str]:
    """Every spelling of `word` in upper and lower case letters."""
    return sorted(
        {"".join(c) for c in itertools.product(*({ch.lower(), ch.upper()} for ch in word))}
    )


# The missing cells as Arrow's null values: it compares them as written.
_NULL_CELLS = sorted({v for cell in MISSING_CELLS for v in _case_variants(cell)})


def _numbers_in_head(head: bytes, body_start: int, n_columns: int, sep: str) -> set[int]:
    """The columns that Arrow reads as numbers (integers or floats, a number
    in some row) in the complete lines of the head of the input: read as
    float64 at once, which spares the text of every cell. A guess: the read
    of the whole input confirms it, or fails and reads every column as text."""
    pa = require("pyarrow", "the report's CSV reading")
    pacsv = require("pyarrow.csv", "the report's CSV reading")

    sample = head[body_start : max(head.rfind(b"\n"), head.rfind(b"\r")) + 1]
    if not sample:
        return set()
    try:
        table = pacsv.read_csv(
            pa.BufferReader(sample),
            read_options=pacsv.ReadOptions(column_names=[f"c{j}" for j in range(n_columns)]),
            parse_options=pacsv.ParseOptions(delimiter=sep, newlines_in_values=True),
            convert_options=pacsv.ConvertOptions(
                null_values=_NULL_CELLS,
                true_values=[],
                false_values=[],
                timestamp_parsers=[],
                strings_can_be_null=False,
            ),
        )
    except pa.ArrowInvalid:
        return set()
    return {
        j
        for j, column in enumerate(table.columns)
        if (pa.types.is_integer(column.type) or pa.types.is_floating(column.type))
        and column.null_count < len(column)
    }


def _batches_opener(n_columns: int, sep: str, numeric: set[int]) -> Any:
    """A function from a source to Arrow's stream of its record batches
    (with the block size to read at once, when a row may be longer than the
    default): the `numeric` columns as float64, the others as text."""
    pa = require("pyarrow", "the report's CSV reading")
    pacsv = require("pyarrow.csv", "the report's CSV reading")

    names = [f"c{j}" for j in range(n_columns)]

    def open_batches(source: Any, block_size: int | None = None) -> Any:
        return pacsv.open_csv(
            source,
            read_options=pacsv.ReadOptions(column_names=names, block_size=block_size),
            # Without newlines_in_values Arrow cuts blocks at any line break,
            # and rows around a quoted one that straddles two blocks are lost.
            parse_options=pacsv.ParseOptions(delimiter=sep, newlines_in_values=True),
            convert_options=pacsv.ConvertOptions(
                column_types={
                    n: pa.float64() if j in numeric else pa.string() for j, n in enumerate(names)
                },
                # Text columns keep every cell as written; a number column
                # reads a missing cell, quoted or not, as null.
                null_values=_NULL_CELLS,
                strings_can_be_null=False,
                quoted_strings_can_be_null=True,
            ),
        )

    return open_batches


def _columns_arrow(
    tee: _Tee, n_columns: int, sep: str, numeric: set[int], rows_hint: int
) -> tuple[int, list[Any]] | None:
    """The number of rows and every column as Arrow text, the `numeric`
    ones as float64 arrays (NaN for a missing cell), or None when Arrow cannot
    read the file as the standard reader does. `rows_hint` is a guess of the
    number of rows, which spares growing the arrays."""
    pa = require("pyarrow", "the report's CSV reading")

    open_batches = _batches_opener(n_columns, sep, numeric)

    def read(source: Any, block_size: int | None = None) -> tuple[int, list[Any]] | None:
        batches = open_batches(source, block_size)
        columns = arrow_stream.gathered(batches, n_columns, numeric, rows_hint)
        return None if columns is None else arrow_stream.joined([columns], n_columns)

    try:
        return read(pa.PythonFile(tee, mode="r"))
    except pa.ArrowInvalid as error:
        # A row longer than a block fails as a "straddling object": read from
        # memory as a single block, it is whole.
        if "straddling" not in str(error):
            return None
    body = tee.body()
    try:
        return read(pa.BufferReader(body), min(len(body), 2**31 - 1))
    except pa.ArrowInvalid:
        return None


def _rows_hint(handle: BinaryIO, head: bytes, body_start: int, n_columns: int) -> int:
    """A guess of the number of rows of a file, from its size and the
    length of the lines in its head (a pipe's size is not known: a small
    start that grows). Too high a guess costs no memory, as the pages of an
    array are not touched until written; it stays below the most rows the
    file can hold (a row takes at least a byte a column)."""
    sample = head[body_start:]
    lines = sample.count(b"\n") or sample.count(b"\r")
    try:
        size = os.fstat(handle.fileno()).st_size if handle.seekable() else 0
    except (OSError, ValueError):
        size = 0
    if not size or not lines:
        return 1 << 16
    body = max(size - body_start, 0)
    return min(int(body / (len(sample) / lines) * 1.25) + 1024, body // n_columns + 2)


def _read_columns(
    path: pathlib.Path, sep: str, target: str
) -> tuple[list[str] | None, int, list[Any], bool]:
    """The header, the number of rows, every column (Arrow text or float64,
    or a list of cells) and whether Arrow read it; the `target` column as text."""
    with _open_input(path) as handle:
        head = _read_head(handle, path)
        found = _first_line_header(head, sep) if _has_pyarrow() and sep.isascii() else None
        if found is None:
            data = head + handle.read()
        else:
            header, body_start = found
            closing = ("\n" + sep.join([_CLOSING_CELL] * len(header)) + "\n").encode()
            names = _unique([h.strip() for h in header])
            numeric = _numbers_in_head(head, body_start, len(header), sep) - {
                j for j, name in enumerate(names) if name == target
            }
            rows_hint = _rows_hint(handle, head, body_start, len(header))
            if handle.seekable():
                columns = arrow_stream.read_in_halves(
                    handle.fileno(),
                    body_start,
                    closing,
                    _batches_opener(len(header), sep, numeric),
                    len(header),
                    numeric,
                    rows_hint,
                )
                if columns is not None:
                    return header, *columns, True
            tee = _Tee(handle, head, body_start, closing)
            columns = _columns_arrow(tee, len(header), sep, numeric, rows_hint)
            if columns is None and numeric:
                # A column the head showed as numbers holds something else
                # further on: every column as text, from the input in memory.
                data = tee.whole()
                tee = _Tee(io.BytesIO(b""), data, body_start, closing)
                tee.data = data
                columns = _columns_arrow(tee, len(header), sep, set(), rows_hint)
            if columns is not None:
                return header, *columns, True
            data = tee.whole()
    return *_columns_plain(data, sep, path), False


def read_dataset(
    path: str | pathlib.Path, target: str, event: str | None = None, sep: str = ","
) -> Dataset:
    """The numeric columns (every present cell a number) of a CSV file with a
    header row, and its target column as event flags: rows equal to `event`
    are events, other present values non-events; without `event` the target
    must already be 0/1."""
    path = pathlib.Path(path)
    if len(sep) != 1 or sep in '\r\n"':
        raise DataError(
            f"the separator must be one character other than a quote or a line break, not {sep!r}"
        )
    limit = csv.field_size_limit(sys.maxsize)  # a cell may be as long as the file
    try:
        header, n_rows, by_position, arrow = _read_columns(path, sep, target)
    except OSError as error:
        raise DataError(f"cannot read {path}: {error.strerror or error}") from error
    except (csv.Error, UnicodeDecodeError) as error:
        raise DataError(f"{path} is not a readable CSV file: {error}") from error
    finally:
        csv.field_size_limit(limit)
    if not header:
        raise DataError(f"{path} is empty")
    names = _unique([h.strip() for h in header])
    if target not in names:
        raise DataError(f"no column '{target}' in {path} (columns: {', '.join(names)})")
    columns: dict[str, Any] = dict(zip(names, by_position))
    del by_position  # each column's memory goes once it is converted
    if arrow:
        pc = require("pyarrow.compute", "the report's CSV reading")

        encoded = pc.dictionary_encode(columns.pop(target)).combine_chunks()
        rows = arrow_arrays.fixed_width(encoded.indices, np.int32).astype(np.intp)
        target_cells = (encoded.dictionary.to_pylist(), rows)
    else:
        target_cells = _distinct(columns.pop(target))
    flags, wanted = _event_flags(target_cells, target, event)
    dataset = Dataset(
        path=path, n_rows=n_rows, target_name=target, target=flags, event=wanted, names=names
    )
    for name in names:
        if name == target:
            continue
        column = columns.pop(name)
        if isinstance(column, np.ndarray):  # read by Arrow as numbers, or all missing
            values, text = (None, column) if column.dtype == object else (column, None)
        elif arrow:
            values, text = _text_arrow(column)
        else:
            values = _numeric_column(column)
            text = (
                None
                if values is not None
                else np.array([None if is_missing(c) else c.strip() for c in column], dtype=object)
            )
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
