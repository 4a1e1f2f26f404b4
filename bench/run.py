"""Runs every benchmark of this folder and prints one table."""
from __future__ import annotations

import importlib
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent))

from common import print_table, sizes_from_args  # noqa: E402


def main() -> None:
    sizes = sizes_from_args()
    rows = []
    for path in sorted(pathlib.Path(__file__).parent.glob("bench_*.py")):
        module = importlib.import_module(path.stem)
        rows.extend(module.run(sizes))
    print_table(rows)


if __name__ == "__main__":
    main()
