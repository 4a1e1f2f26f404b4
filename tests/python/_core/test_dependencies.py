"""The optional libraries: imported by one module of the package only, each
missing one an error that names the extra to install, and every result's
DataFrame of each kind holding what its pandas one holds."""

import ast
import sys

import numpy as np
import pandas as pd
import pytest
from package_under_test import ROOT
from package_under_test import tessaline as tl

from tessaline._core import dependencies
from tessaline._core.result_frames import columns_frame, rows_frame

PACKAGE = ROOT / "python" / "tessaline"
DOOR = PACKAGE / "_core" / "dependencies.py"
# psycopg is never imported: the engines read the connections callers pass.
OPTIONAL = {*dependencies.EXTRAS, "psycopg"}


def _is_type_checking(test: ast.expr) -> bool:
    return isinstance(test, ast.Name | ast.Attribute) and ast.unparse(test).endswith(
        "TYPE_CHECKING"
    )


def runtime_imports(source: str) -> list[tuple[int, str]]:
    """(line, module) of every import of an optional library that runs, not
    only under ``if TYPE_CHECKING:``, including ``importlib.import_module``."""
    found: list[tuple[int, str]] = []

    def visit(node: ast.AST) -> None:
        if isinstance(node, ast.If) and _is_type_checking(node.test):
            for child in node.orelse:
                visit(child)
            return
        names: list[str] = []
        if isinstance(node, ast.Import):
            names = [alias.name for alias in node.names]
        elif isinstance(node, ast.ImportFrom) and node.level == 0 and node.module:
            names = [node.module]
        elif (
            isinstance(node, ast.Call)
            and ast.unparse(node.func).endswith(("import_module", "__import__"))
            and node.args
            and isinstance(node.args[0], ast.Constant)
            and isinstance(node.args[0].value, str)
        ):
            names = [node.args[0].value]
        found.extend((node.lineno, n) for n in names if n.partition(".")[0] in OPTIONAL)  # type: ignore[attr-defined]
        for child in ast.iter_child_nodes(node):
            visit(child)

    visit(ast.parse(source))
    return found


def test_optional_libraries_are_imported_by_one_module_only():
    offending = [
        f"{path.relative_to(PACKAGE)}:{line} imports {module}"
        for path in sorted(PACKAGE.rglob("*.py"))
        if path != DOOR
        for line, module in runtime_imports(path.read_text())
    ]
    assert offending == [], "import them through tessaline._core.dependencies"


@pytest.mark.parametrize(
    "source, lines",
    [
        ("def f():\n    import pandas\n", [(2, "pandas")]),
        ("import importlib\nimportlib.import_module('duckdb')\n", [(2, "duckdb")]),
        ("if TYPE_CHECKING:\n    import pandas\nelse:\n    import polars\n", [(4, "polars")]),
        ("if typing.TYPE_CHECKING:\n    from matplotlib.axes import Axes\n", []),
        ("import pandasql\nfrom .pandas import x\n", []),
    ],
)
def test_the_check_sees_every_runtime_import(source, lines):
    assert runtime_imports(source) == lines


@pytest.fixture
def without(monkeypatch):
    """Makes a library look uninstalled, as a None in sys.modules does, with
    its modules that are loaded already."""

    def block(library):
        for name in [n for n in sys.modules if n.partition(".")[0] == library]:
            monkeypatch.setitem(sys.modules, name, None)
        monkeypatch.setitem(sys.modules, library, None)

    return block


@pytest.mark.parametrize(
    "call, library, message",
    [
        (
            lambda: tl.custom_binning([1.0, 2.0], [0, 1], [1.5]).to_frame(kind="polars"),
            "polars",
            "BinningTable.to_frame(kind='polars') needs polars: pip install 'tessaline[polars]'",
        ),
        (
            lambda: tl.Scorecard(event="bad").fit(tl.datasets.german_credit(), "creditability"),
            "sklearn",
            "Scorecard without an estimator needs scikit-learn: pip install 'tessaline[sklearn]'",
        ),
        (
            lambda: tl.datasets.german_credit(as_frame=True),
            "pandas",
            "german_credit(as_frame=True) needs pandas: pip install 'tessaline[pandas]'",
        ),
    ],
)
def test_a_missing_library_names_its_extra(without, call, library, message):
    without(library)
    with pytest.raises(tl.MissingDependencyError) as raised:
        call()
    assert str(raised.value) == message
    assert isinstance(raised.value, ImportError)


def test_an_error_inside_an_installed_library_is_not_taken_for_its_absence(tmp_path, monkeypatch):
    (tmp_path / "openpyxl").mkdir()
    (tmp_path / "openpyxl" / "__init__.py").write_text("import a_module_openpyxl_lost\n")
    monkeypatch.syspath_prepend(str(tmp_path))
    monkeypatch.delitem(sys.modules, "openpyxl", raising=False)
    with pytest.raises(ModuleNotFoundError) as raised:
        dependencies.require("openpyxl", "the workbook")
    assert type(raised.value) is ModuleNotFoundError
    assert raised.value.name == "a_module_openpyxl_lost"


def test_an_unknown_frame_kind_is_refused():
    with pytest.raises(
        ValueError, match=r"^kind must be one of 'pandas', 'polars', 'arrow', not 'excel'$"
    ):
        tl.gini([1.0, 2.0], [0, 1]).to_frame(kind="excel")


@pytest.mark.parametrize("kind", ["polars", "arrow"])
@pytest.mark.parametrize(
    "make",
    [
        lambda kind: columns_frame(
            {"bin": ["(-inf, 1]", "missing"], "count": np.array([3, 0])}, kind, "f"
        ),
        lambda kind: rows_frame([("a", 1.5, None), ("b", 2, "x")], ("v", "w", "note"), kind, "f"),
        lambda kind: rows_frame([{"v": "a", "w": 1}, {"v": "b", "w": 2.5}], None, kind, "f"),
    ],
)
def test_every_kind_of_frame_holds_the_pandas_frame(make, kind):
    other = make(kind)
    assert type(other).__module__.partition(".")[0] == ("pyarrow" if kind == "arrow" else kind)
    pd.testing.assert_frame_equal(other.to_pandas(), make("pandas"), check_dtype=False)
