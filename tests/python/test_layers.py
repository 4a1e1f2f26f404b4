"""The package's layers: imports only point down (the import-linter contract
of pyproject.toml), and a module that imports upward breaks the contract."""

import pathlib
import shutil
import subprocess
import sys

import pytest
from package_under_test import ROOT

LINT = pathlib.Path(sys.executable).with_name("lint-imports")
pytestmark = pytest.mark.skipif(
    not LINT.exists(), reason="import-linter is not installed (it is pinned in requirements.txt)"
)


def lint(package_parent: pathlib.Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [str(LINT), "--config", str(ROOT / "pyproject.toml"), "--no-cache"],
        cwd=package_parent,
        capture_output=True,
        text=True,
    )


def test_the_package_keeps_its_layers():
    run = lint(ROOT / "python")
    assert run.returncode == 0, run.stdout + run.stderr


@pytest.mark.parametrize(
    "module, back_import, broken",
    [
        (
            "_binning/numeric.py",
            "from .._table_binning import TableBinning",
            "tessaline is layered",
        ),
        (
            "_formats/sql.py",
            "from .._binning.binning_table import BinningTable",
            "tessaline is layered",
        ),
        ("_binning/binning_table.py", "from .numeric import mdlp_rows", "no import circle"),
    ],
)
def test_an_upward_import_breaks_the_contract(tmp_path, module, back_import, broken):
    copy = tmp_path / "tessaline"
    shutil.copytree(
        ROOT / "python" / "tessaline", copy, ignore=shutil.ignore_patterns("__pycache__")
    )
    with open(copy / module, "a") as source:
        source.write(f"\n{back_import}  # noqa\n")
    run = lint(tmp_path)
    verdicts = [
        line
        for line in run.stdout.splitlines()
        if line.endswith(("KEPT", "BROKEN")) or "KEPT (" in line or "BROKEN (" in line
    ]
    assert run.returncode != 0
    assert [line for line in verdicts if "BROKEN" in line and line.startswith(broken)], run.stdout
