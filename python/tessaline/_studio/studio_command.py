"""The studio command: a CSV file's columns binned against its target (or
a saved model's binning fitted again on it, with its edits made again),
edited in the browser, saved as the binning's JSON document.

    python -m tessaline studio DATA.csv --target COLUMN [--event VALUE]
        [--model SAVED.json] [--output EDITED.json] [--port N] [--no-browser]
"""

from __future__ import annotations

import argparse
import contextlib
import pathlib
import signal
import threading
from collections.abc import Iterator
from typing import Any, TextIO

from .._core import printing
from .._serialize import from_json
from .._table_binning import TableBinning
from ..exceptions import DataError, DocumentError
from ..report._dataset import read_dataset
from .launch import Studio, recovery_note
from .server import serve
from .session import Session, binning_of, replay_edits, snapshot


def add_command(commands: Any) -> None:
    """The `studio` command among the subcommands `commands`."""
    studio = commands.add_parser(
        "studio",
        help="edit every column's bins in a browser page",
        description="Bin every column of a CSV file against a binary target (or fit a saved "
        "model's binning again on it) and edit the bins in a browser page served on "
        "127.0.0.1: split, merge, move cuts and categories, undo, each edit logged with its "
        "reason. Save writes the edited binning's JSON document; closing the last page, "
        "Ctrl-C or a TERM signal stops the server, keeping edits not saved in "
        "OUT.unsaved.json beside the output, which the next start offers.",
    )
    studio.add_argument("data", metavar="DATA.csv", help="CSV file with a header row")
    studio.add_argument("--target", required=True, metavar="COLUMN", help="the target column")
    studio.add_argument(
        "--event",
        metavar="VALUE",
        help="the target value that marks an event (e.g. 'bad'); without it the target "
        "must be 0/1 (or the model's event applies)",
    )
    studio.add_argument("--sep", default=",", metavar="CHAR", help="the field separator")
    studio.add_argument(
        "--model",
        metavar="SAVED.json",
        help="a saved table binning or scorecard: its options are fitted again on DATA "
        "and its logged edits made again",
    )
    studio.add_argument(
        "--output",
        metavar="EDITED.json",
        help="where Save writes the edited binning (default: DATA's name with .binning.json)",
    )
    studio.add_argument("--author", metavar="NAME", help="the author each edit is logged with")
    studio.add_argument(
        "--port", type=int, default=0, metavar="N", help="the port (default: a free one)"
    )
    studio.add_argument(
        "--no-browser", action="store_true", help="print the page's address, open no browser"
    )
    studio.set_defaults(run=run_studio)


def output_path(output: str | None, data: str) -> pathlib.Path:
    """Where Save writes: the given file or DATA's name with .binning.json,
    never the input file or a directory."""
    source = pathlib.Path(data)
    out = pathlib.Path(output) if output else source.with_name(source.stem + ".binning.json")
    if out.is_dir():
        raise DataError(f"--output {out} is a directory, not a file")
    if out.exists() and source.exists() and out.samefile(source):
        raise DataError(f"--output {out} is the input file; choose another name")
    if not out.parent.is_dir():
        raise DataError(f"--output {out}: the directory {out.parent} does not exist")
    return out


def saved_model(path: str) -> TableBinning:
    try:
        return binning_of(from_json(pathlib.Path(path).read_bytes()))
    except (OSError, DocumentError) as error:
        raise DataError(f"--model {path}: {getattr(error, 'strerror', None) or error}") from None
    except TypeError:
        raise DataError(
            f"--model {path} is a single table's document; give a table binning or a scorecard"
        ) from None


def fitted_session(args: argparse.Namespace) -> Session:
    """The session of the command: DATA read with the target's event, binned
    with the model's options (or the defaults), the model's edits made again."""
    model = saved_model(args.model) if args.model else None
    event = args.event
    if event is None and model is not None and isinstance(model.event, str):
        event = model.event
    dataset = read_dataset(args.data, args.target, event, "\t" if args.sep == "\\t" else args.sep)
    # The columns in the file's order, the target as its event flags.
    columns = {**dataset.numeric, **dataset.categorical, args.target: dataset.target}
    data = {name: columns[name] for name in dataset.names}
    options = model.get_options() if model is not None else {}
    options.update(event=None, value=None, percentile=None)
    try:
        fitted = TableBinning(**options).fit(data, args.target)
    except ValueError as error:
        raise DataError(str(error)) from None
    # The file's target is read with the event value: the binning says so.
    fitted.event = event
    current = snapshot(fitted)
    missed = [] if model is None else replay_edits(current, model)
    output = output_path(args.output, args.data)
    missed += recovery_note(output, CARRY_ON)
    return Session(current, fitted, output=output, author=args.author, messages=missed)


# How the analyst carries on from the edits a stopped session kept.
CARRY_ON = "start with --model {path} to carry on from them"


def interrupt(number: int, frame: Any) -> None:
    raise KeyboardInterrupt


@contextlib.contextmanager
def stopping_on_signals() -> Iterator[None]:
    """A TERM signal (a closed terminal's HUP too) ends the studio as Ctrl-C
    does: stopped, with the edits not saved kept, instead of killed with them."""
    # Handlers can only be set on the main thread (the command run elsewhere keeps the defaults).
    main = threading.current_thread() is threading.main_thread()
    names = [n for n in ("SIGTERM", "SIGHUP") if hasattr(signal, n) and main]
    before = {n: signal.signal(getattr(signal, n), interrupt) for n in names}
    try:
        yield
    finally:
        for name, handler in before.items():
            signal.signal(getattr(signal, name), handler)


def ending(session: Session) -> str:
    """The command's last line: how the studio stopped and where the edits are."""
    status = session.status()
    if session.kept is not None:
        carry_on = CARRY_ON.format(path=session.kept)
        return f"stopped with edits not saved; they are kept in {session.kept} ({carry_on})"
    if status["unsaved"]:
        why = f" ({session.kept_error})" if session.kept_error else ""
        return "stopped with edits not saved" + why
    return f"stopped; saved to {session.output}" if status["saved"] else "stopped"


def run_studio(args: argparse.Namespace, stdout: TextIO, stderr: TextIO) -> int:
    try:
        session = fitted_session(args)
        server = serve(session, args.port)
    except (DataError, OSError) as error:
        text = f"tessaline studio: error: {getattr(error, 'strerror', None) or error}"
        stderr.write(printing.printable(text) + "\n")
        return 2
    for message in session.messages:
        stderr.write(printing.printable(f"tessaline studio: {message}") + "\n")
    handle = Studio(session, server)
    stdout.write(f"tessaline studio: {handle.url}\n")
    stdout.write(f"saves to {session.output}; close the page or press Ctrl-C to stop\n")
    stdout.flush()
    with stopping_on_signals():
        if not args.no_browser:
            handle.open_browser()
        handle.wait()
    stdout.write(f"tessaline studio: {ending(session)}\n")
    return 0
