"""The face of _tessaline: its frame (docstrings, function order, the import
guard), one call per function that shows the data passed through, the argument
conversions, and every error with its exact message in check order."""

import glob
import os
import shutil
import subprocess

import numpy as np
import pytest
from native_calls import CALLS, L4, SEARCH, SEGMENT, X4, Y4, outcome, same

import _tessaline as t

NAN, INF = float("nan"), float("inf")
ARRAY_ARGS = [(name, pos) for name, (_, _, positions) in CALLS.items() for pos in positions]
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def test_module_frame():
    assert t.__doc__ == "Python c_api bindings for the tessaline C++ library"
    assert [n for n in vars(t) if not n.startswith("__")] == ["suma", *CALLS]
    doc = t.preprocess_data_native.__doc__
    assert doc.startswith(
        "preprocess_data_native(x: typing.Annotated[numpy.typing.ArrayLike, "
        "numpy.float64], y: typing.Annotated[numpy.typing.ArrayLike, "
        "numpy.float64], value: object = None, percentile: "
        "typing.SupportsFloat | typing.SupportsIndex = 50.0) -> dict"
    )
    assert doc.rstrip().endswith("Preprocesado compartido: filtra, binariza y ordena en C++")
    assert t.suma.__doc__.rstrip().endswith("Suma dos valores")


@pytest.mark.parametrize(
    "a, b, expected",
    [
        (1, 2, 3.0),
        (0.1, 0.2, 0.1 + 0.2),
        (np.float32(1.5), True, 2.5),
        (NAN, 1.0, NAN),
        (INF, 1.0, INF),
        (INF, -INF, NAN),
    ],
)
def test_suma_is_ieee_addition(a, b, expected):
    assert same(t.suma(a, b), expected)


def test_import_under_another_python_series_fails_with_version_message(tmp_path):
    root = (
        subprocess.run(["pyenv", "root"], capture_output=True, text=True).stdout.strip()
        if shutil.which("pyenv")
        else ""
    )
    found = sorted(glob.glob(os.path.join(root, "versions", "3.12*", "bin", "python3.12")))
    python = next(
        (
            p
            for p in found + [shutil.which("python3.12") or ""]
            if p and subprocess.run([p, "-c", "pass"]).returncode == 0
        ),
        None,
    )
    if python is None:
        pytest.skip("no Python 3.12 interpreter on this machine")
    # Another series looks only for untagged names; lazy binding lets the
    # module's own version check run before any 3.13-only symbol is needed.
    shutil.copy(t.__file__, tmp_path / "_tessaline.so")
    code = (
        f"import os, sys; sys.setdlopenflags(os.RTLD_LAZY); sys.path.insert(0, {str(tmp_path)!r})"
        "\ntry:\n    import _tessaline\nexcept ImportError as e:\n    print(e)"
    )
    out = subprocess.run([python, "-c", code], capture_output=True, text=True).stdout
    assert out.startswith(
        "Python version mismatch: module was compiled for Python 3.13, "
        "but the interpreter version is incompatible: 3.12"
    )


# ----------------------------------------- one worked call per function


def plain(r):
    if isinstance(r, dict):
        return {k: plain(v) for k, v in r.items()}
    r = r.tolist() if isinstance(r, np.ndarray) else r
    return [plain(v) for v in r] if isinstance(r, list) else (None if r != r else r)


BLOCKS_X = np.arange(1, 51.0)
BLOCKS_Y = np.repeat([0, 1, 0, 1], [5, 20, 20, 5]).astype(np.int32)
SHUFFLE = np.random.default_rng(3).permutation(50)


