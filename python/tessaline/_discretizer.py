"""MDLPDiscretizer: the scikit-learn face of `TableBinning`, the MDLP binning
of every column of a table in the fit/transform shape that pipelines expect.
scikit-learn itself is never imported here unless it asks for the estimator's
tags."""

from __future__ import annotations

from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from ._binning.binning_table import OUTPUTS, BinningTable
from ._core import checks
from ._core.dependencies import is_pandas_frame, require
from ._core.pickle_state import PlainState
from ._table_binning import TableBinning
from .exceptions import NotFittedError


def _columns(X: Any) -> tuple[list[Any], list[str] | None]:
    """The columns of a 2-D array or DataFrame (a DataFrame's as they are, so
    that categories stay categories; an array's as float64 unless it holds
    objects), and the DataFrame's column names when it has string names."""
    if hasattr(X, "toarray") and hasattr(X, "nnz"):
        raise TypeError(
            "MDLPDiscretizer does not take sparse input: give a dense array "
            "(X.toarray()) or a DataFrame"
        )
    names = getattr(X, "columns", None)
    if names is not None and hasattr(X, "iloc"):
        columns = [X.iloc[:, j] for j in range(X.shape[1])]
        labels = [str(n) for n in names]
        return columns, labels if all(isinstance(n, str) for n in names) else None
    if names is not None and hasattr(X, "get_column"):
        # A polars DataFrame: its column names are always strings.
        return [X.get_column(n) for n in names], [str(n) for n in names]
    array = np.asarray(X)
    if array.dtype.kind == "c":
        raise ValueError("Complex data not supported: MDLPDiscretizer bins real numbers")
    if array.dtype.kind not in "OSU":
        array = np.asarray(X, dtype=np.float64)
    if array.ndim != 2:
        raise ValueError(
            f"MDLPDiscretizer expects a 2-D array (rows x columns), got {array.ndim} "
            "dimension(s): Reshape your data with X.reshape(-1, 1) for a single column"
        )
    if array.shape[1] == 0:
        raise ValueError(
            f"0 feature(s) (shape={array.shape}) while a minimum of 1 is required "
            "by MDLPDiscretizer"
        )
    return [np.ascontiguousarray(array[:, j]) for j in range(array.shape[1])], None


def _by_fitted_names(columns: list[Any], names: list[str] | None, fitted: list[str]) -> list[Any]:
    """The columns in the order of fit, matched by name when X has names."""
    if names is None:
        return columns
    missing = [n for n in fitted if n not in names]
    unseen = [n for n in names if n not in fitted]
    if missing or unseen:
        lines = ["The feature names should match those that were passed during fit."]
        if unseen:
            lines += ["Feature names unseen at fit time:", *(f"- {n}" for n in unseen)]
        if missing:
            lines += [
                "Feature names seen at fit time, yet now missing:",
                *(f"- {n}" for n in missing),
            ]
        raise ValueError("\n".join(lines) + "\n")
    position = {n: j for j, n in enumerate(names)}
    return [columns[position[n]] for n in fitted]


def _binary_event(y: Any) -> Any:
    """The event of a target of two distinct values other than 0 and 1: the
    greater one, as scikit-learn's binary classifiers take it (None when the
    target is 0/1 or has another number of values, left to the target rules)."""
    values = np.asarray(getattr(y, "to_numpy", lambda: y)())
    if values.dtype.kind not in "biuf" or values.ndim != 1:
        return None
    present = np.unique(values[~np.isnan(values)] if values.dtype.kind == "f" else values)
    if present.size != 2 or set(present.tolist()) <= {0, 1}:
        return None
    return present[1].item()


