"""The optional libraries, imported here and nowhere else in the package.

NumPy is the one library tessaline cannot do without. pandas, polars,
pyarrow, matplotlib, scikit-learn, DuckDB, openpyxl and pyspark each serve
some functions only, and come with an extra of tessaline
(``pip install 'tessaline[pandas]'``). `require` imports one on first use;
when it is not installed, the caller gets a `MissingDependencyError` naming
the function that needed it and the extra that installs it.

Asking whether an object belongs to one of these libraries imports nothing:
an object of pandas exists only once pandas is loaded, so a library absent
from ``sys.modules`` answers no at once. ``import tessaline`` loads none of
them."""

from __future__ import annotations

import importlib
import sys
from types import ModuleType
from typing import Any

from ..exceptions import MissingDependencyError

# The import name of each optional library: its name on the package index
# and the extra of tessaline that installs it.
EXTRAS: dict[str, tuple[str, str]] = {
    "pandas": ("pandas", "pandas"),
    "polars": ("polars", "polars"),
    "pyarrow": ("pyarrow", "arrow"),
    "matplotlib": ("matplotlib", "plot"),
    "sklearn": ("scikit-learn", "sklearn"),
    "duckdb": ("duckdb", "duckdb"),
    "openpyxl": ("openpyxl", "excel"),
    "pyspark": ("pyspark", "spark"),
}


def missing_message(library: str, needed_by: str) -> str:
    """What to tell the caller of `needed_by` when `library` is not installed."""
    distribution, extra = EXTRAS[library]
    return f"{needed_by} needs {distribution}: pip install 'tessaline[{extra}]'"


def _is_absent(error: ModuleNotFoundError, module: str) -> bool:
    """Whether `error` says that `module` (or a package above it) is not
    installed, rather than that the library failed to import something of
    its own, which a reinstall of tessaline would not mend."""
    return error.name is not None and (module + ".").startswith(error.name + ".")


def require(module: str, needed_by: str) -> ModuleType:
    """The module `module` of an optional library (``"pyarrow.compute"``),
    imported on first use; a `MissingDependencyError` that names `needed_by`
    and the extra to install when the library is not installed."""
    library = module.partition(".")[0]
    if library not in EXTRAS:
        raise ValueError(f"{library} is not an optional library of tessaline")
    try:
        return importlib.import_module(module)
    except ModuleNotFoundError as error:
        if not _is_absent(error, module):
            raise
        raise MissingDependencyError(missing_message(library, needed_by)) from error


def installed(module: str) -> ModuleType | None:
    """The module `module` of an optional library when it is installed, None
    otherwise: for work that the library does faster and the package can do
    without it."""
    try:
        return require(module, module)
    except MissingDependencyError:
        return None


def library_of(obj: Any) -> str:
    """The top-level package that defines the type of `obj` (``"pandas"``)."""
    return type(obj).__module__.partition(".")[0]


def is_instance(obj: Any, module: str, name: str) -> bool:
    """Whether `obj` is an instance of the class `name` of `module`, without
    importing `module`: false while it is not loaded."""
    loaded = sys.modules.get(module)
    cls = getattr(loaded, name, None) if loaded is not None else None
    return isinstance(cls, type) and isinstance(obj, cls)


def is_pandas_frame(obj: Any) -> bool:
    return is_instance(obj, "pandas", "DataFrame")
