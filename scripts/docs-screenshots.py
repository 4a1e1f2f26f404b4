"""Takes docs/screenshots/*.png: the built site's home page, a guide page with
its figure and an API page, in Debian's headless chromium driven by
Playwright. Build the site first (make docs), then:

    .venv/bin/python scripts/docs-screenshots.py
"""

import pathlib

from playwright.sync_api import sync_playwright

ROOT = pathlib.Path(__file__).resolve().parents[1]
SITE = ROOT / "build" / "docs" / "html"
OUT = ROOT / "docs" / "screenshots"
# (file name, page of the site, element scrolled to the top or None)
SHOTS = [
    ("home.png", "index.html", None),
    ("guide-optimal.png", "guide/optimal.html", "img.plot-directive"),
    ("api-optimal-binning.png", "api/generated/tessaline.optimal_binning.html", None),
]


def main() -> None:
    OUT.mkdir(exist_ok=True)
    with sync_playwright() as driver:
        browser = driver.chromium.launch(executable_path="/usr/bin/chromium", args=["--no-sandbox"])
        page = browser.new_page(viewport={"width": 1280, "height": 860})
        for name, path, anchor in SHOTS:
            page.goto((SITE / path).as_uri())
            page.wait_for_load_state("load")
            page.wait_for_timeout(500)
            if anchor:
                page.locator(anchor).first.evaluate("e => e.scrollIntoView({block: 'center'})")
            page.screenshot(path=str(OUT / name))
            print(OUT / name)
        browser.close()


if __name__ == "__main__":
    main()
