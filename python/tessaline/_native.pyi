from typing import Any

import numpy as np
import numpy.typing as npt

def count_categories(
    codes: npt.ArrayLike, labels: npt.ArrayLike, k: int
) -> dict[str, Any]: ...
def event_rate_order(c0: npt.ArrayLike, c1: npt.ArrayLike) -> npt.NDArray[np.int64]: ...
def lookup_codes(
    codes: npt.ArrayLike, table: npt.ArrayLike, missing: float
) -> npt.NDArray[np.float64]: ...
def lookup_codes_int(
    codes: npt.ArrayLike, table: npt.ArrayLike, missing: int
) -> npt.NDArray[np.int64]: ...
def optimal_binning(
    c0: npt.ArrayLike, c1: npt.ArrayLike, max_bins: int, min_bin_share: float,
    min_events: float, min_non_events: float, trend: str,
) -> dict[str, Any]: ...
