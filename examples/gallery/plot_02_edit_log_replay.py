"""
The edit log replayed on new data
=================================

Last year's analyst adjusted the age bands by judgement, each edit with its
reason. This year's model is fitted on new loans and starts from that
judgement: every edit that still applies is made again, and the ones that no
longer apply are named.
"""

# %%
import matplotlib.pyplot as plt

import tessaline as tl

credit = tl.datasets.german_credit()
older, newer = credit.iloc[:500], credit.iloc[500:]
last_year = tl.TableBinning(event="bad").fit(older, "creditability")
last_year.edit("age_in_years", "add_cut", 40, reason="the policy's age band", author="ana")
last_year.edit("age_in_years", "merge", 0, 1, reason="similar risk", author="ana")
print(last_year.tables["age_in_years"])

# %%
# The document keeps the log; the refit replays it by cut points, not bin numbers.
document = last_year.to_json()
refit = tl.TableBinning(event="bad").fit(
    newer, "creditability", edits=tl.TableBinning.from_json(document)
)
print(refit.tables["age_in_years"])
print("not replayed:", refit.not_replayed)

# %%
fig, (left, right) = plt.subplots(1, 2, figsize=(10, 4))
last_year.tables["age_in_years"].plot(ax=left)
left.set_title("last year, edited")
refit.tables["age_in_years"].plot(ax=right)
right.set_title("this year, edits replayed")
fig.tight_layout()
