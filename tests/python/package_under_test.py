"""Finds the tessaline package for the package tests: the installed one (make
test installs it beside _tessaline), or else the sources in python/, as in a
bare build tree such as the sanitizer's. Subprocesses get the same one."""

import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
try:
    import tessaline
except ImportError:
    sys.path.insert(0, str(ROOT / "python"))
    import tessaline
PACKAGE_DIR = pathlib.Path(tessaline.__file__).resolve().parent


def subprocess_env(**extra: str) -> dict[str, str]:
    """The environment for a Python subprocess that must import the same package."""
    env = dict(os.environ, **extra)
    env["PYTHONPATH"] = os.pathsep.join(
        p for p in (env.get("PYTHONPATH"), str(PACKAGE_DIR.parent)) if p
    )
    return env