@pytest.mark.parametrize(
    "call, expected",
    [
        (
            lambda: t.compute_boundaries([1.0, 2, 3], np.array([0, 1, 0], np.int32)),
            {"pto_corte": [1, 1.5, 2.5, 3], "c0": [0, 1, 1, 2], "c1": [0, 0, 1, 1]},
        ),
        (
            lambda: t.compute_boundaries_raw([3, NAN, 1, 2, INF], [0.2, 1, 0.9, 0.1, 1], 0.5),
            {"pto_corte": [1, 1.5, 3], "c0": [0, 0, 2], "c1": [0, 1, 1]},
        ),
        (
            lambda: t.evaluate_segment(
                [1.0, 1.5, 2.5, 3.0], [0, 1, 1, 2], [0, 0, 1, 1], 0, 3, 0, 0, 0, 1.0, 1.0
            ),
            {"found": False, "pto": 1.5, "idx": 1},
        ),
        (lambda: t.mdlp(BLOCKS_X, BLOCKS_Y, *SEARCH), {"pto": [25.5, 5.5, 45.5], "idx": [2, 1, 3]}),
        # The raw pipeline sorts shuffled rows; the ninth positional argument is value.
        (
            lambda: t.mdlp_raw(BLOCKS_X[SHUFFLE], BLOCKS_Y[SHUFFLE] * 3.0, *SEARCH, 1.0)["pto"],
            [25.5, 5.5, 45.5],
        ),
        (lambda: t.mdlp_full(X4, L4, *SEARCH)["summary"], {"right": [2.5, INF], "total": [2, 2]}),
        (
            lambda: (
                lambda r: [r["summary"]["c1"], r["summary"]["left"], r["metadata"]["n_missing_x"]]
            )(t.mdlp_full_raw([1, 2, 3, 4, NAN], [0, 0, 1, 1, 1], *SEARCH)),
            [[0, 2, 1], [-INF, 2.5, None], 1],
        ),
        # A value of 0 is a fixed threshold, not a missing one.
        (
            lambda: t.preprocess_data_native([2, 1, 2, NAN], [1.5, -1.0, 0.0, 1.0], 0),
            {"x": [1, 2, 2], "y": [0, 0, 1]},
        ),
        (
            lambda: t.binning_splits([5, 1, 2, 4, 3], "quantile", 4, "full", 0.0, 1.0, 1.5, []),
            [2.0, 3.0, 4.0],
        ),
        (
            lambda: t.binning_transform([1, 2, 2.5, 3, NAN, INF, -INF], [3.0, 2.0, 2.0]),
            [0, 0, 1, 1, -1, 2, 0],
        ),
        # Labels are cast to int32 the way NumPy casts: 0.7 is 0.
        (
            lambda: t.binning_summary_binary([1, 2, 3, 4, NAN], [0, 1, 0.7, 0, 1], [2.5], "mean"),
            {"count": [2, 2, 1], "c1": [1, 0, 1], "representative": [1.5, 3.5, None]},
        ),
        (
            lambda: t.binning_summary_continuous([1, 2, 3, 4, 5], [10, 20, NAN, 40, 50], [3]),
            {"count": [2, 2], "target_mean": [15, 45], "target_p75": [17.5, 47.5]},
        ),
        (
            lambda: t.compare_distributions_native([1, 2, 3, 4], [1, 1, 1, 4], [2.5]),
            {"count_current": [3, 1], "ks": 0.25},
        ),
        (
            lambda: t.lorenz_curve_native([1, 2, 3, 4], [0, 1, 0, 1]),
            {"cumulative_event": [0, 0.5, 0.5, 1], "auc": 0.75, "gini": 0.5},
        ),
        (
            lambda: t.membership_native([-5, 0, 2.5, 10, 12, NAN], [0, 10]),
            [[1, 0, 0], [1, 0, 0], [0.75, 0.25, 0], [0, 1, 0], [0, 1, 0], [0, 0, 1]],
        ),
        (
            lambda: (
                t.aggregate_membership_native([[1, 0, 0], [0.75, 0.25, 0], [0, 0, 1]], [8, 4, -3]),
                t.aggregate_membership_native(np.eye(3), [1, 2, 3], True),
            ),
            ([8, 7, -3], [-1, 0, 1]),
        ),
    ],
)
def test_worked_call(call, expected):
    result = call()
    if isinstance(expected, dict):  # the keys shown
        result = {k: result[k] for k in expected}
    assert plain(list(result) if isinstance(result, tuple) else result) == plain(
        list(expected) if isinstance(expected, tuple) else expected
    )


