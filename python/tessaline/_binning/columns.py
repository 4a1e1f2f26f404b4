"""The columns of a binning table, in order, for every module that builds one."""

# The native per-bin summary, then the evidence.
SUMMARY_COLUMNS = (
    "left",
    "right",
    "count",
    "percentage",
    "c0",
    "c1",
    "event_rate",
    "representative",
)
COLUMNS = (*SUMMARY_COLUMNS, "woe", "iv")
