"""The state of one studio session: the binning being edited, the binning
fitted on the data (what "reset" goes back to), the undo and redo stacks,
and where a save writes. Every state is a `TableBinning` value of its own
(its tables are immutable and shared between states), so undo and redo put
back exactly the binning that was there, bit for bit."""

from __future__ import annotations

import copy
import datetime
import os
import pathlib
import secrets
import threading
import warnings
from collections.abc import Callable, Mapping, Sequence
from typing import Any

from .._scorecard import Scorecard
from .._table_binning import TableBinning
from ..exceptions import EditError, TrendWarning


def snapshot(binning: TableBinning) -> TableBinning:
    """A binning of its own with the same tables: an edit of either leaves
    the other as it was."""
    held = copy.copy(binning)
    held.tables, held.skipped, held.summary = (
        dict(binning.tables),
        dict(binning.skipped),
        list(binning.summary),
    )
    return held


def binning_of(model: Any) -> TableBinning:
    """The binning a model edits: a `TableBinning`, or a `Scorecard`'s."""
    if isinstance(model, Scorecard):
        model = model.binning
    if not isinstance(model, TableBinning):
        raise TypeError(
            f"binning must be a TableBinning, a Scorecard or None, not {type(model).__name__}"
        )
    return model


def replay_edits(current: TableBinning, model: TableBinning, reissue: bool = False) -> list[str]:
    """Make `model`'s logged edits again on `current`; what the analyst has
    to be told: the edits that no longer apply and the warnings the others
    gave (a trend no longer monotone), which `reissue` also gives the
    caller as warnings."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", TrendWarning)
        current.replay(model)
    for w in caught if reissue else ():
        warnings.warn_explicit(w.message, w.category, w.filename, w.lineno)
    missed = [f"{n}: {m}" for n, ms in current.not_replayed.items() for m in ms]
    return missed + [f"warning: {w.message}" for w in caught]


def recovery_path(output: pathlib.Path) -> pathlib.Path:
    """Where a session stopped with edits not saved keeps them: beside its
    output, so the next session on that output finds them."""
    return output.with_name(f"{output.stem}.unsaved{output.suffix}")


class StaleChangeError(Exception):
    """A change asked for on a state of the session that is no longer its
    current one (another page changed it since): nothing was changed."""


def utc_now() -> str:
    """The time an edit is logged with: UTC, to the second, ISO 8601."""
    return datetime.datetime.now(datetime.UTC).isoformat(timespec="seconds")


class Session:
    """An analyst's edits of `current` (a fitted `TableBinning` whose tables
    keep their counts), with `fitted` the binning to reset a column to. Each
    edit is logged with its reason, `author` and the time `clock` gives. A
    save writes the binning's JSON document to `output` (None: no file, the
    binning is read from the session). Methods are safe to call from several
    threads: one change at a time."""

    def __init__(
        self,
        current: TableBinning,
        fitted: TableBinning,
        *,
        output: pathlib.Path | None = None,
        author: str | None = None,
        clock: Callable[[], str] = utc_now,
        messages: Sequence[str] = (),
    ) -> None:
        self._current = snapshot(current)
        self._fitted = snapshot(fitted)
        self._undo: list[TableBinning] = []
        self._redo: list[TableBinning] = []
        self._saved: TableBinning | None = None
        self._start = self._current
        self.output, self.author, self.clock = output, author, clock
        # What the start-up has to tell (edits of a model that no longer apply).
        self.messages = list(messages)
        # Where the edits not saved were kept when the session stopped (or
        # why they could not be).
        self.kept: pathlib.Path | None = None
        self.kept_error: str | None = None
        self._lock = threading.Lock()
        # Every change of the state counts one revision; each column keeps
        # the revision it last changed in. A page sends the number it drew
        # with every change, so a change made on a state another page has
        # since replaced is refused instead of hitting other bins.
        self._revision = 0
        self._column_revision: dict[str, int] = {}

    # -- reading ---------------------------------------------------------------
    @property
    def binning(self) -> TableBinning:
        """The binning as edited so far (a copy: editing it leaves the session's alone)."""
        with self._lock:
            return snapshot(self._current)

    def table(self, column: str) -> Any:
        return self.column_state(column)[0]

    def column_state(self, column: str) -> tuple[Any, int]:
        """The table of `column` and the revision it last changed in, read
        together (the revision a page sends back with an edit of it)."""
        with self._lock:
            return self._table(column), self._column_revision.get(column, 0)

    def _table(self, column: str) -> Any:
        if column not in self._current.tables:
            raise EditError(f"column {column!r} is not binned")
        return self._current.tables[column]

    def status(self) -> dict[str, Any]:
        with self._lock:
            return {
                "can_undo": bool(self._undo),
                "can_redo": bool(self._redo),
                "unsaved": self._unsaved(),
                "saved": self._saved is not None,
                "output": None if self.output is None else self.output.name,
                "messages": list(self.messages),
                "version": self._revision,
            }

    def _unsaved(self) -> bool:
        # Edits are unsaved when the state is not the one the output file
        # holds (or the start, before a save).
        return self._current is not (self._start if self._saved is None else self._saved)

    def current(self) -> TableBinning:
        """The session's own binning (not a copy): read it, never edit it."""
        with self._lock:
            return self._current

    # -- changing --------------------------------------------------------------
    # Each change takes the revision its page drew the state with (None: no
    # check, for callers in this process): the column's for an edit or a
    # reset, the session's for undo and redo, which step through all columns.
    def edit(
        self,
        column: str,
        operation: str,
        args: Sequence[Any],
        options: Mapping[str, Any] | None = None,
        reason: str | None = None,
        version: int | None = None,
    ) -> list[str]:
        """Make one edit of `column` (an operation of `BinningTable`, its
        positional arguments and keyword `options`) as the next state; an
        edit the table refuses raises its `EditError` and changes nothing.
        The messages of the warnings it gave (a trend no longer monotone)
        are returned."""
        note = {"reason": reason or None, "author": self.author, "time": self.clock()}
        with self._lock:
            self._table(column)
            self._check_column(column, version, "edit")
            following = snapshot(self._current)
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always", TrendWarning)
                following.edit(column, operation, *args, **(options or {}), **note)
            self._move_to(following, self._undo)
            self._redo.clear()
        return [str(w.message) for w in caught if issubclass(w.category, TrendWarning)]

    def reset(self, column: str, version: int | None = None) -> None:
        """Put back the fitted table of `column`, without its edits (one step
        that undo takes back)."""
        with self._lock:
            if column not in self._fitted.tables or column not in self._current.tables:
                raise EditError(f"column {column!r} is not binned")
            self._check_column(column, version, "reset")
            if not self._current.tables[column].edits:
                raise EditError(f"column {column!r} has no edits to reset")
            following = snapshot(self._current)
            following.edit(column, self._fitted.tables[column])
            self._move_to(following, self._undo)
            self._redo.clear()

    def _check_column(self, column: str, version: int | None, name: str) -> None:
        if version is not None and version != self._column_revision.get(column, 0):
            raise StaleChangeError(
                f"column {column!r} has changed since this page showed it; it is shown "
                f"again as it is now and the {name} was not made"
            )

    def _move_to(self, following: TableBinning, behind: list[TableBinning]) -> list[str]:
        """Make `following` the current state, the one it replaces kept on
        `behind`; the columns it changed, which take a new revision."""
        changed = changed_columns(self._current.tables, following.tables)
        behind.append(self._current)
        self._current = following
        self._revision += 1
        self._column_revision.update(dict.fromkeys(changed, self._revision))
        return changed

    def undo(self, version: int | None = None) -> list[str]:
        """Go back one step; the columns it changed."""
        with self._lock:
            return self._step(self._undo, self._redo, "undo", version)

    def redo(self, version: int | None = None) -> list[str]:
        """Make again the step undone last; the columns it changed."""
        with self._lock:
            return self._step(self._redo, self._undo, "redo", version)

    def _step(
        self,
        source: list[TableBinning],
        target: list[TableBinning],
        name: str,
        version: int | None,
    ) -> list[str]:
        if version is not None and version != self._revision:
            raise StaleChangeError(
                "the session has changed since this page showed it; it is shown again as "
                f"it is now and the {name} was not made"
            )
        if not source:
            raise EditError(f"nothing to {name}")
        return self._move_to(source.pop(), target)

    def save(self) -> pathlib.Path:
        """Write the binning's JSON document to the output file."""
        with self._lock:
            if self.output is None:
                raise EditError(
                    "this studio has no output file: the edited binning is the "
                    "handle's .binning (or start it with an output path)"
                )
            write_whole(self.output, self._current.to_json())
            self._saved = self._current
            return self.output

    def keep_unsaved(self) -> pathlib.Path | None:
        """Write the edits not saved (the whole binning as edited) to the
        recovery file beside the output, as a session stops; the file, or
        None when there is nothing to keep (or no output: the binning is
        then the caller's to read from the handle, or the file cannot be
        written: `kept_error` says why)."""
        with self._lock:
            if self.output is None or not self._unsaved():
                return None
            path = recovery_path(self.output)
            try:
                write_whole(path, self._current.to_json())
            except OSError as error:
                self.kept_error = f"cannot write {path}: {error.strerror or error}"
                return None
            self.kept = path
            return path


def write_whole(path: pathlib.Path, text: str) -> None:
    """Write `text` to `path` whole or not at all: a save cut short (a full
    disk, a killed process) leaves the previous save in place."""
    # A new file of a fresh name beside it, made with the user's usual permissions.
    partial = path.with_name(f".{path.name}.{secrets.token_hex(4)}.partial")
    try:
        with partial.open("x", encoding="utf-8") as handle:
            handle.write(text)
        os.replace(partial, path)
    finally:
        partial.unlink(missing_ok=True)


def changed_columns(before: Mapping[str, Any], after: Mapping[str, Any]) -> list[str]:
    """The columns whose table is another object in `after` than in `before`."""
    return [name for name, table in after.items() if before.get(name) is not table]
