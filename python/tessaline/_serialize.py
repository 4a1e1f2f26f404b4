"""Reading any tessaline JSON document back: the class is chosen by the
document's schema, and each class reads its own fields (`from_dict`). The
document form itself is `tessaline._formats.document`."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

from ._binning.binning_table import BinningTable
from ._binning.continuous_binning_table import ContinuousBinningTable
from ._binning.grid_table import GRID_SCHEMA, GridBinningTable
from ._binning.multiclass_binning_table import MulticlassBinningTable
from ._continuous_table_binning import ContinuousTableBinning
from ._formats import document
from ._multiclass_table_binning import MulticlassTableBinning
from ._scorecard import Scorecard
from ._table_binning import TableBinning
from .exceptions import DocumentError

READERS: dict[str, Callable[[Any], Any]] = {
    document.BINNING_SCHEMA: BinningTable.from_dict,
    document.TABLE_SCHEMA: TableBinning.from_dict,
    document.SCORECARD_SCHEMA: Scorecard.from_dict,
    document.CONTINUOUS_SCHEMA: ContinuousBinningTable.from_dict,
    document.CONTINUOUS_TABLE_SCHEMA: ContinuousTableBinning.from_dict,
    GRID_SCHEMA: GridBinningTable.from_dict,
    document.MULTICLASS_SCHEMA: MulticlassBinningTable.from_dict,
    document.MULTICLASS_TABLE_SCHEMA: MulticlassTableBinning.from_dict,
}


Document = (
    BinningTable
    | TableBinning
    | Scorecard
    | ContinuousBinningTable
    | ContinuousTableBinning
    | GridBinningTable
    | MulticlassBinningTable
    | MulticlassTableBinning
)


def from_json(text: str | bytes) -> Document:
    """The object a tessaline JSON document describes (a `BinningTable`, a
    `TableBinning`, a `Scorecard`, a `ContinuousBinningTable`, a
    `ContinuousTableBinning`, a `MulticlassBinningTable`, a
    `MulticlassTableBinning` or a `GridBinningTable`, by the document's
    schema). A document that
    cannot be read raises `DocumentError`, noting the release that wrote it
    when that is not this one."""
    doc = document.parse(text)
    schema = doc.get("schema") if isinstance(doc, dict) else None
    reader = READERS.get(schema) if isinstance(schema, str) else None
    if reader is None:
        raise DocumentError(
            f"not a tessaline document (schema {schema!r}); known schemas: {', '.join(READERS)}"
        )
    try:
        result: Document = reader(doc)
    except DocumentError as error:
        # A document another release wrote may be read differently: say so
        # beside the fault, which the message itself names.
        writer = document.writer_of(doc) or "an unnamed release"
        if writer != document.WRITER:
            error.add_note(f"written by {writer}; read by {document.WRITER}")
        raise
    return result
