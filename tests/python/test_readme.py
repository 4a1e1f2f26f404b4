"""The README's Python snippets run as written, each on its own, on the
embedded data (the Spark one needs a session: its own tests cover it), and
that data read alike with pandas and without."""

import re

import pytest
from package_under_test import ROOT

pytest.importorskip("pandas")
pytest.importorskip("sklearn")
pytest.importorskip("matplotlib").use("Agg")

SNIPPETS = re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(), re.S)


@pytest.mark.parametrize(
    "code", [s for s in SNIPPETS if "import spark" not in s], ids=lambda s: s.splitlines()[-1][:40]
)
def test_a_readme_snippet_runs_as_written(code, tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    exec(compile(code, "README.md", "exec"), {})


def test_the_embedded_data_reads_alike_with_and_without_pandas():
    import numpy as np
    from package_under_test import tessaline as tl

    frame, plain = tl.datasets.german_credit(), tl.datasets.german_credit(as_frame=False)
    assert list(plain) == list(frame.columns) and len(frame) == 1000
    for name, values in plain.items():
        np.testing.assert_array_equal(values, frame[name].to_numpy(values.dtype))
