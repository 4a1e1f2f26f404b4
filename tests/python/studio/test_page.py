"""The studio's page in Debian's headless chromium, driven by Playwright: the
edits made on the page give, byte for byte, the model the same edits give
through the Python API; the package's messages reach the analyst."""

import json
import os
import pathlib
import time
from contextlib import contextmanager

import numpy as np
import pytest
from package_under_test import subprocess_env
from package_under_test import tessaline as tl

from tessaline._studio import server

playwright = pytest.importorskip("playwright.sync_api")
CHROMIUM = pathlib.Path("/usr/bin/chromium")
if not CHROMIUM.exists():
    pytest.skip("Debian's chromium is missing (make test installs it)", allow_module_level=True)
expect = playwright.expect


@contextmanager
def without_preload():
    """The browser and its driver start without a sanitizer runtime preloaded
    for an instrumented module."""
    preload = os.environ.pop("LD_PRELOAD", None)
    try:
        yield
    finally:
        if preload is not None:
            os.environ["LD_PRELOAD"] = preload


@pytest.fixture(scope="module")
def browser():
    # Only their start: the tests' own subprocesses (a Jupyter kernel) import
    # the instrumented module and need the runtime.
    with without_preload():
        driver = playwright.sync_playwright().start()
        chromium = driver.chromium.launch(executable_path=str(CHROMIUM), args=["--no-sandbox"])
    yield chromium
    chromium.close()
    driver.stop()


@pytest.fixture
def page(browser):
    page = browser.new_page(viewport={"width": 1200, "height": 750})
    errors = []
    page.on("pageerror", lambda error: errors.append(str(error)))
    # Every console message but the answers refusing an edit: the table's
    # (422) and the one made on bins changed meanwhile (409).
    refusals = ("status of 422", "status of 409")
    page.on("console", lambda m: any(r in m.text for r in refusals) or errors.append(m.text))
    yield page
    page.close()
    assert errors == []


@pytest.fixture
def credit():
    """A studio of the german credit data, stopped after the test."""
    data = tl.datasets.german_credit()
    handle = tl.studio(None, data, "creditability", event="bad", open_browser=False, wait=False)
    yield handle
    handle.stop()


def variable(page, name):
    page.click(f"#rows .var[data-column='{name}']")
    expect(page.locator("#title")).to_have_text(name)


def merge_first_bins(page, column):
    variable(page, column)
    page.keyboard.press("m")
    expect(page.locator("#log tr")).to_have_count(2)


def test_an_edit_from_a_stale_tab_is_refused_and_the_tab_shows_the_variable_again(
    page, browser, credit
):
    other = browser.new_page()
    for tab in (page, other):
        tab.goto(credit.url)
        variable(tab, "duration_in_month")
    merge_first_bins(other, "duration_in_month")
    # Bins 2 and 3 as this tab numbers them: the other tab's merge renumbered them.
    for key in ("l", "l", "m"):
        page.keyboard.press(key)
    expect(page.locator("#message")).to_have_text(
        "column 'duration_in_month' has changed since this page showed it; it is shown "
        "again as it is now and the edit was not made"
    )
    expect(page.locator("#log tr")).to_have_count(2)
    other.close()
    edits = credit.binning.tables["duration_in_month"].edits
    assert [e.arguments for e in edits] == [{"first": 0, "second": 1}]


def test_closing_one_of_two_tabs_keeps_the_other_served(page, browser, credit, monkeypatch):
    monkeypatch.setattr(server, "CLOSE_GRACE", 0.2)
    other = browser.new_page()
    for tab in (other, page):
        tab.goto(credit.url)
        expect(tab.locator("#title")).not_to_have_text("Loading…")
    other.goto("about:blank")
    time.sleep(1.0)  # well past the time a reload has to come back
    merge_first_bins(page, "purpose")
    other.close()


