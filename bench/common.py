"""Shared timing and reporting for the benchmarks against peer libraries.

Each bench_*.py module exposes ``run(sizes) -> list[Row]``; every Row times
tessaline and its peer in the same process, on the same arrays, with a warm-up
call and the median of several repetitions. A peer that cannot be imported
still gets its row, which says so instead of a time.
"""

from __future__ import annotations

import argparse
import gc
import statistics
import sys
import time
from collections.abc import Callable
from dataclasses import dataclass

QUICK_SIZES = [100_000, 1_000_000]
FULL_SIZES = [100_000, 1_000_000, 10_000_000]

# Ratios are tessaline's median time over the peer's; a target is the largest
# acceptable ratio.


@dataclass
class Row:
    function: str
    rows: int
    peer: str
    ours: float | None  # median seconds
    theirs: float | None  # median seconds
    target: float | None = None  # largest acceptable ratio ours/theirs
    note: str = ""
    ours_cpu: float | None = None  # median processor seconds of ours, where timed

    @property
    def ratio(self) -> float | None:
        if self.ours is None or self.theirs is None or self.theirs == 0:
            return None
        return self.ours / self.theirs

    @property
    def met(self) -> str:
        if self.target is None:
            return "-"
        if self.ratio is None:
            return "n/a"
        return "yes" if self.ratio <= self.target else "NO"


def median_time(fn: Callable[[], object], repeat: int = 5, warmup: int = 1) -> float:
    """Median wall time of fn over `repeat` calls after `warmup` calls. The
    garbage collector is kept out of the timed calls."""
    return median_times(fn, repeat, warmup)[0]


def median_times(fn: Callable[[], object], repeat: int = 5, warmup: int = 1) -> tuple[float, float]:
    """Median wall and median processor time of fn (as median_time). The
    processor time counts this process's threads only, so another session's
    load or a virtual machine's pauses leave it unchanged."""
    for _ in range(warmup):
        fn()
    gc.collect()
    enabled = gc.isenabled()
    gc.disable()
    try:
        walls = []
        cpus = []
        for _ in range(repeat):
            start = time.perf_counter()
            start_cpu = time.process_time()
            fn()
            cpus.append(time.process_time() - start_cpu)
            walls.append(time.perf_counter() - start)
    finally:
        if enabled:
            gc.enable()
    return statistics.median(walls), statistics.median(cpus)


def back_to_back(
    ours: Callable[[], object], floor: Callable[[], object], repeat: int
) -> tuple[float, float]:
    """Median times of both after a warm-up call of each, each repetition
    timing one call of each back to back, so that a passing load on the
    shared machine weighs on both alike."""
    ours()
    floor()
    times: tuple[list[float], list[float]] = ([], [])
    gc.collect()
    gc.disable()
    try:
        for _ in range(repeat):
            for fn, spent in ((ours, times[0]), (floor, times[1])):
                start = time.perf_counter()
                fn()
                spent.append(time.perf_counter() - start)
    finally:
        gc.enable()
    return statistics.median(times[0]), statistics.median(times[1])


def repeats_for(n: int) -> int:
    """More repetitions where calls are short, so that a passing load on the
    shared machine moves the median less."""
    if n <= 100_000:
        return 25
    return 9 if n <= 1_000_000 else 3


def compare(
    function: str,
    n: int,
    peer: str,
    ours: Callable[[], object],
    theirs: Callable[[], object],
    target: float | None = None,
) -> Row:
    """Each of the two timed over its own repetitions, ours first. Not in
    alternation: a peer's call on a million rows leaves the caches cold for
    ours, which then times a cold start that a repeated call never makes
    (lorenz_curve_native's time per row rose by 40% from 1e5 to 1e6 rows in
    alternation, 13% one after the other). A load that comes or goes between
    the two is what the regression gate's second timing of a failed row is for."""
    repeat = repeats_for(n)
    ours_wall, ours_cpu = median_times(ours, repeat)
    return Row(function, n, peer, ours_wall, median_time(theirs, repeat), target, ours_cpu=ours_cpu)


