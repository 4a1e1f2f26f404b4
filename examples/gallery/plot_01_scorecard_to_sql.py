"""
A scorecard from raw data to SQL
================================

From the raw application data to a points table, and from the points table
to a query the database scores applicants with: the same scores, bit for
bit, in Python and in DuckDB.
"""

# %%
# Fit the card on 70% of the loans and measure it on the other 30%.
import duckdb
import matplotlib.pyplot as plt

import tessaline as tl

credit = tl.datasets.german_credit()
train, test = credit.iloc[:700], credit.iloc[700:]
card = tl.Scorecard(event="bad").fit(train, "creditability")
perf = card.performance(test, "creditability")
print(f"{len(card.variables)} variables, test AUC {perf.auc:.4f}, KS {perf.ks:.4f}")

# %%
# The points of one characteristic: higher points, lower risk.
frame = card.points_frame()
print(frame[frame["variable"] == "credit_history"].round(2).to_string(index=False))

# %%
# The card as one SQL query, run in DuckDB on the test applicants.
db = duckdb.connect()
db.register("applicants", test.drop(columns="creditability"))
in_db = db.sql(card.to_sql("applicants", dialect="duckdb")).df()
same = (in_db["score"].to_numpy() == card.score(test)).all()
print("DuckDB's scores equal Python's bit for bit:", bool(same))

# %%
# The ROC and KS charts of the test sample.
fig, (left, right) = plt.subplots(1, 2, figsize=(10, 4))
perf.plot_roc(ax=left)
perf.plot_ks(ax=right)
fig.tight_layout()