def test_the_browser_gets_the_token_through_a_private_file_as_a_cookie(page, credit):
    token = credit.url.split("/")[3]
    page.goto(credit._server.handover_file().as_uri())
    expect(page.locator("#title")).not_to_have_text("Loading…")
    assert page.url == credit.url.removesuffix(f"{token}/")
    [cookie] = page.context.cookies()
    assert (cookie["value"], cookie["httpOnly"], page.evaluate("document.cookie")) == (
        token,
        True,
        "",
    )
    merge_first_bins(page, "purpose")


def test_what_the_start_had_to_tell_stays_shown(page):
    data = tl.datasets.german_credit()
    model = tl.TableBinning(event="bad").fit(data, "creditability")
    with pytest.warns(tl.TrendWarning):
        model.edit("age_in_years", "add_cut", 40)
    read = tl.from_json(model.to_json())
    with pytest.warns(tl.TrendWarning):
        handle = tl.studio(read, data, "creditability", open_browser=False, wait=False)
    try:
        page.goto(handle.url)
        merge_first_bins(page, "purpose")
        expect(page.locator("#notes")).to_have_text(
            "warning: after add_cut the event rate over the bins of 'age_in_years' is "
            "valley, no longer monotone"
        )
    finally:
        handle.stop()


def test_edits_on_the_page_are_the_python_edits_byte_for_byte(page, tmp_path):
    data = tl.datasets.german_credit()
    out = tmp_path / "edited.json"
    handle = tl.studio(
        None,
        data,
        "creditability",
        event="bad",
        output=out,
        author="ana",
        open_browser=False,
        wait=False,
    )
    try:
        page.goto(handle.url)
        variable(page, "duration_in_month")
        page.fill("#split-at", "15")
        page.click("#split")
        expect(page.locator("#message")).to_have_text("split: 15.0 is not inside bin 2 (11, 15]")
        page.fill("#reason", "a round number")
        page.fill("#split-at", "24")
        page.keyboard.press("Enter")
        expect(page.locator("#message")).to_have_text(
            "after split the event rate over the bins of 'duration_in_month' is "
            "irregular, no longer monotone"
        )
        variable(page, "purpose")
        page.click("#groups .group[data-bin='2']")
        page.select_option("#merge-with", "3")
        page.fill("#reason", "alike risk")
        page.click("#merge")
        expect(page.locator("#log tr")).to_have_count(2)
        # A cut dragged to the right, then the drag undone from the keyboard.
        variable(page, "duration_in_month")
        grip = page.locator("#chart .grip[data-cut='5']").bounding_box()
        x, y = grip["x"] + grip["width"] / 2, grip["y"] + grip["height"] / 2
        page.mouse.move(x, y)
        page.mouse.down()
        page.mouse.move(x + 60, y, steps=5)
        page.mouse.up()
        expect(page.locator("#log tr")).to_have_count(3)
        assert page.locator("#log tr").nth(2).inner_text().startswith("move_cut(old=33.0, new=")
        page.keyboard.press("z")
        expect(page.locator("#log tr")).to_have_count(2)
        expect(page.locator("#rows .var.edited")).to_have_count(2)
        page.keyboard.press("Control+s")
        expect(page.locator("#message")).to_have_text("Saved to edited.json.")
    finally:
        handle.stop()
    saved = out.read_text()
    logs = json.loads(saved)["tables"]
    times = [logs[c]["edits"][0]["time"] for c in ("duration_in_month", "purpose")]
    expected = tl.TableBinning(event="bad").fit(data, "creditability")
    with pytest.warns(tl.TrendWarning):
        expected.edit(
            "duration_in_month",
            "split",
            3,
            24,
            reason="a round number",
            author="ana",
            time=times[0],
        )
    expected.edit("purpose", "merge", 2, 3, reason="alike risk", author="ana", time=times[1])
    assert saved == expected.to_json()
    assert handle.binning.to_json() == saved


