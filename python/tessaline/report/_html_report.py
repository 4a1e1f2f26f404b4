"""The report as one self-contained HTML page: styles inline, charts embedded as
PNG data, no script and no outside resource. Without matplotlib the page holds
the tables only and says how to get the charts."""

from __future__ import annotations

import base64
import functools
import io
from collections.abc import Callable, Sequence
from html import escape
from typing import Any

from .._binning.edit_log import EDIT_HEADER, EDIT_TEXT_COLUMNS, Edit
from .._core.dependencies import installed, missing_message
from .._core.progress import Progress
from .._formats.html_table import binning_table_html
from .._performance import ScorePerformance
from .._plots import plot_binning, plot_cap, plot_ks, plot_lorenz, plot_roc
from .._scorecard import Scorecard
from .._version import __version__
from ._analysis import (
    RANKING_HEADER,
    RANKING_TEXT_COLUMNS,
    ColumnReport,
    describe,
    gini_text,
    ranking_rows,
)
from ._dataset import Dataset

STYLE = """
body { font-family: "DejaVu Sans", "Liberation Sans", Arial, sans-serif; margin: 24px auto;
       padding: 0 20px; max-width: 1100px; color: #1d2733; background: #fff; font-size: 14px; }
h1 { font-size: 22px; margin-bottom: 4px; }
h2 { font-size: 17px; margin: 28px 0 4px; border-bottom: 1px solid #d5dde6; padding-bottom: 3px; }
p.intro { margin: 2px 0; color: #425466; }
p.stats { margin: 4px 0 8px; color: #425466; }
table { border-collapse: collapse; margin: 8px 0; }
caption { text-align: left; font-weight: bold; padding: 4px 0; color: #425466; }
th, td { padding: 3px 9px; border-bottom: 1px solid #e3e8ee; }
th { background: #eef2f6; text-align: left; }
th.n, td.n { text-align: right; font-variant-numeric: tabular-nums; }
tr.missing td { color: #6b7785; font-style: italic; }
.figures { display: flex; flex-wrap: wrap; gap: 12px; align-items: flex-start; }
.figures img { border: 1px solid #e3e8ee; }
.note { color: #8a5a00; }
footer { margin-top: 32px; color: #8796a5; font-size: 12px; }
"""


def _chart(draw: Callable[[Any], object], size: tuple[float, float]) -> str | None:
    """A chart as a PNG data URI, or None without matplotlib."""
    figure_module = installed("matplotlib.figure")
    if figure_module is None:
        return None
    # A bare Figure draws without any GUI backend or global pyplot state.
    figure = figure_module.Figure(figsize=size, dpi=96, layout="constrained")
    draw(figure.subplots())
    buffer = io.BytesIO()
    figure.savefig(buffer, format="png")
    return "data:image/png;base64," + base64.b64encode(buffer.getvalue()).decode("ascii")


def _ranking(reports: Sequence[ColumnReport]) -> str:
    header = "".join(
        f"<th{'' if i in RANKING_TEXT_COLUMNS else ' class=n'}>{escape(h)}</th>"
        for i, h in enumerate(RANKING_HEADER)
    )
    body = []
    for i, row in enumerate(ranking_rows(reports), start=1):
        cells = [
            f"<td{'' if j in RANKING_TEXT_COLUMNS else ' class=n'}>{escape(c)}</td>"
            for j, c in enumerate(row)
        ]
        cells[1] = f'<td><a href="#column-{i}">{escape(row[1])}</a></td>'
        body.append(f"<tr>{''.join(cells)}</tr>")
    return (
        f'<table class="ranking"><thead><tr>{header}</tr></thead>'
        f"<tbody>{''.join(body)}</tbody></table>"
    )


def _section(i: int, report: ColumnReport) -> str:
    title = f'<h2 id="column-{i}">{i}. {escape(report.name)}</h2>'
    table = report.table
    if table is None:
        return f'{title}<p class="note">Not binned: {escape(report.error or "")}</p>'
    stats = (
        f'<p class="stats">IV {table.information_value:.4f}, Gini (bins) '
        f"{gini_text(report.gini_binned)}, Gini (raw) {gini_text(report.gini_raw)}</p>"
    )
    figures = []
    binning = _chart(lambda ax: plot_binning(table, ax=ax), (6.4, 3.4))
    if binning is not None:
        figures.append(
            f'<img src="{binning}" width="614" height="326" '
            f'alt="records and event rate per bin of {escape(report.name)}">'
        )
    if report.gini_binned is not None and binning is not None:
        gini_binned = report.gini_binned
        lorenz = _chart(lambda ax: plot_lorenz(gini_binned, ax=ax), (3.4, 3.4))
        if lorenz is not None:
            figures.append(
                f'<img src="{lorenz}" width="326" height="326" '
                f'alt="Lorenz curve of {escape(report.name)} by bin">'
            )
    charts = f'<div class="figures">{"".join(figures)}</div>' if figures else ""
    return title + stats + charts + binning_table_html(table) + _edit_log(report)


