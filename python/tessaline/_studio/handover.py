"""Handing the session's token to the analyst's browser without putting it
on a command line (which every local user can read): the browser is opened
on a page in a folder only this user can read, which sends it to the
server's login; the login answers with the token as an HttpOnly cookie and
sends the browser on to the page, whose address then holds no token."""

from __future__ import annotations

import os
import pathlib
import shutil
import tempfile

# The page the browser is opened on: it goes straight on to the login.
HANDOVER_PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="refresh" content="0;url={url}">
<title>tessaline studio</title>
</head>
<body><p><a href="{url}">Open the tessaline studio</a></p></body>
</html>
"""


def write_handover(login_url: str) -> pathlib.Path:
    """A page that opens `login_url`, readable by this user only (0600, in
    a new 0700 folder); `remove_handover` deletes both."""
    folder = pathlib.Path(tempfile.mkdtemp(prefix="tessaline-studio-"))
    path = folder / "open.html"
    descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(descriptor, "w", encoding="utf-8") as handle:
        handle.write(HANDOVER_PAGE.format(url=login_url))
    return path


def remove_handover(path: pathlib.Path) -> None:
    shutil.rmtree(path.parent, ignore_errors=True)


def cookie_name(port: int) -> str:
    """The cookie of the studio on `port` (browsers share cookies between
    the ports of a host, so two studios need two names)."""
    return f"tessaline-studio-{port}"


def session_cookie(port: int, token: str) -> str:
    """The Set-Cookie value that hands `token` over: never readable by the
    page's script, never sent with another site's form posts."""
    return f"{cookie_name(port)}={token}; HttpOnly; SameSite=Lax; Path=/"


def cookie_value(header: str, name: str) -> str | None:
    """The value of the cookie `name` in a Cookie request header."""
    for part in header.split(";"):
        key, _, value = part.strip().partition("=")
        if key == name:
            return value
    return None
