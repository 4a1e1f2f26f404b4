"""A table fitted inside DuckDB, SQLite and PostgreSQL equals the local fit
of the same rows, bit for bit."""

import itertools
import tracemalloc

import numpy as np
import pandas as pd
import pytest
import sql_engines
from package_under_test import ROOT
from random_tables import TABLE_OPTIONS, cell_maxima, options_for, random_frame
from sql_engines import ENGINES

import tessaline as tl
from tessaline import engines

GERMAN = ROOT / "examples" / "data" / "germancredit.csv"


# Integer-valued doubles beyond 2^53, 1024 apart: a literal read as a 4-byte
# float (24 bits) would take many of them for one value.
BIG, _rng = 2.0**60, np.random.default_rng(8)
FRAMES = {
    "german": pd.read_csv(GERMAN),
    "random": random_frame(20_000, seed=3),
    "beyond_2_53": pd.DataFrame(
        {"x": BIG + 1024.0 * _rng.integers(0, 250, 5000), "y": _rng.integers(0, 2, 5000)}
    ).assign(t=lambda f: BIG + 1024.0 * _rng.integers(0, 40, len(f))),
}
TARGETS = {"german": ("creditability", "bad"), "random": ("y", None)}
_loaded = {}


@pytest.fixture(scope="module", autouse=True)
def close_loaded():
    yield
    for connection, _ in _loaded.values():
        connection.close()


@pytest.fixture
def table(request, dialect):
    """(connection, the frame as the engine holds it) of each data set,
    loaded once per engine."""
    server = request.getfixturevalue("postgres") if dialect == "postgresql" else None

    def loaded(data):
        if (dialect, data) not in _loaded:
            _loaded[dialect, data] = sql_engines.loaded_in(dialect, server, data, FRAMES[data])
        return _loaded[dialect, data]

    return loaded


def same_fit(local, remote):
    assert remote.to_dict() == local.to_dict()


@ENGINES
@pytest.mark.parametrize("data", ["german", "random"])
@pytest.mark.parametrize("options", TABLE_OPTIONS)
def test_the_whole_table_fits_as_locally(table, data, options):
    connection, frame = table(data)
    target, event = TARGETS[data]
    options = options_for(options, frame, target)
    local = tl.TableBinning(event=event, **options).fit(frame, target)
    same_fit(
        local,
        engines.fit(tl.TableBinning(event=event, **options), connection, "applicants", target),
    )


@ENGINES
@pytest.mark.parametrize(
    "threshold", [{"percentile": 60.0}, {"percentile": 0.0}, {"value": 1.5}, {"event": 0.5}]
)
def test_a_numeric_target_is_read_as_locally(table, threshold):
    connection, frame = table("random")
    options = {"exclude": ["y", "flag", "code"], "method": "mdlp", **threshold}
    # A query as the source (PostgreSQL's NaN is above every number).
    query = "SELECT * FROM applicants WHERE x2 > -5 AND x2 < 1e300"
    local = tl.TableBinning(**options).fit(frame[(frame["x2"] > -5) & (frame["x2"] < 1e300)], "x1")
    same_fit(local, engines.fit(tl.TableBinning(**options), connection, query, "x1"))


@ENGINES
def test_approximate_merges_values_into_cells_with_exact_counts(table):
    connection, frame = table("random")
    options = {"exclude": ["x0", "x1", "grade", "flag", "code"], "special_values": [-999.0]}
    remote = engines.fit(
        tl.TableBinning(**options), connection, "applicants", "y", max_distinct=40, approximate=25
    )
    local = tl.TableBinning(**options).fit(
        frame.assign(x2=cell_maxima(frame["x2"].to_numpy(), 25, [-999.0])), "y"
    )
    same_fit(local, remote)
    with pytest.raises(
        ValueError,
        match=r"column 'x2' has \d+ distinct values, more than "
        r"max_distinct=40 .*round\(\"x2\", 4\).*approximate=K",
    ):
        engines.fit(tl.TableBinning(**options), connection, "applicants", "y", max_distinct=40)
    with pytest.raises(
        ValueError,
        match=r"the target 'x2' has \d+ distinct values, more than "
        "max_distinct=40: give the threshold as value=",
    ):
        engines.fit(tl.TableBinning(percentile=50), connection, "applicants", "x2", max_distinct=40)


