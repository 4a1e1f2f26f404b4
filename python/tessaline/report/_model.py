"""The model's documentation for its validator, from Python: one self-contained
HTML page of a fitted (and perhaps edited) scorecard, with the data of each
sample, the scorecard's points per bin and the variables the sign rule
dropped, every variable's binning, chart and tests between bins, the log of
the analyst's edits of the bins, the correlations and VIFs of the WoE
columns, the selection steps (of a `StepwiseLogistic`), the coefficients
with p-values and sign checks, discrimination with confidence intervals and
calibration per grade on the training, test and out-of-time samples, and the
stability between them.
The same content, tables without the charts, as an Excel workbook of one
sheet per part (openpyxl, an optional extra: pip install 'tessaline[excel]'),
because validators annotate spreadsheets: numbers are numbers there (a share
a fraction shown in percent, an interval or a change before and after two
cells), each table under its caption.

    html = model_report(card, (train, "target"), test=(test, "target"), path="model.html",
                        workbook="model.xlsx")
"""

from __future__ import annotations

import math
import pathlib
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from html import escape
from typing import Any

import numpy as np

from .._binning.edit_log import EDIT_HEADER, EDIT_TEXT_COLUMNS, Edit
from .._calibration import Calibration, calibration
from .._core.dependencies import require
from .._formats.html_table import binning_table_html
from .._monitoring import NOT_MONITORED, stability, worst_reading
from .._performance import ScorePerformance, score_performance
from .._plots import plot_binning, plot_roc
from .._plots.calibration_plot import plot_calibration
from .._scorecard import Scorecard
from .._selection import correlation, vif
from .._table_binning import TableBinning
from .._version import __version__
from ._cells import (
    Cell,
    Number,
    change,
    count,
    general,
    interval,
    number,
    share,
    sheet_cells,
    sheet_header,
    signed,
    text,
)
from ._html_report import STYLE, _chart, _plain_table, edit_log_caption, edit_log_heading

Sample = tuple[Any, Any]  # the data (columns by name) and its target (values or column name)
SECTIONS = (
    "Data",
    "Scorecard",
    "Variables",
    "Edits",
    "Correlation and VIF",
    "Selection",
    "Coefficients",
    "Discrimination",
    "Calibration",
    "Stability",
)


@dataclass(frozen=True)
class Block:
    """One piece of a part: how the page shows it, and its rows on a sheet
    (none for a chart)."""

    html: str
    rows: tuple[tuple[Cell, ...], ...] = ()


def _table(
    caption: str,
    header: Sequence[str],
    rows: Sequence[Sequence[Cell]],
    text_columns: Sequence[int],
) -> Block:
    return Block(
        _plain_table(header, [[text(c) for c in r] for r in rows], caption, text_columns),
        ((caption,), sheet_header(header, rows), *(tuple(r) for r in rows)),
    )


def _note(text: str) -> Block:
    return Block(f"<p class=stats>{escape(text)}</p>", ((text,),))


def _figure(draw: Callable[[Any], object], size: tuple[float, float], alt: str) -> Block:
    uri = _chart(draw, size)
    return Block(
        "" if uri is None else f'<div class="figures"><img src="{uri}" alt="{escape(alt)}"></div>'
    )


def pd_of_score(card: Scorecard, score: np.ndarray) -> np.ndarray:
    """The probability of default behind each score: the points are
    offset - factor × log-odds of an event."""
    return 1.0 / (1.0 + np.exp((score - card.offset) / card.factor))


def _woe_columns(
    binning: TableBinning, data: Any, names: Sequence[str], known: np.ndarray
) -> dict[str, np.ndarray]:
    woe = binning.transform(data, output="woe", columns=list(names))
    return {n: np.asarray(woe[n], dtype=np.float64)[known] for n in names}


