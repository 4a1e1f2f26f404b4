"""The documentation site: the user guide (doctest pages whose outputs the
tests compare), the API reference generated from the docstrings of every name
in the packages' __all__, the gallery (examples/gallery, executed at each
build) and the performance page (bench/results.json)."""

import os
import pathlib
import sys
import tempfile

import matplotlib

matplotlib.use("Agg")

HERE = pathlib.Path(__file__).parent
sys.path.insert(0, str(HERE / "_ext"))

import tessaline  # noqa: E402

project = "tessaline"
author = "the tessaline developers"
copyright = "2026, " + author
release = version = getattr(tessaline, "__version__", "0.1.0")

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.viewcode",
    "matplotlib.sphinxext.plot_directive",
    "sphinx_gallery.gen_gallery",
    "bench_results",
]

html_theme = "pydata_sphinx_theme"
html_title = "tessaline"
html_static_path: list[str] = []
html_theme_options = {
    "navbar_align": "left",
    "show_toc_level": 2,
    "navigation_with_keys": False,
    "footer_start": ["copyright"],
    "footer_end": ["sphinx-version"],
}
html_sidebars = {"index": [], "performance": [], "developer": []}
exclude_patterns = ["_build", "screenshots", "**.ipynb_checkpoints"]
templates_path = ["_templates"]

# The reference lists what the modules export (their __all__), nothing else.
autosummary_generate = True
autosummary_ignore_module_all = False
autosummary_imported_members = True
autodoc_default_options = {"members": True, "show-inheritance": True}
autodoc_member_order = "bysource"
autodoc_typehints = "description"
autodoc_preserve_defaults = True
# Docstrings write `name` for code, as the package's comments do.
default_role = "literal"


# The guide's figures are drawn by its own code when the docs build, in a
# scratch directory (some pages write files), sharing one namespace per page.
plot_include_source = True
plot_html_show_source_link = False
plot_html_show_formats = False
plot_formats = [("png", 110)]
plot_rcparams = {"figure.figsize": (6.4, 3.6)}
plot_working_directory = tempfile.mkdtemp(prefix="tessaline-docs-")
plot_pre_code = "import matplotlib\nmatplotlib.use('Agg')\n"

sphinx_gallery_conf = {
    "examples_dirs": str(HERE.parent / "examples" / "gallery"),
    "gallery_dirs": "gallery",
    "filename_pattern": r"/plot_",
    "download_all_examples": False,
    "remove_config_comments": True,
    "within_subsection_order": "sphinx_gallery.sorting.FileNameSortKey",
    "abort_on_example_error": True,
    "show_memory": False,
    "show_signature": False,
    "write_computation_times": False,
    # An example shows what it prints and draws, not the repr of its last call.
    "capture_repr": (),
}

os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
