"""`rillwright check`: what to know about a network before trusting its result."""

from __future__ import annotations

import argparse
import json
import sys
from typing import List

from ..check import SEVERITIES, Finding, counts, findings
from ..inputs import demo_source, read_source
from .common import count_text

HEADINGS = {"error": "Errors", "warning": "Warnings", "note": "Notes"}


def register(commands: argparse._SubParsersAction) -> None:
    check = commands.add_parser(
        "check", help="list what to know about a network before trusting its result",
        description="Check a .rwn or .rwproj file (or the built-in demo): missing nodes, loops and rejected "
                    "values (errors); dead ends, adverse and parallel pipes, overloads and the like "
                    "(warnings); slow pipes (notes). Exits 1 when there is an error.")
    check.add_argument("file", nargs="?", metavar="FILE",
                       help=".rwn or .rwproj file (default: the built-in demo)")
    check.add_argument("--json", action="store_true", help="print the findings as a JSON list")
    check.set_defaults(handler=handle)


def count_line(found: List[Finding]) -> str:
    number = counts(found)
    return ", ".join(count_text(number[s], s) for s in SEVERITIES)


def report_lines(found: List[Finding], title: str) -> List[str]:
    lines = [title]
    for severity in SEVERITIES:
        group = [f for f in found if f["severity"] == severity]
        if group:
            lines += ["", f"{HEADINGS[severity]} ({len(group)})"]
            lines += [f"  {f['message']}  [{f['code']}]" for f in group]
    return lines + ["", count_line(found)]


def handle(args: argparse.Namespace) -> int:
    source = demo_source() if args.file is None else read_source(args.file)
    found = findings(source)
    if args.json:
        sys.stdout.write(json.dumps(found, indent=2, ensure_ascii=False) + "\n")
    else:
        sys.stdout.write("\n".join(report_lines(found, args.file or "demo")) + "\n")
    return 1 if counts(found)["error"] else 0