def _data_section(samples: Mapping[str, tuple[np.ndarray, np.ndarray]]) -> list[Block]:
    rows: list[list[Cell]] = []
    for name, (_, flags) in samples.items():
        known = flags[~np.isnan(flags)]
        rows.append(
            [
                name,
                count(flags.size),
                count(known.size),
                count(known.sum()),
                share(known.mean() if known.size else math.nan, 2),
            ]
        )
    return [
        _table("Samples", ("sample", "rows", "with target", "events", "event rate"), rows, (0,))
    ]


def _scorecard_section(card: Scorecard) -> list[Block]:
    """The points of every bin, and the variables the sign rule dropped:
    what a validator reads first."""
    points = _table(
        "Points per bin",
        ("variable", "bin", "WoE", "points"),
        [[v, label, number(w, 3), number(p, 2)] for v, label, w, p in card.points_table()],
        (0, 1),
    )
    if card.signs == "keep":
        return [points, _note("Coefficients are kept as fitted, whatever their sign.")]
    if not card.dropped:
        return [points, _note("No variable was dropped: every coefficient agrees with its WoE.")]
    return [
        points,
        _table(
            f"Dropped, as their coefficient ran against their WoE ({len(card.dropped)})",
            ("variable", "coefficient"),
            [[n, number(c, 4)] for n, c in card.dropped.items()],
            (0,),
        ),
    ]


# The numbers of a binning table's rows after its index and bin, with the
# format of each on a sheet.
BINNING_NUMBERS = (
    ("count", "0"),
    ("percentage", "0.0%"),
    ("c0", "General"),
    ("c1", "General"),
    ("event_rate", "0.0%"),
    ("woe", "0.000"),
    ("iv", "0.0000"),
    ("representative", "General"),
)


def _binning_rows(table: Any) -> list[tuple[Cell, ...]]:
    """The rows of a binning table as printed, each number kept as a number."""
    keys = BINNING_NUMBERS + ((("rows", "0"),) if table.weighted else ())
    columns = [(np.asarray(table[key], dtype=np.float64), form) for key, form in keys]
    return [
        (
            count(i),
            printed[1],
            *(Number(float(v[i]), t, form) for (v, form), t in zip(columns, printed[2:])),
        )
        for i, printed in enumerate(table.rows())
    ]


def _pair_section(binning: TableBinning, name: str) -> list[Block]:
    """A pair's grid: its IV, the heat map of its cells' WoE and every cell's
    counts, event rate, WoE and IV (cells that hold no row left out)."""
    grid = binning.pair_tables[name]
    cells = grid.cells()
    held = [i for i in range(len(cells["x"])) if cells["c0"][i] + cells["c1"][i] > 0]
    return [
        Block(f"<h3>{escape(name)}</h3>", ((name,),)),
        _note(grid.title()),
        _figure(grid.plot, (6.4, 3.4), f"cells of {name}"),
        _table(
            "Cells",
            ("x", "y", "non-events", "events", "share", "event rate", "WoE", "IV"),
            [
                [
                    str(cells["x"][i]),
                    str(cells["y"][i]),
                    count(int(cells["c0"][i])),
                    count(int(cells["c1"][i])),
                    number(float(cells["share"][i]), 4),
                    number(float(cells["event_rate"][i]), 4),
                    number(float(cells["woe"][i]), 4),
                    number(float(cells["iv"][i]), 4),
                ]
                for i in held
            ],
            (0, 1),
        ),
    ]