@ENGINES
@pytest.mark.parametrize(
    "target, options",
    [
        ("y", {"exclude": ["t"], "special_values": [BIG + 7 * 1024]}),
        ("t", {"exclude": ["y"], "event": BIG + 3 * 1024}),
        ("t", {"exclude": ["y"], "percentile": 50.0}),
        ("t", {"exclude": ["y"], "value": BIG + 20 * 1024}),
    ],
    ids=["special-value", "event", "percentile", "value"],
)
def test_values_beyond_2_53_are_read_exactly(table, target, options):
    # Merged into cells, the special value kept apart; the target read at a
    # value, an event or a percentile there.
    connection, frame = table("beyond_2_53")
    x = cell_maxima(frame["x"].to_numpy(), 5, options.get("special_values", []))
    local = tl.TableBinning(method="quantile", **options).fit(frame.assign(x=x), target)
    binning = tl.TableBinning(method="quantile", **options)
    remote = engines.fit(binning, connection, "applicants", target, max_distinct=40, approximate=5)
    same_fit(local, remote)


@ENGINES
@pytest.mark.parametrize(
    "data, target, options",
    [
        ("german", "creditability", {}),
        ("german", "creditability", {"event": "worst"}),
        ("random", "x0", {}),
        ("random", "x1", {"percentile": 120}),
    ],
)
def test_a_target_that_cannot_be_read_fails_as_locally(table, data, target, options):
    connection, frame = table(data)
    with pytest.raises((tl.TargetError, ValueError)) as local:
        tl.TableBinning(**options).fit(frame, target)
    with pytest.raises(type(local.value)) as remote:
        engines.fit(tl.TableBinning(**options), connection, "applicants", target)
    # The local check of a 0/1 target names its values; the engine's names the target.
    assert str(remote.value) in (
        str(local.value),
        f"the target {target!r} is not 0/1: give event= (the value of an event)",
    )


def test_files_larger_than_memory_are_read_by_duckdb(tmp_path):
    pytest.importorskip("duckdb")
    frame = FRAMES["random"]
    frame.iloc[:12_000].to_parquet(tmp_path / "a.parquet")
    frame.iloc[12_000:].to_parquet(tmp_path / "b.parquet")
    frame.to_csv(tmp_path / "all.csv", index=False)
    local = tl.TableBinning(categorical=["code"]).fit(frame, "y")
    same_fit(
        local,
        engines.fit_files(
            tl.TableBinning(categorical=["code"]), tmp_path / "*.parquet", "y", memory_limit="200MB"
        ),
    )
    csv = engines.fit_files(tl.TableBinning(categorical=["code"]), tmp_path / "all.csv", "y")
    same_fit(tl.TableBinning(categorical=["code"]).fit(pd.read_csv(tmp_path / "all.csv"), "y"), csv)
    with pytest.raises(
        TypeError, match="connection must be a DuckDB, sqlite3 or psycopg connection, not dict"
    ):
        engines.fit(tl.TableBinning(), {}, "applicants", "y")


@pytest.mark.parametrize(
    "memory_limit, approximate, merged",
    [("60MB", None, False), ("25MB", 50, True), ("25MB", None, None)],
    ids=["exact", "merged", "refused"],
)
def test_files_are_counted_within_memory_limit_in_the_client(
    tmp_path, memory_limit, approximate, merged
):
    # 300,000 distinct values: held as arrays they fit in 60MB with the fit,
    # as Python tuples they did not; in 25MB they fit only merged into cells.
    rng = np.random.default_rng(4)
    frame = pd.DataFrame({"x": rng.permutation(300_000) + 0.5, "y": rng.integers(0, 2, 300_000)})
    frame.to_parquet(tmp_path / "wide.parquet")
    options = {"memory_limit": memory_limit, "threads": 1, "approximate": approximate}
    tracemalloc.start()
    try:
        if merged is None:
            with pytest.raises(
                ValueError,
                match=r"the 300000 distinct values to bring to the client take about \d+ MB there, "
                r"more than memory_limit allows \(25 MB; column 'x' has 300000\): give approximate=K",
            ):
                engines.fit_files(tl.TableBinning(), tmp_path / "wide.parquet", "y", **options)
            return
        remote = engines.fit_files(tl.TableBinning(), tmp_path / "wide.parquet", "y", **options)
        assert tracemalloc.get_traced_memory()[1] < int(memory_limit[:-2]) * 10**6
    finally:
        tracemalloc.stop()
    x = cell_maxima(frame["x"].to_numpy(), approximate, []) if merged else frame["x"]
    same_fit(tl.TableBinning().fit(frame.assign(x=x), "y"), remote)


