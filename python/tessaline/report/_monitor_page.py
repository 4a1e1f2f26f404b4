"""Monitoring as one self-contained HTML page (styles inline, no script, no
outside resource) and as an Excel workbook of the same tables: the lights
of every measure by period first, coloured, then the score's stability,
each variable's CSI and points shift, performance with the AUC change and
its test, and calibration."""

from __future__ import annotations

import pathlib
from collections.abc import Sequence
from html import escape

from .._monitor_periods import MonitoringResult
from .._version import __version__
from ._cells import Cell, Pair, count, interval, number, share, signed
from ._html_report import STYLE
from ._model import Block, _table, write_workbook
from ._monitor_bands import BandCalibration, band_calibration
from ._monitor_charts import calibration_grid, gini_chart, heat_map

LIGHT_STYLE = """
td.light { text-align: center; font-weight: bold; }
td.green { background: #d8f0dc; color: #1e5b2a; }
td.amber { background: #fbe7c2; color: #7a4b00; }
td.red { background: #f6d0cc; color: #8a1c12; }
td.n\\/a { color: #8796a5; }
.chart { overflow-x: auto; margin: 8px 0; }
.chart svg { display: block; }
.grid { display: flex; flex-wrap: wrap; gap: 6px; margin: 8px 0; }
.grid svg { border: 1px solid #e3e8ee; }
"""


def _lights(result: MonitoringResult) -> Block:
    """Measure by period, each cell its light (the sheet holds the words)."""
    lights = {(a.measure, a.subject, a.period): a.light for a in result.alerts}
    subjects = list(dict.fromkeys((a.measure, a.subject) for a in result.alerts))
    rows = [
        (f"{m} {s}" if m == "csi" else m, *(lights.get((m, s, p), "") for p in result.periods))
        for m, s in subjects
    ]
    header = ("measure", *result.periods)
    head = "".join(f"<th>{escape(h)}</th>" for h in header)
    body = "".join(
        f"<tr><td>{escape(row[0])}</td>"
        + "".join(f'<td class="light {escape(c)}">{escape(c)}</td>' for c in row[1:])
        + "</tr>"
        for row in rows
    )
    caption = f"Lights against {result.reference}"
    return Block(
        f"<table><caption>{escape(caption)}</caption><thead><tr>{head}</tr></thead>"
        f"<tbody>{body}</tbody></table>",
        ((caption,), header, *rows),
    )


def monitoring_parts(result: MonitoringResult) -> dict[str, list[Block]]:
    """The parts of the page and the sheets of the workbook, by title."""
    t = result.thresholds
    parts: dict[str, list[Block]] = {
        "Lights": [
            _lights(result),
            Block(
                f"<p class=stats>{escape(_threshold_text(result))}</p>",
                ((_threshold_text(result),),),
            ),
        ]
    }
    if result.stability:
        parts["Score stability"] = [
            _table(
                "PSI of the score bands",
                ("period", "PSI", "reading"),
                [(s.period, number(s.psi, 4), s.reading) for s in result.stability],
                (0, 2),
            )
        ]
    parts["Characteristics"] = [
        _chart(heat_map(result)),
        _table(
            f"CSI of every variable (amber from {t.csi[0]:g}, red from {t.csi[1]:g})",
            ("variable", "period", "CSI", "reading", "points shift"),
            [
                (
                    c.shift.variable,
                    c.shift.period,
                    number(c.shift.psi, 4),
                    c.shift.reading,
                    signed(c.points_shift),
                )
                for c in result.characteristics
            ],
            (0, 1, 3),
        ),
    ]
    if result.performance:
        bands = band_calibration(result)
        parts["Performance"] = [_chart(gini_chart(result)), _performance(result)]
        parts["Calibration"] = [
            _table(
                "Observed and predicted default rate",
                ("period", "observed", "predicted", "Jeffreys p-value", "Brier"),
                [
                    (
                        c.period,
                        share(c.observed, 2),
                        share(c.predicted, 2),
                        number(c.jeffreys_pvalue, 4),
                        number(c.brier, 4),
                    )
                    for c in result.calibration
                ],
                (0,),
            ),
            _bands(bands),
            Block(f'<div class="grid">{calibration_grid(result, bands)}</div>'),
        ]
    return parts


