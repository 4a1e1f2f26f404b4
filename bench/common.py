"""Shared timing and reporting for the benchmarks against peer libraries.

Each bench_*.py module exposes ``run(sizes) -> list[Row]``; every Row times
tessaline and its peer in the same process, on the same arrays, with a warm-up
call and the median of several repetitions.
"""
from __future__ import annotations

import argparse
import statistics
import time
from dataclasses import dataclass
from typing import Callable

QUICK_SIZES = [100_000, 1_000_000]
FULL_SIZES = [100_000, 1_000_000, 10_000_000]


@dataclass
class Row:
    function: str
    rows: int
    peer: str
    ours: float | None  # median seconds
    theirs: float | None  # median seconds
    target: float | None = None  # largest acceptable ratio ours/theirs
    note: str = ""

    @property
    def ratio(self) -> float | None:
        if self.ours is None or self.theirs is None or self.theirs == 0:
            return None
        return self.ours / self.theirs

    @property
    def met(self) -> str:
        if self.target is None or self.ratio is None:
            return "-"
        return "yes" if self.ratio <= self.target else "NO"


def median_time(fn: Callable[[], object], repeat: int = 5, warmup: int = 1) -> float:
    for _ in range(warmup):
        fn()
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def repeats_for(n: int) -> int:
    return 7 if n <= 1_000_000 else 3


def compare(function: str, n: int, peer: str, ours: Callable[[], object],
            theirs: Callable[[], object], target: float | None = None) -> Row:
    repeat = repeats_for(n)
    return Row(function, n, peer, median_time(ours, repeat), median_time(theirs, repeat), target)


def _fmt_time(t: float | None) -> str:
    return "-" if t is None else f"{t * 1e3:10.2f} ms"


def print_table(rows: list[Row]) -> None:
    header = ("function", "rows", "peer", "tessaline", "peer time", "ratio", "target", "met")
    lines = []
    for r in rows:
        ratio = "-" if r.ratio is None else f"{r.ratio:.3f}x"
        target = "-" if r.target is None else f"<= {r.target:g}x"
        lines.append((r.function, f"{r.rows:,}", r.peer + (f" ({r.note})" if r.note else ""),
                      _fmt_time(r.ours), _fmt_time(r.theirs), ratio, target, r.met))
    widths = [max(len(h), *(len(l[i]) for l in lines)) if lines else len(h)
              for i, h in enumerate(header)]
    fmt = "  ".join(f"{{:<{w}}}" for w in widths)
    print(fmt.format(*header))
    print(fmt.format(*("-" * w for w in widths)))
    for l in lines:
        print(fmt.format(*l))


def sizes_from_args(argv: list[str] | None = None) -> list[int]:
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="1e5 and 1e6 rows only")
    args = parser.parse_args(argv)
    return QUICK_SIZES if args.quick else FULL_SIZES
