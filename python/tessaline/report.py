"""The report command: every numeric column of a CSV file binned against its
target with MDLP, ranked by information value, with each column's Gini; in the
terminal, and optionally as one self-contained HTML page.

    python -m tessaline report DATA.csv --target COLUMN [--event VALUE] [--html OUT.html]
"""
from __future__ import annotations

import argparse
import math
import os
import pathlib
import sys
import threading
from collections.abc import Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, TextIO

import numpy as np

from . import _format
from .binning import BinningTable
from .dataset import Dataset, DataError, read_dataset
from .diagnostics import GiniResult, gini
from .woe import iv_strength

if TYPE_CHECKING:
    from .performance import ScorePerformance
    from .scorecard import Scorecard
    from .table import TableBinning

# From this many columns on, a progress bar runs on stderr (when it is a terminal).
PROGRESS_FROM = 10


@dataclass
class ColumnReport:
    name: str
    table: BinningTable | None
    gini_binned: GiniResult | None  # the column's WoE as a score
    gini_raw: GiniResult | None  # the column's values as a score
    error: str | None = None  # why the column could not be binned

    @property
    def information_value(self) -> float:
        return math.nan if self.table is None else self.table.information_value


def _gini_or_none(score: np.ndarray, target: np.ndarray) -> GiniResult | None:
    try:
        return gini(score, target)
    except ValueError:
        return None  # a single class among the scored rows: no Gini


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
        label = _format.printable(label)[:40]
        self.stream.write(f"\rbinning [{bar}] {share:3d}% {done}/{self.total} {label:<40}")
        self.stream.flush()

    def close(self) -> None:
        self.stream.write("\n")
        self.stream.flush()


def columns_of(dataset: Dataset) -> dict[str, np.ndarray]:
    return {**dataset.numeric, **dataset.categorical}


def analyse(dataset: Dataset, progress: Progress | None = None
            ) -> tuple[list[ColumnReport], TableBinning | None]:
    """Every column's report, highest information value first (columns
    without one last, in file order), and the fitted binning (None when no
    column could be binned)."""
    from .table import TableBinning

    columns = columns_of(dataset)
    fitted: TableBinning | None = None
    try:
        fitted = TableBinning().fit(columns, dataset.target,
                                    on_column=progress.step if progress is not None else None)
        tables, skipped = fitted.tables, fitted.skipped
    except ValueError as error:
        tables, skipped = {}, {n: str(error) for n in columns}
    reports = []
    for name in columns:
        if progress is not None:
            progress.step(name)
        if name not in tables:
            reports.append(ColumnReport(name, None, None, None, error=skipped.get(name)))
            continue
        x = columns[name]
        woe = tables[name].transform(x, output="woe")
        raw = _gini_or_none(x, dataset.target) if name in dataset.numeric else None
        reports.append(ColumnReport(name, tables[name], _gini_or_none(woe, dataset.target), raw))
    return sorted(reports, key=lambda r: -r.information_value
                  if not math.isnan(r.information_value) else math.inf), fitted


def fit_scorecard(dataset: Dataset, binning: TableBinning | None) -> Scorecard:
    """The default scorecard on the report's binning (its selected columns)."""
    from .scorecard import Scorecard

    if binning is None:
        raise DataError("no column could be binned, so there is no scorecard")
    try:
        return Scorecard(binning).fit(columns_of(dataset), dataset.target)
    except (ImportError, ValueError) as error:
        raise DataError(f"the scorecard could not be fitted: {error}") from error


def render_scorecard_text(card: Scorecard, performance: ScorePerformance) -> str:
    return (f"Scorecard\n{card}\n\nPerformance of the score on the rows it was fitted on: "
            f"{performance}\n")


def _gini_text(result: GiniResult | None) -> str:
    return "-" if result is None else f"{result.gini:+.3f}"


def describe(dataset: Dataset) -> list[str]:
    """The lines that introduce a report."""
    known = dataset.target[~np.isnan(dataset.target)]
    events = int(known.sum())
    categorical = len(dataset.categorical)
    lines = [
        f"{dataset.n_rows} rows; target '{dataset.target_name}' with event "
        f"'{dataset.event}': {events} events of {known.size} "
        f"({events / known.size:.1%})" if known.size else "no known target value",
        f"{len(dataset.numeric)} numeric column{'s' if len(dataset.numeric) != 1 else ''}"
        + (f" and {categorical} column{'s' if categorical != 1 else ''} of categories"
           if categorical else "") + " read",
        "Optimal binning: at most 8 bins, each with 5% of the rows, an event and a non-event, "
        "event rate rising or falling; Gini (bins) scores each row by its bin's WoE, "
        "Gini (raw) by the column's value",
    ]
    lines.extend(f"'{name}': {count} row{'s' if count != 1 else ''} dropped as non-finite "
                 f"(inf, or beyond the float range)" for name, count in dataset.non_finite.items())
    if known.size < dataset.n_rows:
        lines.append(f"{dataset.n_rows - known.size} rows without a target value are left out")
    return lines


RANKING_HEADER = ("#", "column", "bins", "IV", "strength", "Gini (bins)", "Gini (raw)")
RANKING_TEXT_COLUMNS = (1, 4)


def ranking_rows(reports: Sequence[ColumnReport]) -> list[list[str]]:
    rows = []
    for i, r in enumerate(reports, start=1):
        if r.table is None:
            rows.append([str(i), r.name, "-", "-", "failed", "-", "-"])
            continue
        iv = r.table.information_value
        rows.append([str(i), r.name, str(r.table.n_bins), _format.fixed(iv, 4), iv_strength(iv),
                     _gini_text(r.gini_binned), _gini_text(r.gini_raw)])
    return rows


