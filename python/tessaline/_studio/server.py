"""The studio's web server: the standard library's threading HTTP server,
bound to 127.0.0.1 only, answering only requests from 127.0.0.1 that carry
the session's random token (as the first part of the path, or as the cookie
the login hands the browser), and only for the page's three files and the
requests of `api`. The page sends data, never code, and names no file: the
only files written are the output the session was started with and, when
it stops with edits not saved, the recovery file beside it."""

from __future__ import annotations

import atexit
import json
import pathlib
import secrets
import threading
import urllib.parse
from collections.abc import Mapping
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from importlib import resources
from typing import Any

from ..exceptions import EditError
from . import api
from .handover import cookie_name, cookie_value, remove_handover, session_cookie, write_handover
from .session import Session, StaleChangeError

# The page's files, by their path after the token, and their media types.
STATIC = {
    "": ("index.html", "text/html; charset=utf-8"),
    "studio.js": ("studio.js", "text/javascript; charset=utf-8"),
    "studio.css": ("studio.css", "text/css; charset=utf-8"),
}
# The requests the page reads with GET; the others change the session (POST).
READS = ("state", "column")
CHANGES = ("edit", "undo", "redo", "reset", "save", "close")
# The largest request body read (the page's requests are a few hundred bytes).
MAX_BODY = 1 << 20
# After the last open page says it is closing, the seconds a reload has to
# come back before the server stops.
CLOSE_GRACE = 2.0
# The connections served at once (a page makes a few; more are refused,
# so idle ones cannot take every thread), and the seconds a connection may
# stay silent before it is closed.
MAX_CONNECTIONS = 32
IDLE_SECONDS = 20.0
# The page may only load its own files and talk to this server.
HEADERS = {
    "Content-Security-Policy": "default-src 'none'; script-src 'self'; style-src 'self'; "
    "connect-src 'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'",
    "X-Content-Type-Options": "nosniff",
    "Referrer-Policy": "no-referrer",
    "Cache-Control": "no-store",
}


def is_local(address: str) -> bool:
    """Whether a peer's address is this machine's loopback 127.0.0.1, the
    only one the studio answers."""
    return address == "127.0.0.1"


def page_files() -> dict[str, tuple[bytes, str]]:
    """The page's files, read from the package once."""
    folder = resources.files(__package__) / "static"
    return {path: ((folder / name).read_bytes(), kind) for path, (name, kind) in STATIC.items()}


