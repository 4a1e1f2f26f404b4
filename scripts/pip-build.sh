#!/usr/bin/env bash
# Runs a pip command that compiles tessaline (an install, a wheel) and shows
# its progress: a line per compiled unit ("[3/31] Building CXX object ..."),
# so that the minutes of compiling are never silent. pip's whole output goes
# to LOG, shown at the end when the command fails.
#   scripts/pip-build.sh LOG PYTHON -m pip ARGS...
set -uo pipefail
log=$1
shift
mkdir -p "$(dirname "$log")"
# Every core compiles, whichever generator CMake finds (make alone would
# compile one unit at a time).
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
start=$SECONDS
"$@" -v --disable-pip-version-check 2>&1 | tee "$log" |
  grep --line-buffered -E '^ *\[[0-9]+/[0-9]+\] |^ *-- Configuring done|^ *\*\*\* ' |
  sed -u -E 's/^ *//; s/ CXX object CMakeFiles\/[^/]*\.dir\// /; s/Unity\/unity_(_[a-z]+)_([0-9]+)_cxx\.cxx\.o/\1 bindings, part \2/'
rc=${PIPESTATUS[0]}
if [ "$rc" -ne 0 ]; then
  tail -n 60 "$log"
  echo "the build failed (exit $rc): the whole log is $log" >&2
  exit "$rc"
fi
echo "built in $((SECONDS - start)) s"
