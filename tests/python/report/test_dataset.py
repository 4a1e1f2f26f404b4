"""The report command on hostile CSV files, through its entry point."""
import pytest

import numpy as np

from tessaline.report import dataset
from tessaline.report.dataset import _unique, read_dataset
from tessaline.report import main

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


@pytest.mark.parametrize("where, message", [
    ("input", "is the input file; choose another name"),
    ("dir", "is a directory, not a file"),
])
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
    path.write_text('n,t,y\n 1.5 ,"a, b",1\nNA,none,0\n-inf,"x\ny",1\n.5e1, ,0\n'
                    '1e400,NULL,1\n2,a,0\n')
    arrow = read_dataset(path, "y")
    monkeypatch.setattr(dataset, "_has_pyarrow", lambda: False)
    plain = read_dataset(path, "y")
    assert arrow.n_rows == plain.n_rows == 6 and arrow.non_finite == plain.non_finite == {"n": 2}
    assert arrow.numeric.keys() == plain.numeric.keys() == {"n"}
    assert np.array_equal(arrow.numeric["n"], plain.numeric["n"], equal_nan=True)
    assert arrow.categorical["t"].tolist() == plain.categorical["t"].tolist() == [
        "a, b", "none", "x\ny", None, None, "a"]
    assert np.array_equal(arrow.target, plain.target)
