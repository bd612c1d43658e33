"""`rillwright report`: the design report of one network, as HTML and PDF."""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import Optional

from ..inputs import InputError, demo_source, one_line, read_source

NETWORK_EXTENSIONS = (".rwn", ".rwproj")


def register(commands: argparse._SubParsersAction) -> None:
    command = commands.add_parser(
        "report", help="write the design report (HTML, and PDF with --pdf)",
        description="Write the design report of a network: title block, method, what to review first, drainage "
                    "areas, pipes, structures, grade and energy lines, inlets, design, level of service, plan "
                    "sheets and profiles, as one self-contained HTML file and optionally a PDF.")
    command.add_argument("file", nargs="?", metavar="FILE", help=".rwn or .rwproj file (default: the built-in demo)")
    command.add_argument("-o", "--output", metavar="REPORT.html", help="HTML file (default: FILE with .html)")
    command.add_argument("--pdf", nargs="?", const="", metavar="REPORT.pdf",
                         help="also write the report as a PDF (default name: FILE with .pdf)")
    command.add_argument("--design", metavar="OPTIONS.json", help="report the design with these rwt.design options")
    command.add_argument("--service", action="store_true", help="add the level of service")
    command.set_defaults(handler=handle)


def _stem(file: Optional[str]) -> str:
    return os.path.splitext(file)[0] if file else "demo"


def handle(args: argparse.Namespace) -> int:
    from ..submittal import write_report

    if args.file is None and args.pdf and args.pdf.lower().endswith(NETWORK_EXTENSIONS):
        args.file, args.pdf = args.pdf, ""  # `--pdf FILE`: the bare option took the network's name
    source = demo_source() if args.file is None else read_source(args.file)
    options = None
    if args.design is not None:
        try:
            with open(args.design, encoding="utf-8") as handle:
                options = json.load(handle)
        except (OSError, ValueError) as error:
            raise InputError(f"cannot read the design options {args.design}: {one_line(str(error))}") from None
        if not isinstance(options, dict):
            raise InputError(f"{args.design}: the design options must be a JSON object")
    output = args.output or _stem(args.file) + ".html"
    pdf = None if args.pdf is None else (args.pdf or _stem(args.file) + ".pdf")
    tty = sys.stderr.isatty()
    progress = (lambda text: sys.stderr.write(f"\rrillwright report: {text}\033[K")) if tty else None
    try:
        content = write_report(source, output, pdf, design=options, service=args.service, progress=progress)
    except InputError:
        raise
    except ValueError as error:
        raise InputError(f"{source.label}: {one_line(str(error))}") from None
    finally:
        if tty:
            sys.stderr.write("\r\033[K")
    print(f"{output}" + (f", {pdf}" if pdf else "") + f": {len(content.figures)} figures, "
          f"{sum(len(t.rows) for t in content.tables)} table rows")
    return 0