class MDLPDiscretizer(PlainState):
    """Bin each column of a 2-D array or DataFrame with `TableBinning` (MDLP
    for numbers, `categorical_binning` for strings, booleans and categories)
    against the target given to `fit`, then replace values by their interval
    number (``output="index"``, missing values -1) or their weight of
    evidence (``output="woe"``).

    The target is 0/1 or boolean; `event` names the event's value of any
    other target (``event="bad"``); a numeric target is cut at `value` or its
    `percentile`. As with scikit-learn's binary classifiers, a target of two
    other values takes the greater as the event (``classes_`` holds both).

    The other parameters are those of `mdlp_binning`. After `fit`:
    ``tables_`` (one `BinningTable` per column), ``splits_`` (their cut
    points), ``n_features_in_`` and, for a DataFrame with string column names,
    ``feature_names_in_``, by which `transform` then matches the columns of a
    DataFrame (their order may differ; a missing or unseen name is an error).
    It follows scikit-learn's estimator conventions (``get_params``,
    ``set_params``, ``fit`` returning the estimator, ``get_feature_names_out``,
    ``set_output(transform="pandas")``), works inside a ``Pipeline`` and
    pickles, without depending on scikit-learn.
    """

    _PARAMETERS = (
        "minobs",
        "monotonicity",
        "mono_dir",
        "alpha_pos",
        "beta_struct",
        "force_first_split",
        "event",
        "value",
        "percentile",
        "representative",
        "output",
    )

    def __init__(
        self,
        *,
        minobs: int | None = None,
        monotonicity: int = 0,
        mono_dir: int = 0,
        alpha_pos: float = 1.0,
        beta_struct: float = 1.0,
        force_first_split: bool = False,
        event: Any = None,
        value: float | None = None,
        percentile: float | None = None,
        representative: Literal["median", "mean"] = "median",
        output: Literal["index", "woe"] = "index",
    ) -> None:
        # Stored exactly as given, as scikit-learn's clone() requires.
        self.minobs = minobs
        self.monotonicity = monotonicity
        self.mono_dir = mono_dir
        self.alpha_pos = alpha_pos
        self.beta_struct = beta_struct
        self.force_first_split = force_first_split
        self.event = event
        self.value = value
        self.percentile = percentile
        self.representative = representative
        self.output = output

    def get_params(self, deep: bool = True) -> dict[str, Any]:
        return {name: getattr(self, name) for name in self._PARAMETERS}

    def set_params(self, **params: Any) -> MDLPDiscretizer:
        for name, value in params.items():
            if name not in self._PARAMETERS:
                raise ValueError(
                    f"Invalid parameter {name!r} for MDLPDiscretizer; "
                    f"valid parameters are {', '.join(self._PARAMETERS)}"
                )
            setattr(self, name, value)
        return self

    def set_output(
        self, *, transform: Literal["default", "pandas", "polars"] | None = None
    ) -> MDLPDiscretizer:
        """The container `transform` returns: a NumPy array (``"default"``), or a
        pandas or polars DataFrame named by `get_feature_names_out`."""
        if transform is not None:
            if transform not in ("default", "pandas", "polars"):
                raise ValueError(
                    f"transform must be 'default', 'pandas' or 'polars', not {transform!r}"
                )
            self._output_container = transform
        return self

    def fit(self, X: Any, y: Any = None, sample_weight: Any = None) -> MDLPDiscretizer:
        """Fit the cut points of every column of `X` against `y`; `sample_weight`
        (one finite, non-negative weight per row) counts each row by its weight."""
        if y is None:
            raise ValueError("MDLPDiscretizer requires y to be passed, but the target y is None")
        checks.output_choice(self.output, OUTPUTS)
        columns, names = _columns(X)
        labels = names if names is not None else [f"x{j}" for j in range(len(columns))]
        event = self.event
        if event is None and self.value is None and self.percentile is None:
            event = _binary_event(y)
        table = TableBinning(
            method="mdlp",
            event=event,
            value=self.value,
            percentile=self.percentile,
            minobs=self.minobs,
            monotonicity=self.monotonicity,
            mono_dir=self.mono_dir,
            alpha_pos=self.alpha_pos,
            beta_struct=self.beta_struct,
            force_first_split=self.force_first_split,
            representative=self.representative,
            min_iv=0.0,
            skip_unusable=False,
        ).fit(dict(zip(labels, columns)), y, sample_weight=sample_weight)
        self.tables_: list[BinningTable] = [table.tables[name] for name in labels]
        self.splits_ = [table.splits for table in self.tables_]
        self.n_features_in_ = len(columns)
        if event is not None and self.event is None:
            self.classes_ = np.unique(np.asarray(y))
        if names is not None:
            self.feature_names_in_ = np.array(names, dtype=object)
        elif hasattr(self, "feature_names_in_"):
            del self.feature_names_in_
        return self

    def transform(self, X: Any) -> Any:
        if not hasattr(self, "tables_"):
            raise NotFittedError(
                "This MDLPDiscretizer instance is not fitted yet: call fit before transform"
            )
        columns, names = _columns(X)
        if hasattr(self, "feature_names_in_"):
            columns = _by_fitted_names(columns, names, list(self.feature_names_in_))
        if len(columns) != self.n_features_in_:
            raise ValueError(
                f"X has {len(columns)} features, but MDLPDiscretizer is expecting "
                f"{self.n_features_in_} features as input"
            )
        output = self.output
        dtype = np.int64 if output == "index" else np.float64
        rows = len(columns[0]) if columns else 0
        result = np.empty((rows, len(columns)), dtype=dtype)
        for j, (table, column) in enumerate(zip(self.tables_, columns)):
            result[:, j] = table.transform(column, output=output)
        return self._wrapped(result, X)

    def _wrapped(self, result: npt.NDArray[Any], X: Any) -> Any:
        container = getattr(self, "_output_container", "default")
        names = list(self.get_feature_names_out())
        if container == "pandas":
            index = X.index if is_pandas_frame(X) else None
            return require("pandas", "set_output(transform='pandas')").DataFrame(
                result, columns=names, index=index, copy=False
            )
        if container == "polars":
            return require("polars", "set_output(transform='polars')").DataFrame(
                result, schema=names
            )
        return result

    def fit_transform(self, X: Any, y: Any = None, sample_weight: Any = None) -> Any:
        return self.fit(X, y, sample_weight=sample_weight).transform(X)

    def get_feature_names_out(self, input_features: Any = None) -> npt.NDArray[np.object_]:
        if not hasattr(self, "n_features_in_"):
            raise NotFittedError(
                "This MDLPDiscretizer instance is not fitted yet: call fit "
                "before get_feature_names_out"
            )
        fitted = (
            list(self.feature_names_in_)
            if hasattr(self, "feature_names_in_")
            else [f"x{j}" for j in range(self.n_features_in_)]
        )
        if input_features is None:
            return np.array(fitted, dtype=object)
        given = [str(n) for n in input_features]
        if len(given) != self.n_features_in_ or (
            hasattr(self, "feature_names_in_") and given != fitted
        ):
            raise ValueError("input_features is not equal to feature_names_in_")
        return np.array(given, dtype=object)

    def __sklearn_tags__(self) -> Any:
        # Only scikit-learn calls this, so it is installed when we get here.
        tags = require("sklearn.utils", "__sklearn_tags__")

        # The bins are fitted against a binary target, which the classifier
        # tags state; the index output is integers whatever the input's type.
        return tags.Tags(
            estimator_type=None,
            target_tags=tags.TargetTags(required=True),
            transformer_tags=tags.TransformerTags(
                preserves_dtype=["float64"] if self.output == "woe" else []
            ),
            classifier_tags=tags.ClassifierTags(multi_class=False),
            input_tags=tags.InputTags(allow_nan=True),
        )

    def __repr__(self) -> str:
        defaults = MDLPDiscretizer()
        changed = [
            f"{name}={getattr(self, name)!r}"
            for name in self._PARAMETERS
            if getattr(self, name) != getattr(defaults, name)
        ]
        return f"MDLPDiscretizer({', '.join(changed)})"
