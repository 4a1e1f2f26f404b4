"""Columns fitted side by side: the native searches release the
interpreter's lock, so threads share the cores."""

from __future__ import annotations

import functools
import os
from collections.abc import Callable
from concurrent.futures import Future, ThreadPoolExecutor
from typing import Any


@functools.cache
def _processors() -> int:
    # Read once: the count comes from a file of the system on every call
    # (tens of microseconds), and a fit asks for it once per column.
    return os.cpu_count() or 1


def thread_count(n_jobs: int | None) -> int:
    """The threads `n_jobs` asks for: the processors when None."""
    return max(1, n_jobs or _processors())


def run_in_threads(tasks: list[Callable[[], Any]], n_jobs: int | None) -> list[Any]:
    """The results of `tasks`, run on a pool of `n_jobs` threads. An interrupt
    while waiting cancels the tasks not yet started; the running ones finish
    (each is one column), then the interrupt propagates."""
    workers = max(1, min(len(tasks), thread_count(n_jobs)))
    pool = ThreadPoolExecutor(max_workers=workers, thread_name_prefix="tessaline")
    futures: list[Future[Any]] = []
    try:
        futures = [pool.submit(task) for task in tasks]
        return [future.result() for future in futures]
    except BaseException:
        for future in futures:
            future.cancel()
        raise
    finally:
        pool.shutdown(wait=True, cancel_futures=True)
