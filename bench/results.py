"""The benchmark run's tables as one JSON document (bench/results.json), with
the date and the machine they were measured on; the documentation's
performance page is rendered from it, so the figures it shows are always
those of the last committed run."""

from __future__ import annotations

import json
import pathlib
from typing import Any

PATH = pathlib.Path(__file__).with_name("results.json")


def table(title: str, header: tuple[str, ...], lines: list[tuple[str, ...]]) -> dict[str, object]:
    rows = [[cell.strip() for cell in line] for line in lines]
    return {"title": title, "header": list(header), "rows": rows}


def merged(path: pathlib.Path, tables: list[dict[str, Any]]) -> list[dict[str, Any]]:
    """The tables of the last run at `path` with the rows of `tables` (a run
    of some of the scripts) in place of theirs: a row is replaced by the new
    rows of its function (or check), and a table the last run lacks is added."""
    if not path.exists():
        return tables
    kept: list[dict[str, Any]] = json.loads(path.read_text())["tables"]
    new = {t["title"]: t for t in tables}
    out = []
    for old in kept:
        if old["title"] not in new:
            out.append(old)
            continue
        rows = new[old["title"]]["rows"]
        replaced = {row[0] for row in rows}
        out.append({**old, "rows": [r for r in old["rows"] if r[0] not in replaced] + rows})
    titles = {t["title"] for t in kept}
    return out + [t for t in tables if t["title"] not in titles]


def write(
    path: pathlib.Path, *, date: str, machine: str, quick: bool, tables: list[dict[str, object]]
) -> None:
    document = {"date": date, "machine": machine, "quick": quick, "tables": tables}
    path.write_text(json.dumps(document, indent=1, ensure_ascii=False) + "\n")
