"""A random table of the shapes that engines count differently: numbers
with ties, NaN, infinities and a special code; categories as strings (rare
ones, missing ones), booleans with missing values and integer codes; a 0/1
target with missing values, likelier an event where x0 is high."""

import json

import numpy as np
import pandas as pd

# Options of a whole-table fit that reach every kind of column of a table:
# {code} names a column of integer codes, {0} and {2} numeric columns by
# position (`options_for` names them after the data at hand).
TABLE_OPTIONS = [
    {"method": "optimal"},
    {"method": "mdlp", "min_share": 0.05, "categorical": ["{code}"]},
    {"method": "quantile", "n_bins": 5, "special_values": {"{2}": [-999.0]}},
    {
        "method": "equal_width",
        "columns": {"{0}": {"method": "optimal", "special_values": [-999.0]}},
    },
]


def options_for(options, frame, target):
    """`options` with their column names taken from `frame`: the random
    table's codes, or else its second numeric column, and its numeric
    columns by position."""
    numeric = [c for c in frame.columns if c not in (target, "id") and frame[c].dtype.kind in "if"]
    code = "code" if "code" in frame.columns else numeric[1]
    text = json.dumps(options).replace("{code}", code)
    return json.loads(text.replace("{0}", numeric[0]).replace("{2}", numeric[2]))


def random_frame(n, seed, with_id=False):
    """Numbers with ties, NaN, infinities and -999; a target with NaN;
    categories as strings (rare ones, missing ones), booleans and codes."""
    rng = np.random.default_rng(seed)
    frame = {"id": np.arange(n)} if with_id else {}
    for j, levels in enumerate((8, 300, 0)):
        x = np.round(rng.normal(size=n) * 3, 1) if levels == 0 else rng.integers(0, levels, n) * 0.5
        for share, value in ((0.03, np.nan), (0.01, np.inf), (0.01, -np.inf), (0.02, -999.0)):
            x[rng.random(n) < share] = value
        frame[f"x{j}"] = x + 0.0  # no -0.0: a zero's sign is not kept by an engine
    risk = np.nan_to_num(frame["x0"], posinf=9, neginf=-9) / 2 - 1
    y = (rng.random(n) < 1 / (1 + np.exp(-risk))).astype(float)
    y[rng.random(n) < 0.02] = np.nan
    letters = np.array(list("ABCDEFGH") + ["rare1", "rare2"])
    grade = letters[np.minimum(rng.geometric(0.3, n) - 1, 9)].astype(object)
    grade[rng.random(n) < 0.03] = None
    frame["grade"] = grade
    frame["flag"] = np.where(rng.random(n) < 0.01, None, rng.random(n) < 0.5 + 0.1 * y)
    frame["code"] = rng.integers(1, 6, n)
    frame["y"] = y
    return pd.DataFrame(frame)


def cell_maxima(x, cells, specials):
    """Each finite value that is not special replaced by the largest value
    of its cell: distinct values ascending, a value in cell
    floor(rows before it * cells / rows)."""
    ordinary = np.isfinite(x) & ~np.isin(x, specials)
    values, rows = np.unique(x[ordinary], return_counts=True)
    cell = (np.cumsum(rows) - rows) * cells // rows.sum()
    last = np.r_[cell[1:] != cell[:-1], True]
    out = x.copy()
    out[ordinary] = values[last][np.cumsum(np.r_[0, last[:-1]])][
        np.searchsorted(values, x[ordinary])
    ]
    return out
