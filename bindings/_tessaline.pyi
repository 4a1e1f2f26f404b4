"""Python c_api bindings for the tessaline C++ library"""

from typing import SupportsFloat, SupportsIndex, SupportsInt, TypedDict, type_check_only

import numpy as np
import numpy.typing as npt

# What each kind of argument accepts. Arrays are converted with a forced cast to
# a C-contiguous array of the stated dtype; integers refuse float instances.
_Int = SupportsInt | SupportsIndex
_Float = SupportsFloat | SupportsIndex
_F64 = npt.NDArray[np.float64]
_I64 = npt.NDArray[np.int64]
_I32 = npt.NDArray[np.int32]

@type_check_only
class BoundaryTable(TypedDict):
    pto_corte: _F64
    c0: _I64
    c1: _I64

@type_check_only
class SegmentEvaluation(TypedDict):
    found: bool
    pto: float
    gain: float
    cost_pos: float
    cost_struct: float
    cost: float
    idx: int

@type_check_only
class SplitLog(TypedDict):
    found: npt.NDArray[np.bool_]
    pto: _F64
    gain: _F64
    cost_pos: _F64
    cost_struct: _F64
    cost: _F64
    idx: _I64

@type_check_only
class IntervalSummary(TypedDict):
    left: _F64
    right: _F64
    c0: _I64
    c1: _I64
    total: _I64
    p1: _F64

@type_check_only
class MdlpFullResult(TypedDict):
    mdlp: SplitLog
    summary: IntervalSummary

@type_check_only
class BinarySummary(TypedDict):
    left: _F64
    right: _F64
    count: _I64
    percentage: _F64
    c0: _I64
    c1: _I64
    event_rate: _F64
    representative: _F64

@type_check_only
class PreprocessCounters(TypedDict):
    n_input: int
    n_used: int
    n_missing_x: int
    n_missing_y: int
    n_missing_both: int
    n_non_finite: int
    target_was_binary: bool
    threshold: float

@type_check_only
class MdlpFullRawResult(TypedDict):
    mdlp: SplitLog
    summary: BinarySummary
    metadata: PreprocessCounters

@type_check_only
class PreparedData(TypedDict):
    x: _F64
    y: _I32

@type_check_only
class ContinuousSummary(TypedDict):
    left: _F64
    right: _F64
    count: _I64
    percentage: _F64
    representative: _F64
    target_mean: _F64
    target_p25: _F64
    target_median: _F64
    target_p75: _F64

@type_check_only
class DistributionComparison(TypedDict):
    count_reference: _I64
    count_current: _I64
    proportion_reference: _F64
    proportion_current: _F64
    cumulative_reference: _F64
    cumulative_current: _F64
    psi_bin: _F64
    psi: float
    ks: float

@type_check_only
class LorenzCurve(TypedDict):
    value: _F64
    cumulative_non_event: _F64
    cumulative_event: _F64
    auc: float
    gini: float

def suma(arg0: _Float, arg1: _Float, /) -> float:
    """Suma dos valores"""

def compute_boundaries(x: npt.ArrayLike, y: npt.ArrayLike, sorted: bool = True) -> BoundaryTable:
    """Calcula boundaries; requiere que x,y ya vengan limpios/ordenados (sorted=True)"""

def compute_boundaries_raw(
    x: npt.ArrayLike, y: npt.ArrayLike, value: _Float | None = None, percentile: _Float = 50.0
) -> BoundaryTable:
    """Prepara y calcula boundaries en una única llamada nativa"""

def evaluate_segment(
    pto_corte: npt.ArrayLike,
    c0: npt.ArrayLike,
    c1: npt.ArrayLike,
    L: _Int,
    R: _Int,
    minobs: _Int,
    monotonicity: _Int,
    mono_dir: _Int,
    alpha_pos: _Float,
    beta_struct: _Float,
) -> SegmentEvaluation:
    """Evalúa un segmento concreto (datos ya preprocesados y boundaries ya calculados)"""

def mdlp_full(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    minobs: _Int,
    monotonicity: _Int,
    mono_dir: _Int,
    alpha_pos: _Float,
    beta_struct: _Float,
    force_first_split: bool,
) -> MdlpFullResult:
    """Algoritmo MDLP completo + resumen de segmentos finales"""

def mdlp(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    minobs: _Int,
    monotonicity: _Int,
    mono_dir: _Int,
    alpha_pos: _Float,
    beta_struct: _Float,
    force_first_split: bool,
) -> SplitLog:
    """Algoritmo MDLP completo (datos ya limpios/ordenados)"""

def mdlp_raw(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    minobs: _Int,
    monotonicity: _Int,
    mono_dir: _Int,
    alpha_pos: _Float,
    beta_struct: _Float,
    force_first_split: bool,
    value: _Float | None = None,
    percentile: _Float = 50.0,
) -> SplitLog:
    """Prepara y ejecuta MDLP en una única llamada nativa"""

def mdlp_full_raw(
    x: npt.ArrayLike,
    y: npt.ArrayLike,
    minobs: _Int,
    monotonicity: _Int,
    mono_dir: _Int,
    alpha_pos: _Float,
    beta_struct: _Float,
    force_first_split: bool,
    value: _Float | None = None,
    percentile: _Float = 50.0,
    representative: str = "median",
) -> MdlpFullRawResult:
    """Prepara, ejecuta MDLP y resume missing en una única llamada nativa"""

def preprocess_data_native(
    x: npt.ArrayLike, y: npt.ArrayLike, value: _Float | None = None, percentile: _Float = 50.0
) -> PreparedData:
    """Preprocesado compartido: filtra, binariza y ordena en C++"""

def binning_splits(
    x: npt.ArrayLike,
    method: str,
    n_bins: _Int,
    range: str,
    lower_quantile: _Float,
    upper_quantile: _Float,
    k: _Float,
    custom_splits: npt.ArrayLike,
) -> _F64: ...
def binning_transform(x: npt.ArrayLike, splits: npt.ArrayLike) -> _I64: ...
def binning_summary_binary(
    x: npt.ArrayLike, y: npt.ArrayLike, splits: npt.ArrayLike, representative: str = "median"
) -> BinarySummary: ...
def binning_summary_continuous(
    x: npt.ArrayLike, y: npt.ArrayLike, splits: npt.ArrayLike, representative: str = "median"
) -> ContinuousSummary: ...
def compare_distributions_native(
    reference: npt.ArrayLike, current: npt.ArrayLike, splits: npt.ArrayLike, epsilon: _Float = 1e-12
) -> DistributionComparison: ...
def lorenz_curve_native(x: npt.ArrayLike, y: npt.ArrayLike) -> LorenzCurve: ...
def membership_native(x: npt.ArrayLike, representatives: npt.ArrayLike) -> _F64: ...
def aggregate_membership_native(
    membership: npt.ArrayLike, values: npt.ArrayLike, standardize: bool = False
) -> _F64: ...
