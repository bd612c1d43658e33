"""The `rillwright` command: design tables, CSV files, profile drawings and batch runs."""

from __future__ import annotations

import argparse
import os
import sys
from typing import List, Optional

import rillwright

from .batch import default_workers, run_batch
from .inputs import InputError, analyse, demo_source, geometry, one_line, read_source
from .profile import draw_profile, profile_path, profile_series
from .report import NODE_KEYS, PIPE_KEYS, print_report, to_json, write_csv

PROFILE_FORMATS = (".png", ".svg")


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1: {text!r}")
    return value


def _profile_file(text: str) -> str:
    if os.path.splitext(text)[1].lower() not in PROFILE_FORMATS:
        raise argparse.ArgumentTypeError(f"the drawing must be a .png or .svg file: {text!r}")
    return text


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="rillwright",
        description="Design analysis of storm-drainage pipe networks: rational method and hydraulic grade line.",
    )
    parser.add_argument("--version", action="version", version=f"rillwright {rillwright.__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True

    demo = commands.add_parser("demo", help="write the built-in demo project (.rwproj)",
                               description="Write the built-in demo project as .rwproj JSON.")
    demo.add_argument("-o", "--output", metavar="FILE", help="file to write (default: standard output)")

    run = commands.add_parser(
        "run", help="analyse a network and print its design tables",
        description="Analyse a .rwn or .rwproj file (or the built-in demo) and print the pipe and node tables.")
    run.add_argument("file", nargs="?", metavar="FILE",
                     help=".rwn or .rwproj file; content starting with '{' is read as a project "
                          "(default: the built-in demo)")
    run.add_argument("--csv", metavar="DIR", help="also write pipes.csv and nodes.csv into DIR")
    run.add_argument("--json", action="store_true", help="print the result as JSON instead of tables")
    run.add_argument("--profile", metavar="FILE", type=_profile_file,
                     help="draw the longitudinal profile to FILE (.png or .svg)")
    run.add_argument("--from", dest="start", metavar="NODE",
                     help="start the profile at NODE (default: the upstream end of the longest flow path)")
    run.set_defaults(usage=run)

    batch = commands.add_parser(
        "batch", help="analyse many files in parallel into one pipe table",
        description="Analyse many .rwproj or .rwn files in worker processes and write one CSV "
                    "of all their pipes, with a leading 'project' column holding the file name.")
    batch.add_argument("files", nargs="+", metavar="FILE")
    batch.add_argument("--workers", type=_positive_int, default=None, metavar="N",
                       help="worker processes (default: one per core)")
    batch.add_argument("-o", "--output", metavar="FILE", help="CSV file to write (default: standard output)")
    return parser


def _demo(args: argparse.Namespace) -> int:
    text = demo_source().text + "\n"
    if args.output is None:
        sys.stdout.write(text)
        return 0
    _write_file(args.output, text)
    return 0


def _write_file(path: str, text: str) -> None:
    try:
        with open(path, "w", encoding="utf-8", newline="\n") as handle:
            handle.write(text)
    except OSError as error:
        raise InputError(f"cannot write {path}: {error.strerror or error}") from None


def _run(args: argparse.Namespace) -> int:
    source = demo_source() if args.file is None else read_source(args.file)
    result = analyse(source)
    title = result["name"] or (os.path.basename(source.label) if args.file else "demo")

    if args.json:
        sys.stdout.write(to_json(result) + "\n")
    else:
        print_report(result, title, sys.stdout)
    if args.csv is not None:
        _write_csvs(args.csv, result)
    if args.profile is not None:
        shape = geometry(source)
        draw_profile(profile_series(profile_path(shape, args.start), shape, result), title, args.profile)
    return 0


def _write_csvs(directory: str, result: dict) -> None:
    for name, rows, keys in (("pipes.csv", result["pipes"], PIPE_KEYS), ("nodes.csv", result["nodes"], NODE_KEYS)):
        path = os.path.join(directory, name)
        try:
            os.makedirs(directory, exist_ok=True)
            with open(path, "w", encoding="utf-8", newline="") as handle:
                write_csv(handle, rows, keys)
        except OSError as error:
            raise InputError(f"cannot write {path}: {error.strerror or error}") from None


def _batch(args: argparse.Namespace) -> int:
    workers = args.workers or default_workers()
    if args.output is None:
        written, failed = run_batch(args.files, workers, sys.stdout)
        target = "standard output"
    else:
        try:
            handle = open(args.output, "w", encoding="utf-8", newline="")
        except OSError as error:
            raise InputError(f"cannot write {args.output}: {error.strerror or error}") from None
        with handle:
            written, failed = run_batch(args.files, workers, handle)
        target = args.output
    analysed = len(args.files) - failed
    sys.stderr.write(f"analysed {analysed} of {len(args.files)} files ({failed} failed); "
                     f"wrote {written} pipe rows to {target}\n")
    return 1 if failed else 0


def main(argv: Optional[List[str]] = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.command == "run" and args.start is not None and args.profile is None:
        args.usage.error("--from needs --profile")
    try:
        if args.command == "demo":
            return _demo(args)
        if args.command == "run":
            return _run(args)
        return _batch(args)
    except InputError as error:
        sys.stderr.write(f"rillwright: error: {error}\n")
        return 1
    except KeyboardInterrupt:
        sys.stderr.write("rillwright: interrupted\n")
        return 130
    except BrokenPipeError:
        # The reader went away (`rillwright run | head`): stop quietly.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except (SystemExit, GeneratorExit):
        raise
    except BaseException as error:  # the module's internal faults derive from BaseException
        sys.stderr.write(f"rillwright: internal error: {one_line(str(error)) or type(error).__name__}\n")
        return 1
