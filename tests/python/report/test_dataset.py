"""The report command on hostile CSV files, through its entry point."""

import contextlib
import os
import threading

import numpy as np
import pytest

from tessaline.exceptions import DataError
from tessaline.report import arrow_stream, dataset, main
from tessaline.report._dataset import _unique, read_dataset

pytest.importorskip("matplotlib")


@pytest.fixture
def hostile(tmp_path):
    rows = ["a$x$b,\x1b]0;t\x07c,under,y"]
    for i in range(200):
        y = int(i % 3 == 0)
        a = "inf" if i == 5 else "1e400" if i == 7 else str(i % 10 + 5 * y)
        rows.append(f"{a},{i % 4 + y},1_000,{y}")
    path = tmp_path / "in.csv"
    path.write_text("\n".join(rows) + "\n")
    return path


def test_hostile_names_and_cells(hostile, tmp_path, capsys):
    page = tmp_path / "page.html"
    assert main(["report", str(hostile), "--target", "y", "--html", str(page)]) == 0
    out = capsys.readouterr().out
    assert "\x1b" not in out and "\\x1b]0;t\\x07c" in out
    assert "'a$x$b': 2 rows dropped as non-finite (inf, or beyond the float range)" in out
    assert "2 numeric columns and 1 column of categories read" in out  # '1_000' is text
    assert "a$x$b" in page.read_text()


@pytest.mark.parametrize(
    "where, message",
    [
        ("input", "is the input file; choose another name"),
        ("dir", "is a directory, not a file"),
    ],
)
def test_output_path_refused_before_the_run(hostile, tmp_path, capsys, where, message):
    before = hostile.read_bytes()
    target = hostile if where == "input" else tmp_path
    assert main(["report", str(hostile), "--target", "y", "--html", str(target)]) == 2
    captured = capsys.readouterr()
    assert message in captured.err and captured.out == ""
    assert hostile.read_bytes() == before


def test_separator(tmp_path, capsys):
    path = tmp_path / "semi.csv"
    path.write_text("x;y\n" + "".join(f"{i};{int(i > 50)}\n" for i in range(100)))
    assert main(["report", str(path), "--target", "y", "--sep", ";"]) == 0
    assert "1 numeric column read" in capsys.readouterr().out


def test_repeated_header_names():
    assert _unique(["a", "a", "a.1", "a"]) == ["a", "a.1", "a.1.1", "a.2"]
    names = _unique(["c"] * 20000)
    assert len(set(names)) == 20000 and names[-1] == "c.19999"


def test_both_readers_give_the_same_columns(tmp_path, monkeypatch):
    pytest.importorskip("pyarrow")
    path = tmp_path / "mixed.csv"
    path.write_text(
        'n,t,y\n 1.5 ,"a, b",1\nNA,none,0\n-inf,"x\ny",1\n.5e1, ,0\n1e400,NULL,1\n2,a,0\n'
    )
    _, plain = read_both(path, monkeypatch)
    assert plain.n_rows == 6 and plain.non_finite == {"n": 2} and plain.numeric.keys() == {"n"}
    assert plain.categorical["t"].tolist() == ["a, b", "none", "x\ny", None, None, "a"]


def read_both(path, monkeypatch):
    """The file read by Arrow and by the standard library, checked to be the same."""
    arrow = read_dataset(path, "y")
    monkeypatch.setattr(dataset, "_has_pyarrow", lambda: False)
    plain = read_dataset(path, "y")
    assert arrow.n_rows == plain.n_rows and arrow.non_finite == plain.non_finite
    assert arrow.numeric.keys() == plain.numeric.keys()
    for name in plain.numeric:
        assert np.array_equal(arrow.numeric[name], plain.numeric[name], equal_nan=True)
    assert {k: v.tolist() for k, v in arrow.categorical.items()} == {
        k: v.tolist() for k, v in plain.categorical.items()
    }
    assert np.array_equal(arrow.target, plain.target)
    return arrow, plain


BIG = "x" * (4 << 20)


@pytest.mark.parametrize(
    "text, cell",
    [
        (f"t,y\n{BIG},1\na,0\n", BIG),  # a cell longer than Arrow's block
        (f't,y\n"a\n{BIG}",1\na,0\n', f"a\n{BIG}"),
        ("t,y\n\na,1\n\n\nb,0", "a"),  # blank lines are no rows
        ("t,y\r\na,1\rb,0\r\n", "a"),
        ('\ufeff"t",y\na,1\nb,0\n', "a"),
        ('"t\nu",y\na,1\nb,0\n', "a"),  # a line break in a name
    ],
)
@pytest.mark.parametrize("split", [False, True])
def test_readers_agree_on_layout(tmp_path, monkeypatch, request, text, cell, split):
    pytest.importorskip("pyarrow")
    if split:
        request.getfixturevalue("halves")
    path = tmp_path / "layout.csv"
    path.write_bytes(text.encode())
    _, plain = read_both(path, monkeypatch)
    assert plain.n_rows == 2 and next(iter(plain.categorical.values()))[0] == cell


def test_a_quoted_line_break_across_a_block_boundary(tmp_path):
    pytest.importorskip("pyarrow")
    rows = ["x,y", *(f"{i},{i % 2}" for i in range(300000))]
    # The row whose cell breaks just before Arrow's first 1 MiB block ends.
    k = int(np.searchsorted(np.cumsum([len(r) + 1 for r in rows]), (1 << 20) - 12))
    rows[k] = f'"{k}\nsecond line",{k % 2}'
    path = tmp_path / "long.csv"
    path.write_text("\n".join(rows) + "\n")
    read = read_dataset(path, "y")
    assert read.n_rows == 300000 and read.categorical["x"][k - 1] == f"{k}\nsecond line"


