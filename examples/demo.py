"""First look at a new data set: prepare every numeric variable of the German
credit data against its good/bad target and show what the preparation kept."""
from __future__ import annotations

import numpy as np

import _tessaline as tl
from credit_data import load


def main() -> None:
    columns, bad = load()
    print(f"German credit data: {len(bad)} applicants, {int(bad.sum())} bad loans, "
          f"{len(columns)} numeric variables\n")
    for name, x in columns.items():
        prepared = tl.preprocess_data_native(x, bad)
        kept = prepared["x"]
        print(f"{name}")
        print(f"  rows given {len(x)}, kept {len(kept)}, dropped {len(x) - len(kept)}")
        print(f"  sorted x: {np.array2string(kept[:6], separator=', ')} ... "
              f"{np.array2string(kept[-3:], separator=', ')}")
        print(f"  labels:   {np.array2string(prepared['y'][:6], separator=', ')} ...\n")


if __name__ == "__main__":
    main()
