"""The `rillwright` command: one subcommand per module of `commands`."""

from __future__ import annotations

import argparse
import os
import sys
from typing import List, Optional

import rillwright

from . import commands
from .inputs import InputError, one_line


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="rillwright",
        description="Design analysis of storm-drainage pipe networks: rational method and hydraulic grade line.",
    )
    parser.add_argument("--version", action="version", version=f"rillwright {rillwright.__version__}")
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND")
    subparsers.required = True
    for command in commands.ALL:
        command.register(subparsers)
    return parser


def main(argv: Optional[List[str]] = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        return int(args.handler(args))
    except BrokenPipeError:
        # The reader went away (`rillwright run | head`): stop quietly.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except (InputError, ValueError, OSError) as error:
        # InputError messages already name the file; the companion functions' errors are
        # ValueError and OSError with messages of their own (a loop named by its pipes).
        sys.stderr.write(f"rillwright: error: {one_line(str(error))}\n")
        return 1
    except KeyboardInterrupt:
        sys.stderr.write("rillwright: interrupted\n")
        return 130
    except (SystemExit, GeneratorExit):
        raise
    except BaseException as error:  # the module's internal faults derive from BaseException
        sys.stderr.write(f"rillwright: internal error: {one_line(str(error)) or type(error).__name__}\n")
        return 1
