"""One version, set in the package: the command prints it, the wheel's
metadata reads it, and every document names the release that wrote it, which
`from_json` shows beside a fault in a document of another release."""

import json
import re
import subprocess
import sys
import tomllib
import xml.etree.ElementTree as ET

import numpy as np
import pytest
from package_under_test import ROOT, subprocess_env
from package_under_test import tessaline as tl

WRITER = f"tessaline {tl.__version__}"
RNG = np.random.default_rng(7)
X = RNG.normal(size=400)
Y = (X + RNG.normal(size=400) > 0).astype(float)


def test_the_version_is_set_once_in_the_package_and_printed_by_the_command():
    assert re.fullmatch(r"\d+\.\d+\.\d+", tl.__version__)
    config = tomllib.loads((ROOT / "pyproject.toml").read_text())
    assert "version" in config["project"]["dynamic"]
    [source] = [m for m in config["tool"]["dynamic-metadata"] if m["field"] == "version"]
    assert source["input"] == "python/tessaline/_version.py"
    done = subprocess.run(
        [sys.executable, "-m", "tessaline", "--version"],
        capture_output=True,
        text=True,
        env=subprocess_env(),
        check=True,
    )
    assert done.stdout == f"{WRITER}\n"


def _pmml_writer(text):
    app = ET.fromstring(text).find("{*}Header/{*}Application")
    return f"{app.get('name')} {app.get('version')}"


@pytest.mark.parametrize(
    "write, writer_of",
    [
        (lambda t: t.to_json(), lambda text: json.loads(text)["written_by"]),
        (lambda t: t.to_pmml(), _pmml_writer),
        (
            lambda t: t.to_sql("applicants"),
            lambda text: re.match(r"/\* written by (.*) \*/\nSELECT ", text)[1],
        ),
    ],
    ids=["json", "pmml", "sql"],
)
def test_every_document_names_the_release_that_wrote_it(write, writer_of):
    binning = tl.TableBinning().fit({"x": X, "y": Y}, "y")
    assert writer_of(write(binning)) == WRITER


@pytest.mark.parametrize(
    "writer, note",
    [
        ("tessaline 9.0.0", f"written by tessaline 9.0.0; read by {WRITER}"),
        (None, f"written by an unnamed release; read by {WRITER}"),
        (WRITER, None),
    ],
)
def test_from_json_notes_another_writer_beside_a_fault(writer, note):
    doc = json.loads(tl.mdlp_binning(X, Y).to_json())
    doc["written_by"] = writer
    doc["splits"] = ["1.5"]
    with pytest.raises(tl.DocumentError, match="not a hexadecimal float") as caught:
        tl.from_json(json.dumps(doc))
    assert getattr(caught.value, "__notes__", [None]) == [note]