# --------------------------------------------------------- conversions


@pytest.mark.parametrize("name, pos", ARRAY_ARGS)
def test_array_arguments_convert_like_numpy(name, pos):
    fn, args, _ = CALLS[name]
    want = outcome(fn, args)
    shape = np.asarray(args[pos]).shape
    for strings in (
        np.full(shape, "a", dtype=object),
        np.full(shape, "x"),
        np.full(shape, b"1.5x", dtype=object),
    ):
        with pytest.raises(TypeError, match="incompatible function arguments"):
            fn(*args[:pos], strings, *args[pos + 1 :])
    # NumPy's unsafe cast drops the imaginary part, with its warning.
    with pytest.warns(np.exceptions.ComplexWarning):
        got = outcome(fn, args[:pos] + [np.asarray(args[pos], dtype=float) + 3j] + args[pos + 1 :])
    assert got[0] == want[0] == "ok" and same(got[1], want[1])


@pytest.mark.parametrize("name", list(CALLS))
def test_zero_dimensional_arrays_are_one_element(name):
    fn, args, positions = CALLS[name]
    firsts = {pos: np.asarray(args[pos]).ravel()[0] for pos in positions}
    got = outcome(fn, [np.asarray(firsts[i]) if i in firsts else a for i, a in enumerate(args)])
    if name == "binning_splits":
        assert got == ("ValueError", "binning: los puntos de corte deben ser unidimensionales")
    elif name == "aggregate_membership_native":
        assert got == ("ValueError", "aggregate_membership: dimensiones incompatibles")
    else:
        want = outcome(
            fn, [np.asarray([firsts[i]]) if i in firsts else a for i, a in enumerate(args)]
        )
        assert got[0] == want[0] and same(got[1], want[1])


@pytest.mark.parametrize("empty", [np.array([]), np.empty((0, 3)), []])
@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda e: t.compute_boundaries(e, e)["c0"], []),
        (lambda e: t.compute_boundaries_raw(e, e)["pto_corte"], []),
        (lambda e: t.mdlp(e, e, *SEARCH)["idx"], []),
        (lambda e: t.mdlp_raw(e, e, *SEARCH)["found"], []),
        (lambda e: t.mdlp_full(e, e, *SEARCH)["summary"]["left"], []),
        (lambda e: t.mdlp_full_raw(e, e, *SEARCH)["summary"]["count"], []),
        (lambda e: t.preprocess_data_native(e, e)["y"], []),
        (lambda e: t.binning_transform(e, e), []),
        (
            lambda e: t.binning_summary_binary(e, np.array([], np.int32), [1.0, 2.0])["count"],
            [0, 0, 0],
        ),
        (lambda e: t.binning_summary_continuous(e, e, e)["count"], [0]),
        (lambda e: t.membership_native(e, [1.0, 2.0]).shape, (0, 3)),
        (lambda e: t.aggregate_membership_native(np.empty((0, 2)), [1.0, 2.0], True), []),
    ],
)
def test_zero_size_arrays(call, expected, empty):
    assert plain(call(empty)) == plain(expected)


