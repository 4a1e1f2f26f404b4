"""Columns fitted side by side: the native searches release the
interpreter's lock, so threads share the cores."""

from __future__ import annotations

import functools
import os
import threading
from collections.abc import Callable
from concurrent.futures import Future, ThreadPoolExecutor
from typing import Any, TypeVar

T = TypeVar("T")


@functools.cache
def _processors() -> int:
    # Read once: the count comes from a file of the system on every call
    # (tens of microseconds), and a fit asks for it once per column.
    return os.cpu_count() or 1


def thread_count(n_jobs: int | None) -> int:
    """The threads `n_jobs` asks for: the processors when None."""
    return max(1, n_jobs or _processors())


class IdleLending:
    """Lends the idle workers of a pool of `workers` threads to `spare` (a
    native `SpareThreads`, or None: nothing lent): once every task is
    submitted (`close`), each worker that finds no task left counts as idle
    there, for the permutation tests still running on the others to draw
    on. Before that, a worker between tasks is not idle: the next task
    would find it drawing for another."""

    def __init__(self, workers: int, spare: Any) -> None:
        self._workers, self._spare = workers, spare
        self._lock = threading.Lock()
        self._left = self._lent = 0
        self._closed = False

    def task(self, work: Callable[..., T], *args: Any, **kwargs: Any) -> Callable[[], T]:
        """`work(*args, **kwargs)`, counted until it ends."""
        with self._lock:
            self._left += 1

        def counted() -> T:
            try:
                return work(*args, **kwargs)
            finally:
                with self._lock:
                    self._left -= 1
                    self._lend()

        return counted

    def close(self) -> None:
        """No task comes after those given."""
        with self._lock:
            self._closed = True
            self._lend()

    def end(self) -> None:
        """Takes back what was lent, once the pool's tasks all ended (their
        tests gave back what they borrowed): the next pool lends its own."""
        with self._lock:
            if self._spare is not None and self._lent:
                self._spare.take(self._lent)
            self._lent = 0

    def _lend(self) -> None:
        # Once all are given, the tasks left only fall: the idle workers grow.
        idle = self._workers - self._left if self._closed else 0
        if self._spare is not None and idle > self._lent:
            self._spare.give(idle - self._lent)
            self._lent = idle


def run_in_threads(
    tasks: list[Callable[[], Any]], n_jobs: int | None, spare: Any = None
) -> list[Any]:
    """The results of `tasks`, run on a pool of `n_jobs` threads, whose
    workers left idle are lent to `spare` (see `IdleLending`). An interrupt
    while waiting cancels the tasks not yet started; the running ones finish
    (each is one column), then the interrupt propagates."""
    workers = max(1, min(len(tasks), thread_count(n_jobs)))
    pool = ThreadPoolExecutor(max_workers=workers, thread_name_prefix="tessaline")
    lending = IdleLending(workers, spare)
    futures: list[Future[Any]] = []
    try:
        futures = [pool.submit(lending.task(task)) for task in tasks]
        lending.close()
        return [future.result() for future in futures]
    except BaseException:
        for future in futures:
            future.cancel()
        raise
    finally:
        pool.shutdown(wait=True, cancel_futures=True)
        lending.end()
