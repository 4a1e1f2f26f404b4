"""Rare but extreme categories: a category of few rows whose event rate is
far from the rest of the bin it was grouped into (a small group with 90%
events inside a bin with 10%) is signal that the limits of the grouping (a
bin's least share of the rows, its least events) merged away.

The test is the chi-square test of equal event rates between the category
and the rest of its bin, the one between neighbouring bins; a category is
flagged when its p-value is below `RARE_PVALUE` and it holds less than
`RARE_SHARE` of the rows (a larger one the grouping could have kept apart
had it paid). The note says what a bin of its own would do to the table's
information value, so that the analyst can weigh it against the limits."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from .._core import native
from .._woe import weight_of_evidence
from .binning_table import BinningTable

RARE_PVALUE = 1e-3
RARE_SHARE = 0.05


@dataclass(frozen=True)
class RareGroup:
    """A category of `rows` rows (`share` of the table's), `events` of them
    events (event rate `rate`), merged into the bin `label` of event rate
    `bin_rate`; `pvalue` of the test between them, and the table's IV as it
    is and with the category as a bin of its own."""

    category: str
    rows: float
    rate: float
    label: str
    bin_rate: float
    pvalue: float
    iv: float
    iv_alone: float
    share: float
    events: float

    def __str__(self) -> str:
        return (
            f"{self.category!r} ({self.rows:g} rows, event rate {self.rate:.1%}) merged into "
            f"{self.label!r} (event rate {self.bin_rate:.1%}), p-value {self.pvalue:.3g}: "
            f"a bin of its own would raise the IV from {self.iv:.4f} to {self.iv_alone:.4f} "
            f"(limits that allow it: min_bin_share <= {self.share:.4g}, min_events <= "
            f"{self.events:g}, min_non_events <= {self.rows - self.events:g})"
        )


def rare_groups(table: BinningTable) -> list[RareGroup]:
    """The categories of a categorical table that are rare and extreme in
    their bin (see the module); none for a numeric table."""
    basis, groups = table.basis, table.bin_categories
    if table.kind != "categorical" or basis is None or not basis.names or groups is None:
        return []
    c0 = np.asarray(table["c0"], dtype=np.float64)
    c1 = np.asarray(table["c1"], dtype=np.float64)
    total = float(c0.sum() + c1.sum())
    members = table.category_bins().bin_of
    # The categories that are rare and share their bin (not alone in it),
    # found over all categories at once: a table may hold hundreds.
    a0s, a1s = np.asarray(basis.c0), np.asarray(basis.c1)
    bins = np.array([members.get(name, -1) for name in basis.names], dtype=np.intp)
    placed = bins >= 0
    within = np.where(placed, bins, 0)
    held = (a0s + a1s).astype(np.float64)
    shared = (c0[within] - a0s) + (c1[within] - a1s) != 0
    rare = placed & (held != 0) & ~(held >= RARE_SHARE * total) & shared
    candidates = np.flatnonzero(rare)
    if not candidates.size:
        return []
    # Each with its bin's other rows: all tested in one call, category and
    # rest side by side. The test between rows 2i and 2i + 1 is candidate
    # i's (the others are between neighbouring candidates, and not read).
    own0, own1, their = a0s[candidates], a1s[candidates], bins[candidates]
    pvalues = native.neighbour_rate_tests(
        np.column_stack([own0, c0[their] - own0]).ravel(),
        np.column_stack([own1, c1[their] - own1]).ravel(),
    )["pvalue"][::2]
    found = []
    for k in np.flatnonzero(pvalues < RARE_PVALUE).tolist():
        i = int(candidates[k])
        name, a0, a1, b = basis.names[i], basis.c0[i], basis.c1[i], int(bins[i])
        rows, rest0, rest1 = float(a0 + a1), c0[b] - a0, c1[b] - a1
        split0 = np.concatenate([c0[:b], [rest0, a0], c0[b + 1 :]])
        split1 = np.concatenate([c1[:b], [rest1, a1], c1[b + 1 :]])
        found.append(
            RareGroup(
                category=str(name),
                rows=rows,
                rate=float(a1) / rows,
                label=table.labels[b],
                bin_rate=float(c1[b] / (c0[b] + c1[b])),
                pvalue=float(pvalues[k]),
                iv=table.information_value,
                iv_alone=weight_of_evidence(split0, split1)[2],
                share=rows / total,
                events=float(a1),
            )
        )
    return found
