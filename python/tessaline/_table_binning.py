"""TableBinning: every column of a table binned against one target at once,
numeric and categorical alike, ranked by information value, with a selection
rule and a transform by column name."""

from __future__ import annotations

import contextlib
import functools
import json
import math
import types
from collections.abc import Callable, Iterable, Mapping, Sequence
from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, ClassVar, Literal, Protocol

import numpy as np
import numpy.typing as npt

from ._binning import batches, clipping, table_pairs
from ._binning import column_counts as counted
from ._binning.binning_table import BinningTable, Unseen
from ._binning.categorical import DEFAULT_MIN_CATEGORY_SHARE, categorical_codes
from ._binning.edit_log import OPERATIONS, Edit, log_version
from ._binning.grid_table import GridBinningTable
from ._binning.numeric import mdlp_rows, unsupervised_rows
from ._binning.optimal import (
    DEFAULT_MAX_BINS,
    DEFAULT_MIN_BIN_SHARE,
    SearchedRows,
    Trend,
    count_searched,
    optimal_rows,
    search_columns,
    searched_rows,
    searched_significance,
)
from ._binning.options import OPTION_CHECKS, check_named
from ._binning.rare import RARE_PVALUE, rare_groups
from ._binning.significance import TestThreads, column_test
from ._binning.special import checked_special_values
from ._binning.weights import NO_PERCENTILE, rows_as_weights
from ._continuous_table_binning import ContinuousTableBinning
from ._core import categories, checks, frames, native, printing, target, threads
from ._core.arrays import FloatArray, Labels, as_float_array, target_labels
from ._core.progress import progress_bar
from ._formats import document, pmml, sql
from ._multiclass_table_binning import MulticlassTableBinning
from ._selection import Decision, bins_chi_square, collinear_drops, decisions_text
from ._table_binning_base import (
    TableBinningBase,
    check_column_options,
    check_filed,
    kept_and_skipped,
    ranked_by,
)
from .exceptions import DocumentError

if TYPE_CHECKING:
    from ._monitor_periods import MonitoringResult, Thresholds
    from ._monitor_periods.periods import Frequency

# Options a column may carry in `columns=`, beside the table-wide ones.
COLUMN_OPTIONS = frozenset(
    {
        "method",
        "categorical",
        "special_values",
        "n_bins",
        "minobs",
        "monotonicity",
        "mono_dir",
        "min_share",
        "alpha_pos",
        "beta_struct",
        "force_first_split",
        "max_bins",
        "min_bin_share",
        "min_events",
        "min_non_events",
        "trend",
        "max_pvalue",
    }
)
# The limits of optimal binning, among the options.
LIMITS = ("max_bins", "min_bin_share", "min_events", "min_non_events", "trend", "max_pvalue")
# The rules that drop a column for its WoE's collinearity with stronger ones.
COLLINEAR_RULES = ("correlation", "vif")
# The p-value of the chi-square test of a column's bins against the target
# above which the selection drops the column: no test unless asked for. A
# search for the bins of largest IV finds some in pure noise too, and tests
# them as if they had been fixed in advance: at 1%, about 2 in 100 noise
# columns of German credit's 1,000 rows pass, where the IV rule alone lets
# half of them in; but 1% also drops weak columns that still add to a card
# beside the others (German credit's instalment rate, p 0.14 alone, 0.0007
# in the card), so the rule is the analyst's choice for wide tables of
# candidates, not a default.
DEFAULT_MAX_CHI2_PVALUE: float | None = None
# The level of the permutation test of a column's IV (`binning.significance`):
# the search run on the column with its events dealt at random must find an
# IV as large in at most 6% of the draws. On German credit with 100 noise
# columns the IV rule alone keeps 50 of them, this test 3; the weakest real
# columns of German credit and HMDA (instalment rate and unemployment, p
# about 0.053 and 0.050 by 5,000 draws) sit just under it, where 5% would
# drop them, and the next noise column comes at 0.065. A column that close
# to the level needs thousands of draws for its p-value to be that sure
# (0.003 by 5,000): clear columns stop after a few dozen.
DEFAULT_MAX_IV_PVALUE: float | None = 0.06
DEFAULT_IV_PERMUTATIONS = 4999
# The options of the MDLP search, among the options.
# What a fit leaves on the binning: partial_fit drops it, and the first read
# of any of it fits on the batches so far.
UNREAD_FIT = (
    "tables",
    "skipped",
    "summary",
    "selection_report",
    "not_replayed",
    "_collinear",
    "_fitted_columns",
    "clip_bounds",
    "pair_tables",
)
SEARCH = ("minobs", "monotonicity", "mono_dir", "alpha_pos", "beta_struct", "force_first_split")
METHODS = ("optimal", "mdlp", "quantile", "equal_width")
# What `transform(output=...)` gives: each column's WoE, bin index or bin label.
OUTPUTS = ("woe", "index", "label")
SUMMARY_FIELDS = ("column", "kind", "iv", "gini", "bins", "missing_share", "keep", "reason", "note")
# A row of a table resting on fewer events (or non-events) than this is noted.
FEW_EVIDENCE = 5
# The kind of a pair of columns binned as a grid, in the summary.
PAIR_KIND = "pair"
PAIRS_FROM_ROWS = (
    "pairs are binned as grids from the rows of the table: fit(data, y) "
    "bins them, counts merged elsewhere (fit_counts, partial_fit, an engine) cannot"
)

# One builder per kind of column, from its rows (values, event flags) and
# from its counts merged elsewhere (an engine): the same options reach both.
ROW_BUILDERS: dict[str, Callable[..., BinningTable]] = {
    "categorical": categorical_codes,
    "optimal": optimal_rows,
    "mdlp": mdlp_rows,
    "quantile": functools.partial(unsupervised_rows, method="quantile"),
    "equal_width": functools.partial(unsupervised_rows, method="equal_width"),
}
COUNT_BUILDERS: dict[str, Callable[..., BinningTable]] = {
    "categorical": counted.category_table,
    "optimal": counted.optimal_table,
    "mdlp": counted.mdlp_table,
    "quantile": functools.partial(counted.unsupervised_table, method="quantile"),
    "equal_width": functools.partial(counted.unsupervised_table, method="equal_width"),
}
ColumnCounts = counted.ColumnCounts | counted.CategoryCounts


class CountedOnCall(Protocol):
    """A numeric column's counts made when called, on the thread that bins
    the column (an engine's last batch of rows, counted while other columns
    are binned), with its rows of known target and events known before."""

    def __call__(self) -> counted.ColumnCounts: ...

    def labelled(self) -> tuple[int, int]: ...


# Edits to replay after a fit: per column, an earlier fit's log or operations
# with their arguments (see `BinningTable.replay`); or the earlier fit itself.
Edits = Mapping[str, Sequence[Edit | tuple[Any, ...]]]


@dataclass(frozen=True)
class ColumnSummary:
    """One column of the table: its information value, the Gini of its WoE,
    its bins (special and missing-value rows not counted), the share of rows
    whose value is missing, whether the selection keeps it, why a column
    was not binned, and what the analyst should look at: rows resting on
    few events, a peak or valley that fits much better than the trend."""

    column: str
    kind: str
    iv: float
    gini: float
    bins: int
    missing_share: float
    keep: bool
    reason: str = ""
    note: str = ""


# The values counted per thread in one native call (at least a column per
# thread): the columns converted and counted at once stay few on long tables.
CALL_VALUES = 1 << 21


@dataclass
class PlannedColumn:
    """A column of a fit read and converted: its builder (a key of
    `ROW_BUILDERS`) with the options and the converted column, and for the
    optimal search its searched rows (counted with other columns before the
    table is built); or, as `outcome`, why it cannot be binned (an error when
    the fit raises it)."""

    name: str
    kind: str = ""
    options: dict[str, Any] = field(default_factory=dict)
    column: Any = None
    searched: SearchedRows | None = None
    outcome: str | BaseException | None = None


def _count_planned(planned: Sequence[PlannedColumn], n_threads: int) -> None:
    """Count and pre-bin the searched rows of the planned columns in one
    native call, then search their pre-bins in another. Should either fail,
    each column counts (or searches) its own when its table is built, and
    raises its own error there, in its turn."""
    searched = [p for p in planned if p.searched is not None]
    if not searched:
        return
    try:
        counted = count_searched([p.searched for p in searched if p.searched], n_threads)
    except (ValueError, TypeError):
        return
    with contextlib.suppress(ValueError, TypeError):
        counted = search_columns(counted, [p.options for p in searched], n_threads)
    for p, rows in zip(searched, counted):
        p.searched = rows


def _tested_before_table(planned: PlannedColumn) -> bool:
    """Whether the test of a planned column's IV can run before its table is
    built: a numeric column counted and searched with the others (which
    checked its options) and tested."""
    searched = planned.searched
    return (
        planned.outcome is None
        and "iv_test" in planned.options
        and searched is not None
        and searched.counted is not None
        and searched.found is not None
    )


def woe_gini(table: BinningTable) -> float:
    """Gini of the WoE score of a table on its own training rows, from its
    counts (the core's Lorenz curve, as `gini` of the WoE column gives it):
    rows of equal WoE are one score value, ties count one half."""
    return table.gini


