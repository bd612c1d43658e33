"""`rillwright demo`: the built-in demo project."""

from __future__ import annotations

import argparse
import sys

from ..inputs import demo_source
from .common import write_file


def register(commands: argparse._SubParsersAction) -> None:
    demo = commands.add_parser("demo", help="write the built-in demo project (.rwproj)",
                               description="Write the built-in demo project as .rwproj JSON.")
    demo.add_argument("-o", "--output", metavar="FILE", help="file to write (default: standard output)")
    demo.set_defaults(handler=handle)


def handle(args: argparse.Namespace) -> int:
    text = demo_source().text + "\n"
    if args.output is None:
        sys.stdout.write(text)
    else:
        write_file(args.output, text)
    return 0
