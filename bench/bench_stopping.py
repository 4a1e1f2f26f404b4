"""What the permutation test of each column's IV costs a default fit, and how
many draws it makes: on the engines' gate frame (18 noise columns, 2 real),
the default `TableBinning()` fit against the fit without the test
(`max_iv_pvalue=None`), alternated in one process so a busy machine slows
both alike; the ratio of the medians is printed, with each column's draws
and p-value.

    PYTHONPATH=BUILD:python python bench/bench_stopping.py [--rows 200000] [--rounds 3]
"""

from __future__ import annotations

import argparse
import statistics
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from bench_engines import gate_frame

import tessaline as tl


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=200_000)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    frame = gate_frame(args.rows)
    times: dict[str, list[float]] = {"tested": [], "untested": []}
    fitted = None
    for _ in range(args.rounds):
        for name, options in (("tested", {}), ("untested", {"max_iv_pvalue": None})):
            start = time.perf_counter()
            binning = tl.TableBinning(**options).fit(frame, "y")
            times[name].append(time.perf_counter() - start)
            fitted = fitted if options else binning
    tested, untested = (statistics.median(times[k]) for k in ("tested", "untested"))
    draws = {n: t.metadata.get("iv_draws") for n, t in fitted.tables.items()}
    pvalues = {n: t.metadata.get("iv_pvalue") for n, t in fitted.tables.items()}
    print(
        f"default fit {tested:.2f}s, without the test {untested:.2f}s: "
        f"ratio {tested / untested:.1f}x; draws in all {sum(draws.values())}"
    )
    for name in draws:
        print(f"  {name}: {draws[name]} draws, p {pvalues[name]:.4g}")
    print(f"selected: {fitted.selected}")


if __name__ == "__main__":
    main()
