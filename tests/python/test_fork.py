"""Tables fitted in processes forked while the parent's threads fit tables
(multiprocessing's fork start method, the usual way to fit in parallel on
Linux) are the parent's tables: a child never waits on a lock, or on a
worker thread, that only the parent had."""

from __future__ import annotations

import json
import multiprocessing
import threading

import numpy as np
import pytest

import tessaline as tl

pytestmark = pytest.mark.skipif(
    "fork" not in multiprocessing.get_all_start_methods(), reason="no fork on this platform"
)


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


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
def test_children_forked_while_threads_fit_fit_as_the_parent():
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
            got = pool.map_async(_fitted, range(3), chunksize=1).get(timeout=120)
    finally:
        stop.set()
        for thread in busy:
            thread.join()
    assert got == expected
