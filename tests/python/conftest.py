"""The suite's shared helpers (package_under_test, native_calls, sql_engines)
live beside this file; the tests of each part of the package live in the
folder of that part (native/, binning/, formats/, report/, spark/)."""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent))
