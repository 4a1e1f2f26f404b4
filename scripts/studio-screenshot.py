"""Takes docs/studio.png: the studio on the German credit data after two
edits, in Debian's headless chromium driven by Playwright.

    PYTHONPATH=build/dev-NAME:python .venv/bin/python scripts/studio-screenshot.py
"""

import pathlib
import tempfile

from PIL import Image
from playwright.sync_api import expect, sync_playwright

import tessaline as tl

OUT = pathlib.Path(__file__).resolve().parents[1] / "docs" / "studio.png"

output = pathlib.Path(tempfile.mkdtemp()) / "edited.json"
handle = tl.studio(
    None,
    tl.datasets.german_credit(),
    "creditability",
    event="bad",
    output=output,
    open_browser=False,
    wait=False,
)
with sync_playwright() as driver:
    browser = driver.chromium.launch(executable_path="/usr/bin/chromium", args=["--no-sandbox"])
    page = browser.new_page(viewport={"width": 1200, "height": 750})
    page.goto(handle.url)
    page.click("#rows .var[data-column='purpose']")
    page.fill("#reason", "alike risk")
    page.click("#groups .group[data-bin='2']")
    page.select_option("#merge-with", "3")
    page.click("#merge")
    page.click("#rows .var[data-column='duration_in_month']")
    expect(page.locator("#title")).to_have_text("duration_in_month")
    page.fill("#reason", "a year: the product's shortest term")
    page.fill("#split-at", "12")
    page.click("#split")
    expect(page.locator("#log tr")).to_have_count(2)
    page.locator("#chart rect.bar").nth(5).hover()
    page.screenshot(path=str(OUT))
    # A palette of 256 colours keeps the picture small and sharp.
    Image.open(OUT).convert("RGB").quantize(256).save(OUT, optimize=True)
    browser.close()
handle.stop()
print(f"wrote {OUT}")
