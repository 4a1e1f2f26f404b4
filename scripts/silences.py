"""Runs a command, passes its output through line by line, and ends with its
wall time and its longest silent stretch (the longest wait for a line), the
two figures a user feels of `make demo` or `make test`:

    python3 scripts/silences.py make demo

Python children write unbuffered (PYTHONUNBUFFERED=1), as they would to a
terminal, so that a pipe does not hold back their lines.
"""

import os
import subprocess
import sys
import time


def main() -> int:
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    env = dict(os.environ, PYTHONUNBUFFERED="1")
    start = last = time.monotonic()
    longest, after, line = 0.0, "(the start)", "(the start)"
    with subprocess.Popen(
        sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env, bufsize=0
    ) as child:
        assert child.stdout is not None
        for raw in iter(child.stdout.readline, b""):
            now = time.monotonic()
            if now - last > longest:
                longest = now - last
                after = line
            last = now
            line = raw.decode(errors="replace").rstrip()
            print(line, flush=True)
    end = time.monotonic()
    if end - last > longest:
        longest, after = end - last, line
    print(
        f"{' '.join(sys.argv[1:])}: exit {child.returncode}, {end - start:.0f} s, "
        f"longest silence {longest:.0f} s, after: {after[:100]}"
    )
    return child.returncode


if __name__ == "__main__":
    sys.exit(main())
