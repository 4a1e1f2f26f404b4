"""Takes docs/monitoring.png and docs/monitoring-heatmap.png: the monitoring
page of a card on the German credit data over 24 months of applicants (some
variables drifting, the later months' outcomes not known yet), in Debian's
headless chromium driven by Playwright.

    PYTHONPATH=build/dev-NAME:python .venv/bin/python scripts/monitor-screenshot.py
"""

import pathlib
import sys
import tempfile

import numpy as np
import pandas as pd
from PIL import Image
from playwright.sync_api import sync_playwright

import tessaline as tl

DOCS = pathlib.Path(__file__).resolve().parents[1] / "docs"
TARGET = "creditability"


def months(credit: pd.DataFrame) -> pd.DataFrame:
    """Two years of applicants drawn from the data: durations lengthen and
    amounts grow from the second year, the last quarter's outcomes unknown."""
    rng = np.random.default_rng(7)
    rows = credit.sample(24 * 400, replace=True, random_state=3).reset_index(drop=True)
    month = np.repeat(np.arange(24), 400)
    rows["opened"] = pd.Timestamp("2024-01-01") + pd.to_timedelta(month * 30.5 + 5, unit="D")
    stretch = 1 + np.maximum(month - 11, 0) / 24
    rows["duration_in_month"] = np.round(rows["duration_in_month"] * stretch)
    rows["credit_amount"] = rows["credit_amount"] * (1 + month / 40)
    rows[TARGET] = rows[TARGET].where((month < 21) & (rng.random(len(rows)) > 0.05))
    return rows


def main() -> None:
    credit = tl.datasets.german_credit()
    card = tl.Scorecard(event="bad", selected=False, signs="keep").fit(credit, TARGET)
    result = tl.monitor(
        card, months(credit), period="opened", frequency="month", target=TARGET, reference=credit
    )
    page = pathlib.Path(tempfile.mkdtemp()) / "monitoring.html"
    result.to_html(page, title="Monitoring of the German credit card")
    if len(sys.argv) > 1:  # keep the page to look at
        page.replace(pathlib.Path(sys.argv[1]))
        page = pathlib.Path(sys.argv[1])
    with sync_playwright() as driver:
        browser = driver.chromium.launch(executable_path="/usr/bin/chromium", args=["--no-sandbox"])
        view = browser.new_page(viewport={"width": 1180, "height": 900})
        view.goto(page.as_uri())
        # The page from the Performance part on (the Gini by period and its
        # table), and a close-up of the heat map.
        view.locator("h2", has_text="Performance").evaluate("e => e.scrollIntoView()")
        shots = [("monitoring.png", None), ("monitoring-heatmap.png", "svg.heat-map")]
        for name, anchor in shots:
            out = DOCS / name
            if anchor is None:
                view.screenshot(path=str(out))
            else:
                view.locator(anchor).screenshot(path=str(out))
            # A palette of 256 colours keeps the picture small and sharp.
            Image.open(out).convert("RGB").quantize(256).save(out, optimize=True)
            print(f"wrote {out}")
        browser.close()


if __name__ == "__main__":
    main()
