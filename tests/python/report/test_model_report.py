"""The model's documentation of an edited stepwise scorecard with a test
sample: every section and the edit log, in a headless browser when one is
installed."""

import os
import shutil
import subprocess

import numpy as np
import pandas as pd
import pytest
from package_under_test import ROOT
from package_under_test import tessaline as tl

from tessaline.report._model import SECTIONS, model_report

pytest.importorskip("sklearn")
openpyxl = pytest.importorskip("openpyxl")
from sklearn.model_selection import train_test_split  # noqa: E402


def exact(value):
    return pytest.approx(value, rel=1e-15, abs=0)


def test_the_page_holds_every_section_and_the_test_sample(tmp_path):
    frame = pd.read_csv(ROOT / "examples" / "data" / "germancredit.csv")
    train, test = train_test_split(
        frame, test_size=0.3, stratify=frame["creditability"], random_state=0
    )
    card = tl.Scorecard(event="bad", estimator=tl.StepwiseLogistic()).fit(train, "creditability")
    card.edit(
        "duration_in_month",
        "merge",
        1,
        2,
        reason="alike & short",
        author="ana",
        time="2026-12-08T10:00",
        data=train,
        y="creditability",
    )
    edit = card.binning.tables["duration_in_month"].edits[0]
    before, after = (getattr(edit, k)["bins"] for k in ("before", "after"))
    path = tmp_path / "model.html"
    html = model_report(
        card,
        (train, "creditability"),
        test=(test, "creditability"),
        path=path,
        workbook=tmp_path / "model.xlsx",
    )
    held = card.performance(test, "creditability")
    assert f"<td>test</td><td class=n>{held.auc:.4f}</td>" in html
    assert "Tests of equal event rates" in html and "Variance inflation" in html
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    page = (
        html
        if browser is None
        else subprocess.run(
            [browser, "--headless", "--no-sandbox", "--disable-gpu", "--dump-dom", path.as_uri()],
            capture_output=True,
            text=True,
            timeout=120,
            check=True,
            # without a sanitizer runtime preloaded for an instrumented module
            env={k: v for k, v in os.environ.items() if k != "LD_PRELOAD"},
        ).stdout
    )
    for i, title in enumerate(SECTIONS, start=1):
        assert f'<h2 id="{i}">{i}. {title}</h2>' in page
    assert (
        page.count('<h3 id="edits-') == 1
        and (
            "<td>merge(first=1, second=2)</td><td>alike &amp; short</td><td>ana</td>"
            "<td>2026-12-08T10:00</td>"
        )
        in page
        and f">{before} -&gt; {after}</td>" in page
    )
    assert f"<footer>tessaline {tl.__version__}</footer>" in html
    book = openpyxl.load_workbook(tmp_path / "model.xlsx")
    assert book.sheetnames == list(SECTIONS)
    assert book.properties.creator == f"tessaline {tl.__version__}"
    rows = list(book["Discrimination"].values)
    assert rows[1][:4] == ("sample", "AUC", "95% CI from", "95% CI to")
    # A sheet keeps 16 significant digits.
    assert rows[3][:4] == ("test", *map(exact, (held.auc, *held.auc_ci)))
    data = book["Data"]
    assert data["E3"].value == exact((train["creditability"] == "bad").mean())
    assert data["E3"].number_format == "0.00%"
    assert any(r[0] == "Variance inflation factors" for r in book["Correlation and VIF"].values)
    first = card.selection_report[0]
    assert f"<td>{first.column}</td><td>{first.rule}</td><td>{first.action}</td>" in html
    assert any(r[:3] == (first.column, first.rule, first.action) for r in book["Selection"].values)
    logged = next(r for r in book["Edits"].values if r[0] == "merge(first=1, second=2)")
    assert logged[1] == "alike & short"
    assert logged[4:6] == (exact(edit.before["iv"]), exact(edit.after["iv"]))
    assert logged[8:10] == (before, after)
    drift = tl.stability(card, train, {"test": test})
    psi = [r for r in book["Stability"].values if r[0] in drift.variables]
    assert [r[:2] for r in psi] == [(v, exact(drift.shift(v, "test").psi)) for v in drift.variables]
    shares = [r[3] for r in book["Variables"].values if r[0] == 0 and r[1] != "#"]
    assert len(shares) == len(card.variables) and all(isinstance(v, float) for v in shares)


def test_the_points_and_the_variables_the_sign_rule_dropped_are_documented(tmp_path):
    frame = pd.read_csv(ROOT / "examples" / "data" / "germancredit.csv")
    train, _ = train_test_split(
        frame, test_size=0.3, stratify=frame["creditability"], random_state=0
    )
    # A noisy copy of the duration, whose coefficient runs against its WoE.
    noise = np.random.default_rng(0).integers(-2, 3, (3, len(train)))[2]
    train = train.assign(months=train["duration_in_month"] + noise)
    card = tl.Scorecard(event="bad").fit(train, "creditability")
    assert list(card.dropped) == ["months"]
    html = model_report(card, (train, "creditability"), workbook=tmp_path / "model.xlsx")
    assert f"{len(card.variables)} variables (1 dropped by the sign rule)" in html
    assert f"<td>months</td><td class=n>{card.dropped['months']:.4f}</td>" in html
    sheet = list(openpyxl.load_workbook(tmp_path / "model.xlsx")["Scorecard"].values)
    assert sheet[:2] == [("Points per bin", None, None, None), ("variable", "bin", "WoE", "points")]
    assert sheet[2 : 2 + len(card.points_table())] == [
        (v, label, exact(w), exact(p)) for v, label, w, p in card.points_table()
    ]
    assert ("months", exact(card.dropped["months"])) in [r[:2] for r in sheet]
