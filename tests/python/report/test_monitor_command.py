"""The monitor command: the lights of a card kept with its development
counts over the months of a CSV file, as the API gives them; the page in
headless Chromium and the workbook hold the same result."""

import copy
import os
import pathlib

import monitor_months
import pytest
from monitor_months import CREDIT, TARGET
from package_under_test import tessaline as tl

from tessaline.__main__ import main

CHROMIUM = pathlib.Path("/usr/bin/chromium")


@pytest.fixture(scope="module")
def card():
    return tl.Scorecard(event="bad").fit(CREDIT, TARGET)


@pytest.fixture(scope="module")
def ran(card, tmp_path_factory):
    """The command run on seven months in CSV, the card keeping its counts."""
    folder = tmp_path_factory.mktemp("monitor")
    months = monitor_months.months()
    months.to_csv(folder / "months.csv", index=False)
    kept = tl.keep_reference(copy.deepcopy(card), CREDIT, target=TARGET)
    (folder / "card.json").write_text(kept.to_json())
    args = [str(folder / "months.csv"), "--card", str(folder / "card.json"), "--period", "opened"]
    args += ["--frequency", "month", "--target", TARGET]
    args += ["--out", str(folder / "monitor.html"), "--workbook", str(folder / "monitor.xlsx")]
    return folder, months, args


def test_the_command_prints_the_lights_the_api_gives(card, ran, capsys):
    folder, months, args = ran
    assert main(["monitor", *args]) == 0
    expected = tl.monitor(
        card, months, period="opened", frequency="month", target=TARGET, reference=CREDIT
    )
    page = folder / "monitor.html"
    assert capsys.readouterr().out == f"{expected}\nMonitoring page written to {page}\n"
    assert page.read_text() == expected.to_html(title="Monitoring of months.csv")
    openpyxl = pytest.importorskip("openpyxl")
    book = openpyxl.load_workbook(folder / "monitor.xlsx")
    assert book.sheetnames == [
        "Lights",
        "Score stability",
        "Characteristics",
        "Performance",
        "Calibration",
    ]
    lights = [row for row in book["Lights"].iter_rows(min_row=3, values_only=True) if row[0]]
    assert len(lights) == len({(a.measure, a.subject) for a in expected.alerts}) + 1
    auc = next(row for row in lights if row[0] == "auc")
    assert auc[1:] == tuple(a.light for a in expected.alerts if a.measure == "auc")


@pytest.mark.skipif(not CHROMIUM.exists(), reason="Debian's chromium is missing")
def test_the_page_shows_every_light_coloured_in_chromium(card, ran):
    playwright = pytest.importorskip("playwright.sync_api")
    folder, _, args = ran
    assert main(["monitor", *args]) == 0
    result = tl.monitor(
        card,
        monitor_months.months(),
        period="opened",
        frequency="month",
        target=TARGET,
        reference=CREDIT,
    )
    preload = os.environ.pop("LD_PRELOAD", None)
    try:
        driver = playwright.sync_playwright().start()
        browser = driver.chromium.launch(executable_path=str(CHROMIUM), args=["--no-sandbox"])
    finally:
        if preload is not None:
            os.environ["LD_PRELOAD"] = preload
    try:
        page = browser.new_page()
        errors = []
        page.on("console", lambda m: errors.append(m.text))
        page.on("pageerror", lambda e: errors.append(str(e)))
        page.goto((folder / "monitor.html").as_uri())
        assert page.title() == "Monitoring of months.csv"
        assert page.locator("td.light").count() == len(result.alerts)
        red = page.locator("td.light.red")
        assert red.count() == sum(a.light == "red" for a in result.alerts) > 0
        assert (
            red.first.evaluate("c => getComputedStyle(c).backgroundColor") == "rgb(246, 208, 204)"
        )
        assert page.locator("h2").all_inner_texts() == [
            "Lights",
            "Score stability",
            "Characteristics",
            "Performance",
            "Calibration",
        ]
        # The charts: a DeLong band per period, a heat map cell per subject
        # and period (the score's PSI first), a calibration chart per period.
        assert page.locator("svg.gini-chart rect.band").count() == len(result.periods)
        assert page.locator("svg.gini-chart line.reference").count() == 1
        cells = page.locator("svg.heat-map g.cell")
        assert cells.count() == len(result.periods) * (1 + len(result.state.layout.variables))
        assert cells.first.locator("text").text_content() == f"{result.stability[0].psi:.3f}"
        assert page.locator("svg.heat-map g.cell.red").count() == sum(
            a.light == "red" for a in result.alerts if a.measure in ("score psi", "csi")
        )
        assert page.locator("svg.calibration").count() == len(result.periods)
        assert errors == []
    finally:
        browser.close()
        driver.stop()


@pytest.mark.parametrize(
    ("extra", "message"),
    [
        ([], "give either reference (the development sample) or reference_period"),
        (["--reference-period", "2030-01"], "reference_period '2030-01' is none of the periods"),
    ],
)
def test_a_card_without_a_reference_is_a_clear_error(card, ran, tmp_path, capsys, extra, message):
    args = ran[2]
    (tmp_path / "card.json").write_text(card.to_json())
    args = [args[0], "--card", str(tmp_path / "card.json"), *args[3:9], *extra]
    assert main(["monitor", *args]) == 2
    assert capsys.readouterr().err.startswith(f"tessaline monitor: error: {message}")
