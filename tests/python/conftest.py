"""The suite's shared helpers (package_under_test, native_calls, sql_engines)
live beside this file; the tests of each part of the package live in the
folder of that part (native/, binning/, formats/, report/, spark/, engines/).
The SQL engines are fixtures here: `engine` connects to the `dialect` a
test is parametrized with (sql_engines.ENGINES), and `run` loads a frame
as the table "applicants" there and gives a query's result as a frame."""

import pathlib
import sys
import threading
import time

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).parent))

import sql_engines


@pytest.fixture(scope="session")
def postgres():
    server = sql_engines.PostgresServer()
    yield server
    server.stop()


@pytest.fixture
def engine(request, dialect):
    server = request.getfixturevalue("postgres") if dialect == "postgresql" else None
    connection = sql_engines.connect(dialect, server)
    yield connection
    connection.close()


@pytest.fixture
def run(engine, dialect):
    def run_query(query, frame):
        sql_engines.load(engine, dialect, frame)
        return sql_engines.query_frame(engine, query)

    return run_query


# -- a suite that never goes quiet --------------------------------------------
class Heartbeat:
    """A line every `every` seconds in which the terminal completed no line,
    naming the tests running and for how long, so that a slow stretch (a Spark
    job, a browser) never looks like a hang, even to a reader of a log that
    sees whole lines only (the progress dots fill a line slowly)."""

    def __init__(self, terminal, every):
        self.terminal, self.every = terminal, every
        self.running = {}
        self.last_line = time.monotonic()
        self.width_seen = 0
        self.done = threading.Event()
        threading.Thread(target=self._beat, daemon=True).start()

    def pytest_runtest_logstart(self, nodeid):
        self.running[nodeid] = time.monotonic()

    def pytest_runtest_logfinish(self, nodeid):
        self.running.pop(nodeid, None)

    def pytest_sessionfinish(self):
        self.done.set()

    def _beat(self):
        while not self.done.wait(1.0):
            now = time.monotonic()
            width = self.terminal._tw.width_of_current_line
            if width < self.width_seen:  # the terminal ended a line itself
                self.last_line = now
            self.width_seen = width
            if now - self.last_line < self.every or not self.running:
                continue
            tests = ", ".join(f"{n} ({now - t:.0f} s)" for n, t in list(self.running.items()))
            self.terminal.write(f"{chr(10) if width else ''}[running] {tests}\n", flush=True)
            self.last_line, self.width_seen = now, 0


def pytest_addoption(parser):
    parser.addoption(
        "--heartbeat",
        type=float,
        default=0,
        metavar="SECONDS",
        help="print the running tests after SECONDS without a completed line",
    )


@pytest.hookimpl(trylast=True)  # after the terminal reporter is registered
def pytest_configure(config):
    every = config.getoption("--heartbeat")
    terminal = config.pluginmanager.get_plugin("terminalreporter")
    # Only the process that reports (not an xdist worker) beats.
    if every > 0 and terminal is not None and not hasattr(config, "workerinput"):
        config.pluginmanager.register(Heartbeat(terminal, every), "heartbeat")
