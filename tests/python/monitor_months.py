"""Seven months of German credit applicants to monitor where the data live
(engines, Spark, the command line): a tenth without a known outcome, March's
credit amounts half missing; and the check that a result counted elsewhere
is the local one bit for bit."""

import numpy as np
import pandas as pd
from package_under_test import ROOT

CREDIT = pd.read_csv(ROOT / "examples" / "data" / "germancredit.csv")
TARGET = "creditability"


def months():
    rng = np.random.default_rng(5)
    rows = CREDIT.sample(1500, replace=True, random_state=2).reset_index(drop=True)
    rows["opened"] = pd.Timestamp("2024-01-01") + pd.to_timedelta(
        rng.integers(0, 210, len(rows)), unit="D"
    )
    rows[TARGET] = rows[TARGET].where(rng.random(len(rows)) > 0.1)
    rows["credit_amount"] = rows["credit_amount"].astype(float)
    march = (rows["opened"].dt.month == 3) & (rng.random(len(rows)) < 0.5)
    rows.loc[march, "credit_amount"] = np.nan
    rows["batch"] = rows["opened"].dt.month
    return rows


def same_result(remote, local):
    assert remote.state.to_json() == local.state.to_json()
    assert str(remote) == str(local)
    for part in ("performance", "calibration", "characteristics"):
        pd.testing.assert_frame_equal(remote.to_frame(part), local.to_frame(part), check_exact=True)
