"""python -m tessaline report: the terminal ranking on the embedded credit data,
the self-contained HTML page rendered by a headless browser, the progress bar,
and clear errors for unusable input."""

import base64
import html.parser
import math
import os
import re
import shutil
import subprocess
import sys

import numpy as np
import pytest
from package_under_test import ROOT, subprocess_env
from package_under_test import tessaline as tl

from tessaline.report._dataset import read_dataset

CREDIT = ROOT / "examples" / "data" / "germancredit.csv"
NUMERIC = [
    "duration_in_month",
    "credit_amount",
    "installment_rate_in_percentage_of_disposable_income",
    "present_residence_since",
    "age_in_years",
    "number_of_existing_credits_at_this_bank",
    "number_of_people_being_liable_to_provide_maintenance_for",
]


def report(*args, **kwargs):
    return subprocess.run(
        [sys.executable, "-m", "tessaline", "report", *map(str, args)],
        capture_output=True,
        text=True,
        env=subprocess_env(),
        **kwargs,
    )


@pytest.fixture(scope="module")
def credit_report(tmp_path_factory):
    page = tmp_path_factory.mktemp("report") / "sub" / "credit.html"
    run = report(
        CREDIT, "--target", "creditability", "--event", "bad", "--scorecard", "--html", page
    )
    assert run.returncode == 0, run.stderr
    return run, page


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.tags, self.images, self.sections, self.links = [], [], [], []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.tags.append(tag)
        self.images += [attrs["src"]] if tag == "img" else []
        self.sections += (
            [attrs["id"]] if tag == "h2" and attrs.get("id", "").startswith("column-") else []
        )
        self.links += [attrs[k] for k in ("href", "src") if k in attrs]


def test_terminal_report_ranks_every_numeric_column_by_iv(credit_report):
    run, page = credit_report
    out = run.stdout
    assert out.startswith("tessaline report: germancredit.csv\n")
    assert "1000 rows; target 'creditability' with event 'bad': 300 events of 1000 (30.0%)" in out
    assert "7 numeric columns and 13 columns of categories read" in out
    assert (
        "Optimal binning: at most 8 bins, each with 5% of the rows and at least 5 events and "
        "5 non-events (a column with fewer is one bin), event rate rising or falling;"
    ) in out
    ranking = re.findall(r"^ ?(\d+)  (\w+) +(\d+) +([\d.]+) ", out, flags=re.M)
    assert len(ranking) == 20 and ranking[0][1] == "status_of_existing_checking_account"
    ivs = [float(iv) for _, _, _, iv in ranking]
    assert ivs == sorted(ivs, reverse=True)
    assert "a valley fits better (IV 0.2476 against 0.1518): trend='auto_all'" in out
    # The printed numbers are the whole-table object's own.
    dataset = read_dataset(CREDIT, "creditability", "bad")
    fitted = tl.TableBinning().fit({**dataset.numeric, **dataset.categorical}, dataset.target)
    for _, name, bins, iv in ranking:
        table = fitted.tables[name]
        assert (int(bins), iv) == (table.n_bins, f"{table.information_value:.4f}")
        assert str(table) in out
        raw = (
            f"{tl.gini(dataset.numeric[name], dataset.target).gini:+.3f}"
            if name in NUMERIC
            else "-"
        )
        assert f"{name}   Gini (bins) " in out and f"Gini (raw) {raw}" in out
    card = tl.Scorecard(fitted).fit({**dataset.numeric, **dataset.categorical}, dataset.target)
    assert f"Scorecard\n{card}\n" in out
    assert (
        f"on the rows it was fitted on: AUC "
        f"{card.performance({**dataset.numeric, **dataset.categorical}, dataset.target).auc:.4f}"
        in out
    )
    assert out.rstrip().endswith(f"HTML report written to {page}")
    assert run.stderr == ""  # no progress bar for 7 columns on a pipe


def test_html_page_is_self_contained(credit_report):
    _, page = credit_report
    text = page.read_text(encoding="utf-8")
    parsed = Page()
    parsed.feed(text)
    assert parsed.sections == [f"column-{i}" for i in range(1, 21)]
    assert "script" not in parsed.tags and "link" not in parsed.tags
    assert all(link.startswith(("#", "data:image/png;base64,")) for link in parsed.links)
    assert "<h1>Binning report: germancredit.csv</h1>" in text
    for name in NUMERIC:
        assert f">{name}</a>" in text
    pytest.importorskip("matplotlib")
    assert 'id="scorecard"' in text and "Points per bin" in text
    # A binning chart and a Lorenz curve per column; ROC, CAP and KS of the score.
    assert len(parsed.images) == 43
    for src in parsed.images:
        assert base64.b64decode(src.split(",", 1)[1]).startswith(b"\x89PNG\r\n\x1a\n")


