from collections.abc import Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

def count_categories(codes: npt.ArrayLike, labels: npt.ArrayLike, k: int) -> dict[str, Any]: ...
def event_rate_order(c0: npt.ArrayLike, c1: npt.ArrayLike) -> npt.NDArray[np.int64]: ...
def is_binary_target(y: npt.ArrayLike) -> bool: ...
def target_labels(
    y: npt.ArrayLike,
) -> tuple[npt.NDArray[np.int32], npt.NDArray[np.bool_] | None]: ...
def lookup_codes(
    codes: npt.ArrayLike, table: npt.ArrayLike, missing: float
) -> npt.NDArray[np.float64]: ...
def lookup_codes_int(
    codes: npt.ArrayLike, table: npt.ArrayLike, missing: int
) -> npt.NDArray[np.int64]: ...
def optimal_binning(
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    max_bins: int,
    min_bin_share: float,
    min_events: float,
    min_non_events: float,
    trend: str,
    max_pvalue: float = 1.0,
    fixed_starts: npt.ArrayLike = ...,
) -> dict[str, Any]: ...
def optimal_binnings(
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    max_bins: int,
    min_bin_share: float,
    min_events: float,
    min_non_events: float,
    trends: list[str],
    max_pvalue: float = 1.0,
    fixed_starts: npt.ArrayLike = ...,
) -> list[dict[str, Any]]: ...
def optimal_binnings_columns(
    c0s: list[npt.ArrayLike],
    c1s: list[npt.ArrayLike],
    max_bins: list[int],
    min_bin_share: list[float],
    min_events: list[float],
    min_non_events: list[float],
    trends: list[list[str]],
    max_pvalue: list[float],
    n_threads: int,
) -> list[list[dict[str, Any]]]: ...
def count_values(x: npt.ArrayLike, labels: npt.ArrayLike) -> dict[str, Any]: ...
def count_values_at_most(
    x: npt.ArrayLike, labels: npt.ArrayLike, max_values: int
) -> dict[str, Any] | None: ...
def counted_prebins(
    x: npt.ArrayLike,
    labels: npt.ArrayLike,
    n_prebins: int,
    max_class_parts: int,
    min_class_share: float,
) -> dict[str, Any]: ...
def counted_prebins_columns(
    xs: list[npt.ArrayLike],
    labels: list[npt.ArrayLike],
    n_prebins: int,
    max_class_parts: int,
    min_class_share: float,
    n_threads: int,
) -> list[dict[str, Any]]: ...
def merge_value_counts(
    value: npt.ArrayLike, c0: npt.ArrayLike, c1: npt.ArrayLike
) -> dict[str, Any]: ...
def prebins_from_counts(
    value: npt.ArrayLike,
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    n_prebins: int,
    max_class_parts: int,
    min_class_share: float,
) -> dict[str, Any]: ...
def mdlp_full_from_counts(
    value: npt.ArrayLike,
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    counters: dict[str, Any],
    minobs: int,
    monotonicity: int,
    mono_dir: int,
    alpha_pos: float,
    beta_struct: float,
    force_first_split: bool,
    representative: str,
) -> dict[str, Any]: ...
def class_split_cuts(
    value: npt.ArrayLike, c0: npt.ArrayLike, c1: npt.ArrayLike, max_parts: int, min_share: float
) -> npt.NDArray[np.float64]: ...
def percentile_from_counts(
    value: npt.ArrayLike, count: npt.ArrayLike, percentile: float
) -> float: ...
def quantile_splits_from_counts(
    value: npt.ArrayLike, c0: npt.ArrayLike, c1: npt.ArrayLike, n_bins: int
) -> npt.NDArray[np.float64]: ...
def summary_binary_from_counts(
    value: npt.ArrayLike,
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    missing_c0: int,
    missing_c1: int,
    splits: npt.ArrayLike,
    representative: str,
) -> dict[str, Any]: ...
def summary_binary_from_indexed_counts(
    value: npt.ArrayLike,
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    index_c0: npt.ArrayLike,
    index_c1: npt.ArrayLike,
    missing_c0: int,
    missing_c1: int,
    splits: npt.ArrayLike,
) -> dict[str, Any]: ...
def compare_distributions_from_counts(
    count_reference: npt.ArrayLike,
    count_current: npt.ArrayLike,
    splits: npt.ArrayLike,
    epsilon: float,
) -> dict[str, Any]: ...
def lorenz_curve_from_counts(
    value: npt.ArrayLike, c0: npt.ArrayLike, c1: npt.ArrayLike
) -> dict[str, Any]: ...
def neighbour_rate_tests(c0: npt.ArrayLike, c1: npt.ArrayLike) -> dict[str, Any]: ...
def neighbour_mean_tests(
    weight: npt.ArrayLike, mean: npt.ArrayLike, sum_sq_dev: npt.ArrayLike
) -> dict[str, Any]: ...
def delong_auc(scores: npt.ArrayLike, labels: npt.ArrayLike) -> dict[str, Any]: ...
def count_values_weighted(
    x: npt.ArrayLike, labels: npt.ArrayLike, weights: npt.ArrayLike
) -> dict[str, Any]: ...

