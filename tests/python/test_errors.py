"""The package checks its own arguments before any native call: every public
function that reaches native code answers a bad argument with an English
message that names it, never with the native module's Spanish one."""

import math

import numpy as np
import pytest
from package_under_test import tessaline as tl

X4, Y4 = [1.0, 2.0, 3.0, 4.0], [0.0, 0.0, 1.0, 1.0]
CATS = ["a", "b", "a", "b"]
FRAME = {"x": np.tile([1.0, 2.0, 3.0, 4.0], 10)}
FLAGS = np.tile(Y4, 10)
# Words of the native module's messages.
SPANISH = (
    "debe",
    "deben",
    "se necesitan",
    "solo",
    "entre",
    "al menos",
    "puntos de corte",
    "muestras",
    "no contiene",
    "no reconocido",
)

WHOLE = "must be a whole number"
CASES = [
    # mdlp_binning, in the order the native search checks its arguments
    (
        lambda: tl.mdlp_binning(X4, Y4[:3]),
        ValueError,
        "x and y must be the same length, not 4 and 3",
    ),
    (
        lambda: tl.mdlp_binning(X4, Y4, minobs=2.0),
        TypeError,
        f"minobs {WHOLE} of at least 0, not 2.0",
    ),
    (
        lambda: tl.mdlp_binning(X4, Y4, minobs=-1),
        ValueError,
        f"minobs {WHOLE} of at least 0, not -1",
    ),
    (
        lambda: tl.mdlp_binning(X4, Y4, monotonicity=4, mono_dir=2),
        ValueError,
        f"monotonicity {WHOLE} from 0 to 3, not 4",
    ),
    (
        lambda: tl.mdlp_binning(X4, Y4, mono_dir=2),
        ValueError,
        f"mono_dir {WHOLE} from -1 to 1, not 2",
    ),
    (
        lambda: tl.mdlp_binning(X4, Y4, alpha_pos=-1.0),
        ValueError,
        "alpha_pos must be a finite number of at least 0, not -1.0",
    ),
    (
        lambda: tl.mdlp_binning(X4, Y4, beta_struct="1"),
        TypeError,
        "beta_struct must be a finite number of at least 0, not '1'",
    ),
    (
        lambda: tl.mdlp_binning(X4, [0.0, 1.0, 2.0, 3.0], value="0.5"),
        tl.TargetError,
        "value must be a number (the threshold of the target), not '0.5'",
    ),
    (
        lambda: tl.mdlp_binning(X4, Y4, representative="Median"),
        ValueError,
        "representative must be 'median' or 'mean', not 'Median'",
    ),
    (
        lambda: tl.mdlp_binning(X4, [0.0, 1.0, 2.0, 3.0], percentile=150.0),
        tl.TargetError,
        "percentile must be between 0 and 100, not 150.0",
    ),
    # optimal_binning
    (
        lambda: tl.optimal_binning(X4, Y4[:3]),
        ValueError,
        "x and y must be the same length, not 4 and 3",
    ),
    (
        lambda: tl.optimal_binning(X4, Y4, n_prebins=0, max_bins=0),
        ValueError,
        f"n_prebins {WHOLE} of at least 1, not 0",
    ),
    (
        lambda: tl.optimal_binning(X4, Y4, max_bins=0),
        ValueError,
        f"max_bins {WHOLE} of at least 1, not 0",
    ),
    (
        lambda: tl.optimal_binning(X4, Y4, trend="up", min_bin_share=2),
        ValueError,
        "trend must be one of 'auto', 'auto_all', 'ascending', 'descending', 'peak', 'valley', 'none', not 'up'",
    ),
    (
        lambda: tl.optimal_binning(X4, Y4, min_bin_share=1.5),
        ValueError,
        "min_bin_share must be a number from 0 to 1, not 1.5",
    ),
    (
        lambda: tl.optimal_binning(X4, Y4, min_events=-1),
        ValueError,
        "min_events must be a finite number of at least 0, not -1",
    ),
    (
        lambda: tl.optimal_binning(X4, Y4, min_non_events=math.inf),
        ValueError,
        "min_non_events must be a finite number of at least 0, not inf",
    ),
    (
        lambda: tl.optimal_binning(X4, Y4, representative="avg"),
        ValueError,
        "representative must be 'median' or 'mean', not 'avg'",
    ),
    # categorical_binning
    (
        lambda: tl.categorical_binning(CATS, Y4[:3]),
        ValueError,
        "x and y must be the same length, not 4 and 3",
    ),
    (
        lambda: tl.categorical_binning(CATS, Y4, method="exact"),
        ValueError,
        "method must be 'mdlp' or 'optimal', not 'exact'",
    ),
    (
        lambda: tl.categorical_binning(CATS, Y4, method="mdlp", monotonicity=5),
        ValueError,
        f"monotonicity {WHOLE} from 0 to 3, not 5",
    ),
    (
        lambda: tl.categorical_binning(CATS, Y4, minobs=3, mono_dir=1),
        ValueError,
        "minobs, mono_dir apply to method='mdlp' only; the optimal grouping reads limits={...} "
        "(max_bins, trend, min_bin_share, min_events, min_non_events)",
    ),
    (
        lambda: tl.categorical_binning(CATS, Y4, method="mdlp", limits={"max_bins": 2}),
        ValueError,
        "limits apply to method='optimal' only",
    ),
    (
        lambda: tl.categorical_binning(CATS, Y4, method="optimal", limits={"max_bins": 0}),
        ValueError,
        f"max_bins {WHOLE} of at least 1, not 0",
    ),
    (
        lambda: tl.categorical_binning(CATS, Y4, method="optimal", limits={"bins": 3}),
        ValueError,
        "unknown limit(s) bins; limits are max_bins, trend, min_bin_share, min_events, min_non_events, max_pvalue",
    ),
    # the unsupervised rules
    (
        lambda: tl.quantile_binning(X4, Y4, n_bins=0),
        ValueError,
        f"n_bins {WHOLE} of at least 1, not 0",
    ),
    # more bins than rows are refused before anything is allocated for them
    (
        lambda: tl.quantile_binning(np.arange(1500.0), np.arange(1500) % 2, n_bins=2**27),
        ValueError,
        "n_bins must be at most 1500 (one bin per row given, or 1000 on fewer rows), not 134217728",
    ),
    (
        lambda: tl.equal_width_binning(X4, Y4, n_bins=2**40, sample_weight=[1, 2, 1, 1]),
        ValueError,
        "n_bins must be at most 1000 (one bin per row given, or 1000 on fewer rows), not 1099511627776",
    ),
    (
        lambda: tl.optimal_binning(X4, Y4, n_prebins=2**27),
        ValueError,
        "n_prebins must be at most 1000 (one bin per row given, or 1000 on fewer rows), not 134217728",
    ),
    # above 1000 pre-bins the rows are counted: weighted and plain counts alike
    (
        lambda: tl.optimal_binning(np.arange(1500.0), np.arange(1500) % 2, n_prebins=2**27),
        ValueError,
        "n_prebins must be at most 1500 (one bin per row given, or 1000 on fewer rows), not 134217728",
    ),
    (
        lambda: tl.optimal_binning(
            np.arange(1500.0), np.arange(1500) % 2, n_prebins=1501, sample_weight=np.full(1500, 2.0)
        ),
        ValueError,
        "n_prebins must be at most 1500 (one bin per row given, or 1000 on fewer rows), not 1501",
    ),
    (
        lambda: tl.quantile_binning(X4, Y4, n_bins=2.5),
        TypeError,
        f"n_bins {WHOLE} of at least 1, not 2.5",
    ),
    (
        lambda: tl.quantile_binning([np.nan] * 4, Y4),
        ValueError,
        "x holds no finite value to cut into bins",
    ),
    (
        lambda: tl.equal_width_binning(X4, Y4, range="tails", n_bins=0),
        ValueError,
        "range must be one of 'full', 'quantile', 'iqr', not 'tails'",
    ),
    (
        lambda: tl.equal_width_binning(X4, Y4, range="quantile", lower_quantile=-0.1),
        ValueError,
        "lower_quantile must be a number from 0 to 1, not -0.1",
    ),
    (
        lambda: tl.equal_width_binning(
            X4, Y4, range="quantile", lower_quantile=0.9, upper_quantile=0.1
        ),
        ValueError,
        "lower_quantile must be below upper_quantile, not 0.9 and 0.1",
    ),
    (
        lambda: tl.equal_width_binning(X4, Y4, range="iqr", k=-1.0),
        ValueError,
        "k must be a finite number of at least 0, not -1.0",
    ),
    (
        lambda: tl.custom_binning(X4, Y4[:3], [2.0, 1.0]),
        ValueError,
        "x and y must be the same length, not 4 and 3",
    ),
    (
        lambda: tl.custom_binning(X4, Y4, [2.0, 1.0]),
        ValueError,
        "splits must be finite and strictly increasing, not [2, 1]",
    ),
    (
        lambda: tl.custom_binning(X4, Y4, [1.0, np.nan]),
        ValueError,
        "splits must be finite and strictly increasing, not [1, nan]",
    ),
    (
        lambda: tl.custom_binning(X4, Y4, [[1.0], [2.0]]),
        ValueError,
        "splits must be one-dimensional, not of shape (2, 1)",
    ),
    (
        lambda: tl.custom_binning(X4, Y4, [2.5], representative="avg"),
        ValueError,
        "representative must be 'median' or 'mean', not 'avg'",
    ),
    # diagnostics and performance
    (
        lambda: tl.psi([], [1.0], [0.5], epsilon=0),
        ValueError,
        "reference and current must each hold at least one value, not 0 and 1",
    ),
    (
        lambda: tl.psi(X4, X4, [2.0, 1.0], epsilon=0.0),
        ValueError,
        "epsilon must be a finite number above 0, not 0.0",
    ),
    (
        lambda: tl.psi(X4, X4, [2.0, 1.0]),
        ValueError,
        "splits must be finite and strictly increasing, not [2, 1]",
    ),
    (
        lambda: tl.psi(X4, X4, [2.5], empty_bins="zero"),
        ValueError,
        "empty_bins must be 'floor' or 'half', not 'zero'",
    ),
    (
        lambda: tl.gini([1, 2, 3, 4, 5], [0, 1]),
        ValueError,
        "score and y must be the same length, not 5 and 2",
    ),
    (
        lambda: tl.gini([1, 2, 3, 4, 5], [0, 0, 0.5, 1, 1]),
        tl.TargetError,
        "y must hold only 0 and 1 (1 = event), not [0, 0.5, 1]",
    ),
    (
        lambda: tl.gini([1, 2, np.nan], [1, 1, 0]),
        tl.TargetError,
        "y must hold both events (1) and non-events (0) among the rows with a score, not only events (1)",
    ),
    (
        lambda: tl.score_performance([1, 2], [0, 0]),
        tl.TargetError,
        "y must hold both events (1) and non-events (0) among the rows with a score, not only "
        "non-events (0)",
    ),
    (
        lambda: tl.score_performance(X4, Y4, n_bands=0),
        ValueError,
        f"n_bands {WHOLE} of at least 1, not 0",
    ),
    # whole-table binning, its scikit-learn face, the scorecard and monitoring
    (lambda: tl.TableBinning(n_bins=0), ValueError, f"n_bins {WHOLE} of at least 1, not 0"),
    (
        lambda: tl.TableBinning(representative="mode"),
        ValueError,
        "representative must be 'median' or 'mean', not 'mode'",
    ),
    (
        lambda: tl.TableBinning(columns={"age": {"monotonicity": 7}}),
        ValueError,
        f"column 'age': monotonicity {WHOLE} from 0 to 3, not 7",
    ),
    (
        lambda: tl.TableBinning(max_missing_share=1.5),
        ValueError,
        "max_missing_share must be a number from 0 to 1, not 1.5",
    ),
    (
        lambda: tl.TableBinning(progress="yes"),
        TypeError,
        "progress must be True, False or None, not 'yes'",
    ),
    (
        lambda: tl.MDLPDiscretizer(monotonicity=7).fit(np.reshape(X4 * 10, (-1, 1)), FLAGS),
        ValueError,
        f"monotonicity {WHOLE} from 0 to 3, not 7",
    ),
    (lambda: tl.Scorecard(pdo=0), ValueError, "pdo must be a finite number above 0, not 0"),
    (
        lambda: tl.Scorecard(base_odds=-1.0),
        ValueError,
        "base_odds must be a finite number above 0, not -1.0",
    ),
    (
        lambda: tl.stability(
            tl.TableBinning(method="quantile").fit(FRAME, FLAGS), FRAME, [FRAME], empty_bins="zero"
        ),
        ValueError,
        "empty_bins must be 'floor' or 'half', not 'zero'",
    ),
    (
        lambda: tl.stability(tl.TableBinning(), FRAME, [FRAME], score_bands=0),
        ValueError,
        f"score_bands {WHOLE} of at least 1, not 0",
    ),
    # the studio's arguments, checked before the fit
    (
        lambda: tl.studio(None, FRAME, FLAGS, port=70000),
        ValueError,
        f"port {WHOLE} from 0 to 65535, not 70000",
    ),
    (
        lambda: tl.studio(None, FRAME, FLAGS, output="/nowhere/x.json"),
        ValueError,
        "output must be a file in an existing directory, not '/nowhere/x.json'",
    ),
    (
        lambda: tl.studio(tl.TableBinning(), FRAME, FLAGS, event=1),
        ValueError,
        "event reads the target of a new fit: give it with binning=None, or to the TableBinning",
    ),
    (
        lambda: tl.studio(FRAME, FRAME, FLAGS),
        TypeError,
        "binning must be a TableBinning, a Scorecard or None, not dict",
    ),
]


@pytest.mark.parametrize("call, kind, message", CASES)
def test_a_bad_argument_is_named_in_english(call, kind, message):
    with pytest.raises(kind) as info:
        call()
    assert str(info.value) == message
    assert not any(word in str(info.value) for word in SPANISH)


def test_numpy_numbers_are_whole_and_real_numbers():
    table = tl.equal_width_binning(X4, Y4, n_bins=np.int64(2), range="iqr", k=np.float32(1.0))
    assert table.n_bins == 2