# Test-only instrumentation: after load, the title tells how many images decoded.
IMAGE_CHECK = """<script>
window.addEventListener("load", () => {
  const images = [...document.images];
  const ok = images.filter(i => i.complete && i.naturalWidth > 0).length;
  document.title = "images " + ok + "/" + images.length + " sections " +
    document.querySelectorAll("h2[id^=column-]").length;
});
</script></body>"""


def test_headless_browser_renders_the_page_without_errors(credit_report, tmp_path):
    browser = shutil.which("chromium")
    if browser is None:
        pytest.skip("Debian's chromium is missing (make test installs it with the system packages)")
    _, page = credit_report
    checked = tmp_path / "checked.html"
    checked.write_text(page.read_text(encoding="utf-8").replace("</body>", IMAGE_CHECK))
    run = subprocess.run(
        [
            browser,
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--enable-logging=stderr",
            "--v=0",
            "--virtual-time-budget=5000",
            "--dump-dom",
            checked.as_uri(),
        ],
        capture_output=True,
        text=True,
        timeout=180,
        # without a sanitizer runtime preloaded for an instrumented module
        env={k: v for k, v in os.environ.items() if k != "LD_PRELOAD"},
    )
    assert run.returncode == 0, run.stderr[-2000:]
    # Console messages and uncaught errors of the page are logged as CONSOLE lines.
    assert [line for line in run.stderr.splitlines() if ":CONSOLE" in line] == []
    images = 43 if "data:image/png" in page.read_text() else 0
    assert f"<title>images {images}/{images} sections 20</title>" in run.stdout
    assert "duration_in_month" in run.stdout and "(42, +inf)" in run.stdout


def test_progress_bar_on_request_and_numeric_target(tmp_path):
    rng = np.random.default_rng(2)
    n, k = 300, 12
    X = rng.normal(size=(n, k))
    y = (X[:, 0] + rng.normal(size=n) > 0).astype(int)
    lines = [",".join([*(f"c{j}" for j in range(k)), "default"])]
    lines += [",".join([*(f"{v:.4f}" for v in X[i]), str(y[i])]) for i in range(n)]
    data = tmp_path / "wide.csv"
    data.write_text("\n".join(lines) + "\n")
    run = report(data, "--target", "default", "--progress")
    assert run.returncode == 0, run.stderr
    # One redraw per column and stage (binning, scoring; no page, no charts)
    # and a last one at 100%.
    assert "100% 24/24 done" in run.stderr and run.stderr.count("binning [") == 25
    assert "12 numeric columns read" in run.stdout
    assert re.search(r"^ *1 +c0 ", run.stdout, flags=re.M)  # the informative column comes first
    quiet = report(data, "--target", "default", "--no-progress")
    assert quiet.returncode == 0 and quiet.stderr == ""


def test_missing_values_and_unusable_columns(tmp_path):
    data = tmp_path / "gaps.csv"
    data.write_text(
        "score,empty,city,flag\n1,,Lyon,1\n2,NA,Nice,0\nNaN,,Lyon,1\n4,,,\n5,,Pau,0\n6,,Pau,1\n"
    )
    run = report(data, "--target", "flag")
    assert run.returncode == 0, run.stderr
    assert "1 numeric column and 2 columns of categories read" in run.stdout
    assert "1 rows without a target value are left out" in run.stdout
    assert "missing" in run.stdout  # the score's missing-value row


@pytest.mark.parametrize(
    "args, message",
    [
        (["--target", "nope"], "no column 'nope' in"),
        (
            ["--target", "creditability"],
            "target column 'creditability' is not 0/1 (values: bad, good): name the event value with --event",
        ),
        (
            ["--target", "creditability", "--event", "BAD"],
            "no row of target column 'creditability' holds the event value 'BAD' (values: bad, good)",
        ),
        (["--target", "y"], "cannot read"),
        (
            ["--target", "creditability", "--event", "bad", "--exclude", "nope"],
            "--exclude: no column named 'nope' among the columns read",
        ),
        (
            ["--target", "creditability", "--event", "bad", "--test-fraction", "1.5"],
            "--test-fraction must be between 0 and 1, not 1.5",
        ),
        (
            ["--target", "creditability", "--event", "bad", "--split-column", "job"],
            "--split-column job: values must be train, test or oot, not management/",
        ),
        (
            ["--target", "creditability", "--event", "bad", "--edits", "nope.json"],
            "--edits nope.json: No such file or directory",
        ),
    ],
)
def test_unusable_input_is_explained(args, message):
    run = report(CREDIT.with_name("none.csv") if message == "cannot read" else CREDIT, *args)
    assert run.returncode == 2 and run.stdout == ""
    assert run.stderr.startswith("tessaline report: error: ") and message in run.stderr