def column_note(table: BinningTable) -> str:
    """What to look at in a table: the rows whose WoE rests on fewer than
    `FEW_EVIDENCE` events or non-events, and a better shape of the trend."""
    c0, c1 = np.asarray(table["c0"]), np.asarray(table["c1"])
    # The labels are written only when some row is short of evidence.
    short = np.flatnonzero((c0 + c1 != 0) & (np.minimum(c0, c1) < FEW_EVIDENCE)).tolist()
    labels = table.labels if short else []
    few = [labels[i] for i in short]
    notes = [f"fewer than {FEW_EVIDENCE} events or non-events in {', '.join(few)}"] if few else []
    return "; ".join(notes + [str((table.metadata or {}).get("shape_note") or "")]).strip("; ")


def unusable(column: FloatArray | categories.Encoded, flags: FloatArray) -> str:
    """Why a column, as float64 values or encoded categories, cannot be
    binned against the event flags `flags` ('' when it can). One value beside
    missing values of a known target is binnable: one bin and the missing
    row, whose event rate may well differ."""
    if _plainly_usable(column):
        return ""
    if isinstance(column, categories.Encoded):
        missing = column.codes < 0
        single = f"a single value ({column.names[0]!r})" if len(column.names) == 1 else ""
    else:
        finite = column[np.isfinite(column)]
        # Infinite values alone are missing ones too.
        missing = np.isnan(column) | (~np.isfinite(column) if finite.size == 0 else False)
        single = (
            f"a single value ({finite[0]:g})" if finite.size and np.all(finite == finite[0]) else ""
        )
    if missing.size == 0:
        return "no rows"
    if missing.all():
        return "all values missing"
    return "" if (missing & ~np.isnan(flags)).any() else single


# The rows `_plainly_usable` looks at: enough to settle almost every column.
_HEAD_ROWS = 1024


def _plainly_usable(column: FloatArray | categories.Encoded) -> bool:
    """Whether the first rows alone show two distinct present values (two
    categories, or two finite numbers): such a column is usable, and the
    whole column need not be read to know it."""
    present: npt.NDArray[Any]
    if isinstance(column, categories.Encoded):
        codes = column.codes[:_HEAD_ROWS]
        present = codes[codes >= 0]
    else:
        values = column[:_HEAD_ROWS]
        present = values[np.isfinite(values)]
    return bool(present.size) and bool((present != present[0]).any())


# The type of each field of a summary row in a document.
SUMMARY_TYPES = {
    "column": str,
    "kind": str,
    "iv": str,
    "gini": str,
    "bins": int,
    "missing_share": str,
    "keep": bool,
    "reason": str,
    "note": str,
}


def _summary_rows(
    doc: Mapping[str, Any],
    tables: Mapping[str, BinningTable],
    skipped: Mapping[str, str],
    where: str,
    pairs: Mapping[str, GridBinningTable] | None = None,
) -> list[ColumnSummary]:
    """The summary of a document: one row per binned or skipped column, each
    once, of the kind of its table (or "-" when skipped), and one per pair."""
    rows = []
    for row in document.field(doc, "summary", list, where):
        if isinstance(row, dict) and "note" not in row:
            row = {**row, "note": ""}  # written before the summary had notes
        if not isinstance(row, dict) or set(row) != set(SUMMARY_FIELDS):
            raise DocumentError(
                f"{where}: a summary row must have the fields {', '.join(SUMMARY_FIELDS)}"
            )
        for key, kind in SUMMARY_TYPES.items():
            document.field(row, key, kind, f"{where} summary")
        floats = {
            f: document.from_exact(row[f], f"{where} summary.{f}")
            for f in ("iv", "gini", "missing_share")
        }
        rows.append(ColumnSummary(**{**row, **floats}))
    kinds = {
        **{n: t.kind for n, t in tables.items()},
        **{n: PAIR_KIND for n in pairs or {}},
        **{n: "-" for n in skipped},
    }
    if sorted((r.column, r.kind) for r in rows) != sorted(kinds.items()):
        raise DocumentError(
            f"{where}: field 'summary' must have one row per binned or skipped column "
            "and per pair, of its kind"
        )
    return rows


def decision_dicts(decisions: Sequence[Decision]) -> list[dict[str, Any]]:
    """Decisions of a selection as a document holds them, numbers exact."""
    return [
        {**vars(d), "value": document.exact(d.value), "threshold": document.exact(d.threshold)}
        for d in decisions
    ]


def decisions_of(doc: Mapping[str, Any], where: str, key: str = "selection") -> list[Decision]:
    """The decisions a document holds under `key` (none before it held them)."""
    rows = doc.get(key, [])
    fields = tuple(Decision.__dataclass_fields__)
    if not isinstance(rows, list) or not all(
        isinstance(r, dict) and set(r) == set(fields) for r in rows
    ):
        raise DocumentError(
            f"{where}: field {key!r} must list decisions with the fields {', '.join(fields)}"
        )
    return [
        Decision(
            **{
                **r,
                "value": document.from_exact(r["value"], f"{where} {key}.value"),
                "threshold": document.from_exact(r["threshold"], f"{where} {key}.threshold"),
            }
        )
        for r in rows
    ]


def document_version(tables: Mapping[str, BinningTable]) -> int:
    """The version of a whole-table document: that of its newest table's log."""
    return max((log_version(t.edits) for t in tables.values()), default=1)


def check_classes(known: int, events: int) -> None:
    """A table whose target has no known row, or one class only, cannot be binned."""
    if known == 0:
        raise ValueError("the table has no row with a known target")
    if events in (0, known):
        raise ValueError(
            f"the target has one class only: every known row is "
            f"{'an event' if events == known else 'a non-event'}"
        )


def monitor_door(
    self: Any,
    data: Any,
    *,
    period: str,
    target: Any = None,
    reference: Any = None,
    reference_period: str | None = None,
    frequency: Frequency | None = None,
    score_bands: int = 10,
    thresholds: Thresholds | None = None,
    weight: str | None = None,
) -> MonitoringResult:
    """Monitor this fitted card or binning over the periods of `data`
    against a reference: ``tessaline.monitor(self, data, ...)``, which see."""
    # Monitoring is computed a layer above cards and binnings, which only
    # open its door (the method `monitor` of both).
    from ._monitor_periods import monitor

    return monitor(
        self,
        data,
        period=period,
        target=target,
        reference=reference,
        reference_period=reference_period,
        frequency=frequency,
        score_bands=score_bands,
        thresholds=thresholds,
        weight=weight,
    )