def test_moves_fixed_cuts_reset_undo_and_redo_on_the_page(page, credit):
    page.goto(credit.url)
    variable(page, "purpose")
    page.drag_and_drop("#groups .chip >> text=education", "#groups .group[data-bin='0']")
    expect(page.locator("#log tr")).to_have_count(2)
    variable(page, "age_in_years")
    page.locator("#cuts input").first.check()
    page.click("#reoptimise")
    expect(page.locator("#log tr")).to_have_count(2)
    variable(page, "purpose")
    page.click("#reset")
    expect(page.locator("#log")).to_have_text("no edits")
    page.click("#undo")
    expect(page.locator("#log tr")).to_have_count(2)
    page.click("#redo")
    expect(page.locator("#log")).to_have_text("no edits")
    expect(page.locator("#rows .var.edited")).to_have_count(1)
    edit = credit.binning.tables["age_in_years"].edits[0]
    expected = tl.TableBinning(event="bad").fit(tl.datasets.german_credit(), "creditability")
    cut = float(expected.tables["age_in_years"].splits[0])
    expected.edit("age_in_years", "with_cuts", [cut], fixed=True, time=edit.time)
    assert credit.binning.to_json() == expected.to_json()


def test_five_hundred_variables_keep_a_light_list(page):
    rng = np.random.default_rng(5)
    y = rng.integers(0, 2, 400)
    data = {f"v{i:03d}": rng.integers(0, 6, 400) + y * (i % 3) for i in range(500)}
    handle = tl.studio(None, {**data, "y": y}, "y", open_browser=False, wait=False)
    try:
        page.goto(handle.url)
        expect(page.locator("#title")).not_to_have_text("Loading…")
        # Only the rows in sight are drawn; scrolling draws the others.
        assert page.locator("#rows .var").count() < 50
        last = handle.binning.summary[-1].column
        page.fill("#filter", last)
        page.keyboard.press("Enter")
        expect(page.locator("#title")).to_have_text(last)
        page.fill("#filter", "")
        page.mouse.move(150, 400)
        page.mouse.wheel(0, 500 * 28)
        expect(page.locator(f"#rows .var[data-column='{last}']")).to_have_count(1)
        # Leaving the page stops the server, once a reload had time to come back.
        page.goto("about:blank")
        for _ in range(100):
            if not handle.running:
                break
            time.sleep(0.1)
        assert not handle.running
    finally:
        handle.stop()


def outputs(kernel, code):
    """What a cell run in the Jupyter kernel `kernel` shows: its printed text
    and its result's HTML."""
    cell = kernel.execute(code)
    shown = {"text": "", "html": ""}
    while True:
        message = kernel.get_iopub_msg(timeout=120)
        content, kind = message["content"], message["msg_type"]
        if message["parent_header"].get("msg_id") != cell:
            continue
        assert kind != "error", content
        if kind == "stream":
            shown["text"] += content["text"]
        if kind == "execute_result":
            shown["html"] = content["data"].get("text/html", "")
        if kind == "status" and content["execution_state"] == "idle":
            return shown


def test_in_jupyter_the_page_shows_inline_and_the_notebook_holds_the_edits(page):
    jupyter = pytest.importorskip("jupyter_client.manager")
    manager, kernel = jupyter.start_new_kernel(kernel_name="python3", env=subprocess_env())
    try:
        # The cell returns at once with the handle, which shows the page.
        shown = outputs(
            kernel,
            "import tessaline as tl\n"
            "handle = tl.studio(None, tl.datasets.german_credit(), 'creditability', event='bad')\n"
            "handle",
        )
        page.set_content(shown["html"])
        frame = page.frame_locator("iframe")
        frame.locator("#rows .var[data-column='purpose']").click()
        # The merge is of the variable shown: wait for it, as `variable` does.
        expect(frame.locator("#title")).to_have_text("purpose")
        frame.locator("#merge").click()
        expect(frame.locator("#log tr")).to_have_count(2)
        code = "print(handle.running, handle.binning.edits['purpose'][0].arguments)"
        assert outputs(kernel, code)["text"] == "True {'first': 0, 'second': 1}\n"
    finally:
        kernel.stop_channels()
        manager.shutdown_kernel(now=True)
