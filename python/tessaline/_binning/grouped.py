"""Binning of a categorical variable into groups the analyst gives: the
categorical counterpart of `custom_binning`, and the fit an edited
categorical table equals."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import numpy as np

from .._core import categories, checks, native
from .._core.arrays import column_name
from .basis import category_basis, group_summary
from .binning_table import BinningTable
from .weights import event_flags


def grouped_binning(
    x: Any,
    y: Any,
    groups: Sequence[Sequence[str]],
    *,
    pooled_group: int | None = None,
    name: str | None = None,
    event: Any = None,
    sample_weight: Any = None,
) -> BinningTable:
    """Bin the categories of `x` against the target `y` (read as in
    `categorical_binning`) into `groups`, one bin per list of category names.
    With `pooled_group` (an index into `groups`), the categories of `x` in no
    group are pooled into that bin, labelled "other (pooled: ...)", and so
    are categories unseen at `transform` (the group may then name no category
    of its own); without it, every category of `x` must be in a group. Bins
    are ordered by event rate as in `categorical_binning`; missing values
    keep their own last row. `sample_weight` counts each row by its weight,
    as in `categorical_binning`."""
    encoded = categories.encode(x)
    flags = event_flags(y, sample_weight, event=event)
    checks.same_length(("x", encoded.codes), ("y", flags))
    weights = checks.sample_weights(sample_weight, flags.size)
    if weights is None:
        counts = native.count_categories(encoded.codes, flags, len(encoded.names))
        missing: tuple[float, float] = (int(counts["missing_c0"]), int(counts["missing_c1"]))
        records = None
    else:
        counts = native.count_categories_weighted(encoded.codes, flags, weights, len(encoded.names))
        missing = (float(counts["missing_c0"]), float(counts["missing_c1"]))
        records = (np.asarray(counts["rows"]), int(counts["missing_rows"]))
    c0, c1 = np.asarray(counts["c0"]), np.asarray(counts["c1"])
    bins: list[list[str | None]] = [list(g) for g in groups]
    listed = [n for g in groups for n in g]
    if pooled_group is not None:
        bins[checks.whole_number("pooled_group", pooled_group, 0, len(bins) - 1)].append(None)
    if not all(bins) or len(set(listed)) != len(listed):
        raise ValueError("groups must name each category once, in non-empty groups")
    held = {n for n, r in zip(encoded.names, c0 + c1) if r > 0}
    unknown = sorted(set(listed) - held)
    if unknown:
        raise ValueError(f"groups name categories without labelled rows: {', '.join(unknown)}")
    pooled = [n for n in encoded.names if n in held and n not in listed]
    if pooled and pooled_group is None:
        raise ValueError(
            f"categories in no group ({', '.join(map(repr, pooled[:5]))}) need "
            "pooled_group, the group they are pooled into"
        )
    summary, ordered, pooled_bin = group_summary(
        encoded.names, c0, c1, bins, pooled, missing, records
    )
    return BinningTable(
        summary,
        method="custom",
        name=name if name is not None else column_name(x),
        bin_categories=ordered,
        pooled_categories=pooled,
        pooled_bin=pooled_bin,
        basis=category_basis(encoded.names, c0, c1, None if records is None else records[0]),
    )
