"""The log of an analyst's edits of a table: what each edit changed, in the
form that replays it on another fit, why and by whom (as the caller gives
them), and the table's IV, Gini and bins before and after, so that a
validator can audit the judgement. The log travels in the table's document.

A validator must be able to trust that the log is the one the edits wrote,
so each record carries two SHA-256 digests: `table_digest`, of the table the
edit produced (its document without header and log, as canonical JSON), and
`digest`, of the record itself (canonical JSON, `table_digest` included) and
the digest of the record before it. Changing, adding or deleting a record,
or the table after the last one, breaks the chain, and a document whose
chain is broken is refused. The digests take no key, so they are no
signature: one who rewrites a record and takes every digest again is caught
where the records disagree, which reading checks of every log, chained or
not: each call must make its step, each record start from the measures the
one before ended with, and the last end at the document's table. A log of
a version 2 document, written without digests, is read but unverified
(`Edit.verified`), which its printout says; a replay on a new fit chains it."""

from __future__ import annotations

import dataclasses
import hashlib
import json
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from .._core import printing
from .._formats import document
from ..exceptions import DocumentError

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
# The edits of a table, by name, as `TableBinning.edit` and a replay take
# them, with their arguments as the log keeps them.
ARGUMENTS = {
    "with_cuts": ("cuts", "fixed", "limits"),
    "add_cut": ("value",),
    "remove_cut": ("value",),
    "move_cut": ("old", "new"),
    "merge": ("first", "second"),
    "split": ("bin", "at"),
    "move": ("category", "to"),
    "send_unseen_to": ("bin",),
    "add_special": ("code",),
    "remove_special": ("code",),
}
OPERATIONS = tuple(ARGUMENTS)
# The fields of a record of a chained log beside `FIELDS`.
DIGESTS = ("table_digest", "digest")


@dataclass(frozen=True)
class Edit:
    """One edit of a table. `operation` and `arguments` are the call as made
    (``merge``, ``{"first": 2, "second": 3}``); `step` the change it came to,
    by cut points and category names rather than bin numbers, which replays on
    another fit (``{"remove_cuts": [650.0]}``); `reason`, `author` and `time`
    are the caller's text; `before` and `after` hold the table's IV, Gini and
    number of bins; `trend` the shape of the event rate over the bins after
    the edit (one of `TRENDS`: a monotone one is ascending or descending);
    `table_digest` and `digest` link it into its log's chain (`chained`),
    None in a log written without them."""

    operation: str
    arguments: Mapping[str, Any]
    step: Mapping[str, Any]
    reason: str | None = None
    author: str | None = None
    time: str | None = None
    before: Mapping[str, float] = field(default_factory=dict)
    after: Mapping[str, float] = field(default_factory=dict)
    trend: str = "flat"
    table_digest: str | None = None
    digest: str | None = None

    @property
    def verified(self) -> bool:
        """Whether the edit is a link of a chained log (see `chained`); one
        read from a log written without digests is not."""
        return self.digest is not None

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
    """The printed log: one numbered line per edit, after `UNVERIFIED` when
    the log is not chained."""
    lines = [f"edit {i + 1}: {printing.printable(e.line())}" for i, e in enumerate(edits)]
    if not all(e.verified for e in edits):
        lines.insert(0, UNVERIFIED)
    return "\n".join(lines)


UNVERIFIED = (
    "edit log unverified: written without digests, it cannot show that it is "
    "the log its edits wrote"
)


# -- the chain of digests ------------------------------------------------------------
def canonical(value: Any) -> bytes:
    """The one serialisation a digest is taken of: JSON with sorted keys,
    without spaces, in ASCII (a value JSON has no form for as its text)."""
    text = json.dumps(value, sort_keys=True, separators=(",", ":"), allow_nan=False, default=str)
    return text.encode("ascii")


def table_digest(table_doc: Mapping[str, Any]) -> str:
    """The digest of a table: of its document without header and edit log."""
    state = {k: v for k, v in table_doc.items() if k not in ("schema", "version", "edits")}
    return hashlib.sha256(canonical(state)).hexdigest()


def record_digest(edit: Edit, previous: str) -> str:
    """The digest of `edit` as the link after the edit of digest `previous`
    ("" for the first edit): of its record, the digest of its table included."""
    record = {k: v for k, v in edit_dict(edit, chained=True).items() if k != "digest"}
    return hashlib.sha256(canonical({**record, "previous": previous})).hexdigest()


