"""Two builds of the native modules on the same work, for a change of compiler
flags: each round times every task once in a process of each build, in
alternating order, so that a busy machine slows both alike; the ratio of the
medians is printed per task (above 1: the second build is slower).

    python bench/compare_builds.py BUILD_DIR_A BUILD_DIR_B [--rounds 7] [--tasks search]

`--tasks search` times the optimal searches over pre-bins instead (binary
and continuous, with and without a limit between neighbours, and "auto"
with the unshaped search its shape note asks for), through `_native`
arguments that every build takes.

Each BUILD_DIR holds _tessaline*.so and _native*.so (scripts/dev-build.sh);
the Python package is the one of this tree.
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]

# Large arrays through the core's hot loops, and many calls on small arrays,
# where the bindings' own code (conversions, dicts) is most of the time.
TASKS = """
import json, sys, time
import numpy as np
import _tessaline
import tessaline as tl

rng = np.random.default_rng(0)
n = 1_000_000
x = rng.normal(600.0, 50.0, n).round(1)
y = (rng.random(n) < 1 / (1 + np.exp((x - 600.0) / 40.0))).astype(float)
small_x, small_y = x[:200].copy(), y[:200].copy()
table = tl.mdlp_binning(x, y)
frame = {f"x{i}": rng.normal(size=200_000) for i in range(4)}
frame["y"] = (rng.random(200_000) < 0.2).astype(float)


small_labels = small_y.astype(np.int32)


def small_calls():
    for _ in range(2000):
        _tessaline.compute_boundaries_raw(small_x, small_y, None, 50.0)
        _tessaline.lorenz_curve_native(small_x, small_labels)


tasks = {
    "mdlp_binning 1e6": lambda: tl.mdlp_binning(x, y),
    "transform 1e6": lambda: table.transform(x, output="woe"),
    "TableBinning 4 x 2e5": lambda: tl.TableBinning().fit(frame, "y"),
    "4000 calls on 200 rows": small_calls,
}
"""

SEARCH_TASKS = """
import json, time
import numpy as np
import _native

rng = np.random.default_rng(0)
n = 400
c0 = rng.integers(20, 200, n).astype(float)
c1 = np.round(c0 * np.linspace(0.05, 0.4, n) * rng.uniform(0.5, 1.5, n))
weight = rng.uniform(5.0, 50.0, n)
total = weight * (np.linspace(0.0, 3.0, n) + rng.normal(0.0, 0.5, n))
rows = np.ceil(weight)
few = slice(0, 120)


def optimal(trend, **limit):
    return lambda: _native.optimal_binning(c0, c1, 8, 0.02, 5.0, 5.0, trend, **limit)


def continuous(trend):
    return lambda: _native.continuous_binning(weight, total, rows, 8, 0.02, 1.0, trend)


# "auto" and the unshaped search of its shape note: one call where the build
# searches several trends in one pass, two where it does not.
def with_note(search, *args):
    together = getattr(_native, search + "s", None)
    if together is not None:
        return lambda: together(*args, ["auto", "none"])
    alone = getattr(_native, search)
    return lambda: (alone(*args, "auto"), alone(*args, "none"))


tasks = {
    "optimal auto+note 400": with_note("optimal_binning", c0, c1, 8, 0.02, 5.0, 5.0),
    "continuous auto+note 400": with_note(
        "continuous_binning", weight, total, rows, 8, 0.02, 1.0
    ),
    "optimal auto 400": optimal("auto"),
    "optimal peak 400": optimal("peak"),
    "optimal none 400": optimal("none"),
    "optimal p<0.05 120": lambda: _native.optimal_binning(
        c0[few], c1[few], 8, 0.02, 5.0, 5.0, "auto", max_pvalue=0.05
    ),
    "continuous auto 400": continuous("auto"),
    "continuous peak 400": continuous("peak"),
    "continuous none 400": continuous("none"),
}
# Five searches a task, so that each takes tens of milliseconds.
tasks = {name: (lambda f=f: [f() for _ in range(5)]) for name, f in tasks.items()}
"""

TIMING = """
times = {}
for name, task in tasks.items():
    start = time.perf_counter()
    task()
    times[name] = time.perf_counter() - start
print(json.dumps(times))
"""


def run(build: pathlib.Path, tasks: str) -> dict[str, float]:
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(build), str(ROOT / "python")]))
    done = subprocess.run(
        [sys.executable, "-c", tasks + TIMING], env=env, capture_output=True, text=True, check=True
    )
    times: dict[str, float] = json.loads(done.stdout)
    return times


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("first", type=pathlib.Path)
    parser.add_argument("second", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--tasks", choices=("default", "search"), default="default")
    args = parser.parse_args()
    tasks = SEARCH_TASKS if args.tasks == "search" else TASKS
    runs: dict[pathlib.Path, list[dict[str, float]]] = {args.first: [], args.second: []}
    for r in range(args.rounds):
        order = (args.first, args.second) if r % 2 == 0 else (args.second, args.first)
        for build in order:
            runs[build].append(run(build, tasks))
    print(f"{'task':<26}{'first (s)':>12}{'second (s)':>12}{'ratio':>8}")
    for task in runs[args.first][0]:
        a = statistics.median(t[task] for t in runs[args.first])
        b = statistics.median(t[task] for t in runs[args.second])
        print(f"{task:<26}{a:>12.4f}{b:>12.4f}{b / a:>8.3f}")


if __name__ == "__main__":
    main()
