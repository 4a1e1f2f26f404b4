"""What differs between the SQL engines that count: how a column reads as a
double (NaN, which DuckDB and PostgreSQL hold as a value, becomes NULL;
SQLite stores it as NULL already, and holds any value in any column, so
there text or a blob in a column of numbers is not a number), how it reads
as text, and how each engine names the types of a table's columns. Literals
and the types a value is cast to are the scoring SQL's own, so that a
count and a score read a value alike."""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

from .._counting import BOOLEAN, CATEGORY, NUMBER, OTHER, TIME, ColumnType
from .._formats import sql
from .._formats.sql import identifier


@dataclass(frozen=True)
class Dialect:
    name: sql.Dialect
    double: str  # the type a column is cast to, to read it as a double
    text: str  # the type a column is cast to, to read it as text

    def number(self, column: str) -> str:
        """The column as a double, NULL where it is missing (NULL, NaN, and
        in SQLite anything but an integer or a real)."""
        if self.name == "sqlite":
            number = f"typeof({column}) IN ('integer', 'real')"
            return f"(CASE WHEN {number} THEN CAST({column} AS {self.double}) END)"
        return f"NULLIF(CAST({column} AS {self.double}), CAST('NaN' AS {self.double}))"

    def as_text(self, column: str) -> str:
        return f"CAST({column} AS {self.text})"

    def category(self, column: str, column_type: ColumnType) -> tuple[str, str]:
        """The (double, text) expressions of a column read as categories: a
        category is named by its text, or by its double where the text of a
        double would not be Python's (floats, and SQLite's reals)."""
        if column_type.kind == NUMBER and not column_type.integral:
            return self.number(column), "NULL"
        if self.name == "sqlite":
            real = f"typeof({column}) = 'real'"
            return (
                f"(CASE WHEN {real} THEN {column} END)",
                f"(CASE WHEN NOT {real} THEN CAST({column} AS {self.text}) END)",
            )
        return "NULL", self.as_text(column)

    def literal(self, value: float) -> str:
        """A double the engine reads exactly, infinities included."""
        return sql.number(value, self.name)

    def string(self, value: str) -> str:
        """A string literal the engine reads as `value` whatever its settings."""
        return sql.text(value, self.name)

    def floor_division(self, a: str, b: str) -> str:
        """a // b of two non-negative integers, exactly."""
        if self.name == "postgresql":
            return f"div({a}, {b})"
        return f"({a}) // ({b})" if self.name == "duckdb" else f"({a}) / ({b})"

    def column_types(self, connection: Any, source: str) -> dict[str, ColumnType]:
        """Every column of `source` (a FROM item) with its type, in order."""
        if self.name == "duckdb":
            return {
                name: _duckdb_type(kind)
                for name, kind, *_ in connection.execute(
                    f"DESCRIBE SELECT * FROM {source}"
                ).fetchall()
            }
        names = [d[0] for d in connection.execute(f"SELECT * FROM {source} LIMIT 0").description]
        if self.name == "postgresql":
            return _postgresql_types(connection, source, names)
        return _sqlite_types(connection, source, names)


DIALECTS: dict[str, Dialect] = {
    name: Dialect(name, sql.DOUBLE[name], sql.TEXT[name]) for name in sql.DIALECTS
}


def dialect_of(connection: Any) -> Dialect:
    """The dialect of a DuckDB, sqlite3 or psycopg connection."""
    module = type(connection).__module__.split(".")[0]
    name = {
        "duckdb": "duckdb",
        "_duckdb": "duckdb",
        "sqlite3": "sqlite",
        "psycopg": "postgresql",
    }.get(module)
    if name is None:
        raise TypeError(
            f"connection must be a DuckDB, sqlite3 or psycopg connection, not "
            f"{type(connection).__name__}"
        )
    return DIALECTS[name]


_DUCKDB_INTEGERS = (
    "TINYINT",
    "SMALLINT",
    "INTEGER",
    "BIGINT",
    "HUGEINT",
    "UTINYINT",
    "USMALLINT",
    "UINTEGER",
    "UBIGINT",
    "UHUGEINT",
)


def _duckdb_type(name: str) -> ColumnType:
    if name in _DUCKDB_INTEGERS:
        return ColumnType(NUMBER, name, integral=True)
    if name in ("FLOAT", "DOUBLE") or name.startswith("DECIMAL"):
        return ColumnType(NUMBER, name)
    if name == "BOOLEAN":
        return ColumnType(BOOLEAN, name)
    if name == "VARCHAR" or name.startswith("ENUM"):
        return ColumnType(CATEGORY, name)
    if name.startswith(("DATE", "TIME", "INTERVAL")):
        return ColumnType(TIME, name)
    return ColumnType(OTHER, name)


# PostgreSQL's categories of types (pg_type.typcategory).
_PG_KINDS = {"N": NUMBER, "S": CATEGORY, "E": CATEGORY, "B": BOOLEAN, "D": TIME, "T": TIME}


def _postgresql_types(connection: Any, source: str, names: Sequence[str]) -> dict[str, ColumnType]:
    oids = [d.type_code for d in connection.execute(f"SELECT * FROM {source} LIMIT 0").description]
    found = {
        oid: (name, category)
        for oid, name, category in connection.execute(
            "SELECT oid, typname, typcategory FROM pg_type WHERE oid = ANY(%s)", [oids]
        ).fetchall()
    }
    types = {}
    for name, oid in zip(names, oids):
        type_name, category = found.get(oid, (str(oid), "X"))
        types[name] = ColumnType(
            _PG_KINDS.get(category, OTHER),
            type_name,
            integral=type_name in ("int2", "int4", "int8"),
        )
    return types


def _sqlite_types(connection: Any, source: str, names: Sequence[str]) -> dict[str, ColumnType]:
    """SQLite types values, not columns: a column holding any text holds
    categories, else one holding a blob holds neither, else numbers
    (integers when no value is a real)."""
    if not names:
        return {}
    probes = ", ".join(
        f"max(typeof({identifier(n)}) = '{t}')" for n in names for t in ("text", "blob", "real")
    )
    found = connection.execute(f"SELECT {probes} FROM {source}").fetchone()
    types = {}
    for i, name in enumerate(names):
        text, blob, real = (bool(v) for v in found[3 * i : 3 * i + 3])
        types[name] = (
            ColumnType(CATEGORY, "text")
            if text
            else ColumnType(OTHER, "blob")
            if blob
            else ColumnType(NUMBER, "real" if real else "integer", integral=not real)
        )
    return types
