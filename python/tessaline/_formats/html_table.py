"""HTML for a binning table: used by notebooks (``_repr_html_``) and the report."""

from __future__ import annotations

from html import escape

from .._core.protocols import PrintedTable


def binning_table_html(table: PrintedTable) -> str:
    # A weighted binning table has one column more, its records.
    weighted = getattr(table, "weighted", False)
    shown = getattr(table, "header", table.HEADER) if weighted else table.HEADER
    header = "".join(
        f"<th{'' if i in table.TEXT_COLUMNS else ' class=n'}>{escape(h)}</th>"
        for i, h in enumerate(shown)
    )
    body = []
    for row in table.rows():
        cells = "".join(
            f"<td{'' if i in table.TEXT_COLUMNS else ' class=n'}>{escape(cell)}</td>"
            for i, cell in enumerate(row)
        )
        missing = ' class="missing"' if row[1] == "missing" else ""
        body.append(f"<tr{missing}>{cells}</tr>")
    return (
        f'<table class="binning"><caption>{escape(table.title())}</caption>'
        f"<thead><tr>{header}</tr></thead><tbody>{''.join(body)}</tbody></table>"
    )
