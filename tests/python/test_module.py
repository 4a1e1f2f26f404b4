"""The module frame: docstring, function table, scalar conversions, import guard."""
import glob
import math
import os
import shutil
import subprocess

import numpy as np
import pytest

import _tessaline

TABLE_ORDER = [
    "suma", "compute_boundaries", "compute_boundaries_raw", "evaluate_segment", "mdlp_full",
    "mdlp", "mdlp_raw", "mdlp_full_raw", "preprocess_data_native", "binning_splits",
    "binning_transform", "binning_summary_binary", "binning_summary_continuous",
    "compare_distributions_native", "lorenz_curve_native", "membership_native",
    "aggregate_membership_native",
]


def test_module_docstring():
    assert _tessaline.__doc__ == "Python c_api bindings for the tessaline C++ library"


def test_functions_are_registered_in_table_order():
    registered = [name for name in vars(_tessaline) if not name.startswith("__")]
    assert registered == [name for name in TABLE_ORDER if name in registered]
    assert {"suma", "preprocess_data_native"} <= set(registered)


def test_docstrings_carry_signature_then_text():
    doc = _tessaline.preprocess_data_native.__doc__
    assert doc.startswith("preprocess_data_native(x: typing.Annotated[numpy.typing.ArrayLike, "
                          "numpy.float64], y: typing.Annotated[numpy.typing.ArrayLike, "
                          "numpy.float64], value: object = None, percentile: "
                          "typing.SupportsFloat | typing.SupportsIndex = 50.0) -> dict")
    assert doc.rstrip().endswith("Preprocesado compartido: filtra, binariza y ordena en C++")
    assert _tessaline.suma.__doc__.rstrip().endswith("Suma dos valores")


@pytest.mark.parametrize("a, b, expected", [
    (1, 2, 3.0), (0.1, 0.2, 0.1 + 0.2), (np.float32(1.5), True, 2.5),
    (math.inf, 1.0, math.inf), (math.inf, -math.inf, math.nan),
])
def test_suma_is_ieee_addition(a, b, expected):
    result = _tessaline.suma(a, b)
    assert type(result) is float
    assert result == expected or (math.isnan(expected) and math.isnan(result))


@pytest.mark.parametrize("call", [
    lambda: _tessaline.suma(a=1, b=2),
    lambda: _tessaline.suma("1", 2),
    lambda: _tessaline.suma(1),
])
def test_suma_binding_failures_raise_type_error(call):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call()


def _other_series_python():
    """A CPython of another series (3.12 under pyenv, or on PATH), if any."""
    roots = []
    if shutil.which("pyenv"):
        root = subprocess.run(["pyenv", "root"], capture_output=True, text=True).stdout.strip()
        roots = sorted(glob.glob(os.path.join(root, "versions", "3.12*", "bin", "python3.12")))
    for candidate in roots + [shutil.which("python3.12") or ""]:
        if candidate and subprocess.run([candidate, "-c", "pass"],
                                        capture_output=True).returncode == 0:
            return candidate
    return None


def test_import_under_another_python_series_fails_with_version_message(tmp_path):
    python = _other_series_python()
    if python is None:
        pytest.skip("no Python 3.12 interpreter on this machine")
    # Another series looks only for untagged extension names; lazy binding lets
    # the module's own version check run before any 3.13-only symbol is needed.
    shutil.copy(_tessaline.__file__, tmp_path / "_tessaline.so")
    code = ("import os, sys; sys.setdlopenflags(os.RTLD_LAZY); "
            f"sys.path.insert(0, {str(tmp_path)!r})\n"
            "try:\n    import _tessaline\nexcept ImportError as e:\n    print(e)\n"
            "else:\n    print('imported')")
    out = subprocess.run([python, "-c", code], capture_output=True, text=True).stdout
    assert out.startswith("Python version mismatch: module was compiled for Python 3.13, "
                          "but the interpreter version is incompatible: 3.12")
