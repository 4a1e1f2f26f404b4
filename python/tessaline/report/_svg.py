"""Charts drawn as inline SVG by hand: a page that carries its own pictures
needs no plotting library, no script and nothing from the network, and its
marks stay elements a browser (or a test) can count."""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from html import escape

FONT = 'font-family="DejaVu Sans, Liberation Sans, Arial, sans-serif"'


def svg(width: float, height: float, body: str, label: str, kind: str) -> str:
    """An SVG element of `width` x `height` pixels that shrinks with the page
    (never grows), named `label` for screen readers, of class `kind`."""
    return (
        f'<svg xmlns="http://www.w3.org/2000/svg" class="{escape(kind)}" width="{width:g}" '
        f'height="{height:g}" viewBox="0 0 {width:g} {height:g}" role="img" '
        f'aria-label="{escape(label)}" {FONT} font-size="11" '
        f'style="max-width: 100%; height: auto">{body}</svg>'
    )


def text(x: float, y: float, content: str, **attributes: str | float) -> str:
    extra = "".join(f' {k.replace("_", "-")}="{escape(str(v))}"' for k, v in attributes.items())
    return f'<text x="{x:.1f}" y="{y:.1f}"{extra}>{escape(content)}</text>'


def tooltip(content: str) -> str:
    """A mark's hover text."""
    return f"<title>{escape(content)}</title>"


def nice_ticks(low: float, high: float, count: int = 5) -> list[float]:
    """Round values from at most `low` to at least `high`, about `count`
    steps apart, for an axis."""
    if not high > low:
        high = low + 1.0
    raw = (high - low) / count
    power = 10.0 ** math.floor(math.log10(raw))
    step = next(m * power for m in (1, 2, 2.5, 5, 10) if m * power >= raw)
    first = math.floor(low / step + 1e-9) * step
    last = math.ceil(high / step - 1e-9) * step
    return [round(first + i * step, 12) for i in range(round((last - first) / step) + 1)]


def short(label: str, limit: int) -> str:
    """A label cut to `limit` characters (the whole one goes to the tooltip)."""
    return label if len(label) <= limit else label[: limit - 1] + "…"


def y_axis(
    ticks: Sequence[float],
    y_of: Callable[[float], float],
    left: float,
    right: float,
    percent: bool = False,
) -> str:
    """Grid lines and labels of the values `ticks`, `y_of` placing each."""
    out = []
    for t in ticks:
        y = y_of(t)
        label = (
            f"{t:.0%}"
            if percent and t * 100 == round(t * 100)
            else (f"{t:.1%}" if percent else f"{t:g}")
        )
        out.append(
            f'<line class="grid" x1="{left:.1f}" x2="{right:.1f}" y1="{y:.1f}" y2="{y:.1f}" '
            'stroke="#e3e8ee"/>' + text(left - 5, y + 4, label, text_anchor="end", fill="#425466")
        )
    return "".join(out)


def x_labels(labels: Sequence[str], x_of: Callable[[int], float], y: float, rotate: bool) -> str:
    """The labels of the categories along the bottom, slanted when many."""
    out = []
    for i, label in enumerate(labels):
        x = x_of(i)
        if rotate:
            out.append(
                text(
                    x,
                    y,
                    label,
                    text_anchor="end",
                    fill="#425466",
                    transform=f"rotate(-45 {x:.1f} {y:.1f})",
                )
            )
        else:
            out.append(text(x, y, label, text_anchor="middle", fill="#425466"))
    return "".join(out)
