"""The studio's server without a browser: only 127.0.0.1, the token on every
request, only the page's files and requests; the session's undo, redo and
reset; the command line end to end."""

import contextlib
import http.client
import json
import pathlib
import signal
import socket
import stat
import subprocess
import sys
import time
import urllib.parse

import pytest
from package_under_test import ROOT, subprocess_env
from package_under_test import tessaline as tl

from tessaline._studio import server
from tessaline._studio.server import is_local

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
    assert request(handle.url, f"/login?token={wrong}")[0] == 403
    status, body, _ = request(handle.url, f"/{token}/api/edit", "POST", b"[" * 100_000)
    assert (status, json.loads(body)) == (400, {"error": "the request body is nested too deeply"})
    split = {"column": "age_in_years", "operation": "split", "arguments": {"at": "__import__"}}
    status, body, _ = request(
        handle.url, f"/{token}/api/edit", "POST", json.dumps({**split, "version": 0})
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


def test_idle_connections_are_closed_and_never_take_every_thread(handle, monkeypatch):
    port = int(handle.url.split(":")[2].split("/")[0])
    token = handle.url.split("/")[3]
    monkeypatch.setattr(handle._server, "max_connections", 3, raising=False)
    # The connections of the requests before this test end first: one ending
    # between the idle ones and the request below would let it in.
    for _ in range(200):
        if handle._server._connections == 0:
            break
        time.sleep(0.05)
    idle = [socket.create_connection(("127.0.0.1", port), timeout=30) for _ in range(3)]
    with pytest.raises(ConnectionError):
        request(handle.url, f"/{token}/api/state")
    for connection in idle:
        connection.close()
    for _ in range(100):  # the threads of the closed connections end
        with contextlib.suppress(ConnectionError):
            if request(handle.url, f"/{token}/api/state")[0] == 200:
                break
        time.sleep(0.05)
    else:
        pytest.fail("the server did not serve again after the idle connections closed")
    # A connection that never sends a request is closed by the server.
    monkeypatch.setattr(server.StudioHandler, "timeout", 0.2)
    with socket.create_connection(("127.0.0.1", port), timeout=30) as silent:
        assert silent.recv(1) == b""


def studio_command(*args, env=None):
    """The studio command of the german credit file, started; its address."""
    process = subprocess.Popen(
        [sys.executable, "-m", "tessaline", "studio", str(CREDIT), "--target", "creditability"]
        + list(args),
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env={**subprocess_env(), **(env or {})},
    )
    return process, process.stdout.readline().split()[-1]


def test_the_command_edits_a_saved_model_saves_and_stops_on_ctrl_c(tmp_path):
    model = tl.TableBinning(event="bad").fit(tl.datasets.german_credit(), "creditability")
    with pytest.warns(tl.TrendWarning):
        model.edit("age_in_years", "add_cut", 40, reason="policy band", author="ana", time="t")
    (tmp_path / "model.json").write_text(model.to_json())
    out = tmp_path / "edited.json"
    model_file = str(tmp_path / "model.json")
    process, url = studio_command("--model", model_file, "--output", str(out), "--no-browser")
    try:
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


def test_the_command_keeps_edits_not_saved_when_stopped_and_offers_them(tmp_path):
    # The browser the command opens records what it was given.
    browser = tmp_path / "browser"
    browser.write_text('#!/bin/sh\nprintf %s "$1" > "$0.opened"\n')
    browser.chmod(0o755)
    out, kept = tmp_path / "edited.json", tmp_path / "edited.unsaved.json"
    merge = {"column": "purpose", "operation": "merge", "arguments": {"first": 0, "second": 1}}
    process, url = studio_command(
        "--event", "bad", "--output", str(out), env={"BROWSER": str(browser)}
    )
    try:
        token = url.split("/")[3]
        for _ in range(200):
            if (tmp_path / "browser.opened").exists():
                break
            time.sleep(0.05)
        # The browser's command line holds no token: only a file of this user's.
        handover = pathlib.Path(
            urllib.parse.urlsplit((tmp_path / "browser.opened").read_text()).path
        )
        assert token not in str(handover) and f"/login?token={token}" in handover.read_text()
        assert stat.S_IMODE(handover.stat().st_mode) == 0o600
        edit = json.dumps({**merge, "version": 0}).encode()
        assert request(url, f"/{token}/api/edit", "POST", edit)[0] == 200
        process.send_signal(signal.SIGTERM)
        stdout, _ = process.communicate(timeout=30)
    finally:
        process.kill()
    assert stdout.endswith(
        f"tessaline studio: stopped with edits not saved; they are kept in {kept} "
        f"(start with --model {kept} to carry on from them)\n"
    )
    assert not handover.exists()
    # The next start offers them; carrying on from them and Ctrl-C keeps both edits.
    process, url = studio_command("--output", str(out), "--model", str(kept), "--no-browser")
    try:
        token = url.split("/")[3]
        edit = json.dumps({**merge, "column": "job", "version": 0}).encode()
        assert request(url, f"/{token}/api/edit", "POST", edit)[0] == 200
        process.send_signal(signal.SIGINT)
        _, stderr = process.communicate(timeout=30)
    finally:
        process.kill()
    assert stderr == (
        f"tessaline studio: edits not saved when a studio stopped are kept in {kept}; "
        f"start with --model {kept} to carry on from them\n"
    )
    assert not out.exists() and tl.from_json(kept.read_text()).edits.keys() == {"purpose", "job"}


def test_undo_redo_and_reset_put_back_each_state_exactly():
    from tessaline._studio.session import Session, StaleChangeError

    data = tl.datasets.german_credit()
    fitted = tl.TableBinning(event="bad").fit(data, "creditability")
    session = Session(fitted, fitted, clock=lambda: "t")
    states = [fitted.to_json()]
    session.edit("purpose", "move", ["education", None], reason="own risk")
    session.edit("age_in_years", "with_cuts", [[30.0]], {"fixed": True})
    states += [session.binning.to_json()]
    # A reset made on the table before the edit of purpose changes nothing.
    with pytest.raises(StaleChangeError, match="the reset was not made"):
        session.reset("purpose", version=0)
    session.reset("purpose", version=1)
    assert session.binning.edits.keys() == {"age_in_years"}
    assert session.undo() == ["purpose"] and session.binning.to_json() == states[1]
    assert session.undo() == ["age_in_years"] and session.undo() == ["purpose"]
    assert session.binning.to_json() == states[0] and session.status()["unsaved"] is False
    with pytest.raises(tl.EditError, match="nothing to undo"):
        session.undo()
    with pytest.raises(StaleChangeError, match="the redo was not made"):
        session.redo(version=5)
    assert session.redo() == ["purpose"] and session.redo() == ["age_in_years"]
    assert session.binning.to_json() == states[1]
    fitted.edit("purpose", "move", "education", None, reason="own risk", time="t")
    fitted.edit("age_in_years", "with_cuts", [30.0], fixed=True, time="t")
    assert states[1] == fitted.to_json()
    with pytest.raises(tl.EditError, match="column 'job' has no edits to reset"):
        session.reset("job")
