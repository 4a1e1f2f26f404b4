"""The log of an analyst's edits of a table: what each edit changed, in the
form that replays it on another fit, why and by whom (as the caller gives
them), and the table's IV, Gini and bins before and after, so that a
validator can audit the judgement. The log travels in the table's document."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import printing
from ..exceptions import DocumentError
from ..formats import document

# The step keys whose values are cut points or special values: written as
# exact floats, since replaying them must give the same cuts.
NUMBER_STEPS = ("set_cuts", "remove_cuts", "add_cuts", "fix_cuts", "add_special", "remove_special")
# The step keys whose values are category names.
NAME_STEPS = ("move", "to", "merge", "split", "unseen_with")
STEP_KEYS = (*NUMBER_STEPS, *NAME_STEPS, "limits")
MEASURES = ("iv", "gini", "bins")
FIELDS = ("operation", "arguments", "step", "reason", "author", "time", "before", "after", "trend")
# Shapes of the event rate over the bins that `trend_of` names.
TRENDS = ("flat", "ascending", "descending", "peak", "valley", "irregular")
MONOTONE = TRENDS[:3]


@dataclass(frozen=True)
class Edit:
    """One edit of a table. `operation` and `arguments` are the call as made
    (``merge``, ``{"first": 2, "second": 3}``); `step` the change it came to,
    by cut points and category names rather than bin numbers, which replays on
    another fit (``{"remove_cuts": [650.0]}``); `reason`, `author` and `time`
    are the caller's text; `before` and `after` hold the table's IV, Gini and
    number of bins; `trend` the shape of the event rate over the bins after
    the edit (one of `TRENDS`: a monotone one is ascending or descending)."""

    operation: str
    arguments: Mapping[str, Any]
    step: Mapping[str, Any]
    reason: str | None = None
    author: str | None = None
    time: str | None = None
    before: Mapping[str, float] = field(default_factory=dict)
    after: Mapping[str, float] = field(default_factory=dict)
    trend: str = "flat"

    @property
    def monotone(self) -> bool:
        """Whether the event rate rises or falls over every bin after the edit."""
        return self.trend in MONOTONE

    def line(self) -> str:
        """The edit in one line of a printed log."""
        edit, reason, author, time, iv, gini, bins, trend = self.cells()
        who = " ".join(t for t in (time, author) if t)
        return (
            f"{edit}: IV {iv}, Gini {gini}, bins {bins}, event rate {trend}"
            f"{f'; {who}' if who else ''}{f'; {reason}' if reason else ''}"
        )

    def cells(self) -> list[str]:
        """The edit as a row of `EDIT_HEADER`."""
        call = ", ".join(f"{k}={v!r}" for k, v in self.arguments.items())
        return [
            f"{self.operation}({call})",
            self.reason or "",
            self.author or "",
            self.time or "",
            f"{_measure(self.before, 'iv')} -> {_measure(self.after, 'iv')}",
            f"{_measure(self.before, 'gini', 3)} -> {_measure(self.after, 'gini', 3)}",
            f"{self.before.get('bins', '-')} -> {self.after.get('bins', '-')}",
            self.trend,
        ]


# The header of an edit log as a table, and its columns of text.
EDIT_HEADER = ("edit", "reason", "author", "time", "IV", "Gini", "bins", "event rate")
EDIT_TEXT_COLUMNS = (0, 1, 2, 3, 7)


def _measure(values: Mapping[str, float], key: str, digits: int = 4) -> str:
    return printing.fixed(float(values.get(key, float("nan"))), digits)


def trend_of(event_rate: npt.ArrayLike) -> str:
    """The shape of the event rate over consecutive bins: "flat" (one bin),
    "ascending", "descending" (every step strict), "peak" or "valley" (one turn), else
    "irregular"."""
    steps = np.sign(np.diff(np.asarray(event_rate, dtype=np.float64)))
    if steps.size == 0:
        return "flat"
    if (steps > 0).all():
        return "ascending"
    if (steps < 0).all():
        return "descending"
    if (steps == 0).any():
        return "irregular"
    turns = np.flatnonzero(np.diff(steps))
    if turns.size == 1:
        return "peak" if steps[0] > 0 else "valley"
    return "irregular"


def log_text(edits: Sequence[Edit]) -> str:
    """The printed log: one numbered line per edit."""
    return "\n".join(f"edit {i + 1}: {printing.printable(e.line())}" for i, e in enumerate(edits))


# -- the document form ---------------------------------------------------------------
def edit_dict(edit: Edit) -> dict[str, Any]:
    """The edit as a JSON-ready dict: cut points and measures as exact floats."""
    step = {
        k: (_exact_numbers(v) if k in NUMBER_STEPS else document.plain(v))
        for k, v in edit.step.items()
    }
    return {
        "operation": edit.operation,
        "arguments": document.plain(dict(edit.arguments)),
        "step": step,
        "reason": edit.reason,
        "author": edit.author,
        "time": edit.time,
        "before": _measures_dict(edit.before),
        "after": _measures_dict(edit.after),
        "trend": edit.trend,
    }


def _exact_numbers(value: Any) -> Any:
    if isinstance(value, (list, tuple, np.ndarray)):
        return [document.exact(v) for v in value]
    return document.exact(value)


def _measures_dict(values: Mapping[str, float]) -> dict[str, Any]:
    return {
        "iv": document.exact(values["iv"]),
        "gini": document.exact(values["gini"]),
        "bins": int(values["bins"]),
    }


def edit_from_dict(doc: Any, where: str) -> Edit:
    """The edit a document's dict describes; anything else raises `DocumentError`."""
    if not isinstance(doc, dict) or set(doc) != set(FIELDS):
        raise DocumentError(
            f"{where}: an edit must be an object with the fields {', '.join(FIELDS)}"
        )
    for key in ("reason", "author", "time"):
        if doc[key] is not None and not isinstance(doc[key], str):
            raise DocumentError(f"{where}: field {key!r} must be a string or null")
    operation = document.field(doc, "operation", str, where)
    trend = document.field(doc, "trend", str, where)
    if trend not in TRENDS:
        raise DocumentError(f"{where}: field 'trend' must be one of {', '.join(TRENDS)}")
    step = document.field(doc, "step", dict, where)
    if not step or not set(step) <= set(STEP_KEYS):
        raise DocumentError(f"{where}: field 'step' must hold some of {', '.join(STEP_KEYS)}")
    return Edit(
        operation=operation,
        arguments=document.field(doc, "arguments", dict, where),
        step={k: _step_value(k, v, f"{where} step.{k}") for k, v in step.items()},
        reason=doc["reason"],
        author=doc["author"],
        time=doc["time"],
        before=_measures(doc, "before", where),
        after=_measures(doc, "after", where),
        trend=trend,
    )


