"""The type stub of _tessaline: stubtest finds nothing to report, every function's
argument names, kinds, defaults and result type agree with the signature the
module prints, the result dictionaries hold exactly the stub's keys and dtypes,
and mypy --strict accepts the package and catches a misuse by a caller."""
import ast
import pathlib
import re
import shutil
import subprocess
import sys
import textwrap

import pytest

import _tessaline
from package_under_test import PACKAGE_DIR, ROOT, subprocess_env

STUB = ROOT / "bindings" / "_tessaline.pyi"

needs_mypy = pytest.mark.skipif(
    subprocess.run([sys.executable, "-c", "import mypy"], capture_output=True).returncode != 0,
    reason="mypy is not installed (it is pinned in requirements.txt)")


STUB_NODES = ast.parse(STUB.read_text()).body
STUB_FUNCTIONS = {n.name: n for n in STUB_NODES if isinstance(n, ast.FunctionDef)}
TYPED_DICTS = {n.name for n in STUB_NODES if isinstance(n, ast.ClassDef)}
FUNCTIONS = [n for n in vars(_tessaline) if not n.startswith("__")]
KINDS = [("ArrayLike", "array"), ("_Int", "int"), ("SupportsInt", "int"), ("| None", "object"),
         ("object", "object"), ("_Float", "float"), ("SupportsFloat", "float"), ("bool", "bool"),
         ("str", "str")]
RESULTS = {"_F64": "numpy.typing.NDArray[numpy.float64]",
           "_I64": "numpy.typing.NDArray[numpy.int64]", "float": "float"}


def kind(annotation):
    return next(k for needle, k in KINDS if needle in annotation)


def runtime_signature(name):
    """(name, kind, default) of each argument and the result, from the printed signature."""
    match = re.fullmatch(rf"{name}\((.*)\) -> (.*)", getattr(_tessaline, name).__doc__.splitlines()[0])
    params = []
    for part in re.split(r", (?=\w+: )", match.group(1)):
        head, has_default, default = part.partition(" = ")
        arg, _, annotation = head.partition(": ")
        params.append((arg, kind(annotation), ast.literal_eval(default) if has_default else "-"))
    return params, match.group(2)


def stub_signature(node):
    positional = node.args.posonlyargs + node.args.args
    defaults = ["-"] * (len(positional) - len(node.args.defaults)) + [
        ast.literal_eval(d) for d in node.args.defaults]
    result = ast.unparse(node.returns)
    return ([(a.arg, kind(ast.unparse(a.annotation)), d) for a, d in zip(positional, defaults)],
            RESULTS.get(result, "dict" if result in TYPED_DICTS else result))


@pytest.mark.parametrize("name", FUNCTIONS)
def test_stub_signature_agrees_with_the_printed_one(name):
    assert list(STUB_FUNCTIONS) == FUNCTIONS
    node = STUB_FUNCTIONS[name]
    assert stub_signature(node) == runtime_signature(name)
    # suma's arguments have no names at run time: positional only in the stub too.
    assert (len(node.args.posonlyargs) > 0) == (name == "suma")
    assert not node.args.kwonlyargs and node.args.vararg is None and node.args.kwarg is None


def test_an_installation_holds_the_package_and_the_stubs_beside_the_module():
    module_dir = pathlib.Path(_tessaline.__file__).resolve().parent
    if module_dir.name != "site-packages":
        pytest.skip("_tessaline comes from a build tree here, not from an installation")
    assert PACKAGE_DIR.parent == module_dir
    assert (PACKAGE_DIR / "py.typed").is_file()
    for stub in (module_dir / "_tessaline.pyi", module_dir / "_tessaline-stubs" / "__init__.pyi"):
        assert stub.read_text() == STUB.read_text()


def mypy_env(tmp_path, stub_dir):
    return subprocess_env(MYPYPATH=str(stub_dir), MYPY_CACHE_DIR=str(tmp_path / "cache"))


@needs_mypy
def test_stubtest_finds_no_mismatch(tmp_path):
    stubs = tmp_path / "stubs"
    stubs.mkdir()
    shutil.copy(STUB, stubs / "_tessaline.pyi")
    run = subprocess.run([sys.executable, "-m", "mypy.stubtest", "_tessaline"], cwd=tmp_path,
                         env=mypy_env(tmp_path, stubs), capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "Success: no issues found in 1 module" in run.stdout


CALLER = """\
import numpy as np
import _tessaline
import tessaline as tl

result = _tessaline.mdlp_full_raw(np.array([1.0, 2.0]), [0, 1], 0, 0, 0, 1.0, 1.0, False)
used: int = result["metadata"]["n_used"]
rates: np.ndarray = result["summary"]["event_rate"]
table = tl.mdlp_binning([1.0, 2.0, 3.0], [0, 1, 1], minobs=0)
iv: float = table.information_value
woe = table.transform([1.5], output="woe")
threshold: str = result["metadata"]["threshold"]  # line 11: wrong type
_tessaline.binning_transform([1.0], splitz=[0.5])  # line 12: no such argument
"""


@needs_mypy
def test_mypy_strict_accepts_the_package_and_catches_misuse(tmp_path):
    stubs, src = tmp_path / "stubs", tmp_path / "src"
    stubs.mkdir()
    shutil.copy(STUB, stubs / "_tessaline.pyi")
    shutil.copytree(PACKAGE_DIR, src / "tessaline",
                    ignore=shutil.ignore_patterns("__pycache__"))
    (src / "caller.py").write_text(CALLER)
    (tmp_path / "mypy.ini").write_text(textwrap.dedent("""\
        [mypy]
        strict = True
        [mypy-pandas.*,sklearn.*]
        ignore_missing_imports = True
        """))
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--config-file", str(tmp_path / "mypy.ini"),
         "tessaline", "caller.py"],
        cwd=src, env=mypy_env(tmp_path, stubs), capture_output=True, text=True)
    errors = [line for line in run.stdout.splitlines() if ": error:" in line]
    assert [e.split(":")[:2] for e in errors] == [["caller.py", "11"], ["caller.py", "12"]], \
        run.stdout + run.stderr