def _variable_section(binning: TableBinning, name: str) -> list[Block]:
    if name in binning.pair_tables:
        return _pair_section(binning, name)
    table = binning.tables[name]
    analysis = table.analysis()
    return [
        Block(f"<h3>{escape(name)}</h3>", ((name,),)),
        _note(
            f"IV {table.information_value:.4f}; Jensen-Shannon {analysis.js_divergence:.4f}, "
            f"Hellinger {analysis.hellinger:.4f}, HHI {analysis.hhi:.4f}"
        ),
        _figure(lambda ax: plot_binning(table, ax=ax), (6.4, 3.4), f"bins of {name}"),
        Block(
            binning_table_html(table),
            ((table.title(),), table.header, *_binning_rows(table)),
        ),
        _table(
            "Tests of equal event rates between neighbouring bins",
            ("bins", "chi-square", "p-value"),
            [
                [
                    f"{t.labels[0]} | {t.labels[1]}",
                    number(t.statistic, 3),
                    general(t.pvalue, f"{t.pvalue:.4g}"),
                ]
                for t in analysis.tests
            ],
            (0,),
        ),
    ]


def _edit_section(binning: TableBinning) -> list[Block]:
    """The log of every edited variable's bins, in the binning's order (a
    variable the model left out too: its edit shaped the selection)."""
    logs = binning.edits
    if not logs:
        return [_note("No bins were edited: every table is as the binning fitted it.")]
    return [
        block
        for name, edits in logs.items()
        for block in (
            Block(edit_log_heading(name), ((f"Edits of {name}",),)),
            _table(
                edit_log_caption(edits),
                EDIT_HEADER,
                [_edit_row(e) for e in edits],
                EDIT_TEXT_COLUMNS,
            ),
        )
    ]


def _edit_row(edit: Edit) -> list[Cell]:
    """An edit as a row of the log, its measures before and after as numbers."""
    cells = edit.cells()
    measures = [
        change(
            *(
                number(float(side.get(key, math.nan)), digits)
                if key != "bins"
                else general(float(side.get(key, math.nan)), str(side.get(key, "-")))
                for side in (edit.before, edit.after)
            )
        )
        for key, digits in (("iv", 4), ("gini", 3), ("bins", 0))
    ]
    return [*cells[:4], *measures, cells[7]]


def _correlation_section(woe: Mapping[str, np.ndarray]) -> list[Block]:
    names, pearson = correlation(woe, "pearson")
    _, spearman = correlation(woe, "spearman")
    factors = vif(woe) if len(names) > 1 else {n: 1.0 for n in names}

    def heat(ax: Any) -> None:
        ax.imshow(pearson, vmin=-1, vmax=1, cmap="RdBu_r")
        ax.set_xticks(range(len(names)), names, rotation=90, fontsize=7)
        ax.set_yticks(range(len(names)), names, fontsize=7)
        ax.set_title("Pearson correlation of the WoE columns", fontsize=10)

    rows: list[list[Cell]] = [
        [a, b, signed(pearson[i, j]), signed(spearman[i, j])]
        for i, a in enumerate(names)
        for j, b in enumerate(names)
        if i < j
    ]
    return [
        _figure(heat, (5.0, 5.0), "correlation heat map"),
        _table(
            "Correlations of the WoE columns",
            ("variable", "variable", "Pearson", "Spearman"),
            rows,
            (0, 1),
        ),
        _table(
            "Variance inflation factors",
            ("variable", "VIF"),
            [[n, number(factors[n], 3)] for n in names],
            (0,),
        ),
    ]


def _guard_rails(card: Scorecard) -> list[Block]:
    """Every decision of the selection's guard-rails, one row each."""
    rows = [
        [d.column, d.rule, d.action, f"{d.value:.4g}", f"{d.threshold:g}", d.detail]
        for d in card.selection_report
    ]
    header = ("column", "rule", "decision", "value", "limit", "detail")
    return [_table("decisions of the selection", header, rows, (0, 1, 2, 5))] if rows else []


def _selection_section(card: Scorecard) -> list[Block]:
    return _guard_rails(card) + _steps(card)


