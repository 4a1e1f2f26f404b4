"""
Weights for a down-sampled sample
=================================

The development sample kept every bad loan and one good loan in three. With
the goods weighted by three, the bins, WoE and IV are those of the whole
portfolio's mix again.
"""

# %%
import matplotlib.pyplot as plt
import numpy as np

import tessaline as tl

credit = tl.datasets.german_credit()
bad = credit["creditability"] == "bad"
kept = bad | (np.arange(len(credit)) % 3 == 0)
sample = credit[kept]
weight = np.where(bad[kept], 1.0, 3.0)
x, y = sample["credit_amount"], sample["creditability"]

unweighted = tl.optimal_binning(x, y, event="bad", name="unweighted")
weighted = tl.optimal_binning(x, y, event="bad", sample_weight=weight, name="weighted")
full = tl.optimal_binning(credit["credit_amount"], credit["creditability"], event="bad")
for table in (unweighted, weighted, full):
    print(f"{table.name}: event rate of the sample {table['c1'].sum() / table['count'].sum():.3f}")
print(weighted)

# %%
fig, (left, right) = plt.subplots(1, 2, figsize=(10, 4))
unweighted.plot(ax=left)
left.set_title("down-sampled, unweighted")
weighted.plot(ax=right)
right.set_title("down-sampled, weighted back")
fig.tight_layout()
