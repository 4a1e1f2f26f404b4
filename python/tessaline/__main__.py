"""python -m tessaline report DATA.csv --target COLUMN [--event VALUE] [--html OUT.html]
python -m tessaline monitor DATA --card CARD.json --period COLUMN [--target COLUMN] [--out OUT.html]
python -m tessaline studio DATA.csv --target COLUMN [--event VALUE] [--output OUT.json]
python -m tessaline --version"""

from __future__ import annotations

import argparse
import pathlib
import sys
from collections.abc import Sequence

from ._studio.studio_command import add_command as add_studio
from ._version import __version__
from .report._command import add_command as add_report
from .report._monitor_command import add_command as add_monitor


def main(argv: Sequence[str] | None = None) -> int:
    # Installed as the `tessaline` command too; under -m, argv[0] is __main__.py.
    command = pathlib.Path(sys.argv[0]).name
    parser = argparse.ArgumentParser(
        prog="tessaline" if command == "tessaline" else "python -m tessaline",
        description=(
            "Credit-risk binning, weight of evidence and scorecards: report bins and ranks "
            "every column of a CSV file against a target; monitor measures a card period by "
            "period; studio edits the bins in a browser."
        ),
    )
    parser.add_argument("--version", action="version", version=f"tessaline {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    add_report(commands)
    add_monitor(commands)
    add_studio(commands)
    args = parser.parse_args(argv)
    code: int = args.run(args, sys.stdout, sys.stderr)
    return code


if __name__ == "__main__":
    sys.exit(main())