def chained(edit: Edit, previous: Edit | None) -> Edit:
    """`edit` (which names its table's digest) as the link after `previous`
    (None for the first edit). After an unverified edit the log stays
    unverified: nothing vouches for the records before."""
    link = "" if previous is None else previous.digest
    if edit.table_digest is None or link is None:
        return dataclasses.replace(edit, digest=None)
    return dataclasses.replace(edit, digest=record_digest(edit, link))


def log_version(edits: Sequence[Edit]) -> int:
    """The version of the document of a table with the log `edits`."""
    if not edits:
        return 1
    return document.CHAINED if all(e.verified for e in edits) else document.EDITED


def check_log(
    edits: Sequence[Edit],
    numeric: bool,
    table_doc: Mapping[str, Any],
    after: Mapping[str, float],
    trend: str,
    where: str,
) -> None:
    """Refuse a log that is not the one its edits wrote of the table of the
    document `table_doc` (whose measures are `after`, its event rate `trend`):
    a record whose call does not make its step, whose bins do not follow from
    its step, whose measures before are not those after the edit before it,
    a last one that did not produce the document's table, a broken chain."""
    previous: Edit | None = None
    for i, edit in enumerate(edits):
        at = f"{where} edit {i + 1}"
        _check_call(edit, numeric, at)
        if previous is not None and not _same(edit.before, previous.after, 0):
            raise DocumentError(f"{at}: its 'before' is not the 'after' of edit {i}")
        expected = _bins_after(edit.step, int(edit.before["bins"]))
        if expected is not None and expected != edit.after["bins"]:
            raise DocumentError(
                f"{at}: its step leaves {expected} bins, not the {edit.after['bins']} "
                "of its 'after'"
            )
        link = "" if previous is None or previous.digest is None else previous.digest
        if edit.verified and edit.digest != record_digest(edit, link):
            raise DocumentError(
                f"{at}: its digest is not that of its record after the edit before "
                "it: the log was changed after it was written"
            )
        previous = edit
    if previous is None:
        return
    at = f"{where} edit {len(edits)}"
    if not (_same(previous.after, after, MEASURE_ULPS) and previous.trend == trend):
        raise DocumentError(f"{at}: its 'after' and trend are not those of the document's table")
    if previous.verified and previous.table_digest != table_digest(table_doc):
        raise DocumentError(f"{at}: the table it produced is not the document's table")


# How far, in units in the last place, the measures a log keeps of the last
# table may be from those the document's rows give (another machine's
# arithmetic may round apart).
MEASURE_ULPS = 8
# The operations that edit only a numeric table, and only a categorical one.
NUMERIC_ONLY = ("with_cuts", "add_cut", "remove_cut", "move_cut", "add_special", "remove_special")
CATEGORICAL_ONLY = ("move", "send_unseen_to")


def _same(measures: Mapping[str, float], others: Mapping[str, float], ulps: float) -> bool:
    return measures["bins"] == others["bins"] and document.within_ulps(
        [measures["iv"], measures["gini"]], [others["iv"], others["gini"]], ulps
    )


def _check_call(edit: Edit, numeric: bool, where: str) -> None:
    """Refuse an edit whose call is not one of a table of its kind or does
    not make its step."""
    operation, arguments = edit.operation, edit.arguments
    if operation not in ARGUMENTS:
        raise DocumentError(
            f"{where}: unknown operation {operation!r}; operations are {', '.join(OPERATIONS)}"
        )
    if operation in (CATEGORICAL_ONLY if numeric else NUMERIC_ONLY):
        kind = "numeric" if numeric else "categorical"
        raise DocumentError(f"{where}: {operation} is no edit of a {kind} table")
    if set(arguments) != set(ARGUMENTS[operation]):
        raise DocumentError(
            f"{where}: {operation} takes the arguments {', '.join(ARGUMENTS[operation])}"
        )
    if not _makes(operation, arguments, edit.step, numeric):
        raise DocumentError(
            f"{where}: its step {dict(edit.step)!r} is not what {edit.cells()[0]} makes"
        )