def unavailable(function: str, n: int, peer: str, target: float | None, reason: str) -> Row:
    """The row of a peer that cannot run here: shown, never dropped."""
    return Row(function, n, peer, None, None, target, note=reason)


def _fmt_time(t: float | None) -> str:
    return "-" if t is None else f"{t * 1e3:10.2f} ms"


def format_table(header: tuple[str, ...], lines: list[tuple[str, ...]]) -> str:
    widths = [
        max(len(h), *(len(l[i]) for l in lines)) if lines else len(h) for i, h in enumerate(header)
    ]
    fmt = "  ".join(f"{{:<{w}}}" for w in widths)
    out = [fmt.format(*header), fmt.format(*("-" * w for w in widths))]
    out += [fmt.format(*l).rstrip() for l in lines]
    return "\n".join(out)


def format_markdown(header: tuple[str, ...], lines: list[tuple[str, ...]]) -> str:
    out = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    out += ["| " + " | ".join(cell.strip().replace("|", "\\|") for cell in l) + " |" for l in lines]
    return "\n".join(out)


def table_lines(rows: list[Row]) -> list[tuple[str, ...]]:
    lines = []
    for r in rows:
        ratio = "-" if r.ratio is None else f"{r.ratio:.3f}x"
        target = "-" if r.target is None else f"<= {r.target:g}x"
        peer = r.peer + (f" ({r.note})" if r.note else "")
        lines.append(
            (
                r.function,
                f"{r.rows:,}",
                peer,
                _fmt_time(r.ours),
                _fmt_time(r.theirs),
                ratio,
                target,
                r.met,
            )
        )
    return lines


TABLE_HEADER = ("function", "rows", "peer", "tessaline", "peer time", "ratio", "target", "met")


def print_table(rows: list[Row], markdown: bool = False) -> None:
    render = format_markdown if markdown else format_table
    print(render(TABLE_HEADER, table_lines(rows)))


def sizes_from_args(argv: list[str] | None = None) -> list[int]:
    return sizes_for(parse_args(argv).quick)


def sizes_for(quick: bool) -> list[int]:
    return QUICK_SIZES if quick else FULL_SIZES


def parse_args(argv: list[str] | None = None) -> argparse.Namespace:
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="1e5 and 1e6 rows only")
    parser.add_argument("--markdown", action="store_true", help="tables in Markdown")
    parser.add_argument(
        "--only",
        nargs="+",
        metavar="SCRIPT",
        help="run.py: only these scripts (table for bench_table.py, ...)",
    )
    parser.add_argument(
        "--update-baseline",
        action="store_true",
        help="run.py: write this run's ratios as this machine model's baseline",
    )
    return parser.parse_args(argv)


def report_sorts(rows: list[Row], failures: list[str], ok: str) -> None:
    """The table of a script timed against a sort of the column, each ratio
    in sorts of the column, then the missed targets (`failures`, exiting with
    status 1) or the line `ok`."""
    print_table(rows)
    for r in rows:
        if r.ratio is not None:
            print(f"{r.function} at {r.rows:,} rows: {r.ratio:.2f} sorts of the column")
    if failures:
        print(*failures, sep="\n")
        sys.exit(1)
    print(ok)


def missed_ratios(rows: list[Row], from_rows: int) -> list[str]:
    """The rows of `from_rows` rows or more above their target, as FAIL lines."""
    return [
        f"FAIL: {r.function} takes {r.ratio:.2f} times the {r.peer} at {r.rows:,} rows, "
        f"above its target of {r.target:g}"
        for r in rows
        if r.rows >= from_rows and r.met == "NO"
    ]


def report(rows: list[Row], failures: list[str], ok: str) -> None:
    """The table, then the missed targets (exiting with status 1) or `ok`."""
    print_table(rows)
    if failures:
        print(*failures, sep="\n")
        sys.exit(1)
    print(ok)
