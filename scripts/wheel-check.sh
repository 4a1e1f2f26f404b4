#!/usr/bin/env bash
# Installs the wheel of dist/ into a fresh venv, with no compiler on PATH
# (only a directory of links to the few tools pip and the smoke test use),
# and runs tests/wheel/smoke.py there.
#   scripts/wheel-check.sh PYTHON3.13
set -euo pipefail
py=$1
cd "$(dirname "$0")/.."
root=$(pwd)
wheel=$(ls dist/tessaline-*manylinux*.whl)
check=build/wheel-check
rm -rf "$check"
mkdir -p "$check/bin"
for tool in sh bash env uname ls cat rm mkdir ldconfig; do
  found=$(command -v "$tool" || true)
  [ -n "$found" ] && ln -s "$found" "$check/bin/$tool"
done
numpy=$(grep -E '^numpy==' requirements-demo.txt)
"$py" -m venv "$check/venv"
export PATH="$root/$check/venv/bin:$root/$check/bin"
for compiler in cc gcc g++ c++ clang cmake; do
  if command -v "$compiler" >/dev/null; then
    echo "a compiler is on PATH: $(command -v "$compiler")" >&2
    exit 1
  fi
done
echo "installing $wheel into a fresh venv with no compiler on PATH"
python -m pip install -q --disable-pip-version-check --only-binary=:all: "$wheel" "$numpy"
cd "$check" && python "$root/tests/wheel/smoke.py"
