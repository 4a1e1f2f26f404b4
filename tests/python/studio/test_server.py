"""The studio's server without a browser: only 127.0.0.1, the token on every
request, only the page's files and requests; the session's undo, redo and
reset; the command line end to end."""

import http.client
import json
import signal
import subprocess
import sys

import pytest
from package_under_test import ROOT, subprocess_env
from package_under_test import tessaline as tl

from tessaline.studio import server
from tessaline.studio.server import is_local

CREDIT = ROOT / "examples" / "data" / "germancredit.csv"


@pytest.fixture(scope="module")
def handle():
    data = tl.datasets.german_credit()
    studio = tl.studio(None, data, "creditability", event="bad", open_browser=False, wait=False)
    yield studio
    studio.stop()


def request(url, path, method="GET", body=None, host=None):
    """The status and body of a request to the server of `url` at `path`."""
    port = int(url.split(":")[2].split("/")[0])
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    headers = {"Host": host} if host else {}
    connection.request(method, path, body=body, headers=headers)
    response = connection.getresponse()
    return response.status, response.read(), response


@pytest.mark.parametrize(
    ("address", "local"),
    [("127.0.0.1", True), ("10.0.0.7", False), ("127.0.0.2", False), ("::1", False), ("", False)],
)
def test_only_the_loopback_address_is_answered(address, local):
    assert is_local(address) is local


def test_every_request_needs_the_token_and_a_known_path(handle, monkeypatch):
    token = handle.url.split("/")[3]
    wrong = token[:-1] + ("A" if token[-1] != "A" else "B")
    for path in ("/", "/studio.js", "/api/state", f"/{wrong}/", f"/{wrong}/api/state", "/x/../"):
        assert request(handle.url, path)[0] == 403, path
    status, body, response = request(handle.url, f"/{token}/")
    assert status == 200 and b'<script src="studio.js" defer>' in body
    assert "script-src 'self'" in response.getheader("Content-Security-Policy")
    assert request(handle.url, f"/{token}/studio.js")[0] == 200
    assert request(handle.url, f"/{token}")[2].getheader("Location") == f"/{token}/"
    # A name of another site resolved to this machine is refused (DNS rebinding).
    assert request(handle.url, f"/{token}/", host="attacker.example:80")[0] == 403
    for path in ("/../session.py", "/static/studio.js", "/api/edit", "/api/nothing", "/index.html"):
        assert request(handle.url, f"/{token}{path}")[0] == 404, path
    assert request(handle.url, f"/{token}/api/edit", "POST", b"[1]")[0] == 400
    status, body, _ = request(
        handle.url,
        f"/{token}/api/edit",
        "POST",
        json.dumps(
            {"column": "age_in_years", "operation": "split", "arguments": {"at": "__import__"}}
        ),
    )
    assert (status, json.loads(body)) == (
        422,
        {"error": "at must be a finite number, not '__import__'"},
    )
    state = json.loads(request(handle.url, f"/{token}/api/state")[1])
    assert state["status"]["can_undo"] is False and len(state["summary"]) == 20
    # A peer the address check refuses is refused, token or not.
    monkeypatch.setattr(server, "is_local", lambda address: False)
    assert request(handle.url, f"/{token}/")[0] == 403


def test_the_command_edits_a_saved_model_saves_and_stops_on_ctrl_c(tmp_path):
    model = tl.TableBinning(event="bad").fit(tl.datasets.german_credit(), "creditability")
    with pytest.warns(tl.TrendWarning):
        model.edit("age_in_years", "add_cut", 40, reason="policy band", author="ana", time="t")
    (tmp_path / "model.json").write_text(model.to_json())
    out = tmp_path / "edited.json"
    args = [
        "studio",
        str(CREDIT),
        "--target",
        "creditability",
        "--model",
        str(tmp_path / "model.json"),
    ]
    process = subprocess.Popen(
        [sys.executable, "-m", "tessaline", *args, "--output", str(out), "--no-browser"],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=subprocess_env(),
    )
    try:
        url = process.stdout.readline().split()[-1]
        token = url.split("/")[3]
        answer = request(url, f"/{token}/api/save", "POST", b"{}")
        assert answer[0] == 200 and json.loads(answer[1])["saved"] == "edited.json"
        process.send_signal(signal.SIGINT)  # Ctrl-C
        stdout, stderr = process.communicate(timeout=30)
    finally:
        process.kill()
    assert process.returncode == 0 and stderr == (
        "tessaline studio: warning: after add_cut the event rate over the bins of "
        "'age_in_years' is valley, no longer monotone\n"
    )
    assert stdout.endswith(f"tessaline studio: stopped; saved to {out}\n")
    # The file, read by the report's reader with the model's event, is binned
    # as pandas' frame is, and the model's edit made again as it was logged.
    assert out.read_text() == model.to_json()


def test_undo_redo_and_reset_put_back_each_state_exactly():
    from tessaline.studio.session import Session

    data = tl.datasets.german_credit()
    fitted = tl.TableBinning(event="bad").fit(data, "creditability")
    session = Session(fitted, fitted, clock=lambda: "t")
    states = [fitted.to_json()]
    session.edit("purpose", "move", ["education", None], reason="own risk")
    session.edit("age_in_years", "with_cuts", [[30.0]], {"fixed": True})
    states += [session.binning.to_json()]
    session.reset("purpose")
    assert session.binning.edits.keys() == {"age_in_years"}
    assert session.undo() == ["purpose"] and session.binning.to_json() == states[1]
    assert session.undo() == ["age_in_years"] and session.undo() == ["purpose"]
    assert session.binning.to_json() == states[0] and session.status()["unsaved"] is False
    with pytest.raises(tl.EditError, match="nothing to undo"):
        session.undo()
    assert session.redo() == ["purpose"] and session.redo() == ["age_in_years"]
    assert session.binning.to_json() == states[1]
    fitted.edit("purpose", "move", "education", None, reason="own risk", time="t")
    fitted.edit("age_in_years", "with_cuts", [30.0], fixed=True, time="t")
    assert states[1] == fitted.to_json()
    with pytest.raises(tl.EditError, match="column 'job' has no edits to reset"):
        session.reset("job")