def test_argument_binding():
    # Lengths are element counts: a 2 x 2 x against four labels is four rows.
    assert same(t.lorenz_curve_native(np.reshape(X4, (2, 2)), L4), t.lorenz_curve_native(X4, L4))
    assert same(
        t.preprocess_data_native(X4, [1, 5, 2, 8], percentile=75),
        t.preprocess_data_native(X4, [1, 5, 2, 8], None, 75),
    )
    # Custom cut points, and the range, are read only where they are used.
    assert t.binning_splits(
        [0, 10], "equal_width", 2, "full", 0, 1, 1.5, [[NAN, 1], [3, 2]]
    ).tolist() == [5.0]
    assert t.binning_splits([1, 2, 3], "quantile", 4, "nonsense", 0, 1, 1.5, []).tolist() == [
        1.5,
        2.0,
        2.5,
    ]
    # The representative defaults to the median.
    assert t.binning_summary_binary([1, 2, 10], [0, 1, 1], [])["representative"].tolist() == [2]
    assert t.mdlp_full_raw([1, 5, 7], [0, 1, 1], 0, 0, 0, 0.0, 0.0, False, representative="mean")[
        "summary"
    ]["representative"].tolist() == [1.0, 6.0]
    # Any int64 minobs and int32 direction convert: the extremes let all or no row pass.
    assert t.mdlp(X4, L4, -(2**63), 0, -(2**31), 1.0, 1.0, False)["found"].tolist() == [True]
    assert t.mdlp(X4, L4, 2**63 - 1, 1, 2**31 - 1, 1.0, 1.0, False)["found"].tolist() == [False]


@pytest.mark.parametrize(
    "alpha, beta", [(NAN, 1.0), (INF, 1.0), (-INF, 1.0), (1.0, NAN), (1.0, INF), (1.0, -INF)]
)
def test_special_cost_weights_give_consistent_decisions(alpha, beta):
    # A NaN or +inf cost never pays for a split; -inf always does.
    x, y = list(range(12)), [0, 0, 0, 1, 1, 1, 0, 0, 1, 1, 1, 1]
    for r in (
        t.mdlp(x, y, 0, 0, 0, alpha, beta, False),
        t.mdlp_raw(x, y, 0, 0, 0, alpha, beta, False),
        t.mdlp_full(x, y, 0, 0, 0, alpha, beta, False)["mdlp"],
    ):
        assert r["found"].tolist() == (r["gain"] > r["cost"]).tolist()
        assert r["found"][0] == (-INF in (alpha, beta))
    r = t.evaluate_segment(
        [0.0, 2.5, 5.0, 7.5, 11.0], [0, 3, 3, 5, 5], [0, 0, 3, 3, 7], 0, 4, 0, 0, 0, alpha, beta
    )
    assert r["found"] == (r["gain"] > r["cost"])


@pytest.mark.parametrize("special", [NAN, INF, -INF])
def test_special_scalars_that_are_not_read_or_are_used_unchanged(special):
    yc = [0.5, 1.5, 2.5, 3.5]
    for call in (
        t.preprocess_data_native,
        t.compute_boundaries_raw,  # a binary target
        lambda *a: t.mdlp_raw(*a[:2], *SEARCH, *a[2:]),  # leaves the
        lambda *a: t.mdlp_full_raw(*a[:2], *SEARCH, *a[2:]),
    ):  # percentile unread
        call(X4, Y4, None, special)
    r = t.mdlp_full_raw(X4, yc, *SEARCH, special)
    assert same(r["metadata"]["threshold"], special)
    assert t.preprocess_data_native(X4, yc, special)["y"].tolist() == [int(special == -INF)] * 4
    assert t.binning_splits(X4, "equal_width", 3, "full", special, special, 1.5, []).size == 2
    assert t.binning_splits(X4, "quantile", 3, "iqr", 0.0, 1.0, special, []).size == 2
    assert t.membership_native([1.0, NAN], [special]).tolist() == [[1.0, 0.0], [0.0, 1.0]]


# --------------------------------------------------- errors in check order

PCT = "preprocess_data: percentile debe estar entre 0 y 100"
MONO = "monotonicity debe estar en 0..3"
SEG_LR = "evaluate_segment: L y R deben cumplir L < R < length(B)"
CUTS = "binning: los puntos de corte deben ser finitos, crecientes y únicos"
BOUNDS = "binning: lower_quantile debe ser menor que upper_quantile"
K = "binning: k debe ser finito y no negativo"
NOX = "binning: x no contiene valores finitos"
LEN = "binning: x e y deben tener la misma longitud"
REP = "representative debe ser 'mean' o 'median'"
SAMPLE = "compare_distributions: muestras vacías o epsilon inválido"
SPLITS = "compare_distributions: splits deben ser finitos, crecientes y únicos"
REPS = "membership: representantes deben ser crecientes y únicos"
DIMS = "aggregate_membership: dimensiones incompatibles"
CAST = "Unable to cast Python instance of type "
BIND = "incompatible function arguments"
YC = [0.5, 1.5, 2.5, 3.5]  # a continuous target: the percentile is read


