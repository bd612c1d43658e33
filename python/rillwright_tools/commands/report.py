"""`rillwright report`: the design report of one network, as HTML and PDF."""

from __future__ import annotations

import argparse
import json
import os
import sys

from ..inputs import InputError, demo_source, one_line, read_source


def register(commands: argparse._SubParsersAction) -> None:
    command = commands.add_parser(
        "report", help="write the design report (HTML, and PDF with --pdf)",
        description="Write the design report of a network: title block, design criteria, summary and findings, "
                    "plan, profiles and tables, as one self-contained HTML file and optionally a PDF.")
    command.add_argument("file", nargs="?", metavar="FILE", help=".rwn or .rwproj file (default: the built-in demo)")
    command.add_argument("-o", "--output", metavar="REPORT.html", help="HTML file (default: FILE with .html)")
    command.add_argument("--pdf", metavar="REPORT.pdf", help="also write the report as a PDF")
    command.add_argument("--design", metavar="OPTIONS.json", help="report the design with these rwt.design options")
    command.add_argument("--service", action="store_true", help="add the level-of-service table")
    command.set_defaults(handler=handle)


def handle(args: argparse.Namespace) -> int:
    from ..submittal.build import build
    from ..submittal.html import write_html

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
    tty = sys.stderr.isatty()
    progress = (lambda text: sys.stderr.write(f"\rrillwright report: {text}\033[K")) if tty else None
    try:
        content = build(source, design=options, service=args.service, progress=progress)
    except ValueError as error:
        raise InputError(f"{source.label}: {one_line(str(error))}") from None
    output = args.output or (os.path.splitext(args.file)[0] + ".html" if args.file else "demo.html")
    write_html(content, output)
    if args.pdf is not None:
        from ..submittal.pdf import write_pdf

        write_pdf(content, args.pdf, progress)
    if tty:
        sys.stderr.write("\r\033[K")
    print(f"{output}" + (f", {args.pdf}" if args.pdf else "") + f": {len(content.figures)} figures, "
          f"{sum(len(t.rows) for t in content.tables)} table rows")
    return 0