def _chart(svg: str) -> Block:
    """A chart of the page, no rows on a sheet."""
    return Block(f'<div class="chart">{svg}</div>')


def _bands(bands: dict[str, list[BandCalibration]]) -> Block:
    rows: list[Sequence[Cell]] = [
        (
            b.period,
            b.band,
            count(b.rows) if b.rows == int(b.rows) else number(b.rows, 2),
            count(b.events) if b.events == int(b.events) else number(b.events, 2),
            share(b.observed, 2),
            share(b.predicted, 2),
            Pair(share(b.interval[0], 2), share(b.interval[1], 2), " – ", ("from", "to")),
            number(b.jeffreys_pvalue, 4),
        )
        for rows in bands.values()
        for b in rows
    ]
    header = (
        "period",
        "score band",
        "rows",
        "defaults",
        "observed",
        "predicted",
        "95% Jeffreys interval",
        "Jeffreys p-value",
    )
    return _table("Observed and predicted default rate by score band", header, rows, (0, 1))


def _performance(result: MonitoringResult) -> Block:
    rows: list[Sequence[Cell]] = [
        (
            p.period,
            count(p.rows),
            count(p.known),
            count(p.events),
            share(p.bad_rate, 2),
            number(p.auc, 4),
            interval(*p.auc_ci, 4),
            number(p.gini, 4),
            number(p.ks, 4),
            signed(p.auc_change),
            number(p.change_pvalue, 4),
            p.change_note,
        )
        for p in result.performance
    ]
    header = (
        "period",
        "rows",
        "known",
        "events",
        "bad rate",
        "AUC",
        "95% CI",
        "Gini",
        "KS",
        "AUC change",
        "p-value",
        "note",
    )
    return _table("Discrimination against the reference", header, rows, (0, 11))


def _threshold_text(result: MonitoringResult) -> str:
    t = result.thresholds
    return (
        f"PSI amber from {t.psi[0]:g}, red from {t.psi[1]:g}; CSI amber from {t.csi[0]:g}, "
        f"red from {t.csi[1]:g}; a fall of AUC amber below p = {t.auc_pvalue[0]:g}, red below "
        f"{t.auc_pvalue[1]:g}; calibration amber below p = {t.calibration_pvalue[0]:g}, red "
        f"below {t.calibration_pvalue[1]:g}; n/a where the period cannot say."
    )


def monitoring_page(
    result: MonitoringResult,
    *,
    title: str = "Monitoring",
    path: str | pathlib.Path | None = None,
    workbook: str | pathlib.Path | None = None,
) -> str:
    """The HTML page of a monitoring result, written to `path` when given,
    and its tables to the Excel `workbook` when given (needs openpyxl)."""
    parts = monitoring_parts(result)
    if workbook is not None:
        write_workbook(parts, workbook)
    sections = "".join(
        f'<h2 id="{i}">{escape(name)}</h2>' + "".join(b.html for b in blocks)
        for i, (name, blocks) in enumerate(parts.items(), start=1)
    )
    flagged = result.flagged()
    html = (
        "<!DOCTYPE html>\n"
        f'<html lang="en"><head><meta charset="utf-8"><title>{escape(title)}</title>'
        f"<style>{STYLE}{LIGHT_STYLE}</style></head><body><h1>{escape(title)}</h1>"
        f"<p class=intro>{len(result.periods)} periods against {escape(result.reference)}; "
        f"{len(flagged)} amber or red light{'' if len(flagged) == 1 else 's'}</p>"
        f"{sections}<footer>tessaline {escape(__version__)}</footer></body></html>\n"
    )
    if path is not None:
        pathlib.Path(path).write_text(html, encoding="utf-8")
    return html


__all__ = ["monitoring_page", "monitoring_parts"]
