"""MDLPDiscretizer: the scikit-learn face of `TableBinning`, the MDLP binning
of every column of a table in the fit/transform shape that pipelines expect.
scikit-learn itself is never imported here unless it asks for the estimator's
tags."""
from __future__ import annotations

from typing import Any, Literal

import numpy as np
import numpy.typing as npt

from .binning import BinningTable


class NotFittedError(ValueError, AttributeError):
    """transform was called before fit (the same bases as scikit-learn's own)."""


def _columns(X: Any) -> tuple[list[Any], list[str] | None]:
    """The columns of a 2-D array or DataFrame (a DataFrame's as they are, so
    that categories stay categories; an array's as float64 unless it holds
    objects), and the DataFrame's column names when it has string names."""
    names = getattr(X, "columns", None)
    if names is not None and hasattr(X, "iloc"):
        columns = [X.iloc[:, j] for j in range(X.shape[1])]
        labels = [str(n) for n in names]
        return columns, labels if all(isinstance(n, str) for n in names) else None
    array = np.asarray(X)
    if array.dtype.kind not in "OSU":
        array = np.asarray(X, dtype=np.float64)
    if array.ndim != 2:
        raise ValueError(
            f"MDLPDiscretizer expects a 2-D array (rows x columns), got {array.ndim} dimension(s)"
        )
    return [np.ascontiguousarray(array[:, j]) for j in range(array.shape[1])], None


class MDLPDiscretizer:
    """Bin each column of a 2-D array or DataFrame with `TableBinning` (MDLP
    for numbers, `categorical_binning` for strings, booleans and categories)
    against the target given to `fit` (0/1, booleans, or a numeric target
    with `value` or `percentile`), then replace values by their interval number
    (``output="index"``, missing values -1) or their weight of evidence
    (``output="woe"``).

    The parameters are those of `mdlp_binning`. After `fit`: ``tables_`` (one
    `BinningTable` per column), ``splits_`` (their cut points),
    ``n_features_in_`` and, for a DataFrame with string column names,
    ``feature_names_in_``. It follows scikit-learn's estimator conventions
    (``get_params``, ``set_params``, ``fit`` returning the estimator) and works
    inside a ``Pipeline``, without depending on scikit-learn.
    """

    _PARAMETERS = (
        "minobs", "monotonicity", "mono_dir", "alpha_pos", "beta_struct", "force_first_split",
        "value", "percentile", "representative", "output",
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

    def fit(self, X: Any, y: npt.ArrayLike) -> MDLPDiscretizer:
        if self.output not in ("index", "woe"):
            raise ValueError(f"output must be 'index' or 'woe', not {self.output!r}")
        from .table import TableBinning

        columns, names = _columns(X)
        labels = names if names is not None else [f"x{j}" for j in range(len(columns))]
        table = TableBinning(
            method="mdlp", value=self.value, percentile=self.percentile, minobs=self.minobs,
            monotonicity=self.monotonicity, mono_dir=self.mono_dir, alpha_pos=self.alpha_pos,
            beta_struct=self.beta_struct, force_first_split=self.force_first_split,
            representative=self.representative, min_iv=0.0, skip_unusable=False,
        ).fit(dict(zip(labels, columns)), y)
        self.tables_: list[BinningTable] = [table.tables[name] for name in labels]
        self.splits_ = [table.splits for table in self.tables_]
        self.n_features_in_ = len(columns)
        if names is not None:
            self.feature_names_in_ = np.array(names, dtype=object)
        elif hasattr(self, "feature_names_in_"):
            del self.feature_names_in_
        return self

    def transform(self, X: Any) -> npt.NDArray[Any]:
        if not hasattr(self, "tables_"):
            raise NotFittedError(
                "This MDLPDiscretizer instance is not fitted yet: call fit before transform"
            )
        columns, _ = _columns(X)
        if len(columns) != self.n_features_in_:
            raise ValueError(
                f"X has {len(columns)} columns, but MDLPDiscretizer was fitted on "
                f"{self.n_features_in_}"
            )
        output = self.output
        dtype = np.int64 if output == "index" else np.float64
        rows = len(columns[0]) if columns else 0
        result = np.empty((rows, len(columns)), dtype=dtype)
        for j, (table, column) in enumerate(zip(self.tables_, columns)):
            result[:, j] = table.transform(column, output=output)
        return result

    def fit_transform(self, X: Any, y: npt.ArrayLike) -> npt.NDArray[Any]:
        return self.fit(X, y).transform(X)

    def get_feature_names_out(self, input_features: Any = None) -> npt.NDArray[np.object_]:
        if input_features is not None:
            return np.asarray(input_features, dtype=object)
        if hasattr(self, "feature_names_in_"):
            return np.array(self.feature_names_in_, dtype=object)
        return np.array([f"x{j}" for j in range(self.n_features_in_)], dtype=object)

    def __sklearn_tags__(self) -> Any:
        # Only scikit-learn calls this, so it is installed when we get here.
        from sklearn.utils import InputTags, Tags, TargetTags, TransformerTags

        return Tags(
            estimator_type=None,
            target_tags=TargetTags(required=True),
            transformer_tags=TransformerTags(),
            input_tags=InputTags(allow_nan=True),
        )

    def __repr__(self) -> str:
        defaults = MDLPDiscretizer()
        changed = [
            f"{name}={getattr(self, name)!r}" for name in self._PARAMETERS
            if getattr(self, name) != getattr(defaults, name)
        ]
        return f"MDLPDiscretizer({', '.join(changed)})"