class StudioServer(ThreadingHTTPServer):
    """The server of one session; `stopped` is set once it has stopped
    serving and kept the edits not saved. Each page names itself in its
    requests; when the last open page says it is closing (`page_closing`)
    the server stops unless a request comes back within `CLOSE_GRACE`
    seconds (a reload); with `stop_on_close` False (a notebook's page) it
    keeps serving."""

    daemon_threads = True
    # Stopping does not wait for connections a browser keeps open idle.
    block_on_close = False
    # No port shared with another process: a second server fails to bind.
    allow_reuse_address = False
    max_connections = MAX_CONNECTIONS

    def __init__(self, session: Session, port: int = 0, stop_on_close: bool = True) -> None:
        super().__init__(("127.0.0.1", port), StudioHandler)
        self.session = session
        self.token = secrets.token_urlsafe(24)
        self.files = page_files()
        self.stop_on_close = stop_on_close
        self.stopped = threading.Event()
        self._stopping = threading.Lock()
        self._closing: threading.Timer | None = None
        self._thread: threading.Thread | None = None
        self._pages: set[str] = set()
        self._lock = threading.Lock()
        self._connections = 0
        self._handover: pathlib.Path | None = None

    @property
    def port(self) -> int:
        return int(self.server_address[1])

    @property
    def url(self) -> str:
        return f"http://127.0.0.1:{self.port}/{self.token}/"

    def handover_file(self) -> pathlib.Path:
        """The file to open the browser on (its address holds no token)."""
        if self._handover is None:
            login = f"http://127.0.0.1:{self.port}/login?token={self.token}"
            self._handover = write_handover(login)
        return self._handover

    def start(self) -> None:
        """Serve on a background thread; the interpreter's exit stops it
        (keeping the edits not saved)."""
        self._thread = threading.Thread(
            target=self.serve_forever, name="tessaline-studio", daemon=True
        )
        self._thread.start()
        atexit.register(self.stop)

    def stop(self) -> None:
        """Stop serving, close the socket and keep the edits not saved in
        the recovery file (from any thread but the server's own)."""
        with self._stopping:
            if self.stopped.is_set():
                return
            if self._thread is not None:
                self.shutdown()
                self._thread.join()
            self.server_close()
            atexit.unregister(self.stop)
            if self._handover is not None:
                remove_handover(self._handover)
            self.session.keep_unsaved()
            self.stopped.set()

    # -- the pages open --------------------------------------------------------
    def page_open(self, page: Any) -> None:
        """A request came (from the page `page` when it names itself): a
        close is not final."""
        with self._lock:
            if isinstance(page, str) and 0 < len(page) <= 64:
                self._pages.add(page)
            if self._closing is not None:
                self._closing.cancel()
                self._closing = None

    def page_closing(self, page: Any) -> None:
        with self._lock:
            self._pages.discard(page if isinstance(page, str) else "")
            if not self.stop_on_close or self._pages or self._closing is not None:
                return
            self._closing = threading.Timer(CLOSE_GRACE, self.stop)
            self._closing.daemon = True
            self._closing.start()

    # -- connections -----------------------------------------------------------
    def process_request(self, request: Any, client_address: Any) -> None:
        """Serve the connection on a thread of its own, or close it at once
        when `max_connections` are being served."""
        with self._lock:
            full = self._connections >= self.max_connections
            self._connections += 0 if full else 1
        if full:
            self.shutdown_request(request)
            return
        try:
            super().process_request(request, client_address)
        except BaseException:
            self._release()
            raise

    def process_request_thread(self, request: Any, client_address: Any) -> None:
        try:
            super().process_request_thread(request, client_address)
        finally:
            self._release()

    def _release(self) -> None:
        with self._lock:
            self._connections -= 1


