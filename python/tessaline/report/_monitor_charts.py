"""The monitoring page's charts, inline SVG: the Gini of every period with
its DeLong interval against the reference's Gini, the heat map of the
score's PSI and every variable's CSI by period, and the calibration of every
period band by band. Sized for two years of months and a score of twenty
variables: labels slant or shorten (whole in the hover text) rather than
overlap."""

from __future__ import annotations

import math
from collections.abc import Sequence

from .._monitor_periods import MonitoringResult
from .._monitor_periods.alerts import NONE
from ._monitor_bands import BandCalibration
from ._svg import nice_ticks, short, svg, text, tooltip, x_labels, y_axis

LIGHT_FILL = {"green": "#d8f0dc", "amber": "#fbe7c2", "red": "#f6d0cc", NONE: "#f2f4f7"}
LIGHT_INK = {"green": "#1e5b2a", "amber": "#7a4b00", "red": "#8a1c12", NONE: "#8796a5"}
BAND_FILL, LINE, REFERENCE = "#c9daf0", "#1f5c99", "#b5452f"


def _finite(*values: float) -> bool:
    return all(math.isfinite(v) for v in values)


def gini_chart(result: MonitoringResult) -> str:
    """Gini by period: a band per period for its 95% DeLong interval, the
    Gini as a dot on a line, the reference's Gini as a dashed line."""
    performance = result.performance
    n = len(performance)
    left, right, top = 56.0, 16.0, 30.0
    rotate = n > 10 or any(len(p.period) > 8 for p in performance)
    bottom = 64.0 if rotate else 34.0
    width = min(1040.0, max(560.0, left + right + 46.0 * n))
    height = 300.0
    slot = (width - left - right) / max(n, 1)
    ref = result.reference_performance
    ref_gini = math.nan if ref is None else ref.gini
    values = [v for p in performance for v in (p.gini, *p.gini_ci) if math.isfinite(v)]
    values += [ref_gini] if math.isfinite(ref_gini) else []
    ticks = nice_ticks(min(values, default=0.0), max(values, default=1.0))
    low, high = ticks[0], ticks[-1]

    def x_of(i: int) -> float:
        return left + slot * (i + 0.5)

    def y_of(v: float) -> float:
        return top + (height - top - bottom) * (high - v) / (high - low)

    marks = [y_axis(ticks, y_of, left, width - right)]
    for i, p in enumerate(performance):
        if _finite(*p.gini_ci):
            hover = f"{p.period}: Gini {p.gini:.3f}, 95% {p.gini_ci[0]:.3f} – {p.gini_ci[1]:.3f}"
            marks.append(
                f'<rect class="band" x="{x_of(i) - slot * 0.3:.1f}" y="{y_of(p.gini_ci[1]):.1f}" '
                f'width="{slot * 0.6:.1f}" height="{y_of(p.gini_ci[0]) - y_of(p.gini_ci[1]):.1f}" '
                f'fill="{BAND_FILL}">{tooltip(hover)}</rect>'
            )
    points = [(x_of(i), y_of(p.gini)) for i, p in enumerate(performance) if _finite(p.gini)]
    if len(points) > 1:
        path = " ".join(f"{x:.1f},{y:.1f}" for x, y in points)
        marks.append(f'<polyline points="{path}" fill="none" stroke="{LINE}" stroke-width="1.5"/>')
    for i, p in enumerate(performance):
        if _finite(p.gini):
            marks.append(
                f'<circle class="gini" cx="{x_of(i):.1f}" cy="{y_of(p.gini):.1f}" r="3.5" '
                f'fill="{LINE}">{tooltip(f"{p.period}: Gini {p.gini:.3f}")}</circle>'
            )
    if math.isfinite(ref_gini):
        y = y_of(ref_gini)
        marks.append(
            f'<line class="reference" x1="{left:.1f}" x2="{width - right:.1f}" y1="{y:.1f}" '
            f'y2="{y:.1f}" stroke="{REFERENCE}" stroke-dasharray="6 4" stroke-width="1.5">'
            f"{tooltip(f'{result.reference}: Gini {ref_gini:.3f}')}</line>"
        )
    marks.append(x_labels([p.period for p in performance], x_of, height - bottom + 16, rotate))
    legend = (
        f'<rect x="{left:.1f}" y="8" width="14" height="10" fill="{BAND_FILL}"/>'
        + text(left + 18, 17, "95% DeLong interval")
        + f'<circle cx="{left + 150:.1f}" cy="13" r="3.5" fill="{LINE}"/>'
        + text(left + 158, 17, "Gini of the period")
    )
    if math.isfinite(ref_gini):
        legend += (
            f'<line x1="{left + 270:.1f}" x2="{left + 294:.1f}" y1="13" y2="13" '
            f'stroke="{REFERENCE}" stroke-dasharray="6 4" stroke-width="1.5"/>'
            + text(left + 298, 17, f"Gini of the reference ({result.reference})")
        )
    return svg(width, height, legend + "".join(marks), "Gini by period", "gini-chart")


