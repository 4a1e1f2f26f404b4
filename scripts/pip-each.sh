#!/usr/bin/env bash
# Installs the pinned requirements of FILE (and of the files it includes)
# that are missing, one pip call each, named first, with the whole file as
# constraints: pip unpacks a call's packages without a word, so one package
# at a time keeps each silence to one package's (SciPy's, pyspark's).
#   scripts/pip-each.sh PYTHON FILE
set -euo pipefail
py=$1
file=$2
missing=$("$py" - "$file" <<'PY'
import pathlib, re, sys
from importlib import metadata

def pins(path):
    for line in path.read_text().splitlines():
        line = line.split("#")[0].strip()
        if line.startswith("-r "):
            yield from pins(path.parent / line[3:].strip())
        elif "==" in line:
            yield line

for pin in pins(pathlib.Path(sys.argv[1])):
    name, version = pin.split("==")
    try:
        if metadata.version(name) == version:
            continue
    except metadata.PackageNotFoundError:
        pass
    print(pin)
PY
)
n=$(printf '%s\n' "$missing" | grep -c . || true)
[ "$n" -eq 0 ] && exit 0
i=0
for pin in $missing; do
  i=$((i + 1))
  echo "[$i/$n] pip install $pin"
  "$py" -m pip install -q --disable-pip-version-check -c "$file" "$pin"
done