def _step_value(key: str, value: Any, where: str) -> Any:
    if key in NUMBER_STEPS:
        if isinstance(value, list):
            return [document.finite(v, where) for v in value]
        return document.finite(value, where)
    if key == "limits":
        if not isinstance(value, dict):
            raise DocumentError(f"{where}: must be an object of limits")
        return value
    names = value if isinstance(value, list) else [value]
    if not all(isinstance(n, str) for n in names) and not (key == "to" and value is None):
        raise DocumentError(f"{where}: must be category names")
    return value


def _measures(doc: Mapping[str, Any], key: str, where: str) -> dict[str, float]:
    values = document.field(doc, key, dict, where)
    if (
        set(values) != set(MEASURES)
        or not isinstance(values["bins"], int)
        or isinstance(values["bins"], bool)
    ):
        raise DocumentError(f"{where}: field {key!r} must hold iv, gini and bins")
    return {
        "iv": document.from_exact(values["iv"], f"{where} {key}.iv"),
        "gini": document.from_exact(values["gini"], f"{where} {key}.gini"),
        "bins": values["bins"],
    }


def edits_from_list(values: Any, where: str) -> tuple[Edit, ...]:
    """The edits of a document's 'edits' list."""
    if not isinstance(values, list):
        raise DocumentError(f"{where}: field 'edits' must be a list of edits")
    return tuple(edit_from_dict(v, f"{where} edit {i + 1}") for i, v in enumerate(values))