class StudioHandler(BaseHTTPRequestHandler):
    server: StudioServer
    server_version = "tessaline-studio"
    sys_version = ""
    # A connection silent this long is closed (its thread freed).
    timeout = IDLE_SECONDS

    def log_message(self, format: str, *args: Any) -> None:
        """Quiet: the terminal is the analyst's."""

    def do_GET(self) -> None:
        self._serve("GET")

    def do_POST(self) -> None:
        self._serve("POST")

    def _send(
        self, status: int, body: bytes, kind: str, headers: Mapping[str, str] | None = None
    ) -> None:
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        for key, value in {**HEADERS, **(headers or {})}.items():
            self.send_header(key, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def _json(self, status: int, payload: Mapping[str, Any]) -> None:
        body = json.dumps(payload, allow_nan=False).encode("utf-8")
        self._send(status, body, "application/json")

    def _refuse(self, status: HTTPStatus) -> None:
        self._json(status, {"error": status.phrase})

    def _host_is_ours(self) -> bool:
        """A page of another site that resolves its name to 127.0.0.1 sends its
        own name as Host: only this server's address is taken."""
        host = self.headers.get("Host", "")
        return host in (f"127.0.0.1:{self.server.port}", f"localhost:{self.server.port}")

    def _is_token(self, text: str | None) -> bool:
        return text is not None and secrets.compare_digest(
            text.encode(), self.server.token.encode()
        )

    def _redirect(self, status: HTTPStatus, location: str, headers: Mapping[str, str]) -> None:
        self._send(status, b"", "text/plain", {"Location": location, **headers})

    def _serve(self, method: str) -> None:
        if not is_local(self.client_address[0]) or not self._host_is_ours():
            return self._refuse(HTTPStatus.FORBIDDEN)
        parts = urllib.parse.urlsplit(self.path)
        token, _, rest = parts.path.lstrip("/").partition("/")
        if self._is_token(token):
            if not parts.path.endswith("/") and rest == "":
                # The page's address without its last slash: its files are relative.
                return self._redirect(HTTPStatus.MOVED_PERMANENTLY, f"/{token}/", {})
        elif parts.path == "/login" and method == "GET":
            # The handover: the token of the query becomes the cookie, and
            # the browser goes on to an address without it.
            given = dict(urllib.parse.parse_qsl(parts.query)).get("token")
            if not self._is_token(given):
                return self._refuse(HTTPStatus.FORBIDDEN)
            cookie = session_cookie(self.server.port, self.server.token)
            return self._redirect(HTTPStatus.SEE_OTHER, "/", {"Set-Cookie": cookie})
        elif self._is_token(
            cookie_value(self.headers.get("Cookie", ""), cookie_name(self.server.port))
        ):
            rest = parts.path.lstrip("/")
        else:
            return self._refuse(HTTPStatus.FORBIDDEN)
        if rest in self.server.files and method == "GET" and not parts.query:
            self.server.page_open(None)
            body, kind = self.server.files[rest]
            return self._send(HTTPStatus.OK, body, kind)
        folder, _, name = rest.partition("/")
        if folder != "api" or name not in (READS if method == "GET" else CHANGES):
            return self._refuse(HTTPStatus.NOT_FOUND)
        try:
            request = self._request(method, parts.query)
        except ValueError as error:
            return self._json(HTTPStatus.BAD_REQUEST, {"error": str(error)})
        if name == "close":
            self.server.page_closing(request.get("page"))
            return self._send(HTTPStatus.NO_CONTENT, b"", "text/plain")
        self.server.page_open(request.get("page"))
        return self._answer(name, request)

    def _request(self, method: str, query: str) -> dict[str, Any]:
        """The request's fields: the query's for a GET, the JSON body's for a POST."""
        if method == "GET":
            return {k: v for k, v in urllib.parse.parse_qsl(query)}
        length = int(self.headers.get("Content-Length") or 0)
        if not 0 <= length <= MAX_BODY:
            raise ValueError("the request body is too large")
        try:
            body = self.rfile.read(length)
        except TimeoutError:
            raise ValueError("the request body did not come") from None
        try:
            request = json.loads(body or b"{}")
        except RecursionError:
            # Deeply nested arrays or objects: no request of the page is.
            raise ValueError("the request body is nested too deeply") from None
        if not isinstance(request, dict):
            raise ValueError("the request body must be a JSON object")
        return request

    def _answer(self, name: str, request: Mapping[str, Any]) -> None:
        try:
            payload = api.answer(self.server.session, name, request)
        except api.RequestError as error:
            return self._json(HTTPStatus.BAD_REQUEST, {"error": str(error)})
        except StaleChangeError as error:
            # Made on bins another page has changed since: the page shows them again.
            return self._json(HTTPStatus.CONFLICT, {"error": str(error)})
        except (EditError, ValueError, TypeError) as error:
            # An edit the table refuses: its message is the analyst's answer.
            return self._json(HTTPStatus.UNPROCESSABLE_ENTITY, {"error": str(error)})
        except OSError as error:
            return self._json(
                HTTPStatus.INTERNAL_SERVER_ERROR,
                {"error": f"cannot write the output file: {error.strerror or error}"},
            )
        except Exception as error:  # a fault of the studio: the page says so, the server lives
            return self._json(
                HTTPStatus.INTERNAL_SERVER_ERROR,
                {"error": f"the studio failed on this request: {type(error).__name__}: {error}"},
            )
        self._json(HTTPStatus.OK, payload)


def serve(session: Session, port: int = 0, stop_on_close: bool = True) -> StudioServer:
    """A started server of `session` on `port` (0: a free one)."""
    server = StudioServer(session, port, stop_on_close)
    server.start()
    return server
