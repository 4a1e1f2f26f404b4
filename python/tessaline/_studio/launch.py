"""Starting a studio from Python: `studio` fits (or takes) the binning,
serves the page and returns a `Studio` handle, which shows the page inline
in Jupyter and holds the edited binning."""

from __future__ import annotations

import html
import pathlib
import sys
import threading
from typing import TYPE_CHECKING, Any

from .._core import checks
from .._table_binning import TableBinning
from .session import Session, binning_of, recovery_path, replay_edits, snapshot

if TYPE_CHECKING:
    from .server import StudioServer


class Studio:
    """A running studio: `url` is its page (with the session's token),
    `binning` the binning as edited so far (a copy, current at every edit),
    `stop` ends it; in Jupyter the handle shows the page inline."""

    def __init__(self, session: Session, server: StudioServer) -> None:
        self._session, self._server = session, server

    @property
    def url(self) -> str:
        return self._server.url

    @property
    def binning(self) -> TableBinning:
        """The binning as edited so far, with every edit logged."""
        return self._session.binning

    @property
    def running(self) -> bool:
        return not self._server.stopped.is_set()

    def stop(self) -> None:
        """Stop the server (the page stops answering); edits not saved are
        kept in the recovery file beside the output."""
        self._server.stop()

    def open_browser(self) -> None:
        """Open the page in the web browser. The browser is given a file
        only this user can read, which hands the token over: a command
        line with the token would show it to every local user."""
        import webbrowser

        webbrowser.open(self._server.handover_file().as_uri())

    def wait(self) -> TableBinning:
        """Block until the last open page is closed (or Ctrl-C), then stop;
        the binning as edited."""
        try:
            # A timed wait keeps Ctrl-C deliverable to this thread.
            while not self._server.stopped.wait(0.5):
                pass
        except KeyboardInterrupt:
            pass  # Ctrl-C ends the studio; the edits made are kept
        finally:
            self.stop()
        return self.binning

    def _repr_html_(self) -> str:
        return (
            f'<iframe src="{html.escape(self.url)}" title="tessaline studio" '
            'style="width:100%;height:780px;border:1px solid #ccc"></iframe>'
        )

    def __repr__(self) -> str:
        state = "running at " + self.url if self.running else "stopped"
        return f"<tessaline Studio {state}>"


def in_notebook() -> bool:
    """Whether this is a Jupyter kernel (the page then shows inline)."""
    shell = sys.modules.get("IPython")
    get = getattr(shell, "get_ipython", None)
    return get is not None and "IPKernelApp" in getattr(get(), "config", {})


def start_session(
    binning: Any, data: Any, y: Any, event: Any = None
) -> tuple[TableBinning, TableBinning, list[str]]:
    """The binning to edit, the binning fitted on `data` (what a reset puts
    back), and the edits of `binning` that no longer apply. Without a
    `binning`, a `TableBinning(event=event)` is fitted; a binning whose
    tables keep their counts is edited as it is; one read from a document
    is fitted again on `data` with its options and its edits made again."""
    if binning is None:
        fitted = TableBinning(event=event).fit(data, y)
        return snapshot(fitted), fitted, []
    given = binning_of(binning)
    fitted = TableBinning(**given.get_options()).fit(data, y)
    if given.tables and all(t.basis is not None for t in given.tables.values()):
        return snapshot(given), fitted, []
    current = snapshot(fitted)
    return current, fitted, replay_edits(current, given, reissue=True)


def recovery_note(output: pathlib.Path | None, how: str) -> list[str]:
    """The offer of the edits an earlier session on `output` stopped
    without saving, when its recovery file is there; `how` says how to
    carry on from them."""
    if output is None or not recovery_path(output).exists():
        return []
    path = recovery_path(output)
    return [f"edits not saved when a studio stopped are kept in {path}; {how.format(path=path)}"]


def studio(
    binning: TableBinning | Any,
    data: Any,
    y: Any,
    *,
    event: Any = None,
    output: str | pathlib.Path | None = None,
    author: str | None = None,
    port: int = 0,
    open_browser: bool | None = None,
    wait: bool | None = None,
) -> Studio:
    """Edit every column's bins in a browser page: the columns ranked by IV,
    each one's chart and table; split, merge, move cuts and categories, fix
    cuts and re-optimise the rest, undo, redo, reset, each edit with a reason
    in the log.

    `binning` is a `TableBinning` (or a `Scorecard`, whose binning is edited)
    fitted on `data` against `y` (an array or a column name), or None to fit
    one with `event`. Save writes the edited binning's JSON document to
    `output`; every edit is logged with `author` and the time (UTC); a
    studio stopped with edits not saved keeps them beside `output` (in
    NAME.unsaved.json), which the next studio on `output` offers. The
    server listens on 127.0.0.1 at `port` (0: a free one) with a random
    token in the page's address (`handle.url`); the browser it opens gets
    the token through a file only this user can read, as a cookie. In
    Jupyter the page shows inline when the returned handle is displayed and
    the cell returns at once (``wait=False``; the server runs until
    ``handle.stop()`` or the kernel ends); elsewhere the browser opens and
    the call waits until the last open page is closed or Ctrl-C. Either way
    ``handle.binning`` is the edited binning::

        handle = tl.studio(None, data, "creditability", event="bad", output="edited.json")
        handle.binning.tables["duration_in_month"].edits
    """
    # The web server's modules load when a studio starts, not with the package.
    from .server import serve

    port = checks.whole_number("port", port, 0, 65535)
    if binning is not None and event is not None:
        raise ValueError(
            "event reads the target of a new fit: give it with binning=None, or to the TableBinning"
        )
    out = None if output is None else pathlib.Path(output)
    if out is not None and (out.is_dir() or not out.parent.is_dir()):
        raise ValueError(f"output must be a file in an existing directory, not {str(output)!r}")
    notebook = in_notebook()
    current, fitted, missed = start_session(binning, data, y, event)
    missed += recovery_note(out, "give tl.from_json of it as the binning to carry on from them")
    session = Session(current, fitted, output=out, author=author, messages=missed)
    server = serve(session, port, stop_on_close=not notebook)
    handle = Studio(session, server)
    if open_browser if open_browser is not None else not notebook:
        threading.Thread(target=handle.open_browser, daemon=True).start()
    if wait if wait is not None else not notebook:
        handle.wait()
    return handle
