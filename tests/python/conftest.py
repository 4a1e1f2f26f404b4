"""The suite's shared helpers (package_under_test, native_calls, sql_engines)
live beside this file; the tests of each part of the package live in the
folder of that part (native/, binning/, formats/, report/, spark/, engines/).
The SQL engines are fixtures here: `engine` connects to the `dialect` a
test is parametrized with (sql_engines.ENGINES), and `run` loads a frame
as the table "applicants" there and gives a query's result as a frame."""

import pathlib
import sys

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
