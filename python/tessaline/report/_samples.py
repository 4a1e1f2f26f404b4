"""The report command's choices of columns and rows: columns left out or
read as categories, and the split of the rows into a training sample and a
test or out-of-time one, by a column or by a stratified random fraction."""

from __future__ import annotations

import dataclasses
from collections.abc import Sequence

import numpy as np

from .._core import printing
from ..exceptions import DataError
from ._dataset import Dataset

# The values of a split column, and the sample each names.
SPLIT_VALUES = {"train": "train", "test": "test", "oot": "out-of-time"}


def _known(dataset: Dataset, names: Sequence[str], option: str) -> None:
    for name in names:
        if name not in dataset.numeric and name not in dataset.categorical:
            raise DataError(f"{option}: no column named {name!r} among the columns read")


def chosen_columns(dataset: Dataset, exclude: Sequence[str], categorical: Sequence[str]) -> Dataset:
    """The data set without the `exclude`d columns, and with the numeric
    columns named in `categorical` read as categories (their numbers as text)."""
    _known(dataset, exclude, "--exclude")
    _known(dataset, categorical, "--categorical")
    left_out = set(exclude)
    numeric = {
        n: v for n, v in dataset.numeric.items() if n not in left_out and n not in categorical
    }
    as_text = {
        n: np.array([None if np.isnan(x) else printing.number(float(x)) for x in v], dtype=object)
        for n, v in dataset.numeric.items()
        if n in categorical and n not in left_out
    }
    kept = {n: v for n, v in dataset.categorical.items() if n not in left_out}
    return dataclasses.replace(dataset, numeric=numeric, categorical={**kept, **as_text})


def _rows(dataset: Dataset, rows: np.ndarray) -> Dataset:
    return dataclasses.replace(
        dataset,
        n_rows=int(rows.sum()),
        target=dataset.target[rows],
        numeric={n: v[rows] for n, v in dataset.numeric.items()},
        categorical={n: v[rows] for n, v in dataset.categorical.items()},
    )


def split_samples(
    dataset: Dataset, *, column: str | None, fraction: float | None, seed: int = 0
) -> dict[str, Dataset]:
    """The training sample and the others: the rows of `column` valued
    "train", "test" or "oot" (the column itself left out), or a test sample
    of `fraction` of the rows drawn at random within each class (`seed`)."""
    if column is None and fraction is None:
        return {"train": dataset}
    if column is not None:
        _known(dataset, [column], "--split-column")
        values = (
            dataset.categorical[column]
            if column in dataset.categorical
            else np.array([printing.number(float(x)) for x in dataset.numeric[column]])
        )
        unknown = sorted({str(v) for v in values} - set(SPLIT_VALUES))
        if unknown:
            raise DataError(
                f"--split-column {column}: values must be train, test or oot, "
                f"not {', '.join(unknown[:5])}"
            )
        dataset = chosen_columns(dataset, [column], [])
        samples = {
            SPLIT_VALUES[v]: _rows(dataset, values == v)
            for v in SPLIT_VALUES
            if np.any(values == v)
        }
        if "train" not in samples:
            raise DataError(f"--split-column {column}: no row is marked train")
        return samples
    assert fraction is not None
    if not 0.0 < fraction < 1.0:
        raise DataError(f"--test-fraction must be between 0 and 1, not {fraction:g}")
    rng = np.random.default_rng(seed)
    test = np.zeros(dataset.n_rows, dtype=bool)
    target = np.nan_to_num(dataset.target, nan=-1.0)
    for label in np.unique(target):
        rows = np.flatnonzero(target == label)
        test[rng.choice(rows, size=round(rows.size * fraction), replace=False)] = True
    return {"train": _rows(dataset, ~test), "test": _rows(dataset, test)}