def _steps(card: Scorecard) -> list[Block]:
    selection = getattr(card.estimator, "selection_", None)
    if selection is None:
        return [_note("The variables are the binning's selection (by information value).")]
    names = dict(zip((f"x{j}" for j in range(len(selection.candidates))), card_inputs(card)))
    rows: list[list[Cell]] = [
        [
            str(i + 1),
            s.action,
            names.get(s.variable, s.variable),
            general(s.value, f"{s.value:.6g}"),
            number(s.aic, 3),
            number(s.bic, 3),
        ]
        for i, s in enumerate(selection.steps)
    ]
    return [
        _table(
            f"{selection.direction} selection by {selection.criterion}",
            ("step", "action", "variable", selection.criterion, "AIC", "BIC"),
            rows,
            (1, 2),
        )
    ]


def card_inputs(card: Scorecard) -> list[str]:
    """The variables the card's estimator was offered, in order."""
    assert card.binning is not None
    return card.binning.selected if card.selected else list(card.binning.tables)


def _coefficient_section(card: Scorecard, data: Any, y: Any) -> list[Block]:
    fit = card.model_fit(data, y)
    rows: list[list[Cell]] = [
        [
            n,
            number(b, 4),
            number(c, 4),
            number(s, 4),
            general(p, f"{p:.3g}"),
            "contradicts WoE" if n in fit.contradicting else "ok",
        ]
        for n, b, c, s, p in zip(
            card.variables,
            card.coefficients,
            fit.coefficients[1:],
            fit.std_errors[1:],
            fit.pvalues[1:],
        )
    ]
    return [
        _table(
            f"Coefficients (unpenalised refit: AIC {fit.aic:.2f}, BIC {fit.bic:.2f})",
            ("variable", "card coefficient", "refit coefficient", "std error", "p-value", "sign"),
            rows,
            (0, 5),
        )
    ]


def _discrimination_row(name: str, p: ScorePerformance) -> list[Cell]:
    return [
        name,
        number(p.auc, 4),
        interval(*p.auc_ci, 4),
        number(p.gini, 4),
        interval(*p.gini_ci, 4),
        number(p.ks, 4),
        general(p.ks_pvalue, f"{p.ks_pvalue:.3g}"),
    ]


def _calibration_section(name: str, result: Calibration) -> list[Block]:
    t = result.table
    rows: list[list[Cell]] = [
        [
            str(t["grade"][i]),
            count(t["count"][i]),
            count(t["events"][i]),
            share(t["observed"][i], 2),
            share(t["predicted"][i], 2),
            number(t["jeffreys_pvalue"][i], 4),
            number(t["binomial_pvalue"][i], 4),
        ]
        for i in range(len(t))
    ]
    return [
        Block(f"<h3>{escape(name)}</h3>", ((name,),)),
        _note(f"{result.hosmer_lemeshow_text()}, Brier {result.brier:.5f}"),
        _figure(lambda ax: plot_calibration(t, ax), (4.0, 4.0), f"calibration, {name}"),
        _table(
            "Per PD band",
            (
                "grade",
                "count",
                "events",
                "observed",
                "predicted (mean PD)",
                "Jeffreys p",
                "binomial p",
            ),
            rows,
            (0,),
        ),
    ]


def _stability_section(card: Scorecard, data: Any, later: Mapping[str, Any]) -> list[Block]:
    """The PSI of the score and of every variable in each later sample."""
    if not later:
        return [_note("One sample only: no stability.")]
    report = stability(card, data, later)
    rows: list[list[Cell]] = [
        [
            variable,
            *(
                number(c.psi, 4) if c.reading != NOT_MONITORED else "-"
                for c in (report.shift(variable, p) for p in report.periods)
            ),
            worst_reading([report.shift(variable, p) for p in report.periods]),
        ]
        for variable in report.variables
    ]
    return [
        _table(
            "PSI against the training sample",
            ("variable", *report.periods, "worst"),
            rows,
            (0, len(report.periods) + 1),
        )
    ]


def _sheet_value(cell: str | Number) -> str | float | None:
    if isinstance(cell, str):
        return cell
    return None if math.isnan(cell.value) else cell.value


