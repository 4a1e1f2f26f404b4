"""The report command: every column of a CSV file binned against its target
(optimal binning for numbers, groups for categories), ranked by information
value, with each column's Gini; in the terminal, and optionally as one
self-contained HTML page.

    python -m tessaline report DATA.csv --target COLUMN [--event VALUE] [--html OUT.html]
        [--exclude COLUMN ...] [--categorical COLUMN ...] [--special-values VALUE ...]
        [--split-column COLUMN | --test-fraction F] [--model OUT.html] [--workbook OUT.xlsx]

With a split, the columns, the binning and the scorecard come from the
training rows, and the scorecard's performance is shown on every sample.
"""

from __future__ import annotations

import argparse
import os
import pathlib
import sys
import warnings
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import Any, TextIO

from .._core import printing
from .._core.progress import PROGRESS_FROM, Progress
from .._scorecard import Scorecard
from .._serialize import from_json
from .._table_binning import TableBinning
from ..exceptions import DataError, DocumentError, TrendWarning
from ._analysis import (
    RANKING_HEADER,
    RANKING_TEXT_COLUMNS,
    ColumnReport,
    analyse,
    columns_of,
    describe,
    fit_scorecard,
    gini_text,
    ranking_rows,
    render_scorecard_text,
)
from ._dataset import Dataset, read_dataset
from ._html_report import render_html
from ._model import model_report
from ._samples import chosen_columns, split_samples


def render_text(dataset: Dataset, reports: Sequence[ColumnReport]) -> str:
    out = [
        f"tessaline report: {dataset.path.name}",
        *describe(dataset),
        "",
        "Columns by information value",
        printing.text_table(RANKING_HEADER, ranking_rows(reports), RANKING_TEXT_COLUMNS),
    ]
    for i, r in enumerate(reports, start=1):
        out.append("")
        if r.table is None:
            out.append(f"{i}. {r.name}: not binned: {r.error}")
            continue
        out.append(
            f"{i}. {r.name}   Gini (bins) {gini_text(r.gini_binned)}, "
            f"Gini (raw) {gini_text(r.gini_raw)}"
        )
        out.append(str(r.table))
    return "\n".join(out) + "\n"


def build_parser(prog: str = "python -m tessaline") -> argparse.ArgumentParser:
    """The command line of the report alone (`tessaline.__main__` adds the studio)."""
    parser = argparse.ArgumentParser(
        prog=prog,
        description="Binning, weight of evidence and scoring of the columns of a data set.",
    )
    add_command(parser.add_subparsers(dest="command", required=True, metavar="COMMAND"))
    return parser


def add_command(commands: Any) -> None:
    """The `report` command among the subcommands `commands`."""
    report = commands.add_parser(
        "report",
        help="bin every column against a binary target, ranked by IV",
        description="Bin every column of a CSV file against a binary target (optimal binning "
        "for numbers, groups of categories for the others), rank the columns by "
        "information value and show each one's Gini.",
    )
    report.add_argument("data", metavar="DATA.csv", help="CSV file with a header row")
    report.add_argument("--target", required=True, metavar="COLUMN", help="the target column")
    report.add_argument(
        "--event",
        metavar="VALUE",
        help="the target value that marks an event (e.g. 'bad'); without it the target must be 0/1",
    )
    report.add_argument(
        "--sep",
        default=",",
        metavar="CHAR",
        help="the field separator (default ','; e.g. ';' or '\\t')",
    )
    report.add_argument(
        "--html",
        metavar="OUT.html",
        help="also write a self-contained HTML page with tables and charts",
    )
    report.add_argument(
        "--scorecard",
        action="store_true",
        help="also fit a scorecard on the selected columns (needs scikit-learn) "
        "and show its points, performance and charts",
    )
    report.add_argument(
        "--exclude", nargs="+", default=[], metavar="COLUMN", help="columns to leave out"
    )
    report.add_argument(
        "--categorical",
        nargs="+",
        default=[],
        metavar="COLUMN",
        help="numeric columns to bin as categories (codes, say)",
    )
    report.add_argument(
        "--special-values",
        nargs="+",
        type=float,
        default=[],
        metavar="VALUE",
        help="values kept out of every numeric column's search, each in a "
        "row of its own (e.g. -999)",
    )
    split = report.add_mutually_exclusive_group()
    split.add_argument(
        "--split-column",
        metavar="COLUMN",
        help="the column marking each row train, test or oot: the binning and "
        "the scorecard are fitted on the train rows",
    )
    split.add_argument(
        "--test-fraction",
        type=float,
        metavar="F",
        help="hold out this fraction of the rows, drawn within each class",
    )
    report.add_argument("--seed", type=int, default=0, help="the seed of --test-fraction")
    report.add_argument(
        "--model",
        metavar="OUT.html",
        help="write the model's documentation of the scorecard (implies "
        "--scorecard): every variable, selection, coefficients, "
        "discrimination, calibration and stability per sample",
    )
    report.add_argument(
        "--workbook",
        metavar="OUT.xlsx",
        help="the model's documentation as an Excel workbook (needs openpyxl)",
    )
    report.add_argument(
        "--edits",
        metavar="MODEL.json",
        help="make again the bin edits logged in an earlier model's document "
        "(a table binning or scorecard); what no longer applies is named",
    )
    report.add_argument(
        "--progress",
        action=argparse.BooleanOptionalAction,
        default=None,
        help=f"progress bar on stderr (default: on a terminal, from {PROGRESS_FROM} columns on)",
    )
    report.set_defaults(run=run_report)


