"""The code of the README and of the guide's pages, run as a reader runs it:
each page's ``>>>`` examples in order in one namespace, their printed output
compared with what the page shows (whitespace runs alike, ``...`` elides).

    python docs/snippets.py            # every page; lists the outputs that differ
    python docs/snippets.py --update   # writes each differing output into its page
    python docs/snippets.py docs/guide/weights.rst --update

The tests run `check` on every page, so a number the package changes fails
the tests, not a reader; `--update` rewrites the outputs after an intended
change (read the diff before committing it)."""

from __future__ import annotations

import argparse
import doctest
import os
import pathlib
import re
import sys
import tempfile
from collections.abc import Iterator

ROOT = pathlib.Path(__file__).resolve().parent.parent
FLAGS = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE
# A Markdown fence would read as part of the output above it: it becomes a
# blank line, which keeps every line where it was.
FENCE = re.compile(r"^[ \t]*```.*$", re.M)


def pages() -> list[pathlib.Path]:
    """The README and the site's own pages (not those the build generates)."""
    docs = ROOT / "docs"
    site = [*sorted(docs.glob("*.rst")), *sorted(docs.glob("guide/*.rst"))]
    return [ROOT / "README.md", *[p for p in site if p.name != "sg_execution_times.rst"]]


def page_examples(path: pathlib.Path) -> doctest.DocTest:
    text = path.read_text()
    if path.suffix == ".md":
        text = FENCE.sub("", text)
    name = str(path.relative_to(ROOT)) if path.is_relative_to(ROOT) else str(path)
    return doctest.DocTestParser().get_doctest(text, {"__name__": "__page__"}, name, name, 0)


class Mismatch:
    """One example whose output differs: where it is and what it printed
    (None when it raised, which no rewrite can mend)."""

    def __init__(self, example: doctest.Example, got: str | None) -> None:
        self.example, self.got = example, got


class Runner(doctest.DocTestRunner):
    def __init__(self) -> None:
        super().__init__(optionflags=FLAGS)
        self.mismatches: list[Mismatch] = []

    def report_failure(self, out, test, example, got):
        self.mismatches.append(Mismatch(example, got))
        super().report_failure(out, test, example, got)

    def report_unexpected_exception(self, out, test, example, exc_info):
        self.mismatches.append(Mismatch(example, None))
        super().report_unexpected_exception(out, test, example, exc_info)


def check(path: pathlib.Path) -> tuple[list[Mismatch], str]:
    """Runs the page's examples in a scratch directory (pages write files);
    returns the mismatches and the report of each."""
    test, report = page_examples(path), []
    runner = Runner()
    here = os.getcwd()
    with tempfile.TemporaryDirectory() as scratch:
        os.chdir(scratch)
        try:
            runner.run(test, out=report.append, clear_globs=True)
        finally:
            os.chdir(here)
    return runner.mismatches, "".join(report)


def output_lines(got: str, indent: int) -> Iterator[str]:
    for line in got.rstrip("\n").split("\n"):
        line = line.rstrip()
        yield " " * indent + (line or "<BLANKLINE>")


def printed(m: Mismatch) -> str:
    """What the page shows for the output: an expected error as its first
    and last lines (the message), what was printed otherwise."""
    assert m.got is not None
    if m.example.exc_msg is None or "Traceback" not in m.got:
        return m.got
    return "Traceback (most recent call last):\n...\n" + m.got.rstrip("\n").rsplit("\n", 1)[-1]


def rewrite(path: pathlib.Path, mismatches: list[Mismatch]) -> int:
    """Writes each printed output in place of the page's, last first so the
    line numbers of the earlier ones hold; returns how many it wrote."""
    lines = path.read_text().split("\n")
    written = 0
    for m in sorted(mismatches, key=lambda m: m.example.lineno, reverse=True):
        if m.got is None:
            continue
        start = m.example.lineno + m.example.source.count("\n")
        end = start + m.example.want.count("\n")
        lines[start:end] = list(output_lines(printed(m), m.example.indent)) if m.got else []
        written += 1
    path.write_text("\n".join(lines))
    return written


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("pages", nargs="*", type=pathlib.Path, help="default: every page")
    parser.add_argument("--update", action="store_true", help="write the outputs into the pages")
    args = parser.parse_args(argv)
    failed = 0
    for path in [p.resolve() for p in args.pages] or pages():
        mismatches, report = check(path)
        if not mismatches:
            continue
        if args.update:
            print(f"{path.relative_to(ROOT)}: {rewrite(path, mismatches)} outputs rewritten")
        if not args.update or any(m.got is None for m in mismatches):
            print(report, end="")
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
