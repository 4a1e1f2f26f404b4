"""The monitoring page and workbook of a result: the workbook holds shares,
rates, PSI and AUC as numbers in their formats and intervals as two cells,
and a period without a known outcome shows empty cells, never "nan"."""

import re

import monitor_months
import numpy as np
import pandas as pd
import pytest
from monitor_months import CREDIT, TARGET
from package_under_test import tessaline as tl

from tessaline._calibration import jeffreys_interval


@pytest.fixture(scope="module")
def result():
    months = monitor_months.months()
    months.loc[months["opened"] >= "2024-07-01", TARGET] = None
    card = tl.Scorecard(event="bad").fit(CREDIT, TARGET)
    return card.monitor(months, period="opened", frequency="month", target=TARGET, reference=CREDIT)


def digits16(values):
    """Numbers as a sheet keeps them: 16 significant digits."""
    return pytest.approx(values, rel=1e-15, abs=0)


def sheet_rows(book, name, caption):
    """The rows of the table under `caption` on a sheet, header first."""
    rows = list(book[name].iter_rows())
    start = next(i for i, r in enumerate(rows) if r[0].value == caption) + 1
    end = next((i for i in range(start, len(rows)) if rows[i][0].value is None), len(rows))
    return rows[start:end]


def test_the_workbook_holds_numbers_in_their_formats(result, tmp_path):
    openpyxl = pytest.importorskip("openpyxl")
    result.to_html(workbook=tmp_path / "m.xlsx")
    book = openpyxl.load_workbook(tmp_path / "m.xlsx")
    header, *rows = sheet_rows(book, "Performance", "Discrimination against the reference")
    names = [c.value for c in header]
    assert names[4:8] == ["bad rate", "AUC", "95% CI from", "95% CI to"]
    july = rows[-1]
    assert july[0].value == "2024-07" and [c.value for c in july[4:12]] == [None] * 8
    for p, row in zip(result.performance, rows[:-1]):
        cells = dict(zip(names, row))
        assert cells["bad rate"].value == digits16(p.bad_rate)
        assert cells["bad rate"].number_format == "0.00%"
        assert (cells["AUC"].value, cells["AUC"].number_format) == (digits16(p.auc), "0.0000")
        assert (cells["95% CI from"].value, cells["95% CI to"].value) == digits16(p.auc_ci)
    header, *rows = sheet_rows(book, "Score stability", "PSI of the score bands")
    assert [r[1].data_type for r in rows] == ["n"] * len(result.stability)
    assert [r[1].value for r in rows] == digits16([s.psi for s in result.stability])
    header, *rows = sheet_rows(
        book, "Calibration", "Observed and predicted default rate by score band"
    )
    assert [c.value for c in header][6:8] == [
        "95% Jeffreys interval from",
        "95% Jeffreys interval to",
    ]
    table = result.calibration[0].table
    assert len(rows) == sum(len(c.table) for c in result.calibration if c.table is not None)
    for i, row in enumerate(rows[: len(table)]):
        n, d = int(table["count"][i]), int(table["events"][i])
        assert (row[2].value, row[3].value, row[4].value) == (n, d, digits16(d / n))
        assert (row[6].value, row[7].value) == digits16(jeffreys_interval(d, n))
        assert row[6].number_format == "0.00%"


def test_a_period_without_outcomes_shows_no_nan(result):
    text = re.sub(r"<[^>]+>", " ", result.to_html())
    assert "nan" not in text.split()
    assert "+nan" not in text and "- – -" not in text


@pytest.mark.parametrize(
    ("model", "weight", "marks"),
    [
        # Weighted rows are not independent observations: no DeLong band,
        # no Jeffreys interval, the points and dots still drawn.
        ("card", "w", {'class="band"': 0, 'class="gini"': 7, 'class="interval"': 0}),
        # A binning has no score: no score row, no Gini, no calibration.
        ("binning", None, {'class="gini-chart"': 0, 'class="calibration"': 0, "score PSI": 0}),
    ],
)
def test_what_the_charts_leave_out(model, weight, marks):
    months = monitor_months.months().assign(w=1.5)
    card = tl.Scorecard(event="bad").fit(CREDIT, TARGET)
    fitted = card if model == "card" else card.binning
    options = {"period": "opened", "frequency": "month", "target": TARGET, "weight": weight}
    result = fitted.monitor(months, reference=CREDIT.assign(w=1.5), **options)
    page = result.to_html()
    assert {mark: page.count(mark) for mark in marks} == marks
    rows = len(result.state.layout.variables) + (model == "card")
    assert page.count('<g class="cell') == rows * len(result.periods)


def test_two_years_of_twenty_variables_stay_readable():
    """24 months x 20 variables with long names: the period labels slant,
    the names are cut (whole in the hover text), the map fits the page."""
    rng = np.random.default_rng(3)
    names = [f"applicant_characteristic_with_a_long_name_{j:02d}" for j in range(20)]
    data = pd.DataFrame({n: rng.integers(0, 9, 2400).astype(float) for n in names})
    data["month"] = np.repeat(pd.period_range("2024-01", periods=24, freq="M").astype(str), 100)
    data["y"] = (rng.random(2400) < 0.2 + data[names[0]] / 20).astype(int)
    binning = tl.TableBinning(method="quantile", n_bins=4).fit(data.drop(columns="month"), "y")
    heat = re.search(
        r'<svg[^>]*class="heat-map".*?</svg>',
        binning.monitor(data, period="month", reference=data).to_html(),
    )[0]
    width = float(re.search(r'width="([\d.]+)"', heat)[1])
    assert 1000 < width <= 1100
    assert heat.count("rotate(-45") == 24
    assert heat.count("…<title>applicant_") == 20
    assert all(f"<title>{n}</title>" in heat for n in names)
