"""The benchmark run's tables as one JSON document (bench/results.json), with
the date and the machine they were measured on; the documentation's
performance page is rendered from it, so the figures it shows are always
those of the last committed run."""

from __future__ import annotations

import json
import pathlib

PATH = pathlib.Path(__file__).with_name("results.json")


def table(title: str, header: tuple[str, ...], lines: list[tuple[str, ...]]) -> dict[str, object]:
    rows = [[cell.strip() for cell in line] for line in lines]
    return {"title": title, "header": list(header), "rows": rows}


def write(
    path: pathlib.Path, *, date: str, machine: str, quick: bool, tables: list[dict[str, object]]
) -> None:
    document = {"date": date, "machine": machine, "quick": quick, "tables": tables}
    path.write_text(json.dumps(document, indent=1, ensure_ascii=False) + "\n")