def _makes(operation: str, a: Mapping[str, Any], step: Mapping[str, Any], numeric: bool) -> bool:
    """Whether the call `operation` with the arguments `a` makes `step`, as
    far as the call tells it (the cut points a merge removes and the bin a
    category moves to are read from the table it edits)."""
    if operation == "with_cuts":
        cuts = _numbers(a["cuts"])
        if a["fixed"] is True:
            return step == {"fix_cuts": cuts, "limits": a["limits"]}
        return a["fixed"] is False and step == {"set_cuts": cuts}
    if operation == "add_cut":
        return step == {"add_cuts": _numbers([a["value"]])}
    if operation == "remove_cut":
        return step == {"remove_cuts": _numbers([a["value"]])}
    if operation == "move_cut":
        return step == {"remove_cuts": _numbers([a["old"]]), "add_cuts": _numbers([a["new"]])}
    if operation in ("add_special", "remove_special"):
        code = _numbers([a["code"]])
        return code is not None and step == {operation: code[0]}
    # Bin numbers; a category moving to a bin of its own has none.
    bins = [
        v for k, v in a.items() if k in ("first", "second", "bin") or (k == "to" and v is not None)
    ]
    if not all(isinstance(b, int) and not isinstance(b, bool) and b >= 0 for b in bins):
        return False
    if operation == "merge":
        if a["first"] == a["second"]:
            return False
        if numeric:
            removed = step.get("remove_cuts")
            return (
                set(step) == {"remove_cuts"}
                and isinstance(removed, list)
                and len(removed) == abs(a["second"] - a["first"])
            )
        names = step.get("merge")
        return (
            set(step) == {"merge"}
            and isinstance(names, list)
            and len(set(names)) == 2 == len(names)
        )
    if operation == "split":
        if numeric:
            return step == {"add_cuts": _numbers([a["at"]])}
        # A categorical split takes its categories out in name order.
        return step == {"split": a["at"]} and a["at"] == sorted(a["at"])
    if operation == "move":
        return (
            set(step) == {"move", "to"}
            and step["move"] == a["category"]
            and (step["to"] is None) == (a["to"] is None)
        )
    return set(step) == {"unseen_with"} and isinstance(step["unseen_with"], str)


def _numbers(values: Any) -> list[float] | None:
    """`values` as floats, when they are all real numbers (not booleans)."""
    if not isinstance(values, list) or not all(
        isinstance(v, (int, float)) and not isinstance(v, bool) for v in values
    ):
        return None
    return [float(v) for v in values]


def _bins_after(step: Mapping[str, Any], before: int) -> int | None:
    """The bins after `step` on a table of `before` bins, when the step alone
    tells (a fixed cut re-optimises the others; a category moves into a bin
    or out of one by the counts)."""
    if "set_cuts" in step:
        return len(step["set_cuts"]) + 1
    if set(step) & {"add_cuts", "remove_cuts", "add_special", "remove_special"}:
        return before + len(step.get("add_cuts", ())) - len(step.get("remove_cuts", ()))
    if "merge" in step:
        return before - 1
    return None


# -- the document form ---------------------------------------------------------------
def edit_dict(edit: Edit, chained: bool) -> dict[str, Any]:
    """The edit as a JSON-ready dict: cut points and measures as exact floats;
    with `chained`, its digests too."""
    step = {
        k: (_exact_numbers(v) if k in NUMBER_STEPS else document.plain(v))
        for k, v in edit.step.items()
    }
    digests = {"table_digest": edit.table_digest, "digest": edit.digest} if chained else {}
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
        **digests,
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


def edit_from_dict(doc: Any, where: str, chained: bool) -> Edit:
    """The edit a document's dict describes, with its digests when the log
    is `chained`; anything else raises `DocumentError`."""
    fields = FIELDS + DIGESTS if chained else FIELDS
    if not isinstance(doc, dict) or set(doc) != set(fields):
        raise DocumentError(
            f"{where}: an edit must be an object with the fields {', '.join(fields)}"
        )
    digests = {key: doc.get(key) for key in DIGESTS}
    if chained and not all(_is_digest(v) for v in digests.values()):
        raise DocumentError(
            f"{where}: fields {' and '.join(DIGESTS)} must be SHA-256 digests "
            "(64 lowercase hexadecimal digits)"
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
        **digests,
    )


def _is_digest(value: Any) -> bool:
    return (
        isinstance(value, str) and len(value) == 64 and all(c in "0123456789abcdef" for c in value)
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


def edits_from_list(values: Any, where: str, chained: bool) -> tuple[Edit, ...]:
    """The edits of a document's 'edits' list, each with its digests when
    the log is `chained`."""
    if not isinstance(values, list):
        raise DocumentError(f"{where}: field 'edits' must be a list of edits")
    return tuple(edit_from_dict(v, f"{where} edit {i + 1}", chained) for i, v in enumerate(values))
