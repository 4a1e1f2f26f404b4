#!/usr/bin/env bash
# Prints the path of a working Python 3.13 interpreter, or fails with a clear
# message. A pyenv shim named python3.13 may exist without answering, so each
# candidate is asked for its version before it is accepted.
set -u
candidates=()
command -v python3.13 >/dev/null 2>&1 && candidates+=("$(command -v python3.13)")
if command -v pyenv >/dev/null 2>&1; then
  root=$(pyenv root 2>/dev/null)
  for d in "$root"/versions/3.13*/bin; do
    [ -x "$d/python3.13" ] && candidates+=("$d/python3.13")
  done
fi
candidates+=(/usr/bin/python3.13 /usr/local/bin/python3.13)
for py in "${candidates[@]}"; do
  [ -x "$py" ] || continue
  if "$py" -c 'import sys; sys.exit(0 if sys.version_info[:2] == (3, 13) else 1)' >/dev/null 2>&1; then
    echo "$py"
    exit 0
  fi
done
echo "error: no Python 3.13 interpreter found (looked for python3.13 on PATH, under \$(pyenv root)/versions/3.13*/bin and /usr/bin/python3.13); install Python 3.13 and retry" >&2
exit 1
