"""
Monitoring over periods
=======================

A card in production, month by month: the PSI of the score and of every
characteristic against the development sample, and the months where the
applicants moved.
"""

# %%
import numpy as np

import tessaline as tl

credit = tl.datasets.german_credit()
development, production = credit.iloc[:600], credit.iloc[600:]
card = tl.Scorecard(event="bad").fit(development, "creditability")
months = production.assign(month=np.repeat(["Jan", "Feb", "Mar", "Apr"], 100))
report = tl.stability(card, development, months, period="month")
print(str(report).split("\n\n")[0])

# %%
frame = report.to_frame()
psi = frame.pivot(index="period", columns="variable", values="psi").loc[list(report.periods)]
worst = psi.drop(columns="score").max().nlargest(3).index.tolist()
ax = psi[["score", *worst]].plot(marker="o", ylabel="PSI", figsize=(8, 4))
ax.axhline(0.1, color="grey", linestyle="--", label="moderate shift")
ax.axhline(0.25, color="red", linestyle="--", label="major shift")
ax.set_title("PSI against the development sample")
ax.legend(fontsize=7)
