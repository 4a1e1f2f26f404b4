"""Tables fitted in processes forked while the parent's threads fit tables
(multiprocessing's fork start method, the usual way to fit in parallel on
Linux) are the parent's tables: a child never waits on a lock, or on a
worker thread, that only the parent had.

The scenario runs in a fresh interpreter (this file as a script): the suite's
own process holds other libraries' threads (database engines, DataFrame
libraries, a Spark gateway), whose locks a child may inherit held, which says
nothing of this package; and a scenario still running after SCENARIO_SECONDS
(it takes a few) is stopped with every thread's Python stack, in the parent
and the children, so that a hang fails the test instead of holding the suite."""

from __future__ import annotations

import contextlib
import faulthandler
import json
import multiprocessing
import os
import signal
import subprocess
import sys
import threading

import numpy as np
import pytest

import tessaline as tl

SCENARIO_SECONDS = 300


def _fitted(seed: int) -> str:
    """A table of long numeric columns (their counts large enough to be kept
    for reuse when freed) and a text one, fitted with the test of its IVs on
    two threads."""
    rng = np.random.default_rng(seed)
    n = 9_000
    x = rng.normal(size=(3, n))
    y = (rng.random(n) < 1 / (1 + np.exp(-x[0] - 0.5 * x[1]))).astype(int)
    data = {f"x{j}": x[j] for j in range(3)}
    data["grade"] = np.array(["a", "b", "c", "d"], dtype=object)[rng.integers(0, 4, n)]
    binning = tl.TableBinning(min_iv=0.0, n_jobs=2, iv_permutations=100).fit(data, y)
    return json.dumps(binning.to_dict(), sort_keys=True, default=repr)


def _scenario() -> None:
    """Fits three tables in a pool of forked children while two threads of
    this process keep fitting; prints "same" when the children's tables are
    the ones this process fits alone."""
    # Every thread's stack on SIGABRT, in this process and in its children
    # (a timer thread would not be fork-safe: a child would wait on its lock).
    faulthandler.enable()
    expected = [_fitted(seed) for seed in range(3)]
    stop = threading.Event()

    def keep_fitting() -> None:
        while not stop.is_set():
            _fitted(0)

    busy = [threading.Thread(target=keep_fitting) for _ in range(2)]
    for thread in busy:
        thread.start()
    try:
        with multiprocessing.get_context("fork").Pool(2) as pool:
            got = pool.map(_fitted, range(3), chunksize=1)
    finally:
        stop.set()
        for thread in busy:
            thread.join()
    print("same" if got == expected else "differ")


# The AddressSanitizer runtime this project's sanitized run preloads (GCC
# 12's) takes none of its allocator's locks across a fork: a child forked
# while another thread of the parent is inside malloc waits forever on that
# thread's lock in its first malloc, whatever code it runs.
UNDER_ADDRESS_SANITIZER = "libasan" in os.environ.get("LD_PRELOAD", "")


@pytest.mark.skipif(
    "fork" not in multiprocessing.get_all_start_methods(), reason="no fork on this platform"
)
@pytest.mark.skipif(
    UNDER_ADDRESS_SANITIZER, reason="the sanitizer's allocator is not fork-safe with threads"
)
def test_children_forked_while_threads_fit_fit_as_the_parent():
    from package_under_test import subprocess_env

    scenario = subprocess.Popen(
        [sys.executable, "-W", "ignore::DeprecationWarning", __file__],
        env=subprocess_env(),
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        start_new_session=True,
    )
    try:
        out, err = scenario.communicate(timeout=SCENARIO_SECONDS)
    except subprocess.TimeoutExpired:
        # Every process of the scenario prints its threads' stacks and ends.
        os.killpg(scenario.pid, signal.SIGABRT)
        try:
            out, err = scenario.communicate(timeout=30)
        finally:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(scenario.pid, signal.SIGKILL)
    assert (scenario.returncode, out) == (0, "same\n"), err[-20_000:]


if __name__ == "__main__":
    _scenario()