def test_an_earlier_models_edits_are_made_again_and_shown(tmp_path):
    data = read_dataset(CREDIT, "creditability", "bad")
    earlier = tl.TableBinning(method="quantile", n_bins=4).fit(
        {**data.numeric, **data.categorical}, data.target
    )
    dropped = float(earlier.tables["duration_in_month"].splits[0])
    earlier.edit("age_in_years", "add_cut", 50.5, reason="round age", author="ana")
    earlier.edit("duration_in_month", "remove_cut", dropped)
    model, page = tmp_path / "model.json", tmp_path / "page.html"
    model.write_text(earlier.to_json())
    run = report(
        CREDIT, "--target", "creditability", "--event", "bad", "--edits", model, "--html", page
    )
    assert run.returncode == 0 and run.stderr == (
        "tessaline report: warning: after add_cut the event rate over the bins of "
        "'age_in_years' is valley, no longer monotone\n"
        f"tessaline report: duration_in_month: edit 1 (remove_cut) no longer applies: "
        f"{dropped:.10g} is not a cut point of this table\n"
    )
    text = page.read_text()
    assert text.count('<h3 id="edits-') == 1 and "Edits of age_in_years" in text
    assert "<td>add_cut(value=50.5)</td><td>round age</td><td>ana</td>" in text


def test_report_without_matplotlib_keeps_the_tables(tmp_path):
    page = tmp_path / "plain.html"
    args = [
        "report",
        str(CREDIT),
        "--target",
        "creditability",
        "--event",
        "bad",
        "--html",
        str(page),
    ]
    code = (
        "import sys; sys.modules['matplotlib'] = None\n"
        f"from tessaline.report import main\nsys.exit(main({args!r}))\n"
    )
    run = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, env=subprocess_env()
    )
    assert run.returncode == 0, run.stderr
    text = page.read_text()
    assert "<img" not in text
    assert "Drawing the charts needs matplotlib: pip install 'tessaline[plot]'" in text
    assert text.count('<table class="binning">') == 20


def test_dataset_reading_turns_the_target_into_event_flags():
    dataset = read_dataset(CREDIT, "creditability", "bad")
    assert dataset.n_rows == 1000 and list(dataset.numeric) == NUMERIC
    assert dataset.target.sum() == 300 and set(np.unique(dataset.target)) == {0.0, 1.0}
    assert math.isclose(dataset.numeric["credit_amount"][0], 1169.0)


def test_columns_chosen_and_samples_split_for_the_model_documentation(tmp_path):
    import pandas as pd

    frame = pd.read_csv(CREDIT)
    frame["sample"] = np.where(
        np.arange(len(frame)) < 600, "train", np.where(np.arange(len(frame)) < 800, "test", "oot")
    )
    data, model, book = tmp_path / "split.csv", tmp_path / "model.html", tmp_path / "model.xlsx"
    frame.to_csv(data, index=False)
    run = report(
        data,
        "--target",
        "creditability",
        "--event",
        "bad",
        "--split-column",
        "sample",
        "--exclude",
        "telephone",
        "--categorical",
        "present_residence_since",
        "--special-values",
        "-999",
        "--model",
        model,
        "--workbook",
        book,
    )
    assert run.returncode == 0, run.stderr
    assert "600 rows; target" in run.stdout and "telephone" not in run.stdout
    assert "optimal binning of categorical 'present_residence_since'" in run.stdout
    for name in ("test", "out-of-time"):
        assert f"Performance on the {name} sample: AUC" in run.stdout
    assert "<td>out-of-time</td>" in model.read_text() and book.stat().st_size > 0


def test_a_test_fraction_is_drawn_within_each_class():
    from tessaline.report._samples import split_samples

    dataset = read_dataset(CREDIT, "creditability", "bad")
    samples = split_samples(dataset, column=None, fraction=0.3, seed=1)
    test, train = samples["test"], samples["train"]
    assert (test.n_rows, train.n_rows) == (300, 700)
    assert test.target.sum() == 90 and train.target.sum() == 210
