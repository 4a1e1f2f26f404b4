"""The model's documentation of an edited stepwise scorecard with a test
sample: every section and the edit log, in a headless browser when one is
installed."""

import os
import shutil
import subprocess

import pandas as pd
import pytest
from package_under_test import ROOT
from package_under_test import tessaline as tl

from tessaline.report.model import SECTIONS, model_report

pytest.importorskip("sklearn")
openpyxl = pytest.importorskip("openpyxl")
from sklearn.model_selection import train_test_split  # noqa: E402


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
    assert rows[1][:2] == ("sample", "AUC") and rows[3][:2] == ("test", round(held.auc, 4))
    assert any(r[0] == "Variance inflation factors" for r in book["Correlation and VIF"].values)
    assert ("merge(first=1, second=2)", "alike & short") in [r[:2] for r in book["Edits"].values]