class TableBinning(TableBinningBase):
    """Bin every column of a pandas or polars DataFrame, a pyarrow Table or a
    dict of arrays against one target.

    Columns of strings, booleans, pandas ``category`` or polars
    Categorical/Enum are binned as categories (`categorical_binning`), the
    others as numbers: by default `optimal_binning` under the limits
    `max_bins`, `min_bin_share`, `min_events`, `min_non_events` and `trend`
    (at most 8 bins, each with 5% of the rows and 5 events and 5 non-events,
    event rate rising or falling; ``trend="auto_all"`` also tries one peak or
    valley; categories in event-rate order are grouped
    under the same limits), or ``method="mdlp"`` (`mdlp_binning`),
    ``"quantile"`` / ``"equal_width"`` with `n_bins`; `categorical` names further columns
    (integer codes) to treat as categories. `special_values` is a list of codes
    applied to every numeric column, or a dict of lists per column.
    `columns` holds per-column options (``{"age": {"special_values": [-999],
    "method": "quantile", "n_bins": 5}}``, keys among `COLUMN_OPTIONS`);
    `exclude` names columns to leave out. `minobs`, `monotonicity`,
    `mono_dir`, `alpha_pos`, `beta_struct` and `force_first_split` go to the
    MDLP search of every column, `min_share` to the pooling of categories;
    `force_first_split` is on by default, so that every column gets at least
    its best cut and the selection by IV decides what is kept.

    The target (`fit`'s `y`, an array or the name of a column of the data) is
    read with `event`, `value` and `percentile` as in `mdlp_binning`; rows
    whose target is missing are left out of every column and counted.

    The selection keeps the columns whose IV is at least `min_iv`, whose
    share of missing values is at most `max_missing_share` (no limit when
    None) and whose IV is significant: the search run on the column with its
    events dealt at random (`tessaline._binning.significance`) finds an IV as
    large in a share of at most `max_iv_pvalue` of at most `iv_permutations`
    draws (seeded by `random_state` and the column's name; None switches the
    test off; optimal binning only, as other methods do not search). With
    `max_chi2_pvalue` the p-value of the chi-square test of their rows
    (bins, special and missing values) against the target must be at most
    that too (no test by default), read from the counts alone. With
    `max_correlation` it drops the weaker (by IV) of two columns whose WoE
    on the training rows are correlated above it, with `max_vif` then the
    column of largest VIF while over it (fits from rows only: counts hold no
    pairs of columns), and keeps at most `top_n` of the
    rest by IV. `max_pvalue` (table-wide or per column) bounds the p-value of
    the test between neighbouring bins of every optimal search.
    ``selection_report`` lists every decision (`Decision`): each dropped
    column with its rule, value and limit, and as notes the rare categories
    whose event rate is far from the rest of their bin
    (`tessaline._binning.rare`); printing the binning shows them. The summary's note flags rows
    resting on fewer than 5 events or non-events, and a column whose event
    rate fits a peak or valley much better than the monotone trend. The
    numeric columns of the optimal search are counted and pre-binned
    together in the core on `n_jobs` threads (default: the number of
    processors); the tables are then built one after another, or on `n_jobs`
    threads while the test of significance draws (its searches release the
    interpreter lock for long); columns of other methods, and weighted fits,
    are fitted on `n_jobs` threads. An interrupt (Ctrl-C) takes effect when
    the running columns, or the columns counted together, finish. A column
    that cannot be binned (all missing, a single value, values that are
    neither numbers nor categories) is left out with its reason in
    `skipped` and in the summary; a table with no rows, a target of one
    class, or no column that can be binned is an error. `progress`
    draws a bar of the columns binned on standard error: True, False, or
    None for a terminal when there are 10 columns or more.

    `pairs` names pairs of columns to bin together as grids
    (`grid_binning`): ``pairs=[("duration", "age")]`` makes one more
    variable, "duration × age", whose WoE is that of each row's cell. The
    grid options (`max_bins_x`, `max_bins_y`, `min_cell_share`, `trend_x`,
    `trend_y`, `n_prebins`) come from `pair_options` for every pair, or
    from a pair's own dict, ``("duration", "age", {"max_bins_x": 3})``.
    A pair is ranked and selected beside the columns, by the same rules
    (the permutation test of its IV runs the grid search on the dealt
    rows), and `transform`, `to_sql` and the document give it as a column
    named after the pair; its two columns stay in the table as columns of
    their own, for the selection and the scorecard to weigh. Pairs are
    binned from rows: not with `sample_weight`, nor from counts merged
    elsewhere (`fit_counts`, `partial_fit`). A column's special values are
    not set apart in a grid, so a pair whose column holds one is refused.

    ``TableBinning(target="continuous", ...)`` bins against a continuous
    target (a loss, an amount) instead: it makes a `ContinuousTableBinning`,
    whose columns are ranked by R² and whose options are its own;
    ``TableBinning(target="multiclass", ...)`` bins against a target of k
    classes: it makes a `MulticlassTableBinning`, ranked by multiclass IV.
    """

    SUMMARY_FIELDS = SUMMARY_FIELDS
    # The target is binary here: a document's options do not name it.
    _unwritten_options = ("target",)

    def __new__(cls, *, target: str = "binary", **kwargs: Any) -> Any:
        # A continuous or multiclass target has its own binning, with its own options.
        if target == "continuous":
            return ContinuousTableBinning(target="continuous", **kwargs)
        if target == "multiclass":
            return MulticlassTableBinning(target="multiclass", **kwargs)
        return super().__new__(cls)

    def __init__(
        self,
        *,
        target: Literal["binary", "continuous", "multiclass"] = "binary",
        event: Any = None,
        value: float | None = None,
        percentile: float | None = None,
        method: Literal["optimal", "mdlp", "quantile", "equal_width"] = "optimal",
        n_bins: int = 10,
        categorical: Sequence[str] = (),
        special_values: Sequence[float] | Mapping[str, Sequence[float]] = (),
        columns: Mapping[str, Mapping[str, Any]] | None = None,
        exclude: Sequence[str] = (),
        min_share: float = DEFAULT_MIN_CATEGORY_SHARE,
        minobs: int | None = None,
        monotonicity: int = 0,
        mono_dir: int = 0,
        alpha_pos: float = 1.0,
        beta_struct: float = 1.0,
        force_first_split: bool = True,
        max_bins: int = DEFAULT_MAX_BINS,
        min_bin_share: float = DEFAULT_MIN_BIN_SHARE,
        min_events: float | None = None,
        min_non_events: float | None = None,
        trend: Trend = "auto",
        representative: Literal["median", "mean"] = "median",
        min_iv: float = 0.02,
        top_n: int | None = None,
        max_missing_share: float | None = None,
        max_pvalue: float | None = None,
        max_chi2_pvalue: float | None = DEFAULT_MAX_CHI2_PVALUE,
        max_iv_pvalue: float | None = DEFAULT_MAX_IV_PVALUE,
        iv_permutations: int = DEFAULT_IV_PERMUTATIONS,
        random_state: int = 0,
        max_correlation: float | None = None,
        max_vif: float | None = None,
        n_jobs: int | None = None,
        skip_unusable: bool = True,
        progress: bool | None = None,
        clip: Any = None,
        pairs: Sequence[Sequence[Any]] = (),
        pair_options: Mapping[str, Any] | None = None,
    ) -> None:
        checks.one_of("target", target, ("binary", "continuous", "multiclass"))
        if method not in METHODS:
            raise ValueError(f"method must be one of {', '.join(METHODS)}, not {method!r}")
        check_column_options(columns or {}, COLUMN_OPTIONS)
        self.event, self.value, self.percentile = event, value, percentile
        self.method, self.n_bins = method, n_bins
        self.categorical = tuple(categorical)
        self.special_values = special_values
        self.column_options = {k: dict(v) for k, v in (columns or {}).items()}
        self.exclude = tuple(exclude)
        self.min_share, self.minobs = min_share, minobs
        self.monotonicity, self.mono_dir = monotonicity, mono_dir
        self.alpha_pos, self.beta_struct = alpha_pos, beta_struct
        self.force_first_split = force_first_split
        self.max_bins, self.min_bin_share = max_bins, min_bin_share
        self.min_events, self.min_non_events, self.trend = min_events, min_non_events, trend
        self.representative = representative
        self.min_iv, self.top_n = min_iv, top_n
        if max_missing_share is not None:
            checks.real_number("max_missing_share", max_missing_share, 0, 1)
        self.max_missing_share = max_missing_share
        self.max_pvalue = max_pvalue
        if max_chi2_pvalue is not None:
            checks.real_number("max_chi2_pvalue", max_chi2_pvalue, 0, 1)
        if max_correlation is not None:
            checks.real_number("max_correlation", max_correlation, 0, 1)
        if max_vif is not None:
            checks.real_number("max_vif", max_vif, 1)
        self.max_chi2_pvalue = max_chi2_pvalue
        if max_iv_pvalue is not None:
            checks.real_number("max_iv_pvalue", max_iv_pvalue, 0, 1)
        checks.whole_number("iv_permutations", iv_permutations, 1)
        checks.whole_number("random_state", random_state, 0)
        self.max_iv_pvalue, self.iv_permutations = max_iv_pvalue, iv_permutations
        self.random_state = random_state
        self.max_correlation, self.max_vif = max_correlation, max_vif
        self.n_jobs = n_jobs
        self.skip_unusable = skip_unusable
        if progress not in (None, True, False):
            raise TypeError(f"progress must be True, False or None, not {progress!r}")
        self.progress = progress
        self._clip_rule = clipping.clip_rule(clip)
        self.clip = clip
        self._pairs = table_pairs.checked_pairs(pairs, pair_options or {})
        # As given, so that the options write and read back as they came.
        self.pairs = [list(p[:2]) + ([dict(p[2])] if len(p) == 3 else []) for p in pairs]
        self.pair_options = dict(pair_options or {})
        # The grid of each pair, by the pair's name.
        self.pair_tables: dict[str, GridBinningTable] = {}
        # Bad options fail here, not as the skip reason of every column.
        check_named({name: getattr(self, name) for name in OPTION_CHECKS})
        for name, options in self.column_options.items():
            check_named(options, f"column {name!r}: ")
        self.tables: dict[str, BinningTable] = {}
        self.skipped: dict[str, str] = {}
        self.summary: list[ColumnSummary] = []
        self.selection_report: list[Decision] = []
        # Columns dropped at the fit as collinear with a stronger one: kept by
        # an edit, which changes one WoE column without the rows to measure again.
        self._collinear: dict[str, Decision] = {}
        self._fitted_columns: list[str] = []
        # The bounds each numeric column was clipped to at the fit.
        self.clip_bounds: dict[str, tuple[float, float]] = {}

    # A binning pickled before the guard-rails of the selection was selected
    # without them, and keeps the columns it selected.
    _state_defaults: ClassVar[dict[str, Any]] = {
        "max_pvalue": None,
        "max_chi2_pvalue": None,
        "max_iv_pvalue": None,
        "iv_permutations": DEFAULT_IV_PERMUTATIONS,
        "random_state": 0,
        "max_correlation": None,
        "max_vif": None,
        "selection_report": [],
        "_collinear": {},
        "clip": None,
        "_clip_rule": None,
        "clip_bounds": {},
        "pairs": [],
        "pair_options": {},
        "_pairs": (),
        "pair_tables": {},
    }

    # -- fitting ---------------------------------------------------------------
    def options_of(self, name: str, holds_categories: bool) -> dict[str, Any]:
        """The options that apply to the column `name`, whose values are
        categories (strings, booleans) when `holds_categories`."""
        options = self.column_options.get(name, {})
        return {
            "categorical": self.is_categorical(name, holds_categories),
            "method": options.get("method", self.method),
            "n_bins": options.get("n_bins", self.n_bins),
            "special_values": self.specials_of(name),
            "minobs": options.get("minobs", self.minobs),
            "monotonicity": options.get("monotonicity", self.monotonicity),
            "mono_dir": options.get("mono_dir", self.mono_dir),
            "min_share": options.get("min_share", self.min_share),
            "alpha_pos": options.get("alpha_pos", self.alpha_pos),
            "beta_struct": options.get("beta_struct", self.beta_struct),
            "force_first_split": options.get("force_first_split", self.force_first_split),
            **{key: options.get(key, getattr(self, key)) for key in LIMITS},
        }

    def event_flags(self, data: Any, y: Any) -> FloatArray:
        """The event flags of the target `y` (an array, or the name of a
        column of `data`), read with this binning's `event`, `value` and
        `percentile`."""
        name = frames.target_name(data, y)
        return target.event_flags(
            y if name is None else frames.column(data, name),
            event=self.event,
            value=self.value,
            percentile=self.percentile,
        )

    def column_plan(
        self, name: str, categorical: bool, test_threads: TestThreads | None = None
    ) -> tuple[str, dict[str, Any]]:
        """The builder (a key of `ROW_BUILDERS` and `COUNT_BUILDERS`) and its
        options for the column `name`, binned as categories when `categorical`;
        its test of significance draws on `test_threads` threads (default: the
        fit's, for a column binned alone)."""
        o = self.options_of(name, categorical)
        method = o["method"]
        if method not in METHODS:
            raise ValueError(f"method must be one of {', '.join(METHODS)}, not {method!r}")
        search = {key: o[key] for key in SEARCH}
        # No test between neighbours unless asked for.
        limits = {key: o[key] for key in LIMITS if key != "max_pvalue" or o[key] is not None}
        # The test of significance of the searched IV, when the selection reads it.
        tested = (
            {
                "iv_test": column_test(
                    self.iv_permutations,
                    self.random_state,
                    name,
                    self.max_iv_pvalue,
                    TestThreads(threads.thread_count(self.n_jobs))
                    if test_threads is None
                    else test_threads,
                )
            }
            if self.max_iv_pvalue is not None and method == "optimal"
            else {}
        )
        if categorical:
            return "categorical", {
                "min_share": o["min_share"],
                "limits": limits,
                "method": "optimal" if method == "optimal" else "mdlp",
                **search,
                **tested,
            }
        common = {"special_values": o["special_values"], "representative": self.representative}
        if method == "optimal":
            return method, {**common, **limits, **tested}
        if method == "mdlp":
            return method, {**common, **search}
        return method, {**common, "n_bins": o["n_bins"]}

    def _test_threads(self, n_columns: int) -> TestThreads:
        """The threads each column's test of significance draws on when
        `n_columns` columns are binned side by side on the fit's threads:
        together they take those threads and no more (a test on every thread
        of a pool already using every thread only makes them take turns),
        and a test on one of them draws on those the pool leaves idle too
        once its columns run out (the pool lends them to `spare`)."""
        n_threads = threads.thread_count(self.n_jobs)
        count = max(1, n_threads // max(1, n_columns))
        return TestThreads(count, native.spare_threads() if n_threads > 1 else None)

    def _table_or_reason(
        self, build: Callable[[], tuple[Any, Callable[[Any], BinningTable], str]]
    ) -> BinningTable | str:
        """The column's table, or why it cannot be binned: `build` gives the
        column in its binned form, the function that bins it and why it cannot
        be binned ('' when it can)."""
        try:
            column, bin_column, reason = build()
            if reason and self.skip_unusable:
                return reason
            return bin_column(column)
        except (ValueError, TypeError) as error:
            if not self.skip_unusable:
                raise
            return str(error)

    def _from_rows(
        self,
        name: str,
        values: Any,
        flags: FloatArray,
        on_column: Callable[[str], None] | None = None,
        weights: checks.CheckedWeights | None = None,
        labels: Labels | None = None,
        test_threads: TestThreads | None = None,
    ) -> BinningTable | str:
        """One column's table from its rows, each column converted once;
        with `weights` (checked once for every column), each row counted by
        its weight; `labels` are the labels of `flags`, read once for every
        column of the default binning; its test draws on `test_threads`."""

        def build() -> tuple[Any, Callable[[Any], BinningTable], str]:
            categorical = self.is_categorical(name, frames.is_categorical(values))
            kind, options = self.column_plan(name, categorical, test_threads)
            column: categories.Encoded | FloatArray
            if categorical:
                column = categories.encode(values)
            elif self._clip_rule is not None:
                present = None if weights is None else weights.present
                column = self._clipped_rows(name, as_float_array(values), flags, present)
            else:
                column = as_float_array(values)
            if kind == "optimal" and labels is not None:
                options = {**options, "target": labels}
            present = None if weights is None else weights.present
            if weights is not None:
                options = {**options, "sample_weight": weights}
            if present is not None:
                # Whether the column can be binned, read on the rows that count.
                reason = unusable(
                    categories.Encoded(column.codes[present], column.names)
                    if isinstance(column, categories.Encoded)
                    else column[present],
                    flags[present],
                )
            else:
                reason = unusable(column, flags)
            return (
                column,
                lambda c: ROW_BUILDERS[kind](c, flags, name=name, **options),
                reason,
            )

        try:
            return self._table_or_reason(build)
        finally:
            if on_column is not None:
                on_column(name)

    def _fit_columns(
        self,
        columns: Mapping[str, Any],
        flags: FloatArray,
        labels: Labels,
        done: Callable[[str], None],
    ) -> list[BinningTable | str]:
        """Every column's table or why it cannot be binned, as `_from_rows`
        gives them one by one: each column is read and converted here, the
        searched rows of all numeric columns binned by the optimal search are
        counted and pre-binned in one native call (on `n_jobs` threads), and
        the tables are built from those counts. A column then costs its
        counting and its search, not a thread's turn at the interpreter lock
        between them. The tables are built on threads only when the test of
        significance draws, whose searches hold no lock for long."""
        n_threads = threads.thread_count(self.n_jobs)
        # The columns' tests run side by side on the fit's threads.
        test_threads = self._test_threads(len(columns))
        # Columns counted per native call: an interrupt takes effect between
        # calls, and the converted columns held at once stay few.
        per_call = max(n_threads, CALL_VALUES * n_threads // max(1, flags.size))
        names = list(columns)
        parts = [names[i : i + per_call] for i in range(0, len(names), per_call)]
        results: list[BinningTable | str] = []

        def planned_part(part: list[str]) -> list[PlannedColumn]:
            return [self._planned(n, columns[n], flags, labels, test_threads) for n in part]

        def finish(planned: list[PlannedColumn]) -> None:
            if self.max_iv_pvalue is not None and n_threads > 1:
                results.extend(
                    self._tested_apart(planned, flags, done, n_threads, test_threads.spare)
                )
                return
            tasks: list[Callable[[], BinningTable | str]] = [
                functools.partial(self._finished, p, flags, done) for p in planned
            ]
            results.extend(
                threads.run_in_threads(tasks, self.n_jobs, test_threads.spare)
                if self.max_iv_pvalue is not None
                else [task() for task in tasks]
            )

        if len(parts) == 1 and self.max_iv_pvalue is not None and n_threads > 1:
            # The columns that are not counted start on the threads as soon
            # as they are converted, beside the conversion of the others.
            planning = (
                self._planned_here(n, columns[n], flags, labels, test_threads) for n in names
            )
            return self._tested_apart(
                planning, flags, done, n_threads, test_threads.spare, count=True
            )
        if len(parts) == 1:
            planned = planned_part(parts[0])
            _count_planned(planned, n_threads)
            finish(planned)
            return results
        # On a long table the next part is counted (the lock released) while
        # this thread converts the part after it and builds the tables of the
        # part counted before.
        with ThreadPoolExecutor(max_workers=1, thread_name_prefix="tessaline") as counter:
            planned = planned_part(parts[0])
            counting = counter.submit(_count_planned, planned, n_threads)
            for k in range(len(parts)):
                current, counted_current = planned, counting
                if k + 1 < len(parts):
                    planned = planned_part(parts[k + 1])
                    counted_current.result()
                    counting = counter.submit(_count_planned, planned, n_threads)
                else:
                    counted_current.result()
                finish(current)
        return results

    def _planned(
        self, name: str, values: Any, flags: FloatArray, labels: Labels, test_threads: TestThreads
    ) -> PlannedColumn:
        """The column `name` read, converted and planned for its builder (its
        test drawing on `test_threads`), or why it cannot be binned (an error,
        raised in its turn when `skip_unusable` is off)."""
        try:
            categorical = self.is_categorical(name, frames.is_categorical(values))
            kind, options = self.column_plan(name, categorical, test_threads)
            column: categories.Encoded | FloatArray
            if categorical:
                column = categories.encode(values)
            elif self._clip_rule is not None:
                column = self._clipped_rows(name, as_float_array(values), flags, None)
            else:
                column = as_float_array(values)
            reason = unusable(column, flags)
            if reason and self.skip_unusable:
                return PlannedColumn(name, outcome=reason)
            if kind != "optimal":
                return PlannedColumn(name, kind, options, column)
            assert isinstance(column, np.ndarray)
            specials = checked_special_values(options["special_values"])
            rows = searched_rows(column, flags, specials, labels)
            return PlannedColumn(name, kind, {**options, "target": labels}, column, rows)
        except (ValueError, TypeError) as error:
            return PlannedColumn(name, outcome=error if not self.skip_unusable else str(error))

    def _tested_apart(
        self,
        planning: Iterable[PlannedColumn | Callable[[], PlannedColumn]],
        flags: FloatArray,
        done: Callable[[str], None],
        n_threads: int,
        spare: Any = None,
        count: bool = False,
    ) -> list[BinningTable | str]:
        """The tables of planned columns whose IV the fit tests (counted
        first with `count`). The test of a counted numeric column reads only
        its pre-bins, so it runs on one of `n_threads` threads while this
        thread builds the tables: the tests (most of a short table's work)
        keep every core busy, and no two threads take turns at the
        interpreter lock over the tables. Columns whose test needs their
        table (categories, tested on their groups) are built whole on those
        threads, each as soon as it is planned (or, given what plans it,
        planned there too), ahead of the tests."""
        pool = ThreadPoolExecutor(max_workers=n_threads, thread_name_prefix="tessaline")
        # Once every column is given, the workers left without one draw for
        # the tests still running (see `threads.IdleLending`).
        lending = threads.IdleLending(n_threads, spare)
        whole: dict[int, Future[BinningTable | str]] = {}
        tests: dict[int, Future[Mapping[str, Any]]] = {}
        try:
            planned: list[PlannedColumn | None] = []
            for item in planning:
                if not isinstance(item, PlannedColumn):
                    whole[len(planned)] = pool.submit(
                        lending.task(self._plan_finished, item, flags, done)
                    )
                    planned.append(None)
                    continue
                if item.searched is None:
                    whole[len(planned)] = pool.submit(
                        lending.task(self._finished, item, flags, done)
                    )
                planned.append(item)
            if count:
                _count_planned([p for p in planned if p is not None], n_threads)
            for i, p in enumerate(planned):
                if p is None or i in whole:
                    continue
                if _tested_before_table(p) and p.searched is not None:
                    tests[i] = pool.submit(
                        lending.task(
                            searched_significance, p.column, flags, p.searched, **p.options
                        )
                    )
                else:
                    whole[i] = pool.submit(lending.task(self._finished, p, flags, done))
            lending.close()
            # In the columns' order, so the first column that fails raises.
            results: list[BinningTable | str] = []
            for i, p in enumerate(planned):
                if p is not None and i in tests:
                    results.append(self._finished(p, flags, done, tests[i].result))
                else:
                    results.append(whole[i].result())
            return results
        except BaseException:
            pending: list[Future[Any]] = [*whole.values(), *tests.values()]
            for future in pending:
                future.cancel()
            raise
        finally:
            pool.shutdown(wait=True, cancel_futures=True)
            lending.end()

    def _planned_here(
        self, name: str, values: Any, flags: FloatArray, labels: Labels, test_threads: TestThreads
    ) -> PlannedColumn | Callable[[], PlannedColumn]:
        """The column `name` planned on this thread, or for categories (not
        counted with the others, their text hashed as they are read) what
        plans it on another."""
        try:
            categorical = self.is_categorical(name, frames.is_categorical(values))
        except (ValueError, TypeError):
            categorical = False
        if categorical:
            return functools.partial(self._planned, name, values, flags, labels, test_threads)
        return self._planned(name, values, flags, labels, test_threads)

    def _plan_finished(
        self, plan: Callable[[], PlannedColumn], flags: FloatArray, done: Callable[[str], None]
    ) -> BinningTable | str:
        return self._finished(plan(), flags, done)

    def _finished(
        self,
        planned: PlannedColumn,
        flags: FloatArray,
        done: Callable[[str], None],
        tested: Callable[[], Mapping[str, Any]] | None = None,
    ) -> BinningTable | str:
        """The table of a planned column, or why it cannot be binned; with
        `tested`, what gives its test made apart (`searched_significance`)."""
        try:
            if isinstance(planned.outcome, BaseException):
                raise planned.outcome
            if planned.outcome is not None:
                return planned.outcome
            options = planned.options
            if planned.searched is not None:
                options = {**options, "prepared": planned.searched}
            if tested is not None:
                options = {**options, "tested": tested}
            try:
                return ROW_BUILDERS[planned.kind](
                    planned.column, flags, name=planned.name, **options
                )
            except (ValueError, TypeError) as error:
                if not self.skip_unusable:
                    raise
                return str(error)
        finally:
            done(planned.name)

    def _clipped_rows(
        self, name: str, x: FloatArray, flags: FloatArray, present: npt.NDArray[np.bool_] | None
    ) -> FloatArray:
        """The column `x` clipped to the bounds its rows of known target give
        (of positive weight: `present`, None when every row has one), the
        bounds kept."""
        assert self._clip_rule is not None
        specials = checked_special_values(self.specials_of(name))
        counted_rows = ~np.isnan(flags) if present is None else ~np.isnan(flags) & present
        bounds = clipping.bounds_of_rows(self._clip_rule, name, x, counted_rows, specials)
        if bounds is None:
            return x
        self.clip_bounds[name] = bounds
        return clipping.clipped(x, bounds, specials)

    def _check_pairs(
        self, names: Sequence[str], not_binned: Sequence[str | None], weights: Any
    ) -> None:
        """The pairs must name columns of the data, and come without weights."""
        if not self._pairs:
            return
        if weights is not None:
            raise ValueError(
                "pairs are binned as grids of rows counted once: fit without "
                "sample_weight, or without pairs"
            )
        table_pairs.check_pair_columns(self._pairs, names, not_binned)

    def _fit_pairs(self, data: Any, flags: FloatArray) -> dict[str, GridBinningTable]:
        """The grid of every pair, by its name, the IV tested as a column's."""
        grids = {}
        for pair in self._pairs:
            test = (
                column_test(self.iv_permutations, self.random_state, pair.name, self.max_iv_pvalue)
                if self.max_iv_pvalue is not None
                else None
            )
            specials = (self._numeric_specials(pair.x), self._numeric_specials(pair.y))
            grids[pair.name] = table_pairs.fit_pair(pair, data, flags, specials, test, self.n_jobs)
        return grids

    def _numeric_specials(self, name: str) -> tuple[float, ...]:
        return checked_special_values(self.specials_of(name))

    def variable_table(self, name: str) -> BinningTable | GridBinningTable:
        """The table of a binned column, or the grid of a pair, by name."""
        if name in self.pair_tables:
            return self.pair_tables[name]
        return self.tables[name]

    def _from_counts(
        self, name: str, given: ColumnCounts | CountedOnCall, test_threads: TestThreads
    ) -> BinningTable | str:
        """One column's table from its merged counts, or from the call that
        counts them (made here, on the thread that bins the column); its test
        draws on `test_threads` threads."""
        counts = given if isinstance(given, ColumnCounts) else given()

        def build() -> tuple[Any, Callable[[Any], BinningTable], str]:
            nonlocal counts
            categorical = isinstance(counts, counted.CategoryCounts)
            kind, options = self.column_plan(name, categorical, test_threads)
            if isinstance(counts, counted.ColumnCounts) and self._clip_rule is not None:
                bounds = clipping.bounds_of_counts(self._clip_rule, name, counts)
                if bounds is not None:
                    self.clip_bounds[name] = bounds
                    counts = clipping.clipped_counts(counts, bounds)
            return (
                counts,
                lambda c: COUNT_BUILDERS[kind](c, name=name, **options),
                counts.unusable(),
            )

        return self._table_or_reason(build)

    def fit(
        self,
        data: Any,
        y: Any,
        on_column: Callable[[str], None] | None = None,
        edits: Edits | TableBinning | None = None,
        sample_weight: Any = None,
    ) -> TableBinning:
        """Bin every column of `data` (but the target's and the excluded ones)
        against `y`, an array or the name of a column of `data`. `on_column`,
        when given, is called with each column's name once it is binned, from
        the thread that binned it. `edits` are made on the new tables after
        the fit (`replay`): what no longer applies is in `not_replayed`.
        `sample_weight` (one finite, non-negative weight per row, an array or
        the name of a column of `data`, which is then not binned) counts each
        row by its weight in every column (see `tessaline._binning.weights`);
        a threshold of the target then needs `value`, not `percentile`."""
        if isinstance(edits, TableBinning):  # read before a refit of itself replaces them
            edits = edits.edits
        self.__dict__.pop("_batches", None)
        self.clip_bounds = {}
        names = frames.column_names(data)
        self._check_named_columns(names)
        target_name = frames.target_name(data, y)
        if sample_weight is not None and self.percentile is not None:
            raise ValueError(NO_PERCENTILE)
        flags = self.event_flags(data, y)
        checked, weight_name = frames.checked_weights_of(data, sample_weight, flags.size)
        weights = None if checked is None else checked.weights
        # Rows of weight 0 are as if absent, so a class held by them alone is
        # no class of the target.
        present = None if checked is None else checked.present
        known = flags[~np.isnan(flags) & (present if present is not None else True)]
        check_classes(known.size, int(np.count_nonzero(known)))
        self._check_pairs(names, (target_name, weight_name), weights)
        columns = self.columns_to_bin(data, names, (target_name, weight_name), flags.size)
        wanted = list(columns)
        bar = progress_bar(self.progress, len(columns))

        def done(name: str) -> None:
            if bar is not None:
                bar.step(name)
            if on_column is not None:
                on_column(name)

        # Read once for every column: the labels of the rows of known target,
        # or the weights with the rows they keep.
        # Weights that are all 1 are rows: the columns are counted as rows,
        # and their tables read as weights at the end. (Not for the mean as
        # representative: a mean of weights is a ratio of exact sums, which
        # may differ in its last bit from the mean of the rows.)
        as_rows = checked is None or (checked.all_ones and self.representative == "median")
        labels = target_labels(flags) if as_rows else None
        test_threads = self._test_threads(len(columns))
        try:
            results = (
                self._fit_columns(columns, flags, labels, done)
                if as_rows and labels is not None
                else threads.run_in_threads(
                    [
                        functools.partial(
                            self._from_rows, n, v, flags, done, checked, labels, test_threads
                        )
                        for n, v in columns.items()
                    ],
                    self.n_jobs,
                    test_threads.spare,
                )
            )
        finally:
            if bar is not None:
                bar.close()
        if checked is not None and as_rows:
            results = [rows_as_weights(r) if isinstance(r, BinningTable) else r for r in results]
        self.pair_tables = self._fit_pairs(data, flags)
        self._keep(dict(zip(wanted, results)), names).replay(edits)
        self._drop_collinear(data, y, weights)
        return self

    def fit_counts(
        self,
        counts: Mapping[str, ColumnCounts | CountedOnCall],
        fitted_columns: Sequence[str],
        skipped: Mapping[str, str] | None = None,
        order: Sequence[str] | None = None,
        edits: Edits | TableBinning | None = None,
    ) -> TableBinning:
        """Fit from every column's counts merged elsewhere (an engine counts,
        this bins, with the same options, checks and skip rules as `fit`), or
        from the calls that count them, each made on the thread that bins it:
        `fitted_columns` are the data's column names, `skipped` the columns
        the engine could not count with the reason, `order` the columns'
        order (default: the counted ones, then the skipped ones)."""
        if isinstance(edits, TableBinning):
            edits = edits.edits
        self._check_named_columns(fitted_columns)
        if self._pairs:
            raise ValueError(PAIRS_FROM_ROWS)
        self.pair_tables = {}
        self.clip_bounds = {}
        if counts:
            check_classes(*next(iter(counts.values())).labelled())
        # The searches release the interpreter lock: columns in parallel, as `fit`.
        test_threads = self._test_threads(len(counts))
        tasks: list[Callable[[], BinningTable | str]] = [
            functools.partial(self._from_counts, n, c, test_threads) for n, c in counts.items()
        ]
        results: dict[str, BinningTable | str] = dict(
            zip(counts, threads.run_in_threads(tasks, self.n_jobs, test_threads.spare))
        )
        results.update(skipped or {})
        if order is not None:
            results = {name: results[name] for name in order}
        return self._keep(results, fitted_columns).replay(edits)

    # -- editing ---------------------------------------------------------------
    # What the last replay could not make again, per column (empty before any).
    not_replayed: Mapping[str, list[str]] = types.MappingProxyType({})

    def edit(
        self, column: str, operation: str | BinningTable, *args: Any, **kwargs: Any
    ) -> TableBinning:
        """Edit the table of `column` and rank the columns again (IV, Gini,
        bins, selection): ``binning.edit("age", "merge", 2, 3, reason="similar
        risk")`` makes that edit of `BinningTable` (one of `OPERATIONS`);
        ``binning.edit("age", table)`` puts a table edited by hand in place."""
        if column not in self.tables:
            raise ValueError(
                f"column {column!r} is not binned; binned columns are {', '.join(self.tables)}"
            )
        if isinstance(operation, BinningTable):
            if args or kwargs or operation.name != column:
                raise ValueError(
                    f"an edited table for {column!r} must bin that column and "
                    "come without further arguments"
                )
            edited = operation
        elif operation in OPERATIONS:
            edited = getattr(self.tables[column], operation)(*args, **kwargs)
        else:
            raise ValueError(f"operation must be one of {', '.join(OPERATIONS)}, not {operation!r}")
        self.tables[column] = edited
        self.summary = self._ranked()
        return self

    @property
    def edits(self) -> dict[str, tuple[Edit, ...]]:
        """The edit log of every edited column."""
        return {name: table.edits for name, table in self.tables.items() if table.edits}

    def replay(self, edits: Edits | TableBinning | None) -> TableBinning:
        """Make `edits` on this fit's tables: per column, an earlier fit's log
        or operations with their arguments (`BinningTable.replay`), or every
        log of an earlier fit. What no longer applies, and a column edited
        there but not binned here, is in `not_replayed` by column."""
        logs = edits.edits if isinstance(edits, TableBinning) else dict(edits or {})
        missed: dict[str, list[str]] = {}
        for name, log in logs.items():
            if name not in self.tables:
                missed[name] = ["the column is not binned in this fit"]
                continue
            self.tables[name], missed_here = self.tables[name].replay(list(log))
            if missed_here:
                missed[name] = missed_here
        self.not_replayed = missed
        if logs:
            self.summary = self._ranked()
        return self

    def partial_fit(self, data: Any, y: Any, sample_weight: Any = None) -> TableBinning:
        """Fit on one more batch of rows: after every batch, the binning is
        the one `fit` gives on all the batches' rows together, bit for bit
        (but for the sign of a zero cut point and ``representative="mean"``,
        which adds the distinct values in ascending order). Between batches
        it keeps, per column, the rows, rows of known target and events of
        each distinct value or category, and of a numeric column without
        weights the latest batches' values as they came until they are as
        many as a few times its distinct values, or its share of some 2^25
        values (256 MB) held by all such columns if that is more, then
        counted together (memory grows with the distinct values, not the
        rows; `fit` drops them), plus the column names and kinds of the
        first batch, which every batch must repeat. Until the
        rows hold a known target of both classes (and the `event`, when
        given) the binning stays unfitted. A threshold of a numeric target
        (`value`, `percentile`) applies, or not, by all the rows at once, so
        partial_fit reads a 0/1 or boolean target, or the rows equal to `event`.
        `sample_weight` counts each row by its weight, as in `fit`, and is
        given with every batch or with none. A batch only adds its counts:
        the bins are searched once, when the fit (tables, summary, transform,
        a document, a pickle) is first read after it, and an error of that
        search (a column refused with ``skip_unusable=False``) is raised there."""
        if self.value is not None or self.percentile is not None:
            raise ValueError(
                "partial_fit reads each batch's target alone: give a 0/1 target or "
                "event=, not a threshold (value=, percentile=), which applies by all "
                "the rows at once"
            )
        if self._pairs:
            raise ValueError(PAIRS_FROM_ROWS)
        names = frames.column_names(data)
        self._check_named_columns(names)
        target_name = frames.target_name(data, y)
        flags = target.event_flags(
            y if target_name is None else frames.column(data, target_name),
            event=self.event,
            event_in_rows=False,
        )
        weights, weight_name = frames.weights_of(data, sample_weight, flags.size)
        kept: batches.Batches | None = self.__dict__.get("_batches")
        if kept is None:
            kept = batches.Batches(names)
        elif names != kept.columns:
            raise ValueError(
                f"a batch must have the columns of the first one "
                f"({', '.join(kept.columns)}), not {', '.join(names)}"
            )
        columns: dict[str, FloatArray | categories.Encoded] = {}
        binned = [
            name
            for name in names
            if name not in (target_name, weight_name)
            and name not in self.exclude
            and name not in kept.skipped
        ]
        for name, values in frames.columns(data, binned).items():
            if frames.length(values) != flags.size:
                raise ValueError(
                    f"column {name!r} has {frames.length(values)} rows, the target {flags.size}"
                )
            categorical = self.is_categorical(name, frames.is_categorical(values))
            if kept.categorical.setdefault(name, categorical) != categorical:
                held = "categories" if categorical else "numbers"
                raise ValueError(
                    f"column {name!r} holds {held} in this batch, not as in the first one"
                )
            try:
                column = categories.encode(values) if categorical else as_float_array(values)
            except (TypeError, ValueError) as error:
                if not self.skip_unusable:
                    raise
                kept.skipped[name] = str(error)
                continue
            columns[name] = column
        kept.add(columns, flags, weights, self.n_jobs)
        # Records of positive weight: a class of weight 0 is no class.
        present = flags if weights is None else flags[weights > 0.0]
        kept.known += int(np.count_nonzero(~np.isnan(present)))
        kept.events += int(np.count_nonzero(present == 1.0))
        self._batches = kept
        if kept.events in (0, kept.known):
            return self
        # The search runs once, when the fit is first read, not per batch.
        kept.unread = True
        for name in UNREAD_FIT:
            self.__dict__.pop(name, None)
        return self

    def _fit_batches(self, kept: batches.Batches) -> None:
        """Fit on the merged counts of every batch so far."""
        kept.unread = False
        specials = {
            n: self.options_of(n, categorical)["special_values"]
            for n, categorical in kept.categorical.items()
        }
        # Numeric columns without special values or clipping need only what
        # the search reads: read where they are held, their merged groups
        # never written. The others' counts are merged.
        searched = [
            n
            for n in kept.groups
            if not kept.categorical[n] and len(specials[n]) == 0 and self._clip_rule is None
        ]
        try:
            merged = kept.merged_groups(self.n_jobs, searched)
            # NumPy's passes over a column's groups release the interpreter
            # lock: columns in parallel.
            tasks: list[Callable[[], ColumnCounts]] = [
                functools.partial(batches.column_counts, g, kept.categorical[n], specials[n])
                for n, g in merged.items()
            ]
            counts = dict(zip(merged, threads.run_in_threads(tasks, self.n_jobs) if tasks else []))
            wanted = [n for n in kept.columns if n in counts or n in kept.skipped]
            self.fit_counts(counts, kept.columns, skipped=kept.skipped, order=wanted)
        except BaseException:
            kept.unread = True
            raise

    if not TYPE_CHECKING:

        def __getattr__(self, name: str) -> Any:
            # Reached only for what the instance lacks: the fit that
            # partial_fit leaves to its first reader.
            kept = self.__dict__.get("_batches")
            if name in UNREAD_FIT and kept is not None and kept.unread:
                self._fit_batches(kept)
                return self.__dict__[name]
            raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}")

    def __getstate__(self) -> dict[str, Any]:
        kept = self.__dict__.get("_batches")
        if kept is not None and kept.unread:
            self._fit_batches(kept)
        return super().__getstate__()

    def _check_named_columns(self, names: Sequence[str]) -> None:
        """The columns that options name must be columns of the data: a
        misspelt name would otherwise leave its column with the defaults."""
        named = {
            "columns": self.column_options,
            "categorical": self.categorical,
            "exclude": self.exclude,
            "special_values": self.special_values
            if isinstance(self.special_values, Mapping)
            else {},
        }
        for option, columns in named.items():
            absent = [str(n) for n in columns if str(n) not in names]
            if absent:
                raise ValueError(
                    f"{option} names column(s) not in the data: "
                    f"{', '.join(map(repr, absent))}; the columns are "
                    f"{', '.join(names)}"
                )

    def _keep(
        self, results: Mapping[str, BinningTable | str], fitted_columns: Sequence[str]
    ) -> TableBinning:
        """Keep the tables and the skipped columns of a fit, and rank them."""
        tables, skipped = kept_and_skipped(results, BinningTable)
        self.restore(tables=tables, skipped=skipped, summary=None, fitted_columns=fitted_columns)
        return self

    def _column_drop(
        self, name: str, table: BinningTable | GridBinningTable, missing: float
    ) -> Decision | None:
        """The first rule of the selection that drops the column, or None:
        its IV, its share of missing values, the chi-square test of its bins
        against the target (counts alone, so counts merged by an engine are
        selected alike; weighted counts, so whole weights select as the rows
        repeated), and the collinearity found at the fit."""
        iv = table.information_value
        if math.isnan(iv) or iv < self.min_iv:
            return Decision(name, "iv", iv, self.min_iv)
        if self.max_missing_share is not None and missing > self.max_missing_share:
            return Decision(name, "missing_share", missing, self.max_missing_share)
        if self.max_chi2_pvalue is not None:
            if isinstance(table, GridBinningTable):
                counts, parts = table_pairs.cell_counts(table), "cells"
            else:
                counts, parts = (table["c0"], table["c1"]), "bins"
            _, df, pvalue = bins_chi_square(*counts)
            if pvalue > self.max_chi2_pvalue:
                return Decision(
                    name,
                    "significance",
                    pvalue,
                    self.max_chi2_pvalue,
                    detail=f"chi-square of its {parts} against the target on {df} df",
                )
        tested = table.metadata or {}
        if self.max_iv_pvalue is not None and "iv_pvalue" in tested:
            pvalue = float(tested["iv_pvalue"])
            if pvalue > self.max_iv_pvalue:
                return Decision(
                    name,
                    "iv_significance",
                    pvalue,
                    self.max_iv_pvalue,
                    detail=f"IV {iv:.3f} not significant: permutation p {pvalue:.2g} > "
                    f"{self.max_iv_pvalue:g} ({tested['iv_draws']} draws)",
                )
        return self._collinear.get(name)

    def _ranked(self) -> list[ColumnSummary]:
        """The summary by descending IV, and the selection's decisions in
        `selection_report`: every column dropped with the rule that dropped
        it, and the rare but extreme categories merged into a bin (a note)."""

        ranked = ranked_by(
            {**self.tables, **self.pair_tables}, lambda table: table.information_value
        )
        rows: list[ColumnSummary] = []
        report: list[Decision] = []
        kept = 0
        for name, table in ranked:
            if isinstance(table, GridBinningTable):
                row, dropped = self._pair_row(name, table, kept)
                kept += dropped is None
                report += [] if dropped is None else [dropped]
                rows.append(row)
                continue
            missing = float(table["percentage"][-1]) if table.has_missing_row else 0.0
            drop = self._column_drop(name, table, missing)
            if drop is None and self.top_n is not None and kept >= self.top_n:
                drop = Decision(name, "top_n", kept + 1, self.top_n)
            kept += drop is None
            rare = rare_groups(table)
            report += [] if drop is None else [drop]
            report += [
                Decision(name, "rare_group", g.pvalue, RARE_PVALUE, "note", str(g)) for g in rare
            ]
            note = "; ".join([column_note(table)] + [f"rare and extreme: {g}" for g in rare])
            rows.append(
                ColumnSummary(
                    name,
                    table.kind,
                    table.information_value,
                    woe_gini(table),
                    table.n_bins,
                    missing,
                    drop is None,
                    note=note.strip("; "),
                )
            )
        rows += [
            ColumnSummary(name, "-", math.nan, math.nan, 0, math.nan, False, reason)
            for name, reason in self.skipped.items()
        ]
        self.selection_report = report
        return rows

    def _pair_row(
        self, name: str, grid: GridBinningTable, kept: int
    ) -> tuple[ColumnSummary, Decision | None]:
        """The summary row of a pair ranked after `kept` variables kept, and
        the rule that drops it (None when kept): a column's rules, read on its
        cells (a row missing either column counts as missing)."""
        missing = table_pairs.missing_share(grid)
        drop = self._column_drop(name, grid, missing)
        if drop is None and self.top_n is not None and kept >= self.top_n:
            drop = Decision(name, "top_n", kept + 1, self.top_n)
        row = ColumnSummary(
            name,
            PAIR_KIND,
            grid.information_value,
            table_pairs.grid_gini(grid),
            table_pairs.searched_cells(grid),
            missing,
            drop is None,
            note=table_pairs.grid_note(grid),
        )
        return row, drop

    def _drop_collinear(self, data: Any, y: Any, weights: FloatArray | None) -> None:
        """Among the columns the other rules keep, drop the weaker of two
        whose WoE are correlated above `max_correlation` and those over
        `max_vif`, measured on the training rows of known target (and
        positive weight)."""
        self._collinear = {}
        if (self.max_correlation is None and self.max_vif is None) or len(self.selected) < 2:
            return
        flags = self.event_flags(data, y)
        rows = ~np.isnan(flags) & (weights > 0.0 if weights is not None else True)
        woe = frames.columns(self.transform(data, columns=self.selected), self.selected)
        drops = collinear_drops(
            {n: as_float_array(v)[rows] for n, v in woe.items()},
            self.max_correlation,
            self.max_vif,
        )
        self._collinear = {d.column: d for d in drops}
        self.summary = self._ranked()

    def restore(
        self,
        *,
        tables: Mapping[str, BinningTable],
        skipped: Mapping[str, str],
        summary: Sequence[ColumnSummary] | None,
        fitted_columns: Sequence[str],
        decisions: Sequence[Decision] = (),
    ) -> None:
        """Put back a fit read from a document, or made elsewhere (on Spark):
        its tables, skipped columns, ranked summary (None: rank the tables
        now), the column names of the data it was fitted on and the
        selection's decisions (those on collinearity are kept)."""
        self.tables, self.skipped = dict(tables), dict(skipped)
        self._fitted_columns = list(fitted_columns)
        # Collinear drops were measured on rows a document does not hold.
        self._collinear = {d.column: d for d in decisions if d.rule in COLLINEAR_RULES}
        ranked = self._ranked()
        self.summary = list(summary) if summary is not None else ranked

    @property
    def fitted_columns(self) -> list[str]:
        """The column names of the data given to `fit` (the target's included)."""
        return list(self._fitted_columns)

    def to_sql(
        self,
        source: str,
        *,
        output: Literal["woe", "index"] = "woe",
        dialect: sql.Dialect = "duckdb",
        selected: bool = False,
        keep: Sequence[str] = (),
    ) -> str:
        """A SELECT over the table `source` that gives every binned column (the
        selected ones with `selected=True`) as `transform` does, under its own
        name, after the columns of `keep` passed through (an identifier, say)."""
        return sql.table_binning_sql(
            self, source, output=output, dialect=dialect, selected=selected, keep=keep
        )

    def to_pmml(self, *, selected: bool = False) -> str:
        """A PMML 4.4 document whose TransformationDictionary gives each binned
        column (the selected ones with `selected=True`) as its WoE, output as
        ``woe(name)``, exactly as `transform(output="woe")` gives it."""
        return pmml.table_binning_pmml(self, selected=selected)

    # The distributions of the binned variables (each one's CSI) monitored
    # period by period.
    monitor = monitor_door

    def to_dict(self) -> dict[str, Any]:
        """The document of this binning (see `to_json`) as a JSON-ready dict:
        its options, and when fitted its summary, skipped columns and tables."""
        options = document.plain(self.get_options())
        # A binning without pairs writes the document it wrote before them.
        for key in ("pairs", "pair_options"):
            if not options.get(key):
                options.pop(key, None)
        try:
            json.dumps(options, allow_nan=False)
        except (TypeError, ValueError) as error:
            raise TypeError(
                f"the options of this TableBinning cannot be written as JSON: {error}"
            ) from None
        return {
            **document.header(document.TABLE_SCHEMA, document_version(self.tables)),
            "options": options,
            "fitted_columns": list(self.fitted_columns),
            "summary": self._summary_dicts(),
            "skipped": dict(self.skipped),
            "selection": decision_dicts(self.selection_report),
            "tables": {name: table.to_dict() for name, table in self.tables.items()},
            **clipping.bounds_field(self.clip_bounds, self.tables),
            **(
                {"pair_tables": {n: g.to_dict() for n, g in self.pair_tables.items()}}
                if self.pair_tables
                else {}
            ),
        }

    @classmethod
    def from_dict(cls, doc: Any) -> TableBinning:
        """The whole-table binning a document's dict describes; one that no
        fit writes raises `DocumentError`."""
        where = document.TABLE_SCHEMA
        document.check_header(doc, where)
        with document.reading(where):
            # A document written before the significance rule was selected
            # without it, and keeps the columns it selected.
            options = {
                "max_chi2_pvalue": None,
                "max_iv_pvalue": None,
                **document.field(doc, "options", dict, where),
            }
            binning = cls._from_options(options, where)
            tables = {}
            for name, table in document.field(doc, "tables", dict, where).items():
                tables[name] = BinningTable.from_dict(table, f"{where} table {name!r}")
                if tables[name].name != name:
                    raise DocumentError(
                        f"{where}: the table filed under {name!r} bins the "
                        f"column {tables[name].name!r}"
                    )
            if doc["version"] != document_version(tables):
                raise DocumentError(
                    f"{where}: a document's version is that of its tables' edit logs "
                    "(1 without one, 2 for a log without digests, 3 for a chained one)"
                )
            skipped = document.field(doc, "skipped", dict, where)
            if not all(isinstance(v, str) for v in skipped.values()):
                raise DocumentError(
                    f"{where}: field 'skipped' must give a reason (a string) per column"
                )
            fitted_columns = document.names(doc, "fitted_columns", where)
            check_filed(tables, skipped, fitted_columns, where)
            binning.pair_tables = _pair_tables(doc, binning, bool(tables), where)
            binning.restore(
                tables=tables,
                skipped=skipped,
                summary=_summary_rows(doc, tables, skipped, where, binning.pair_tables),
                fitted_columns=fitted_columns,
                decisions=decisions_of(doc, where),
            )
            binning.clip_bounds = clipping.bounds_read(doc, tables, where)
        return binning

    # -- reading ---------------------------------------------------------------
    def __str__(self) -> str:
        rows = [
            [
                r.column,
                r.kind,
                printing.fixed(r.iv, 4),
                printing.fixed(r.gini, 3),
                str(r.bins),
                printing.percent(r.missing_share) if r.reason == "" else "-",
                "keep" if r.keep else "drop",
                r.reason,
                r.note,
            ]
            for r in self.summary
        ]
        table = printing.text_table(
            (
                "column",
                "kind",
                "IV",
                "Gini",
                "bins",
                "missing",
                "selection",
                "skipped because",
                "note",
            ),
            rows,
            (0, 1, 6, 7, 8),
        )
        decided = decisions_text(self.selection_report)
        return table + ("\nselection:\n" + decided if decided else "")

    def _repr_options(self) -> str:
        return f" method={self.method!r}"

    # -- using -----------------------------------------------------------------
    def transform(
        self,
        data: Any,
        output: Literal["woe", "index", "label"] = "woe",
        selected: bool = False,
        columns: Sequence[str] | None = None,
        unseen: Unseen = "zero",
    ) -> Any:
        """Each binned column of `data` (matched by name, in any order) as its
        WoE (float64), bin index (int64, -1 for missing) or bin label; only the
        selected columns with `selected=True`, or the binned columns named in
        `columns`. A pandas or polars DataFrame gives one back, any other table
        a dict of arrays. A binned column absent from `data` is an error, and
        so is a column of `data` not seen in `fit` unless `columns` names the
        ones wanted. `unseen` is the WoE of a value that falls in no row seen
        in training, as in `BinningTable.transform`."""
        self.check_fitted()
        checks.output_choice(output, OUTPUTS)
        wanted = self._variables_to_transform(data, selected, columns)
        names = set(frames.column_names(data))
        extra = sorted(names - set(self._fitted_columns)) if columns is None else []
        if extra:
            raise ValueError(f"column(s) not seen in fit: {', '.join(extra)}")
        out: dict[str, Any] = {}
        singles = frames.columns(data, [n for n in wanted if n not in self.pair_tables])
        for name in wanted:
            if name in self.pair_tables:
                out[name] = table_pairs.scored(self.pair_tables[name], data, output)
                continue
            values, table = singles[name], self.tables[name]
            if output == "label":
                labels = np.array(table.labels + ["missing"], dtype=object)
                index = table.transform(values, output="index")
                # Index -1 (missing) reads the missing-value row, which is last.
                if not table.has_missing_row:
                    index = np.where(index < 0, len(labels) - 1, index)
                out[name] = labels[index]
            else:
                out[name] = table.transform(values, output=output, unseen=unseen)
        return frames.like_input(data, out)

    def _variables_to_transform(
        self, data: Any, selected: bool, columns: Sequence[str] | None
    ) -> list[str]:
        """The binned columns and pairs `transform` gives (see
        `columns_to_transform`), a pair's two columns in `data`."""
        if not self.pair_tables:
            return self.columns_to_transform(data, selected, columns)
        wanted = list(columns) if columns is not None else None
        if wanted is None:
            wanted = self.selected if selected else [*self.tables, *self.pair_tables]
        singles = [n for n in wanted if n not in self.pair_tables]
        self.columns_to_transform(data, False, singles)
        present = set(frames.column_names(data))
        for name in wanted:
            grid = self.pair_tables.get(name)
            absent = (
                [] if grid is None else [n for n in (grid.name_x, grid.name_y) if n not in present]
            )
            if absent:
                raise ValueError(
                    f"column(s) of the pair {name!r} missing from the data: "
                    f"{', '.join(map(str, absent))}"
                )
        return wanted

    def fit_transform(
        self,
        data: Any,
        y: Any,
        output: Literal["woe", "index", "label"] = "woe",
        sample_weight: Any = None,
    ) -> Any:
        fitted = self.fit(data, y, sample_weight=sample_weight)
        return fitted.transform(_without(data, y), output=output)


def _pair_tables(
    doc: Mapping[str, Any], binning: TableBinning, fitted: bool, where: str
) -> dict[str, GridBinningTable]:
    """The grids of a document's pairs (none in one written before pairs):
    once `fitted`, one per pair of the options, each of that pair's columns."""
    written = doc.get("pair_tables", {})
    if not isinstance(written, dict):
        raise DocumentError(f"{where}: field 'pair_tables' must map pairs to their grids")
    grids = {name: GridBinningTable.from_dict(grid) for name, grid in written.items()}
    named = {p.name: p for p in binning._pairs}
    if (written or fitted) and set(grids) != set(named):
        raise DocumentError(f"{where}: field 'pair_tables' must hold one grid per pair")
    for name, grid in grids.items():
        if (grid.name_x, grid.name_y) != (named[name].x, named[name].y):
            raise DocumentError(
                f"{where}: the grid filed under {name!r} bins {grid.name_x!r} by {grid.name_y!r}"
            )
    return grids


def _without(data: Any, y: Any) -> Any:
    """The data without its target column, when `y` names one."""
    name = frames.target_name(data, y)
    if name is None:
        return data
    if isinstance(data, Mapping):
        return {k: v for k, v in data.items() if str(k) != name}
    return data
