"""
A continuous target: loss given default
=======================================

Loss given default is a share of the exposure, not a flag. Here a simulated
LGD for each German credit loan (a fixed seed: higher for long, unsecured
loans) is binned against the loan's duration and property, with bins whose
mean LGD differs most under the same limits as a binary target's.
"""

# %%
import matplotlib.pyplot as plt
import numpy as np

import tessaline as tl

credit = tl.datasets.german_credit()
rng = np.random.default_rng(7)
unsecured = (credit["property"] == "unknown / no property").to_numpy()
mean = 0.25 + 0.006 * credit["duration_in_month"].to_numpy() + 0.2 * unsecured
lgd = np.clip(rng.beta(2, 2, len(credit)) * 0.5 + mean - 0.25, 0, 1)

table = tl.continuous_binning(credit["duration_in_month"], lgd, max_bins=5, name="duration")
print(table)

# %%
binning = tl.TableBinning(target="continuous").fit(
    credit.drop(columns="creditability").assign(lgd=lgd), "lgd"
)
print(binning.summary_frame()[["column", "r2", "bins"]].head(4).round(4).to_string(index=False))

# %%
fig, (left, right) = plt.subplots(1, 2, figsize=(10, 4))
table.plot(ax=left)
binning.tables["property"].plot(ax=right)
fig.tight_layout()
