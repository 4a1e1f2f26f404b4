"""The studio's requests: a JSON request from the page becomes one call of
the package's edit API on the session, and the answer is the JSON view of
the binning after it. Every argument is checked for its type here (the page
sends data, never code); whether an edit can be made is the table's to say,
and its `EditError` text is the answer's "error"."""

from __future__ import annotations

import contextlib
import math
from collections.abc import Callable, Mapping
from typing import Any

from .._binning.binning_table import BinningTable
from ..exceptions import EditError
from .session import Session
from .views import column_view, summary_view


class RequestError(ValueError):
    """A request the page should never send: a missing or mistyped field."""


def _number(arguments: Mapping[str, Any], key: str) -> float:
    """A value of the request: a JSON number, or the text an analyst typed
    read as Python reads a float. Values are floats whatever the page wrote
    (24 and 24.0 alike), as the package's own edits keep them."""
    value = arguments.get(key)
    number = math.nan
    if isinstance(value, str):
        with contextlib.suppress(ValueError):
            number = float(value.strip())
    elif isinstance(value, (int, float)) and not isinstance(value, bool):
        number = float(value)
    if not math.isfinite(number):
        raise EditError(f"{key} must be a finite number, not {value!r}")
    return number


def _integer(arguments: Mapping[str, Any], key: str, what: str = "a bin number") -> int:
    value = arguments.get(key)
    if isinstance(value, bool) or not isinstance(value, int):
        raise RequestError(f"{key} must be {what}")
    return value


def _version(request: Mapping[str, Any]) -> int:
    """The revision of the state the page made a change on."""
    return _integer(request, "version", "the revision the page shows")


def _text(arguments: Mapping[str, Any], key: str) -> str:
    value = arguments.get(key)
    if not isinstance(value, str):
        raise RequestError(f"{key} must be a string")
    return value


def _numbers(arguments: Mapping[str, Any], key: str) -> list[float]:
    values = arguments.get(key)
    if not isinstance(values, list):
        raise RequestError(f"{key} must be a list of numbers")
    return [_number({key: v}, key) for v in values]


def _names(arguments: Mapping[str, Any], key: str) -> list[str]:
    values = arguments.get(key)
    if not isinstance(values, list) or not all(isinstance(v, str) for v in values):
        raise RequestError(f"{key} must be a list of category names")
    return values


def _split(table: BinningTable, a: Mapping[str, Any]) -> tuple[list[Any], dict[str, Any]]:
    """A numeric bin split at a value (the bin is the one `transform` puts
    the value in), or categories taken out of a bin into their own."""
    if table.bin_categories is not None:
        return [_integer(a, "bin"), _names(a, "categories")], {}
    at = _number(a, "at")
    index = int(table.transform([at])[0])
    if index >= table.n_bins:
        raise EditError(f"split: {at:g} is a special value of this column, not inside a bin")
    return [index, at], {}


# Each operation the page may ask for: its positional arguments and keyword
# options, read from the request's "arguments".
Reader = Callable[[BinningTable, Mapping[str, Any]], tuple[list[Any], dict[str, Any]]]
OPERATIONS: dict[str, Reader] = {
    "split": _split,
    "merge": lambda t, a: ([_integer(a, "first"), _integer(a, "second")], {}),
    "add_cut": lambda t, a: ([_number(a, "value")], {}),
    "remove_cut": lambda t, a: ([_number(a, "value")], {}),
    "move_cut": lambda t, a: ([_number(a, "old"), _number(a, "new")], {}),
    "with_cuts": lambda t, a: ([_numbers(a, "cuts")], {"fixed": a.get("fixed") is True}),
    "move": lambda t, a: (
        [_text(a, "category"), None if a.get("to") is None else _integer(a, "to")],
        {},
    ),
    "send_unseen_to": lambda t, a: ([_integer(a, "bin")], {}),
    "add_special": lambda t, a: ([_number(a, "code")], {}),
    "remove_special": lambda t, a: ([_number(a, "code")], {}),
}


def _column(session: Session, column: str | None) -> dict[str, Any] | None:
    """The view of `column` with the revision of the table it shows (what
    an edit made on it sends back)."""
    if column is None:
        return None
    table, version = session.column_state(column)
    return {**column_view(table), "version": version}


def _answer(session: Session, column: str | None, **extra: Any) -> dict[str, Any]:
    """The page's view after a request: the ranking, the session's status
    and the view of `column` (when one is shown)."""
    return {
        "summary": summary_view(session.current()),
        "status": session.status(),
        "view": _column(session, column),
        **extra,
    }


def answer(session: Session, name: str, request: Mapping[str, Any]) -> dict[str, Any]:
    """The answer to the request `name` with its JSON body `request` (the
    query's fields for a GET). An edit the table refuses raises `EditError`;
    a malformed request `RequestError`; a change made on a state another
    page has since changed `StaleChangeError`."""
    column = request.get("column")
    if column is not None and not isinstance(column, str):
        raise RequestError("column must be a column name")
    if name == "state":
        return _answer(session, column)
    if name == "column":
        return {"view": _column(session, _text(request, "column"))}
    if name == "edit":
        column = _text(request, "column")
        operation = _text(request, "operation")
        if operation not in OPERATIONS:
            raise RequestError(f"operation must be one of {', '.join(OPERATIONS)}")
        arguments = request.get("arguments", {})
        if not isinstance(arguments, dict):
            raise RequestError("arguments must be an object")
        reason = request.get("reason")
        if reason is not None and not isinstance(reason, str):
            raise RequestError("reason must be a string")
        version = _version(request)
        args, options = OPERATIONS[operation](session.table(column), arguments)
        reason = reason.strip() if reason else None
        warnings = session.edit(column, operation, args, options, reason, version)
        return _answer(session, column, warnings=warnings)
    if name in ("undo", "redo"):
        version = _version(request)
        changed = session.undo(version) if name == "undo" else session.redo(version)
        return _answer(session, changed[0] if changed else column, changed=changed)
    if name == "reset":
        column = _text(request, "column")
        session.reset(column, _version(request))
        return _answer(session, column)
    if name == "save":
        path = session.save()
        return _answer(session, column, saved=path.name)
    raise RequestError(f"unknown request {name!r}")
