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
    """A line every `every` seconds in which no test finished, naming the
    tests running and for how long, so that a slow stretch (a Spark job, a
    browser) never looks like a hang."""

    def __init__(self, terminal, every):
        self.terminal, self.every = terminal, every
        self.running = {}
        self.last = time.monotonic()
        self.mid_line = False
        self.done = threading.Event()
        threading.Thread(target=self._beat, daemon=True).start()

    def pytest_runtest_logstart(self, nodeid):
        self.running[nodeid] = time.monotonic()

    def pytest_runtest_logfinish(self, nodeid):
        self.running.pop(nodeid, None)
        self.last = time.monotonic()
        self.mid_line = True  # after a progress character

    def pytest_sessionfinish(self):
        self.done.set()

    def _beat(self):
        while not self.done.wait(self.every / 3):
            now = time.monotonic()
            if now - self.last < self.every or not self.running:
                continue
            self.last = now
            tests = ", ".join(f"{n} ({now - t:.0f} s)" for n, t in list(self.running.items()))
            self.terminal.write(
                f"{chr(10) if self.mid_line else ''}[still running] {tests}\n", flush=True
            )
            self.mid_line = False


def pytest_addoption(parser):
    parser.addoption(
        "--heartbeat",
        type=float,
        default=0,
        metavar="SECONDS",
        help="print the running tests after SECONDS without a finished test",
    )


@pytest.hookimpl(trylast=True)  # after the terminal reporter is registered
def pytest_configure(config):
    every = config.getoption("--heartbeat")
    terminal = config.pluginmanager.get_plugin("terminalreporter")
    # Only the process that reports (not an xdist worker) beats.
    if every > 0 and terminal is not None and not hasattr(config, "workerinput"):
        config.pluginmanager.register(Heartbeat(terminal, every), "heartbeat")
