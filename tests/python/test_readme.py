"""The README's Python snippets run as written, each on its own, on the
embedded data (the Spark one needs a session: its own tests cover it)."""
import re

import pytest

from package_under_test import ROOT

pytest.importorskip("pandas")
pytest.importorskip("sklearn")
pytest.importorskip("matplotlib").use("Agg")

SNIPPETS = re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(), re.S)


@pytest.mark.parametrize("code", [s for s in SNIPPETS if "import spark" not in s],
                         ids=lambda s: s.splitlines()[-1][:40])
def test_a_readme_snippet_runs_as_written(code, tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    exec(compile(code, "README.md", "exec"), {})
