"""The README and every page of the guide print what they show: each page's
examples run in order, as a reader runs them, and their output is compared
with the page (docs/snippets.py; `make docs-outputs` rewrites the outputs
after an intended change). The Spark page runs where Java is."""

import os
import re
import shutil
import sys

import pytest
from package_under_test import ROOT

pytest.importorskip("pandas")
pytest.importorskip("sklearn")
pytest.importorskip("matplotlib").use("Agg")
sys.path.insert(0, str(ROOT / "docs"))

import snippets  # noqa: E402


def spark_missing() -> str | None:
    if shutil.which("java") is None and not os.environ.get("JAVA_HOME"):
        return "Spark needs Java"
    if "asan" in os.environ.get("LD_PRELOAD", ""):
        return "Spark does not run under the sanitizer runtime"
    return None


@pytest.mark.parametrize("page", snippets.pages(), ids=lambda p: str(p.relative_to(ROOT)))
def test_a_page_prints_what_it_shows(page):
    import matplotlib.pyplot as plt

    if page.name == "spark.rst" and (reason := spark_missing()):
        pytest.skip(reason)
    mismatches, report = snippets.check(page)
    plt.close("all")
    assert not mismatches, report


def test_a_changed_number_is_found_and_written_back(tmp_path):
    page = tmp_path / "page.md"
    page.write_text("Text.\n\n```pycon\n>>> 6 * 7\n41\n>>> print('a\\n\\nb')\na\n```\n")
    mismatches, report = snippets.check(page.resolve())
    assert [m.got for m in mismatches] == ["42\n", "a\n\nb\n"]
    assert "Expected:\n    41\nGot:\n    42" in report
    assert snippets.rewrite(page, mismatches) == 2
    assert page.read_text() == (
        "Text.\n\n```pycon\n>>> 6 * 7\n42\n>>> print('a\\n\\nb')\na\n<BLANKLINE>\nb\n```\n"
    )
    assert snippets.check(page.resolve())[0] == []


def test_the_benchmark_table_keeps_every_cell_as_written():
    pytest.importorskip("sphinx")
    sys.path.insert(0, str(ROOT / "docs" / "_ext"))
    from bench_results import table_lines

    assert table_lines("t", ["a", "b"], [["-", "x | y"], ["", "1.0x"]]) == [
        ".. list-table:: t",
        "   :header-rows: 1",
        "",
        *["   * - a", "     - b", "   * - \\-", "     - x \\| y", "   * - \\-", "     - 1.0x"],
        "",
    ]


def test_a_run_of_some_benchmarks_replaces_their_rows_on_the_page(tmp_path):
    # The page keeps every other row of the last run, in its place.
    sys.path.insert(0, str(ROOT / "bench"))
    import results

    def table(title, *rows):
        return {"title": title, "header": ["function", "ratio"], "rows": [list(r) for r in rows]}

    path = tmp_path / "results.json"
    kept = [table("peers", ("a", "1"), ("b", "2"), ("a", "3")), table("checks", ("c", "yes"))]
    results.write(path, date="d", machine="m", quick=True, tables=kept)
    new = [table("peers", ("a", "4")), table("more", ("e", "5"))]
    assert results.merged(path, new) == [
        table("peers", ("b", "2"), ("a", "4")),
        table("checks", ("c", "yes")),
        table("more", ("e", "5")),
    ]


def test_a_row_fails_above_its_baseline_on_its_own_machine_only(tmp_path):
    # A run of some scripts keeps the other rows and the other machines'
    # baselines; a row twice as slow fails, a row without a baseline does not,
    # and a second run's better ratio clears a passing load.
    sys.path.insert(0, str(ROOT / "bench"))
    import baseline
    from common import Row

    def row(function, ours, peer="p"):
        return Row(function, 10, peer, ours, 1.0)

    path = tmp_path / "baseline.json"
    baseline.write(path, baseline.updated(path, "cpu A", "d1", [row("f", 0.5), row("g", 2.0)]))
    baseline.write(path, baseline.updated(path, "cpu B", "d1", [row("f", 9.0)]))
    baseline.write(path, baseline.updated(path, "cpu A", "d2", [row("g", 1.0)]))
    ratios = baseline.load(path, "cpu A")
    assert ratios == {"f | 10 rows | p": 0.5, "g | 10 rows | p": 1.0}
    assert baseline.load(path, "cpu C") == {}
    now = [row("f", 1.0), row("g", 1.5), row("f", 5.0, "q"), row("h", None)]
    assert baseline.regressed(now, ratios) == [now[0]]
    assert baseline.without_baseline(now, ratios) == [now[2]]
    assert baseline.fail_lines(now, ratios) == [
        "FAIL: f at 10 rows against p: ratio 1.000, 2.00 times its baseline 0.500 (limit 1.6 times)"
    ]
    assert baseline.regressed(baseline.best_of(now, [row("f", 0.6), row("g", 9.0)]), ratios) == []


def test_the_readme_is_a_front_door_whose_links_lead_somewhere():
    readme = (ROOT / "README.md").read_text()
    assert len(readme.splitlines()) <= 150
    local = [t for t in re.findall(r"\]\(([^)#]+)", readme) if "://" not in t]
    assert local and [t for t in local if not (ROOT / t).exists()] == []


def test_the_embedded_data_reads_alike_with_and_without_pandas():
    import numpy as np
    from package_under_test import tessaline as tl

    frame, plain = tl.datasets.german_credit(), tl.datasets.german_credit(as_frame=False)
    assert list(plain) == list(frame.columns) and len(frame) == 1000
    for name, values in plain.items():
        np.testing.assert_array_equal(values, frame[name].to_numpy(values.dtype))