def splits(x=X4, method="equal_width", n=3, rng="full", lo=0.0, hi=1.0, k=1.5, custom=()):
    return lambda: t.binning_splits(x, method, n, rng, lo, hi, k, list(custom))


def search(fn, x, y, *rest, mono=0, minobs=0, direction=0, **kw):
    return lambda: fn(x, y, minobs, mono, direction, 1.0, 1.0, False, *rest, **kw)


ERRORS = [
    (lambda: t.suma(a=1, b=2), TypeError, BIND),
    (lambda: t.suma("1", 2), TypeError, BIND),
    (lambda: t.suma(1), TypeError, BIND),
    (
        lambda: t.compute_boundaries(X4, L4[:3], sorted=False),
        ValueError,
        "compute_boundaries: x e y deben tener la misma longitud",
    ),
    (
        lambda: t.compute_boundaries(X4, L4, sorted=False),
        ValueError,
        "compute_boundaries: usa sorted=True (los datos deben venir ya limpios y ordenados)",
    ),
    (
        lambda: t.compute_boundaries_raw(X4, Y4[:3], "x"),
        ValueError,
        "compute_boundaries: x e y deben tener la misma longitud",
    ),
    (lambda: t.compute_boundaries_raw(X4, YC, None, 120.0), ValueError, PCT),
    (lambda: t.compute_boundaries_raw(X4, Y4, "0.5"), RuntimeError, CAST),
    (
        lambda: t.evaluate_segment([1.0, 2.0], [0, 1, 1], [0, 0], 0, 1, 0, 9, 0, 1.0, 1.0),
        ValueError,
        "evaluate_segment: pto_corte, c0 y c1 deben tener la misma longitud",
    ),
    (
        lambda: t.evaluate_segment([], [], [], 0, 1, 0, 9, 0, 1.0, 1.0),
        ValueError,
        "evaluate_segment: no hay boundaries en B",
    ),
    (lambda: t.evaluate_segment(*SEGMENT, 2, 2, 0, 9, 0, 1.0, 1.0), ValueError, SEG_LR),
    (lambda: t.evaluate_segment(*SEGMENT, 0, 3, 0, 9, 0, 1.0, 1.0), ValueError, SEG_LR),
    (lambda: t.evaluate_segment(*SEGMENT, 0, 2**64 - 1, 0, 0, 0, 1.0, 1.0), ValueError, SEG_LR),
    (lambda: t.evaluate_segment(*SEGMENT, 0, 2, 0, 4, 0, 1.0, 1.0), ValueError, MONO),
    (lambda: t.evaluate_segment(*SEGMENT, 0, 2, 0, -1, 0, 1.0, 1.0), ValueError, MONO),
    (lambda: t.evaluate_segment(*SEGMENT, -1, 2, 0, 0, 0, 1.0, 1.0), TypeError, BIND),
    (lambda: t.evaluate_segment(*SEGMENT, 0, 2**64, 0, 0, 0, 1.0, 1.0), TypeError, BIND),
    (search(t.mdlp, X4, L4[:3], mono=9), ValueError, "mdlp: x e y deben tener la misma longitud"),
    (search(t.mdlp_raw, X4, [], mono=9), ValueError, "mdlp: x e y deben tener la misma longitud"),
    (
        search(t.mdlp_full, X4, L4[:1], mono=9),
        ValueError,
        "mdlp_with_summary: x e y deben tener la misma longitud",
    ),
    (
        search(t.mdlp_full_raw, X4, Y4[:3], mono=4, value="a", representative="x"),
        ValueError,
        "mdlp_full: x e y deben tener la misma longitud",
    ),
    *[
        (search(fn, X4, L4, mono=m), ValueError, MONO)
        for fn, m in [(t.mdlp, -1), (t.mdlp, 2**31 - 1), (t.mdlp_full, 4), (t.mdlp_full, -(2**31))]
    ],
    (search(t.mdlp_raw, X4, Y4, "bad", mono=7), ValueError, MONO),
    (search(t.mdlp_raw, X4, Y4, "bad", mono=3), RuntimeError, CAST),
    (search(t.mdlp_raw, X4, YC, None, INF), ValueError, PCT),
    (search(t.mdlp_full_raw, X4, Y4, mono=-1, value="a"), ValueError, MONO),
    (search(t.mdlp_full_raw, X4, Y4, value="a", representative="x"), RuntimeError, CAST),
    (search(t.mdlp_full_raw, X4, Y4, representative="Median"), ValueError, REP),
    (search(t.mdlp_full_raw, X4, YC, percentile=NAN, representative="mean"), ValueError, PCT),
    *[
        (search(fn, X4, L4, **kw), TypeError, BIND)
        for fn, kw in [
            (t.mdlp, {"minobs": 2**63}),
            (t.mdlp, {"minobs": -(2**63) - 1}),
            (t.mdlp, {"minobs": 2.0}),
            (t.mdlp_raw, {"mono": 2**31}),
            (t.mdlp_full, {"direction": -(2**31) - 1}),
            (t.mdlp_full_raw, {"minobs": 0.0}),
        ]
    ],
    (
        lambda: t.preprocess_data_native(X4, Y4 + [1.0], "0.5"),
        ValueError,
        "preprocess_data: x e y deben tener la misma longitud",
    ),
    (lambda: t.preprocess_data_native(X4, Y4, "0.5"), RuntimeError, CAST),
    (lambda: t.preprocess_data_native(X4, YC, percentile=-INF), ValueError, PCT),
    (lambda: t.preprocess_data_native("abc", [1.0]), TypeError, BIND),
    (lambda: t.preprocess_data_native([1.0], [object()]), TypeError, BIND),
    (lambda: t.preprocess_data_native([1.0], [1.0], percentile="75"), TypeError, BIND),
    (lambda: t.preprocess_data_native([1.0], [1.0], bogus=1), TypeError, BIND),
    (lambda: t.preprocess_data_native([1.0]), TypeError, BIND),
    # Custom cut points are checked first, then the method, the range, n_bins,
    # x, and what the range reads.
    (
        splits(x=[], method="custom", n=0, custom=[[1.0, 2.0]]),
        ValueError,
        "binning: los puntos de corte deben ser unidimensionales",
    ),
    (splits(x=[], method="custom", n=0, rng="bad", custom=[1, 2, 2]), ValueError, CUTS),
    (splits(method="custom", custom=[2, 1]), ValueError, CUTS),
    (splits(method="custom", custom=[1, NAN]), ValueError, CUTS),
    (splits(method="custom", custom=[-INF, 1]), ValueError, CUTS),
    (
        splits(x=[], method="Equal_width", n=0, rng="bad"),
        ValueError,
        "binning: method no reconocido",
    ),
    (splits(x=[], method="", n=0), ValueError, "binning: method no reconocido"),
    (splits(x=[], n=0, rng="Full"), ValueError, "range debe ser 'full', 'quantile' o 'iqr'"),
    (splits(x=[], n=0), ValueError, "binning: n_bins debe ser al menos 1"),
    (splits(x=[], method="quantile", n=0), ValueError, "binning: n_bins debe ser al menos 1"),
    (splits(x=[NAN, INF], n=1), ValueError, NOX),
    (splits(x=[], method="quantile", n=1), ValueError, NOX),
    (splits(x=[NAN], rng="quantile", lo=0.9, hi=0.1), ValueError, NOX),
    (splits(x=[NAN], rng="iqr", k=-1), ValueError, NOX),
    (splits(rng="quantile", lo=0.5, hi=0.5), ValueError, BOUNDS),
    (splits(rng="quantile", lo=-INF, hi=1.0), ValueError, BOUNDS),
    (splits(rng="iqr", k=INF), ValueError, K),
    *[(splits(method="quantile", n=n), TypeError, BIND) for n in (-1, 2**64, 2.0)],
    (lambda: t.binning_splits(X4, "quantile", 2, "full", 0.0, 1.0, 1.5), TypeError, BIND),
    *[
        (
            lambda c=c: t.binning_transform([], [1.0, c]),
            ValueError,
            "binning: los puntos de corte deben ser finitos",
        )
        for c in (INF, -INF, NAN)
    ],
    *[
        (lambda f=f, a=a: f(*a), ValueError, m)
        for f in (t.binning_summary_binary, t.binning_summary_continuous)
        for a, m in [
            (([1, 2], [0], [INF], "Mean"), LEN),
            (([1, 2], [0, 1], [NAN], "Mean"), "binning: los puntos de corte deben ser finitos"),
            (([1, 2], [0, 1], [1.5], "Mean"), REP),
            (([1, 2], [0, 1], [1.5], ""), REP),
        ]
    ],
    (
        lambda: t.binning_summary_binary([1.0, 2.0, NAN], [0, 1, 2**31 - 1], []),
        ValueError,
        "binning: y debe contener solo 0 y 1",
    ),
    *[
        (lambda a=a: t.compare_distributions_native(*a), ValueError, m)
        for a, m in [
            (([1.0], [], []), SAMPLE),
            (([1.0], [1.0], [0.0, INF]), SPLITS),
            ((X4, X4, [2.5], NAN), SAMPLE),
        ]
    ],
    *[
        (lambda a=a: t.lorenz_curve_native(*a), ValueError, "lorenz_curve: " + m)
        for a, m in [
            ((X4, L4[:3]), "x e y deben tener la misma longitud"),
            ((X4, [0, 1, -(2**31), 0]), "y debe contener solo 0 y 1"),
            (([], []), "se necesitan ambas clases"),
        ]
    ],
    *[
        (lambda a=a: t.membership_native(*a), ValueError, m)
        for a, m in [
            (([1.0], []), "membership: faltan representantes"),
            (([1.0], [INF, INF]), REPS),
            # Between an infinite and a finite representative the weight would be inf / inf.
            (([-5.0, 0.5, NAN], [1.0, 2.0, INF]), "membership: representantes deben ser finitos"),
        ]
    ],
    *[
        (lambda a=a: t.aggregate_membership_native(*a), ValueError, m)
        for a, m in [
            (([1.0, 0.0], [1.0, 2.0]), DIMS),
            ((np.ones((2, 3)), [1.0, 2.0]), DIMS),
            (([[1.0, 0.0]], [1.0, 2.0, 3.0]), DIMS),
            ((np.empty((0, 2, 1)), [1.0, 2.0]), DIMS),
            *[
                ((np.empty(s), []), "aggregate_membership: k debe ser positivo")
                for s in ((2, 0), (0, 0), (3, 0))
            ],
        ]
    ],
]


@pytest.mark.parametrize("call, exc, message", ERRORS)
def test_errors(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    if message == BIND:
        assert BIND in str(info.value)
    elif message == CAST:
        assert str(info.value).startswith(CAST)
    elif message is not None:
        assert str(info.value) == message


@pytest.mark.skipif(UNDER_ASAN, reason="allocation failure is fatal under ASan")
@pytest.mark.parametrize("method", ["equal_width", "quantile"])
@pytest.mark.parametrize("n_bins", [2**45, 2**62, 2**64 - 1])  # beyond memory, beyond any vector
def test_bin_counts_beyond_memory_raise_memory_error(method, n_bins):
    with pytest.raises(MemoryError):
        t.binning_splits(X4, method, n_bins, "full", 0.0, 1.0, 1.5, [])
