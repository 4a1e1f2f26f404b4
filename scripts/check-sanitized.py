"""Fails unless this interpreter loads tessaline's native modules from the
sanitized build tree given as the argument, each linking the
AddressSanitizer runtime. An uninstrumented module found first (say, an
installed package's `tessaline._native`) would let the sanitized run pass
without checking a line of the code it holds.

    PYTHONPATH=build/sanitize:python python scripts/check-sanitized.py build/sanitize
"""

import pathlib
import subprocess
import sys

import _tessaline
import tessaline

build = pathlib.Path(sys.argv[1]).resolve()
wrong = []
for module in (_tessaline, sys.modules["tessaline._native"]):
    path = pathlib.Path(module.__file__).resolve()
    needed = subprocess.run(
        ["readelf", "--dynamic", str(path)], capture_output=True, text=True, check=True
    ).stdout
    if not path.is_relative_to(build):
        wrong.append(f"{module.__name__} is loaded from {path}, not from {build}")
    elif "libasan" not in needed:
        wrong.append(f"{module.__name__} ({path}) does not link the AddressSanitizer runtime")
if wrong:
    sys.exit("\n".join(wrong))
print(f"sanitized modules: tessaline {tessaline.__file__}, native code from {build}")
