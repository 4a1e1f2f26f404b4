"""The floor of a benchmark at NumPy's fastest sort on this CPU.

NumPy picks its sort by the widest vector instructions the processor has,
which is not always the fastest one: on AMD's Zen 4 its AVX-512 sort loses
to its AVX2 one. A floor timed only with the default choice would be slower
than it could be, and a benchmark measured against it would look better than
it is. So every floor is timed twice, back to back with tessaline: in this
process, and in a child process whose NumPy leaves its AVX-512 paths out
(NPY_DISABLE_CPU_FEATURES); the faster of the two is the floor.

The child builds its own copy of the data from the same deterministic
builder (a module and function of this folder, with their arguments), so no
array crosses the pipe; it times each call of the floor itself and sends
back the seconds.

    python bench/fastest_sort.py     # both sorts at 2e4, 1e5 and 1e6 rows
"""

from __future__ import annotations

import gc
import importlib
import os
import pathlib
import pickle
import subprocess
import sys
import time
from collections.abc import Callable
from typing import Any

import numpy as np

HERE = pathlib.Path(__file__).parent


def avx512_features() -> list[str]:
    """NumPy's dispatch targets of AVX-512 that this CPU runs (empty elsewhere)."""
    try:
        from numpy._core import _multiarray_umath as umath
    except ImportError:  # NumPy 1.x
        from numpy.core import _multiarray_umath as umath  # type: ignore[no-redef]
    found = getattr(umath, "__cpu_features__", {})
    return [
        f
        for f in getattr(umath, "__cpu_dispatch__", [])
        if (f == "X86_V4" or f.startswith("AVX512")) and found.get(f)
    ]


# A call: (module of this folder, function name, positional args, keyword args).
Call = tuple[str, str, tuple[Any, ...], dict[str, Any]]


def _resolve(call: Call) -> Callable[..., Any]:
    module, name, _, _ = call
    return getattr(importlib.import_module(module), name)  # type: ignore[no-any-return]


class NarrowNumPy:
    """A child process whose NumPy runs without its AVX-512 paths, which
    builds data and times a floor on it on request."""

    def __init__(self, features: list[str]) -> None:
        env = dict(os.environ, NPY_DISABLE_CPU_FEATURES=" ".join(features))
        self.process = subprocess.Popen(
            [sys.executable, str(pathlib.Path(__file__).resolve()), "--serve"],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            env=env,
        )

    def _ask(self, request: tuple[str, Any]) -> Any:
        assert self.process.stdin is not None and self.process.stdout is not None
        pickle.dump(request, self.process.stdin)
        self.process.stdin.flush()
        answer = pickle.load(self.process.stdout)
        if isinstance(answer, BaseException):
            raise answer
        return answer

    def prepare(self, data: Call, floor: Call) -> None:
        """Build the data and keep the floor to call on it."""
        self._ask(("prepare", (data, floor)))

    def time_floor(self) -> float:
        """Seconds of one call of the floor, timed in the child."""
        return float(self._ask(("time", None)))

    def close(self) -> None:
        if self.process.poll() is None:
            assert self.process.stdin is not None
            self.process.stdin.close()
            self.process.wait()


_child: NarrowNumPy | None = None


def _narrow_numpy() -> NarrowNumPy | None:
    """The child of narrow NumPy, started at the first floor that needs it
    (none where NumPy has no AVX-512 path on this CPU)."""
    global _child
    if _child is None:
        features = avx512_features()
        if not features:
            return None
        _child = NarrowNumPy(features)
    return _child


def _serve() -> None:
    """The child's loop: build data, time the floor on it, until stdin closes."""
    sys.path.insert(0, str(HERE))
    # The answers go down a copy of stdout; anything printed goes to stderr.
    stdin, stdout = sys.stdin.buffer, os.fdopen(os.dup(1), "wb")
    os.dup2(2, 1)
    data: Any = None
    floor: Callable[..., Any] | None = None
    while True:
        try:
            what, argument = pickle.load(stdin)
        except EOFError:
            return
        try:
            if what == "prepare":
                data_call, floor_call = argument
                data = None
                _, _, args, kwargs = data_call
                data = _resolve(data_call)(*args, **kwargs)
                floor = _resolve(floor_call)
                answer: Any = None
            else:
                assert floor is not None
                gc.disable()
                start = time.perf_counter()
                floor(data)
                answer = time.perf_counter() - start
                gc.enable()
        except Exception as error:  # sent back, raised in the parent
            answer = error
        pickle.dump(answer, stdout)
        stdout.flush()


def against_fastest_floor(
    ours: Callable[[], object],
    data: Call,
    floor: Call,
    repeat: int,
    built: Any = None,
) -> tuple[float, float]:
    """Seconds of the fastest repetition of `ours` and of the faster floor:
    `floor` (a call taking the data) on the data `data` builds, in this
    process and in the child of narrow NumPy, the three timed back to back in
    every repetition after one warm-up call of each. The fastest repetition,
    not the median: the other sessions of a shared machine only ever add
    time, and more to a fit on two threads than to a floor on one, so the
    fastest is the steadiest measure of the work itself. `built` is the data
    already built here."""
    local_data = built if built is not None else _resolve(data)(*data[2], **data[3])
    local_floor = _resolve(floor)
    child = _narrow_numpy()
    if child is not None:
        child.prepare(data, floor)
    times: tuple[list[float], list[float], list[float]] = ([], [], [])
    for round_ in range(repeat + 1):
        gc.collect()
        gc.disable()
        try:
            start = time.perf_counter()
            ours()
            middle = time.perf_counter()
            local_floor(local_data)
            end = time.perf_counter()
        finally:
            gc.enable()
        narrow = child.time_floor() if child is not None else None
        if round_ == 0:
            continue  # the warm-up
        times[0].append(middle - start)
        times[1].append(end - middle)
        if narrow is not None:
            times[2].append(narrow)
    return min(times[0]), min(min(t) for t in times[1:] if t)


def main() -> None:
    features = avx512_features()
    print(f"AVX-512 paths of NumPy on this CPU: {' '.join(features) or 'none'}")
    for n in (20_000, 100_000, 1_000_000):
        data: Call = ("data", "score_and_target", (n,), {})
        x, _ = importlib.import_module("data").score_and_target(n)
        default, fastest = against_fastest_floor(
            lambda: np.sort(x), data, ("fastest_sort", "first_sorted", (), {}), 9
        )
        print(
            f"{n:>10,} rows: default sort {default * 1e3:8.3f} ms, fastest {fastest * 1e3:8.3f} ms"
        )
    if _child is not None:
        _child.close()


def first_sorted(arrays: tuple[np.ndarray, ...]) -> None:
    """The floor of a column given with others (a score and its target)."""
    np.sort(arrays[0])


if __name__ == "__main__":
    if sys.argv[1:] == ["--serve"]:
        _serve()
    else:
        sys.path.insert(0, str(HERE))
        main()