class WeightKinds:
    @property
    def all_ones(self) -> bool: ...
    @property
    def least(self) -> float: ...
    @property
    def most(self) -> float: ...
    @property
    def zeros(self) -> bool: ...

def weight_kinds(weights: npt.ArrayLike) -> WeightKinds: ...
def count_column_weighted(
    x: npt.ArrayLike,
    flags: npt.ArrayLike,
    weights: npt.ArrayLike,
    n_prebins: int = 0,
    max_class_parts: int = 0,
    min_class_share: float = 0.0,
    kinds: WeightKinds | None = None,
) -> dict[str, Any]: ...
def prebins_from_weighted_counts(
    value: npt.ArrayLike,
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    rows: npt.ArrayLike,
    n_prebins: int,
    max_class_parts: int,
    min_class_share: float,
) -> dict[str, Any]: ...
def merge_weighted_value_counts(
    value: npt.ArrayLike, c0: npt.ArrayLike, c1: npt.ArrayLike, rows: npt.ArrayLike
) -> dict[str, Any]: ...
def quantile_splits_from_weighted_counts(
    value: npt.ArrayLike, c0: npt.ArrayLike, c1: npt.ArrayLike, rows: npt.ArrayLike, n_bins: int
) -> npt.NDArray[np.float64]: ...
def equal_width_splits_from_weighted_counts(
    value: npt.ArrayLike,
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    rows: npt.ArrayLike,
    n_bins: int,
    range: str,
    lower_quantile: float,
    upper_quantile: float,
    k: float,
) -> npt.NDArray[np.float64]: ...
def summary_binary_from_weighted_counts(
    value: npt.ArrayLike,
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    rows: npt.ArrayLike,
    missing_c0: float,
    missing_c1: float,
    missing_rows: int,
    splits: npt.ArrayLike,
    representative: str,
) -> dict[str, Any]: ...
def summary_binary_from_indexed_weighted_counts(
    value: npt.ArrayLike,
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    rows: npt.ArrayLike,
    index_c0: npt.ArrayLike,
    index_c1: npt.ArrayLike,
    index_rows: npt.ArrayLike,
    missing_c0: float,
    missing_c1: float,
    missing_rows: int,
    splits: npt.ArrayLike,
) -> dict[str, Any]: ...
def mdlp_splits_from_weighted_counts(
    value: npt.ArrayLike,
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    rows: npt.ArrayLike,
    minobs: int,
    monotonicity: int,
    mono_dir: int,
    alpha_pos: float,
    beta_struct: float,
    force_first_split: bool,
) -> dict[str, Any]: ...
def count_categories_weighted(
    codes: npt.ArrayLike,
    labels: npt.ArrayLike,
    weights: npt.ArrayLike,
    k: int,
    every: bool = ...,
    kinds: WeightKinds | None = None,
) -> dict[str, Any]: ...
def event_rate_order_weighted(c0: npt.ArrayLike, c1: npt.ArrayLike) -> npt.NDArray[np.int64]: ...
def lorenz_curve_from_weighted_counts(
    value: npt.ArrayLike, c0: npt.ArrayLike, c1: npt.ArrayLike, rows: npt.ArrayLike
) -> dict[str, Any]: ...
def weigh_into_bins(
    values: npt.ArrayLike, weights: npt.ArrayLike, splits: npt.ArrayLike
) -> npt.NDArray[np.float64]: ...
def compare_distributions_from_weights(
    weight_reference: npt.ArrayLike,
    weight_current: npt.ArrayLike,
    splits: npt.ArrayLike,
    epsilon: float,
) -> dict[str, Any]: ...
def count_continuous_values(
    x: npt.ArrayLike, y: npt.ArrayLike, sample_weight: npt.ArrayLike | None = None
) -> dict[str, Any]: ...
def count_continuous_partials(
    x: npt.ArrayLike, y: npt.ArrayLike, sample_weight: npt.ArrayLike | None = None
) -> dict[str, Any]: ...
def exact_sums(terms: npt.ArrayLike, offsets: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
def exact_partials(terms: npt.ArrayLike, offsets: npt.ArrayLike) -> dict[str, Any]: ...
def centred_square_sums(
    weight_terms: npt.ArrayLike,
    weight_offset: npt.ArrayLike,
    sum_terms: npt.ArrayLike,
    sum_offset: npt.ArrayLike,
    sum_sq_terms: npt.ArrayLike,
    sum_sq_offset: npt.ArrayLike,
) -> npt.NDArray[np.float64]: ...
def weighted_quantile_cuts(
    value: npt.ArrayLike, rows: npt.ArrayLike, weight: npt.ArrayLike, n_bins: int
) -> npt.NDArray[np.float64]: ...
def continuous_interval_stats(
    value: npt.ArrayLike,
    rows: npt.ArrayLike,
    weight: npt.ArrayLike,
    sum: npt.ArrayLike,
    sum_sq: npt.ArrayLike,
    sum_sq_dev: npt.ArrayLike,
    min: npt.ArrayLike,
    max: npt.ArrayLike,
    splits: npt.ArrayLike,
) -> dict[str, Any]: ...
def continuous_columns(
    rows: npt.ArrayLike,
    weight: npt.ArrayLike,
    sum: npt.ArrayLike,
    sum_sq: npt.ArrayLike,
    sum_sq_dev: npt.ArrayLike,
) -> dict[str, Any]: ...
def continuous_binning(
    weight: npt.ArrayLike,
    sum: npt.ArrayLike,
    rows: npt.ArrayLike,
    max_bins: int,
    min_bin_share: float,
    min_rows: float,
    trend: str,
    max_pvalue: float = 1.0,
    sum_sq_dev: npt.ArrayLike = ...,
) -> dict[str, Any]: ...
def value_profile(
    value: npt.ArrayLike, count: npt.ArrayLike, percentiles: list[float], top: int
) -> dict[str, Any]: ...
def top_positions(count: npt.ArrayLike, k: int) -> npt.NDArray[np.int64]: ...
def grid_binning(
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    n_x: int,
    n_y: int,
    max_bins_x: int,
    max_bins_y: int,
    min_cell_share: float,
    trend_x: str,
    trend_y: str,
    max_exhaustive: int = 4096,
) -> dict[str, Any]: ...
def grid_rectangles(
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    n_x: int,
    n_y: int,
    max_bins_x: int,
    max_bins_y: int,
    min_cell_share: float,
    trend_x: str,
    trend_y: str,
) -> dict[str, Any]: ...
def count_class_values(x: npt.ArrayLike, labels: npt.ArrayLike, k: int) -> dict[str, Any]: ...
def class_interval_counts(
    value: npt.ArrayLike, counts: npt.ArrayLike, splits: npt.ArrayLike
) -> npt.NDArray[np.int64]: ...
def multiclass_columns(counts: npt.ArrayLike) -> dict[str, Any]: ...
def multiclass_binning(
    counts: npt.ArrayLike,
    max_bins: int,
    min_bin_share: float,
    min_class_count: float,
    trends: list[str],
    objective: str = "iv",
) -> dict[str, Any]: ...
def merge_key_runs(keys: npt.ArrayLike, ends: npt.ArrayLike) -> dict[str, Any]: ...
def count_batch(x: npt.ArrayLike, flags: npt.ArrayLike) -> dict[str, Any]: ...
def count_batch_columns(
    xs: Sequence[npt.ArrayLike], flags: Sequence[npt.ArrayLike], n_threads: int
) -> list[dict[str, Any]]: ...
def merge_count_runs(
    keys: Sequence[npt.ArrayLike],
    rows: Sequence[npt.ArrayLike],
    known: Sequence[npt.ArrayLike],
    ones: Sequence[npt.ArrayLike],
) -> dict[str, Any]: ...
def merge_held_columns(
    columns: Sequence[tuple[Sequence[npt.ArrayLike], ...]], n_threads: int
) -> list[dict[str, Any]]: ...
def read_held_columns(
    columns: Sequence[tuple[Sequence[npt.ArrayLike], ...]],
    n_prebins: int,
    max_class_parts: int,
    min_class_share: float,
    n_threads: int,
) -> list[dict[str, Any]]: ...
def continuous_binnings(
    weight: npt.ArrayLike,
    sum: npt.ArrayLike,
    rows: npt.ArrayLike,
    max_bins: int,
    min_bin_share: float,
    min_rows: float,
    trends: list[str],
    max_pvalue: float = 1.0,
    sum_sq_dev: npt.ArrayLike = ...,
) -> list[dict[str, Any]]: ...

class SpareThreads:
    def __init__(self) -> None: ...
    def give(self, count: int) -> None: ...
    def take(self, most: int) -> int: ...
    @property
    def idle(self) -> int: ...

def iv_permutation_test(
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    outside_c0: npt.ArrayLike,
    outside_c1: npt.ArrayLike,
    max_bins: int,
    min_bin_share: float,
    min_events: float,
    min_non_events: float,
    trend: str,
    max_pvalue: float,
    max_draws: int,
    checks: npt.ArrayLike,
    below: npt.ArrayLike,
    above: npt.ArrayLike,
    sure_pvalue: float,
    seed: int,
    rate_order: bool,
    threads: int = 1,
    observed_firsts: list[npt.ArrayLike] | None = None,
    spare: SpareThreads | None = None,
) -> dict[str, Any]: ...