@pytest.fixture(params=["arrow", "plain"])
def reader(request, monkeypatch):
    if request.param == "arrow":
        pytest.importorskip("pyarrow")
    else:
        monkeypatch.setattr(dataset, "_has_pyarrow", lambda: False)


def numbered(n=400):
    return ["x,y", *(f"{i},{i % 2}" for i in range(n))]


@pytest.mark.parametrize(
    "row, text, line, message",
    [
        (5, '5,"1', 6, "a quote opened on this line is never closed"),
        (5, '"5,1', 6, "a quote opened on this line is never closed"),
        (2, '"a\nb","1', 4, "a quote opened on this line is never closed"),
        (2, '"a\nb",1\n2,0,1', 5, "3 fields where the header has 2"),
    ],
)
def test_malformed_rows_name_their_line(tmp_path, reader, row, text, line, message):
    rows = numbered()
    rows[row] = text
    path = tmp_path / "bad.csv"
    path.write_text("\n".join(rows) + "\n")
    with pytest.raises(DataError) as error:
        read_dataset(path, "y")
    assert str(error.value) == f"{path}, line {line}: {message}"


@pytest.fixture
def fifo(tmp_path):
    """A named pipe and a thread writing the given bytes into it."""
    path = tmp_path / "pipe.csv"
    os.mkfifo(path)
    writers = []

    def feed(data):
        def write():
            with contextlib.suppress(BrokenPipeError), open(path, "wb") as pipe:
                pipe.write(data)

        writers.append(threading.Thread(target=write))
        writers[-1].start()
        return path

    yield feed
    with contextlib.suppress(OSError):  # frees a writer whose pipe was never opened
        os.close(os.open(path, os.O_RDONLY | os.O_NONBLOCK))
    for writer in writers:
        writer.join()


def test_a_pipe_is_read_once(reader, fifo, tmp_path, capsys):
    text = "\n".join(numbered()) + "\n"
    plain = tmp_path / "file.csv"
    plain.write_text(text)
    assert main(["report", str(plain), "--target", "y"]) == 0
    expected = capsys.readouterr().out.split("\n", 1)[1]
    assert main(["report", str(fifo(text.encode())), "--target", "y"]) == 0
    assert capsys.readouterr().out.split("\n", 1)[1] == expected


@pytest.mark.parametrize(
    "source, message",
    [
        ("/dev/zero", "cannot read /dev/zero: a device, not a file or a pipe"),
        ("directory", "cannot read {path}: Is a directory"),
        ("endless", "{path}: the header line is longer than 4194304 bytes"),
    ],
)
def test_unreadable_inputs_are_refused(reader, fifo, tmp_path, source, message):
    if source == "directory":
        source = tmp_path
    elif source == "endless":
        source = fifo(b"\0" * (dataset.HEADER_LIMIT + 1))
    with pytest.raises(DataError) as error:
        read_dataset(source, "y")
    assert str(error.value) == message.format(path=source)


@pytest.fixture
def halves(monkeypatch):
    """Files of any length read in two halves at once."""
    monkeypatch.setattr(arrow_stream, "SPLIT_FROM_BYTES", 16)
    monkeypatch.setattr(arrow_stream, "_threads", lambda: 2)


@pytest.mark.parametrize("late", [None, "abc", "-nan"])
@pytest.mark.parametrize("source", ["file", "halves", "pipe"])
def test_columns_across_many_blocks(fifo, tmp_path, request, source, late):
    """Long rows first (the file's row count is guessed low), then 200k short
    ones with missing cells; a column of numbers in the head may turn to text
    further on ('-nan' is text, not NaN), and is then read again as text."""
    pytest.importorskip("pyarrow")
    if source == "halves":
        request.getfixturevalue("halves")
    n, k = 200_000, 150_000
    i = np.arange(n)
    x = np.where(i % 7 == 0, np.nan, i / 4)
    z = [str(v) for v in i % 5]
    if late is not None:
        z[k] = late
    pad = ["p" * 400 if r < 2000 else "q" for r in range(n)]
    lines = ["pad,x,z,y"]
    lines += [f"{pad[r]},{'NA' if r % 7 == 0 else r / 4},{z[r]},{r % 2}" for r in range(n)]
    text = ("\n".join(lines) + "\n").encode()
    path = tmp_path / "blocks.csv"
    path.write_bytes(text)
    read = read_dataset(fifo(text) if source == "pipe" else path, "y")
    assert read.n_rows == n and np.array_equal(read.target, i % 2)
    assert np.array_equal(read.numeric["x"], x, equal_nan=True)
    assert read.categorical["pad"].tolist() == pad
    if late is None:
        assert np.array_equal(read.numeric["z"], i % 5)
    else:
        assert read.categorical["z"].tolist() == z


@pytest.mark.parametrize("middle", ["quoted", "missing"])
def test_halves_that_do_not_hold(tmp_path, monkeypatch, halves, middle):
    """The line break in the middle of the body inside a quoted cell (the
    body is then read whole); a number column missing in one half only."""
    pytest.importorskip("pyarrow")
    rows = [f"{i},{i % 2},{i / 8}" for i in range(400)]
    if middle == "quoted":
        rows[200] = '"' + "\n".join(["200"] * 300) + '",0,25'
    else:
        rows[:200] = [f"{i},{i % 2}," for i in range(200)]
    path = tmp_path / "middle.csv"
    path.write_text("x,y,z\n" + "\n".join(rows) + "\n")
    arrow, plain = read_both(path, monkeypatch)
    assert plain.n_rows == 400
    if middle == "quoted":
        assert plain.categorical["x"][200] == "\n".join(["200"] * 300)
    else:
        assert np.isnan(arrow.numeric["z"][:200]).all() and arrow.numeric["z"][399] == 399 / 8
