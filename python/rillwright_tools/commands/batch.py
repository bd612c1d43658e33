"""`rillwright batch`: many networks in worker processes, one pipe table."""

from __future__ import annotations

import argparse
import sys
from typing import Callable, TextIO, Tuple

from ..batch import run_batch
from ..executors import default_workers, executor_for
from ..inputs import InputError
from .common import add_executor_options


def register(commands: argparse._SubParsersAction) -> None:
    batch = commands.add_parser(
        "batch", help="analyse many files in parallel into one pipe table",
        description="Analyse many .rwproj or .rwn files in worker processes and write one CSV "
                    "of all their pipes, with a leading 'project' column holding the file name.")
    batch.add_argument("files", nargs="+", metavar="FILE")
    add_executor_options(batch)
    batch.add_argument("-o", "--output", metavar="FILE", help="CSV file to write (default: standard output)")
    batch.set_defaults(handler=handle)


def handle(args: argparse.Namespace) -> int:
    workers = args.workers or default_workers()
    if args.scheduler is None:
        return report(args, lambda out: run_batch(args.files, workers, out))
    with executor_for(scheduler=args.scheduler) as executor:
        return report(args, lambda out: run_batch(args.files, workers, out, executor=executor))


def report(args: argparse.Namespace, run: Callable[[TextIO], Tuple[int, int]]) -> int:
    if args.output is None:
        written, failed = run(sys.stdout)
        target = "standard output"
    else:
        try:
            handle_out = open(args.output, "w", encoding="utf-8", newline="")
        except OSError as error:
            raise InputError(f"cannot write {args.output}: {error.strerror or error}") from None
        with handle_out:
            written, failed = run(handle_out)
        target = args.output
    analysed = len(args.files) - failed
    sys.stderr.write(f"analysed {analysed} of {len(args.files)} files ({failed} failed); "
                     f"wrote {written} pipe rows to {target}\n")
    return 1 if failed else 0
