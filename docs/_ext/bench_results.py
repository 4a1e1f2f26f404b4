"""``.. bench-results:: PATH``: the tables of a benchmark run's JSON document
(bench/run.py writes it), with the date and the machine they were measured on."""

import json
import pathlib

from docutils import nodes
from docutils.statemachine import StringList
from sphinx.util.docutils import SphinxDirective


def table_lines(title: str, header: list[str], rows: list[list[str]]) -> list[str]:
    def row(cells: list[str]) -> list[str]:
        # An empty cell, or a lone dash, would read as a list item.
        first, *rest = [c.replace("|", "\\|") if c not in ("", "-") else "\\-" for c in cells]
        return [f"   * - {first}", *[f"     - {c}" for c in rest]]

    lines = [f".. list-table:: {title}", "   :header-rows: 1", ""]
    for cells in [header, *rows]:
        lines.extend(row(cells))
    return [*lines, ""]


class BenchResults(SphinxDirective):
    required_arguments = 1

    def run(self) -> list[nodes.Node]:
        path = pathlib.Path(self.env.srcdir, self.arguments[0]).resolve()
        self.env.note_dependency(str(path))
        run = json.loads(path.read_text())
        kind = "quick run (1e5 and 1e6 rows)" if run["quick"] else "full run"
        lines = [f"Measured on {run['date']}, {kind}, on {run['machine']}.", ""]
        for t in run["tables"]:
            lines.extend(table_lines(t["title"], t["header"], t["rows"]))
        container = nodes.container()
        self.state.nested_parse(StringList(lines, str(path)), self.content_offset, container)
        return container.children


def setup(app):
    app.add_directive("bench-results", BenchResults)
    return {"parallel_read_safe": True}
