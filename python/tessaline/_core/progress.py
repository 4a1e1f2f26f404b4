"""A one-line progress bar for long fits, redrawn in place on a terminal:
the report's and `TableBinning(progress=...)`'s."""

from __future__ import annotations

import sys
import threading
from typing import TextIO

from . import printing

# A fit shows its bar by default from this many columns on, on a terminal.
PROGRESS_FROM = 10


class Progress:
    """A one-line progress bar redrawn in place on a terminal, one step per
    column and stage (binning, scoring, charts). Steps may come from the
    threads that bin the columns."""

    WIDTH = 30

    def __init__(self, total: int, stream: TextIO) -> None:
        self.total = total
        self.stream = stream
        self.done = 0
        self._lock = threading.Lock()

    def step(self, label: str) -> None:
        with self._lock:
            self.done += 1
            self.show(self.done, label)

    def show(self, done: int, label: str) -> None:
        filled = self.WIDTH * done // max(self.total, 1)
        bar = "#" * filled + "-" * (self.WIDTH - filled)
        share = 100 * done // max(self.total, 1)
        label = printing.printable(label)[:40]
        self.stream.write(f"\rbinning [{bar}] {share:3d}% {done}/{self.total} {label:<40}")
        self.stream.flush()

    def close(self) -> None:
        self.stream.write("\n")
        self.stream.flush()


def progress_bar(
    progress: bool | None, steps: int, stream: TextIO | None = None
) -> Progress | None:
    """The bar of `steps` steps on `stream` (standard error) when `progress`
    is True, or when it is None and the stream is a terminal and there are
    `PROGRESS_FROM` steps or more; None otherwise."""
    stream = sys.stderr if stream is None else stream
    if progress is None:
        progress = steps >= PROGRESS_FROM and stream.isatty()
    return Progress(steps, stream) if progress else None
