"""The type stub of _tessaline against the module: every function's argument
names, kinds, defaults and result type agree with the signature it prints, each
result holds exactly the stub's keys and dtypes, an installation ships the stub,
and mypy --strict accepts the package and catches a caller's misuse."""

import ast
import pathlib
import re
import shutil
import subprocess
import sys

import numpy as np
import pytest
from native_calls import CALLS
from package_under_test import PACKAGE_DIR, ROOT, subprocess_env

import _tessaline

STUB = ROOT / "bindings" / "_tessaline.pyi"
NODES = ast.parse(STUB.read_text()).body
FUNCTIONS = {n.name: n for n in NODES if isinstance(n, ast.FunctionDef)}
TYPED_DICTS = {
    n.name: {s.target.id: ast.unparse(s.annotation) for s in n.body if isinstance(s, ast.AnnAssign)}
    for n in NODES
    if isinstance(n, ast.ClassDef)
}
KINDS = [
    ("ArrayLike", "array"),
    ("_Int", "int"),
    ("SupportsInt", "int"),
    ("| None", "object"),
    ("object", "object"),
    ("_Float", "float"),
    ("SupportsFloat", "float"),
    ("bool", "bool"),
    ("str", "str"),
]
PRINTED = {
    "_F64": "numpy.typing.NDArray[numpy.float64]",
    "_I64": "numpy.typing.NDArray[numpy.int64]",
    "float": "float",
}
DTYPES = {
    "_F64": np.float64,
    "_I64": np.int64,
    "_I32": np.int32,
    "npt.NDArray[np.bool_]": np.bool_,
    "float": float,
    "int": int,
    "bool": bool,
}


def kind(annotation):
    return next(k for needle, k in KINDS if needle in annotation)


def printed_signature(name):
    """(name, kind, default) of each argument and the result, from the docstring."""
    match = re.fullmatch(
        rf"{name}\((.*)\) -> (.*)", getattr(_tessaline, name).__doc__.splitlines()[0]
    )
    params = []
    for part in re.split(r", (?=\w+: )", match.group(1)):
        head, has_default, default = part.partition(" = ")
        arg, _, annotation = head.partition(": ")
        params.append((arg, kind(annotation), ast.literal_eval(default) if has_default else "-"))
    return params, match.group(2)


@pytest.mark.parametrize("name", [n for n in vars(_tessaline) if not n.startswith("__")])
def test_stub_signature_agrees_with_the_printed_one(name):
    assert list(FUNCTIONS) == [n for n in vars(_tessaline) if not n.startswith("__")]
    node = FUNCTIONS[name]
    positional = node.args.posonlyargs + node.args.args
    defaults = ["-"] * (len(positional) - len(node.args.defaults)) + [
        ast.literal_eval(d) for d in node.args.defaults
    ]
    result = ast.unparse(node.returns)
    assert (
        [(a.arg, kind(ast.unparse(a.annotation)), d) for a, d in zip(positional, defaults)],
        PRINTED.get(result, "dict" if result in TYPED_DICTS else result),
    ) == printed_signature(name)
    # suma's arguments have no names at run time: positional only in the stub too.
    assert (len(node.args.posonlyargs) > 0) == (name == "suma")
    assert not node.args.kwonlyargs and node.args.vararg is None and node.args.kwarg is None


def check_typed(value, annotation):
    if annotation in TYPED_DICTS:
        assert list(value) == list(TYPED_DICTS[annotation]), annotation
        for key, field in TYPED_DICTS[annotation].items():
            check_typed(value[key], field)
    elif isinstance(value, np.ndarray):
        assert value.dtype == DTYPES[annotation] and value.flags.c_contiguous
    else:
        assert type(value) is DTYPES[annotation], annotation


@pytest.mark.parametrize("name", list(CALLS))
def test_results_hold_the_stated_keys_and_dtypes(name):
    fn, args, _ = CALLS[name]
    check_typed(fn(*args), ast.unparse(FUNCTIONS[name].returns))


def test_an_installation_holds_the_package_and_the_stubs_beside_the_module():
    module_dir = pathlib.Path(_tessaline.__file__).resolve().parent
    if module_dir.name != "site-packages":
        pytest.skip("_tessaline comes from a build tree here, not from an installation")
    assert PACKAGE_DIR.parent == module_dir and (PACKAGE_DIR / "py.typed").is_file()
    for stub in (module_dir / "_tessaline.pyi", module_dir / "_tessaline-stubs" / "__init__.pyi"):
        assert stub.read_text() == STUB.read_text()


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


@pytest.mark.skipif(
    subprocess.run([sys.executable, "-c", "import mypy"]).returncode != 0,
    reason="mypy is not installed (it is pinned in requirements.txt)",
)
def test_mypy_strict_accepts_the_package_and_catches_misuse(tmp_path):
    # One run over one caller: mypy follows its imports into a copy of the
    # package (an installed one would be checked silently) and into the stub.
    stubs, src = tmp_path / "stubs", tmp_path / "src"
    stubs.mkdir()
    shutil.copy(STUB, stubs / "_tessaline.pyi")
    shutil.copytree(PACKAGE_DIR, src / "tessaline", ignore=shutil.ignore_patterns("__pycache__"))
    (src / "caller.py").write_text(CALLER)
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--config-file", str(ROOT / "pyproject.toml"), "caller.py"],
        cwd=src,
        capture_output=True,
        text=True,
        env=subprocess_env(MYPYPATH=str(stubs), MYPY_CACHE_DIR=str(tmp_path / "cache")),
    )
    errors = [line.split(":")[:2] for line in run.stdout.splitlines() if ": error:" in line]
    assert errors == [["caller.py", "11"], ["caller.py", "12"]], run.stdout + run.stderr