def write_workbook(parts: Mapping[str, Sequence[Block]], path: str | pathlib.Path) -> None:
    """One sheet per part, its blocks one below the other."""
    book = require("openpyxl", "the workbook").Workbook()
    book.properties.creator = f"tessaline {__version__}"
    book.remove(book.active)
    for title, blocks in parts.items():
        sheet = book.create_sheet(title)
        for block in blocks:
            for row in block.rows:
                cells = sheet_cells(row)
                sheet.append([_sheet_value(c) for c in cells])
                for j, c in enumerate(cells, start=1):
                    if isinstance(c, Number):
                        sheet.cell(sheet.max_row, j).number_format = c.format
            if block.rows:
                sheet.append([])
    book.save(path)


def model_report(
    card: Scorecard,
    train: Sample,
    *,
    test: Sample | None = None,
    oot: Sample | None = None,
    path: str | pathlib.Path | None = None,
    workbook: str | pathlib.Path | None = None,
) -> str:
    """The HTML page documenting a fitted scorecard (see the module) on the
    `train`ing sample and, when given, the `test` and out-of-time (`oot`)
    ones, each (data, target); written to `path` when given, and the same
    tables to the Excel `workbook` when given."""
    binning = card._check_fitted()
    given = {"train": train, "test": test, "out-of-time": oot}
    samples = {
        name: (data, binning.event_flags(data, y))
        for name, s in given.items()
        if s is not None
        for data, y in [s]
    }
    data, flags = samples["train"]
    known = ~np.isnan(flags)
    woe = _woe_columns(binning, data, card.variables, known)
    performances = {
        n: score_performance(card.score(d), f, higher_is="good") for n, (d, f) in samples.items()
    }
    calibrations = {}
    for n, (d, f) in samples.items():
        score = card.score(d)
        kept = ~np.isnan(score) & ~np.isnan(f)
        calibrations[n] = calibration(pd_of_score(card, score[kept]), f[kept])
    later = {n: d for n, (d, _) in samples.items() if n != "train"}
    parts = {
        "Data": _data_section(samples),
        "Scorecard": _scorecard_section(card),
        "Variables": [b for n in card.variables for b in _variable_section(binning, n)],
        "Edits": _edit_section(binning),
        "Correlation and VIF": _correlation_section(woe),
        "Selection": _selection_section(card),
        "Coefficients": _coefficient_section(card, *train),
        "Discrimination": [
            _table(
                "By sample",
                ("sample", "AUC", "95% CI", "Gini", "95% CI", "KS", "KS p-value"),
                [_discrimination_row(n, p) for n, p in performances.items()],
                (0,),
            ),
            _figure(lambda ax: plot_roc(performances["train"], ax), (3.4, 3.4), "ROC"),
        ],
        "Calibration": [b for n, c in calibrations.items() for b in _calibration_section(n, c)],
        "Stability": _stability_section(card, data, later),
    }
    if workbook is not None:
        write_workbook(parts, workbook)
    sections = "".join(
        f'<h2 id="{i}">{i}. {escape(title)}</h2>' + "".join(b.html for b in parts[title])
        for i, title in enumerate(SECTIONS, start=1)
    )
    html = (
        "<!DOCTYPE html>\n"
        '<html lang="en"><head><meta charset="utf-8"><title>Model documentation</title>'
        f"<style>{STYLE}</style></head><body><h1>Model documentation</h1>"
        f"<p class=intro>{len(card.variables)} variables"
        f"{f' ({len(card.dropped)} dropped by the sign rule)' if card.dropped else ''}; "
        f"{card.pdo:g} points double the odds, {card.base_score:g} points at good:bad odds "
        f"{card.base_odds:g}:1</p>"
        f"{sections}<footer>tessaline {escape(__version__)}</footer></body></html>\n"
    )
    if path is not None:
        pathlib.Path(path).write_text(html, encoding="utf-8")
    return html