def _edit_log(report: ColumnReport) -> str:
    """The edits an analyst made to the column's table, for a validator."""
    if report.table is None or not report.table.edits:
        return ""
    edits = report.table.edits
    return edit_log_heading(report.name) + _plain_table(
        EDIT_HEADER, [e.cells() for e in edits], edit_log_caption(edits), EDIT_TEXT_COLUMNS
    )


def edit_log_heading(name: str) -> str:
    return f'<h3 id="edits-{escape(name)}">Edits of {escape(name)}</h3>'


def edit_log_caption(edits: Sequence[Edit]) -> str:
    return f"{len(edits)} edit(s), in order"


def _plain_table(
    header: Sequence[str], rows: Sequence[Sequence[str]], caption: str, text_columns: Sequence[int]
) -> str:
    head = "".join(
        f"<th{'' if i in text_columns else ' class=n'}>{escape(h)}</th>"
        for i, h in enumerate(header)
    )
    body = "".join(
        "<tr>"
        + "".join(
            f"<td{'' if j in text_columns else ' class=n'}>{escape(c)}</td>"
            for j, c in enumerate(row)
        )
        + "</tr>"
        for row in rows
    )
    return (
        f"<table><caption>{escape(caption)}</caption><thead><tr>{head}</tr></thead>"
        f"<tbody>{body}</tbody></table>"
    )


def _scorecard_section(card: Scorecard, performance: ScorePerformance) -> str:
    """The scorecard page: scaling, performance with its charts, gains table
    and the points of every variable."""
    head = (
        f'<h2 id="scorecard">Scorecard</h2><p class="stats">{len(card.variables)} variables; '
        f"{card.pdo:g} points double the odds, {card.base_score:g} points at good:bad odds "
        f"{card.base_odds:g}:1; higher points mean lower risk. On the rows it was fitted on: "
        f"AUC {performance.auc:.4f} (95% CI {performance.auc_ci[0]:.4f} – "
        f"{performance.auc_ci[1]:.4f}), Gini {performance.gini:.4f}, KS {performance.ks:.4f} "
        f"(p {performance.ks_pvalue:.3g})</p>"
    )
    figures = []
    for draw, what in ((plot_roc, "ROC curve"), (plot_cap, "CAP curve"), (plot_ks, "KS chart")):
        chart = _chart(functools.partial(draw, performance), (3.4, 3.4))
        if chart is not None:
            figures.append(
                f'<img src="{chart}" width="326" height="326" alt="{what} of the score">'
            )
    charts = f'<div class="figures">{"".join(figures)}</div>' if figures else ""
    gains = performance.gains
    c = gains.columns
    gains_rows = [
        [
            str(int(c["band"][i])),
            f"{c['min_score'][i]:.1f}",
            f"{c['max_score'][i]:.1f}",
            str(int(c["count"][i])),
            str(int(c["events"][i])),
            f"{c['event_rate'][i]:.1%}",
            f"{c['cumulative_events'][i]:.1%}",
            f"{c['ks'][i]:.3f}",
            f"{c['lift'][i]:.2f}",
        ]
        for i in range(len(gains))
    ]
    gains_html = _plain_table(
        ("band", "from", "to", "count", "events", "event rate", "cum events", "KS", "lift"),
        gains_rows,
        "Gains by score band, riskiest first",
        (),
    )
    points = _plain_table(
        ("variable", "bin", "WoE", "points"),
        [[v, label, f"{w:.3f}", f"{p:.2f}"] for v, label, w, p in card.points_table()],
        "Points per bin",
        (0, 1),
    )
    return head + charts + gains_html + points


def render_html(
    dataset: Dataset,
    reports: Sequence[ColumnReport],
    progress: Progress | None = None,
    card: Scorecard | None = None,
    performance: ScorePerformance | None = None,
) -> str:
    intro = "".join(f'<p class="intro">{escape(line)}</p>' for line in describe(dataset))
    note = (
        ""
        if installed("matplotlib") is not None
        else f'<p class="note">{missing_message("matplotlib", "Drawing the charts")}</p>'
    )
    sections = []
    for i, report in enumerate(reports, start=1):
        sections.append(_section(i, report))
        if progress is not None:
            progress.step(report.name)
    name = escape(dataset.path.name)
    return (
        "<!DOCTYPE html>\n"
        f'<html lang="en"><head><meta charset="utf-8"><title>Binning report: {name}</title>'
        f'<meta name="viewport" content="width=device-width, initial-scale=1">'
        f"<style>{STYLE}</style></head><body>"
        f"<h1>Binning report: {name}</h1>{intro}{note}"
        f"<h2>Columns by information value</h2>{_ranking(reports)}"
        f"{_scorecard_section(card, performance) if card and performance else ''}"
        f"{''.join(sections)}"
        f"<footer>tessaline {escape(__version__)}</footer>"
        "</body></html>\n"
    )