def render_text(dataset: Dataset, reports: Sequence[ColumnReport]) -> str:
    out = [f"tessaline report: {dataset.path.name}", *describe(dataset), "",
           "Columns by information value",
           _format.text_table(RANKING_HEADER, ranking_rows(reports), RANKING_TEXT_COLUMNS)]
    for i, r in enumerate(reports, start=1):
        out.append("")
        if r.table is None:
            out.append(f"{i}. {r.name}: not binned: {r.error}")
            continue
        out.append(f"{i}. {r.name}   Gini (bins) {_gini_text(r.gini_binned)}, "
                   f"Gini (raw) {_gini_text(r.gini_raw)}")
        out.append(str(r.table))
    return "\n".join(out) + "\n"


def build_parser(prog: str = "python -m tessaline") -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=prog,
        description="Binning and scoring of the numeric columns of a data set.")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    report = commands.add_parser(
        "report", help="bin every numeric column against a binary target, ranked by IV",
        description="Bin every numeric column of a CSV file against a binary target with MDLP, "
                    "rank the columns by information value and show each one's Gini.")
    report.add_argument("data", metavar="DATA.csv", help="CSV file with a header row")
    report.add_argument("--target", required=True, metavar="COLUMN", help="the target column")
    report.add_argument("--event", metavar="VALUE",
                        help="the target value that marks an event (e.g. 'bad'); "
                             "without it the target must be 0/1")
    report.add_argument("--sep", default=",", metavar="CHAR",
                        help="the field separator (default ','; e.g. ';' or '\\t')")
    report.add_argument("--html", metavar="OUT.html",
                        help="also write a self-contained HTML page with tables and charts")
    report.add_argument("--scorecard", action="store_true",
                        help="also fit a scorecard on the selected columns (needs scikit-learn) "
                             "and show its points, performance and charts")
    report.add_argument("--progress", action=argparse.BooleanOptionalAction, default=None,
                        help="progress bar on stderr (default: on a terminal, from "
                             f"{PROGRESS_FROM} columns on)")
    return parser


def _terminal(text: str) -> str:
    """Names from the file printed with their control characters escaped, so
    that a header cannot move the cursor or retitle the terminal."""
    return "\n".join(_format.printable(line) for line in text.split("\n"))


def check_output(html: str, data: str) -> pathlib.Path:
    """The page's path, checked before the run, so that a bad path fails at
    once rather than after every column is binned, and the input is never
    overwritten."""
    out = pathlib.Path(html)
    if out.is_dir():
        raise DataError(f"--html {html} is a directory, not a file")
    source = pathlib.Path(data)
    if out.exists() and source.exists() and out.samefile(source):
        raise DataError(f"--html {html} is the input file; choose another name")
    parent = out.parent
    try:
        parent.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise DataError(f"--html {html}: cannot create its directory: {error.strerror}") from error
    if not os.access(parent, os.W_OK) or (out.exists() and not os.access(out, os.W_OK)):
        raise DataError(f"--html {html} is not writable")
    return out


def run_report(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    try:
        out = check_output(args.html, args.data) if args.html else None
        dataset = read_dataset(args.data, args.target, args.event,
                               "\t" if args.sep == "\\t" else args.sep)
    except DataError as error:
        stderr.write(_terminal(f"tessaline report: error: {error}") + "\n")
        return 2
    show_progress = args.progress
    n_columns = len(dataset.numeric) + len(dataset.categorical)
    if show_progress is None:
        show_progress = n_columns >= PROGRESS_FROM and stderr.isatty()
    # Binning and scoring each column, then its charts when a page is written.
    steps = n_columns * (3 if out is not None else 2)
    progress = Progress(steps, stderr) if show_progress else None
    try:
        return _report_run(dataset, out, progress, stdout, stderr, args.scorecard)
    finally:
        if progress is not None:
            progress.show(progress.done, "done")
            progress.close()


def _report_run(dataset: Dataset, out: pathlib.Path | None, progress: Progress | None,
                stdout: TextIO, stderr: TextIO, scorecard: bool = False) -> int:
    reports, binning = analyse(dataset, progress)
    stdout.write(_terminal(render_text(dataset, reports)))
    card = performance = None
    if scorecard:
        try:
            card = fit_scorecard(dataset, binning)
        except DataError as error:
            stderr.write(_terminal(f"tessaline report: error: {error}") + "\n")
            return 2
        performance = card.performance(columns_of(dataset), dataset.target)
        stdout.write(_terminal("\n" + render_scorecard_text(card, performance)))
    if out is not None:
        from .html_report import render_html

        try:
            out.write_text(render_html(dataset, reports, progress, card, performance),
                           encoding="utf-8")
        except OSError as error:
            stderr.write(_terminal(f"tessaline report: error: cannot write {out}: "
                                   f"{error.strerror}") + "\n")
            return 2
        stdout.write(_terminal(f"\nHTML report written to {out}") + "\n")
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    # Installed as the `tessaline` command too; under -m, argv[0] is __main__.py.
    command = pathlib.Path(sys.argv[0]).name
    parser = build_parser("tessaline" if command == "tessaline" else "python -m tessaline")
    args = parser.parse_args(argv)
    return run_report(args, sys.stdout, sys.stderr)
