#!/usr/bin/env bash
# Builds the extension module and the C++ tests into build/dev-NAME without
# installing anything, so several builds can coexist. Then run, for example:
#   PYTHONPATH=build/dev-NAME .venv/bin/python -m pytest tests/python
#   build/dev-NAME/tessaline_tests
set -eu
name=${1:-default}
shift || true
here=$(cd "$(dirname "$0")/.." && pwd)
py="$here/.venv/bin/python"
dir="$here/build/dev-$name"
cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPython_EXECUTABLE="$py" -Dpybind11_DIR="$("$py" -m pybind11 --cmakedir)" \
  -DTESSALINE_BUILD_TESTS=ON -DCMAKE_MAKE_PROGRAM="$here/.venv/bin/ninja" "$@" >/dev/null
cmake --build "$dir" -j2