def _terminal(text: str) -> str:
    """Names from the file printed with their control characters escaped, so
    that a header cannot move the cursor or retitle the terminal."""
    return "\n".join(printing.printable(line) for line in text.split("\n"))


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
        model = check_output(args.model, args.data) if args.model else None
        dataset = read_dataset(
            args.data, args.target, args.event, "\t" if args.sep == "\\t" else args.sep
        )
        samples = split_samples(
            chosen_columns(dataset, args.exclude, args.categorical),
            column=args.split_column,
            fraction=args.test_fraction,
            seed=args.seed,
        )
        dataset = samples["train"]
        edits = earlier_model(args.edits) if args.edits else None
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
        return _report_run(
            dataset,
            out,
            progress,
            stdout,
            stderr,
            args.scorecard or model is not None or args.workbook is not None,
            Extras(samples, args.special_values, model, args.workbook, edits),
        )
    finally:
        if progress is not None:
            progress.show(progress.done, "done")
            progress.close()


@dataclass
class Extras:
    """What the run does beyond the columns' report: the other samples, the
    special values, and the model's documentation."""

    samples: dict[str, Dataset] = field(default_factory=dict)
    special_values: Sequence[float] = ()
    model: pathlib.Path | None = None
    workbook: str | None = None
    edits: TableBinning | None = None  # an earlier model whose bin edits are made again


def earlier_model(path: str) -> TableBinning:
    """The binning of the model document at `path`, whose edit logs a run
    makes again."""
    try:
        model = from_json(pathlib.Path(path).read_bytes())
    except (OSError, DocumentError) as error:
        raise DataError(f"--edits {path}: {getattr(error, 'strerror', None) or error}") from None
    binning = model.binning if isinstance(model, Scorecard) else model
    if not isinstance(binning, TableBinning):
        raise DataError(
            f"--edits {path} is a single table's document; give a table binning or a scorecard"
        )
    return binning


def _report_run(
    dataset: Dataset,
    out: pathlib.Path | None,
    progress: Progress | None,
    stdout: TextIO,
    stderr: TextIO,
    scorecard: bool = False,
    extras: Extras | None = None,
) -> int:
    extras = extras if extras is not None else Extras()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", TrendWarning)
        reports, binning = analyse(dataset, progress, extras.special_values, extras.edits)
    for warning in caught:
        stderr.write(_terminal(f"tessaline report: warning: {warning.message}") + "\n")
    for name, missed in (binning.not_replayed if binning is not None else {}).items():
        for message in missed:
            stderr.write(_terminal(f"tessaline report: {name}: {message}") + "\n")
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
        others = {n: s for n, s in extras.samples.items() if n != "train"}
        for name, sample in others.items():
            held = card.performance(columns_of(sample), sample.target)
            stdout.write(_terminal(f"\nPerformance on the {name} sample: {held}\n"))
        if extras.model is not None or extras.workbook is not None:

            def sample_of(name: str) -> tuple[Any, Any] | None:
                s = extras.samples.get(name)
                return None if s is None else (columns_of(s), s.target)

            try:
                model_report(
                    card,
                    (columns_of(dataset), dataset.target),
                    test=sample_of("test"),
                    oot=sample_of("out-of-time"),
                    path=extras.model,
                    workbook=extras.workbook,
                )
            except (ImportError, OSError) as error:
                stderr.write(_terminal(f"tessaline report: error: {error}") + "\n")
                return 2
    if out is not None:
        try:
            out.write_text(
                render_html(dataset, reports, progress, card, performance), encoding="utf-8"
            )
        except OSError as error:
            stderr.write(
                _terminal(f"tessaline report: error: cannot write {out}: {error.strerror}") + "\n"
            )
            return 2
        stdout.write(_terminal(f"\nHTML report written to {out}") + "\n")
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    # Installed as the `tessaline` command too; under -m, argv[0] is __main__.py.
    command = pathlib.Path(sys.argv[0]).name
    parser = build_parser("tessaline" if command == "tessaline" else "python -m tessaline")
    args = parser.parse_args(argv)
    return run_report(args, sys.stdout, sys.stderr)
