"""The monitor command: a deployed card's periods in a CSV or Parquet file,
measured against its development sample (the counts the card keeps, a file
of the development rows, or one of the periods); the lights in the
terminal, and optionally the page and the workbook.

    python -m tessaline monitor DATA --card CARD.json --period COLUMN [--target COLUMN]
        [--frequency month|quarter] [--reference DEV | --reference-period LABEL]
        [--out monitor.html] [--workbook monitor.xlsx]
"""

from __future__ import annotations

import argparse
import pathlib
from typing import Any, TextIO

from .._core.dependencies import require
from .._monitor_periods import monitor
from .._serialize import from_json
from ..exceptions import DataError, DocumentError, TargetError
from ._command import _terminal, check_output
from ._monitor_page import monitoring_page


def add_command(commands: Any) -> None:
    """The `monitor` command among the subcommands `commands`."""
    command = commands.add_parser(
        "monitor",
        help="monitor a scorecard period by period: PSI, CSI, AUC and calibration lights",
        description="Measure a fitted scorecard (its JSON document) on every period of a "
        "CSV or Parquet file against its development sample: score PSI, each variable's "
        "CSI, AUC with its change and calibration, lit green, amber or red.",
    )
    command.add_argument("data", metavar="DATA", help="CSV (with a header row) or Parquet file")
    command.add_argument("--card", required=True, metavar="CARD.json", help="the card's document")
    command.add_argument("--period", required=True, metavar="COLUMN", help="the period column")
    command.add_argument(
        "--target", metavar="COLUMN", help="the outcome column (rows without one are not labelled)"
    )
    command.add_argument(
        "--frequency",
        choices=("month", "quarter"),
        help="bucket a column of dates by month or quarter",
    )
    reference = command.add_mutually_exclusive_group()
    reference.add_argument(
        "--reference",
        metavar="DEV",
        help="the development rows (CSV or Parquet); default: the counts the card keeps",
    )
    reference.add_argument("--reference-period", metavar="LABEL", help="a period as the reference")
    command.add_argument("--sep", default=",", metavar="CHAR", help="the CSV field separator")
    command.add_argument("--out", metavar="OUT.html", help="write the monitoring page")
    command.add_argument(
        "--workbook", metavar="OUT.xlsx", help="write the same tables as an Excel workbook"
    )
    command.set_defaults(run=run_monitor)


def _reason(error: Exception) -> str:
    return getattr(error, "strerror", None) or str(error)


def read_table(path: str, sep: str, dates: str | None) -> Any:
    """The rows of a CSV or Parquet file as a frame, the column `dates` read
    as dates."""
    pandas = require("pandas", "the monitor command")
    try:
        if path.lower().endswith((".parquet", ".pq")):
            frame = pandas.read_parquet(path)
        else:
            frame = pandas.read_csv(path, sep="\t" if sep == "\\t" else sep)
    except (OSError, ValueError, ImportError) as error:
        raise DataError(
            f"cannot read {path}: {getattr(error, 'strerror', None) or error}"
        ) from None
    if dates is not None and dates in frame and frame[dates].dtype == object:
        try:
            frame[dates] = pandas.to_datetime(frame[dates])
        except (ValueError, TypeError):
            raise DataError(f"the period column {dates!r} of {path} holds no dates") from None
    return frame


def run_monitor(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    try:
        out = check_output(args.out, args.data) if args.out else None
        try:
            card = from_json(pathlib.Path(args.card).read_bytes())
        except (OSError, DocumentError) as error:
            raise DataError(
                f"--card {args.card}: {getattr(error, 'strerror', None) or error}"
            ) from None
        dates = args.period if args.frequency else None
        data = read_table(args.data, args.sep, dates)
        reference = read_table(args.reference, args.sep, None) if args.reference else None
        result = monitor(
            card,
            data,
            period=args.period,
            target=args.target,
            reference=reference,
            reference_period=args.reference_period,
            frequency=args.frequency,
        )
        stdout.write(_terminal(str(result)))
        if out is not None or args.workbook is not None:
            monitoring_page(
                result,
                title=f"Monitoring of {pathlib.Path(args.data).name}",
                path=out,
                workbook=args.workbook,
            )
    except (DataError, ValueError, TypeError, TargetError, ImportError, OSError) as error:
        stderr.write(_terminal(f"tessaline monitor: error: {error}") + "\n")
        return 2
    if out is not None:
        stdout.write(_terminal(f"\nMonitoring page written to {out}") + "\n")
    return 0
