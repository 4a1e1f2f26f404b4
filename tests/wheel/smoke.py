"""What a new user does first, against an installed wheel, in a venv with no
compiler: import, fit a table, transform, write SQL and run it in SQLite,
and the report command on a small CSV. Run by scripts/wheel-check.sh."""

import pathlib
import sqlite3
import subprocess
import sys
import tempfile

import numpy as np

import tessaline as tl

rng = np.random.default_rng(3)
n = 2000
income = rng.normal(50.0, 12.0, n).round(1)
age = rng.integers(18, 80, n).astype(float)
bad = (rng.random(n) < 1 / (1 + np.exp((income - 45.0) / 8.0))).astype(int)
frame = {"income": income, "age": age, "bad": bad}

assert pathlib.Path(tl.__file__).parent.parent.name == "site-packages", tl.__file__
binning = tl.TableBinning(event=1).fit(frame, "bad")
woe = binning.transform(frame)["income"]
table = binning.tables["income"]
assert table.n_bins >= 2 and np.isfinite(woe).all()
assert tl.from_json(binning.to_json()).to_json() == binning.to_json()

with sqlite3.connect(":memory:") as db:
    db.execute("CREATE TABLE applicants (income REAL, age REAL, bad INTEGER)")
    db.executemany("INSERT INTO applicants VALUES (?, ?, ?)", zip(*frame.values(), strict=True))
    scored = [r[0] for r in db.execute(binning.to_sql("applicants", dialect="sqlite"))]
assert np.array_equal(np.asarray(scored, dtype=float), woe), "SQL and transform differ"

with tempfile.TemporaryDirectory() as tmp:
    data = pathlib.Path(tmp) / "applicants.csv"
    data.write_text(
        "income,age,bad\n" + "".join(f"{a},{b},{c}\n" for a, b, c in zip(*frame.values()))
    )
    html = pathlib.Path(tmp) / "report.html"
    command = [sys.executable, "-m", "tessaline", "report", str(data), "--target", "bad"]
    subprocess.run([*command, "--html", str(html)], check=True, stdout=subprocess.DEVNULL)
    assert f"tessaline {tl.__version__}" in html.read_text()
version = subprocess.run(
    [sys.executable, "-m", "tessaline", "--version"], check=True, capture_output=True, text=True
).stdout.strip()
print(f"{version}: import, fit, transform, SQL in SQLite and the report command work")