def heat_map(result: MonitoringResult) -> str:
    """The score's PSI (first row) and every variable's CSI (one row each)
    by period, each cell coloured by its light and showing its value."""
    lights = {(a.measure, a.subject, a.period): a.light for a in result.alerts}
    rows: list[tuple[str, str, Sequence[tuple[str, float]]]] = []
    if result.stability:
        rows.append(("score PSI", "score psi", [(s.period, s.psi) for s in result.stability]))
    by_variable: dict[str, list[tuple[str, float]]] = {}
    for c in result.characteristics:
        by_variable.setdefault(c.shift.variable, []).append((c.shift.period, c.shift.psi))
    rows += [(name, "csi", cells) for name, cells in by_variable.items()]
    periods = result.periods
    cell_w, cell_h = 37.0, 20.0
    label_w = min(168.0, 12 + 6.4 * max((len(r[0]) for r in rows), default=8))
    limit = int((label_w - 12) / 6.4)
    rotate = len(periods) > 8 or any(len(p) > 6 for p in periods)
    top = (12 + 5.6 * max((len(p) for p in periods), default=4)) if rotate else 22.0
    # Slanted labels reach past the last column by about their length.
    width = label_w + cell_w * len(periods) + (top - 12 if rotate else 8)
    height = top + cell_h * len(rows) + 6
    # Period labels above the columns, slanted up to the right when many.
    marks = [
        text(
            label_w + cell_w * (j + 0.5),
            top - 6,
            p,
            fill="#425466",
            text_anchor="start" if rotate else "middle",
            **(
                {"transform": f"rotate(-45 {label_w + cell_w * (j + 0.5):.1f} {top - 6:.1f})"}
                if rotate
                else {}
            ),
        )
        for j, p in enumerate(periods)
    ]
    for i, (name, measure, cells) in enumerate(rows):
        y = top + cell_h * i
        marks.append(
            text(
                label_w - 6, y + 14, short(name, limit), text_anchor="end", fill="#1d2733"
            ).replace("</text>", f"{tooltip(name)}</text>")
        )
        for j, (period, value) in enumerate(cells):
            light = lights.get((measure, "score" if measure == "score psi" else name, period), NONE)
            x = label_w + cell_w * j
            shown = "–" if math.isnan(value) else f"{value:.3f}"
            marks.append(
                f'<g class="cell {light}"><rect x="{x:.1f}" y="{y:.1f}" width="{cell_w - 1:g}" '
                f'height="{cell_h - 1:g}" fill="{LIGHT_FILL[light]}">'
                f"{tooltip(f'{name}, {period}: {shown} ({light})')}</rect>"
                + text(
                    x + cell_w / 2,
                    y + 13.5,
                    shown,
                    text_anchor="middle",
                    fill=LIGHT_INK[light],
                    font_size=10,
                )
                + "</g>"
            )
    return svg(width, height, "".join(marks), "PSI and CSI by period", "heat-map")


def calibration_grid(result: MonitoringResult, bands: dict[str, list[BandCalibration]]) -> str:
    """One small chart per period: observed default rate per score band
    with its Jeffreys interval against the predicted rate, on one scale for
    every period."""
    count = len(result.state.layout.band_labels) - 1  # the bands of a score
    highest = max(
        (v for rows in bands.values() for b in rows for v in (b.observed, b.predicted)),
        default=0.1,
    )
    ticks = nice_ticks(0.0, min(1.0, highest * 1.15), 4)
    top_value = ticks[-1]
    width, height, left, top, bottom = 250.0, 170.0, 44.0, 22.0, 24.0
    slot = (width - left - 8) / max(count, 1)
    charts = []
    for period, rows in bands.items():

        def x_of(i: int) -> float:
            return left + slot * (i + 0.5)

        def y_of(v: float) -> float:
            return top + (height - top - bottom) * (top_value - min(v, top_value)) / top_value

        marks = [
            text(left, 14, period, font_weight="bold"),
            y_axis(ticks, y_of, left, width - 8, True),
        ]
        predicted = " ".join(f"{x_of(b.position):.1f},{y_of(b.predicted):.1f}" for b in rows)
        marks.append(
            f'<polyline class="predicted" points="{predicted}" fill="none" stroke="#8796a5" '
            'stroke-width="1.5" stroke-dasharray="4 3"/>'
        )
        for b in rows:
            x = x_of(b.position)
            hover = (
                f"{period}, band {b.band}: {b.events:g} of {b.rows:g} rows, observed "
                f"{b.observed:.2%}, predicted {b.predicted:.2%}"
            )
            if _finite(*b.interval):
                hover += f", 95% Jeffreys {b.interval[0]:.2%} – {b.interval[1]:.2%}"
                marks.append(
                    f'<line class="interval" x1="{x:.1f}" x2="{x:.1f}" '
                    f'y1="{y_of(b.interval[0]):.1f}" y2="{y_of(b.interval[1]):.1f}" '
                    f'stroke="{LINE}" stroke-width="1.2"/>'
                )
            marks.append(
                f'<circle class="observed" cx="{x:.1f}" cy="{y_of(b.observed):.1f}" r="3" '
                f'fill="{LINE}">{tooltip(hover)}</circle>'
            )
        marks.append(
            x_labels([str(i + 1) for i in range(count)], x_of, height - bottom + 14, False)
        )
        charts.append(svg(width, height, "".join(marks), f"Calibration of {period}", "calibration"))
    return "".join(charts)


__all__ = ["calibration_grid", "gini_chart", "heat_map"]
