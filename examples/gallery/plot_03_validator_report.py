"""
A validator's report
====================

The validator's questions, answered from one fitted card: do neighbouring
bins differ, how certain is the AUC, is the PD calibrated per grade; and the
whole model documented in one HTML page.
"""

# %%
import pathlib
import tempfile

import numpy as np

import tessaline as tl
from tessaline.report import model_report

credit = tl.datasets.german_credit()
train, test = credit.iloc[:700], credit.iloc[700:]
y = (test["creditability"] == "bad").astype(int).to_numpy()
card = tl.Scorecard(event="bad").fit(train, "creditability")
print(card.binning.tables["duration_in_month"].analysis())

# %%
# DeLong's interval of the AUC, and the card against a one-variable rule.
score = card.score(test)
perf = tl.score_performance(score, y)
print("AUC 95% interval:", np.round(perf.auc_ci, 4))
print(tl.compare_auc(score, -test["duration_in_month"], y))

# %%
# Calibration of the PD behind each score, in four grades.
pd_bad = 1 / (1 + np.exp((score - card.offset) / card.factor))
result = tl.calibration(pd_bad, y, grades=np.digitize(score, [500, 530, 560]))
print(result)
result.plot()

# %%
# The model's documentation, one self-contained page (here in a scratch folder).
path = pathlib.Path(tempfile.mkdtemp()) / "model.html"
model_report(card, (train, "creditability"), test=(test, "creditability"), path=path)
print(f"{path.name}: {path.stat().st_size // 1024} KiB")
