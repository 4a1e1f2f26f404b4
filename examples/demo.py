"""What a credit analyst does first with a new data set: bin every attribute
of the German credit data (numeric and categorical) against its good/bad
target with the tessaline package, rank them by information value, read the
strongest binning tables, and turn the applicants into weights of evidence;
then the second half of the day: a scorecard fitted on 70% of the applicants,
its power on the other 30%, the score as SQL, and its stability when the
applicants of a later period ask for longer loans."""

from __future__ import annotations

import csv
import pathlib

import numpy as np

import tessaline as tl

DATA = pathlib.Path(__file__).resolve().parent / "data" / "germancredit.csv"
TARGET = "creditability"
SHOWN_TABLES = 3


def read_columns(path: pathlib.Path) -> dict[str, np.ndarray]:
    """Each column of the CSV file as float64 when every cell is a number,
    else as strings (a categorical attribute)."""
    with open(path, newline="", encoding="utf-8") as handle:
        reader = csv.reader(handle)
        header = next(reader)
        records = list(reader)
    columns = {}
    for j, name in enumerate(header):
        cells = [record[j] for record in records]
        try:
            columns[name] = np.array([float(c) for c in cells])
        except ValueError:
            columns[name] = np.array(cells, dtype=object)
    return columns


def main() -> None:
    columns = read_columns(DATA)
    n_bad = int(np.sum(columns[TARGET] == "bad"))
    print(
        f"German credit data: {len(columns[TARGET])} applicants, {n_bad} bad loans, "
        f"{len(columns) - 1} attributes\n"
    )
    binning = tl.TableBinning(event="bad", min_iv=0.02).fit(columns, TARGET)
    print("Attributes by information value (Gini of each attribute's WoE):")
    print(binning)
    kept = len(binning.selected)
    print(f"\nkept by the selection (IV >= 0.02): {kept} attributes\n")
    for name in binning.selected[:SHOWN_TABLES]:
        print(binning.tables[name])
        print()
    woe = binning.transform(columns, selected=True)
    first = binning.selected[0]
    print(
        f"WoE of the first five applicants on '{first}': "
        + ", ".join(f"{w:+.3f}" for w in woe[first][:5])
    )
    scorecard(columns)


def take(columns: dict[str, np.ndarray], rows: np.ndarray) -> dict[str, np.ndarray]:
    return {name: values[rows] for name, values in columns.items()}


def scorecard(columns: dict[str, np.ndarray]) -> None:
    """A scorecard on a seeded stratified 70/30 split, its test performance,
    its SQL and a monitoring run."""
    rng = np.random.default_rng(0)
    bad = columns[TARGET] == "bad"
    test = np.zeros(bad.size, dtype=bool)
    for group in (np.flatnonzero(bad), np.flatnonzero(~bad)):
        test[rng.choice(group, size=round(0.3 * group.size), replace=False)] = True
    train, holdout = take(columns, np.flatnonzero(~test)), take(columns, np.flatnonzero(test))
    card = tl.Scorecard(event="bad").fit(train, TARGET)
    print(f"\n{card!r}: the first rows of its points table")
    print("\n".join(str(card).splitlines()[:8]))
    print("\nOn the 30% held out:", card.performance(holdout, TARGET))
    sql = card.to_sql("applicants", dialect="duckdb")
    print(f"\nThe score in SQL ({len(sql)} characters), first line: {sql.splitlines()[0]}")
    later = dict(holdout)
    later["duration_in_month"] = later["duration_in_month"] + 12.0
    report = tl.stability(card, train, {"held out": holdout, "longer loans": later})
    print("\n" + "\n".join(str(report).splitlines()[:6]))


if __name__ == "__main__":
    main()