@pytest.mark.parametrize(
    "budget, columns, rows",
    [(None, 20, 1 << 20), (None, 500, (1 << 28) // (8 * 501)), (None, 10**5, 1 << 14)]
    + [(1 << 31, 20, 1 << 20), (64 << 20, 20, (64 << 20) // (8 * 8 * 21))],
)
def test_a_streamed_batch_holds_the_rows_the_memory_allows(budget, columns, rows):
    # Without a limit, a batch of values takes at most 256 MB (never fewer
    # than 2^14 rows); with one, an eighth of it.
    limits = engines._memory.Limits(10**6, budget)
    assert engines._stream.batch_rows(limits, columns) == rows


@pytest.mark.parametrize(
    "sizes, rows", [([5, 3, 7], 4), ([4, 0, 4], 4), ([2, 1], 8), ([], 3), ([0], 3)]
)
def test_streamed_blocks_are_gathered_in_order_into_batches_of_the_rows_asked(sizes, rows):
    # Arrow batches or blocks of COPY records (big-endian) cut and joined into
    # doubles of `rows` rows (the last shorter), each written over by the
    # next: read before moving on.
    values = np.arange(sum(sizes), dtype=np.float64)
    ends = np.cumsum([0, *sizes])
    blocks = [[values[a:b], (-values[a:b]).astype(">f8")] for a, b in itertools.pairwise(ends)]
    batches = [
        ([part.copy() for part in parts], last)
        for parts, last in engines._stream.gathered(iter(blocks), rows, 2)
    ]
    total = values.size
    assert [parts[0].size for parts, _ in batches] == [
        min(rows, total - start) for start in range(0, total, rows)
    ]
    assert [last for _, last in batches] == [False] * (len(batches) - 1) + [True] * bool(total)
    for i, sign in enumerate((1, -1)):
        column = np.concatenate([[], *(parts[i] for parts, _ in batches)])
        assert column.dtype == np.float64
        np.testing.assert_array_equal(column, sign * values)


def test_arrow_columns_of_several_chunks_are_read_whole_into_kept_room():
    pa = pytest.importorskip("pyarrow")
    room = engines._stream._Room()
    for parts in ([[1.5, None], [2.0], [-np.inf, 4.0, 5.0]], [[7.0], [8.0, 9.0]], [[3.0, 1.0]]):
        column = pa.chunked_array(parts, type=pa.float64())
        with room.doubles(column) as x:
            # Nulls read as NaN, as Arrow reads them; the second column is
            # written over the first one's room, the third (one chunk) read in place.
            np.testing.assert_array_equal(x, np.asarray(column, dtype=np.float64))


@pytest.mark.parametrize(
    "dialect, settings",
    [
        ("duckdb", {"_stream.BATCH_ROWS": 1500}),
        ("duckdb", {"_stream.BATCH_ROWS": 1500, "_stream.FEW_VALUES": 0}),
        ("duckdb", {"_stream.FEW_VALUES": 0}),
        ("postgresql", {"_copied.BLOCK_BYTES": 1000}),
        ("postgresql", {"_copied.BLOCK_BYTES": 1000, "_stream.BATCH_ROWS": 1500}),
    ],
)
@pytest.mark.parametrize("options", TABLE_OPTIONS[:3])
def test_numbers_read_in_many_parts_count_as_locally(table, monkeypatch, settings, options):
    # DuckDB's and PostgreSQL's values in batches counted one by one and
    # merged, PostgreSQL's read a few records at a time: unknown targets, NaN, infinities
    # and special values in each. Columns of few values are counted without
    # a sort unless FEW_VALUES is 0; a sorted column of one batch brings
    # its pre-bins from the count.
    for setting, size in settings.items():
        module, name = setting.split(".")
        monkeypatch.setattr(getattr(engines, module), name, size)
    connection, frame = table("random")
    options = options_for(options, frame, "y")
    same_fit(
        tl.TableBinning(**options).fit(frame, "y"),
        engines.fit(tl.TableBinning(**options), connection, "applicants", "y"),
    )


@ENGINES
def test_max_distinct_holds_a_column_of_as_many_values_and_refuses_one_more(table):
    connection, frame = table("random")
    options = {"exclude": ["x0", "x1", "grade", "flag", "code"]}
    distinct = frame["x2"].dropna().nunique()  # infinities and -999 among them
    same_fit(
        tl.TableBinning(**options).fit(frame, "y"),
        engines.fit(
            tl.TableBinning(**options), connection, "applicants", "y", max_distinct=distinct
        ),
    )
    with pytest.raises(
        ValueError, match=f"column 'x2' has {distinct} distinct values, more than max_distinct="
    ):
        engines.fit(
            tl.TableBinning(**options), connection, "applicants", "y", max_distinct=distinct - 1
        )


@ENGINES
def test_counts_given_out_are_counted_in_full_and_fit_as_the_engine_fits(table):
    # The engine's own fit counts each column's last batch of values as it
    # bins the column; the counts it gives out are made before they return.
    connection, frame = table("random")
    names = ["x0", "x1", "x2", "grade"]
    counts = engines.count_columns(connection, "applicants", names, "y", categorical=["grade"])
    known = frame["y"].notna()
    assert counts["x2"].missing_rows == int((frame["x2"].isna() & known).sum())
    options = {"exclude": ["flag", "code"]}
    remote = engines.fit(tl.TableBinning(**options), connection, "applicants", "y")
    same_fit(remote, tl.TableBinning(**options).fit_counts(counts, list(frame.columns)))
