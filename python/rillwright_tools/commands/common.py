"""Small pieces the subcommands share: argument types, messages and writing files."""

from __future__ import annotations

import argparse
import json
import os
import shlex
import sys
from pathlib import Path
from typing import Iterable, List, Optional, Sequence

from ..check import Finding, counts
from ..formats.common import write_atomically
from ..formats.features import REPORT_MEMBER
from ..formats.geojson import to_geojson
from ..inputs import InputError, Source, one_line
from ..tables import write_csv

DRAWING_FORMATS = (".png", ".svg")


def positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1: {text!r}")
    return value


def drawing_file(text: str) -> str:
    if os.path.splitext(text)[1].lower() not in DRAWING_FORMATS:
        raise argparse.ArgumentTypeError(f"the drawing must be a .png or .svg file: {text!r}")
    return text


def write_csv_file(directory: str, name: str, rows: Iterable[dict], keys: Sequence[str]) -> None:
    """Writes `rows` as DIR/NAME, creating DIR when it is missing."""
    path = os.path.join(directory, name)
    try:
        os.makedirs(directory, exist_ok=True)
        with open(path, "w", encoding="utf-8", newline="") as handle:
            write_csv(handle, rows, keys)
    except OSError as error:
        raise InputError(f"cannot write {path}: {error.strerror or error}") from None


def write_file(path: str, text: str) -> None:
    """Writes the whole text or nothing: a failure leaves no partial file (and an older
    file of that name as it was)."""
    def write(temporary: Path) -> None:
        with open(temporary, "w", encoding="utf-8", newline="\n") as handle:
            handle.write(text)

    try:
        write_atomically(path, write)
    except OSError as error:
        raise InputError(f"cannot write {path}: {error.strerror or error}") from None


def write_interchange(source: Source, result: dict, title: str, geojson: Optional[str], plan: Optional[str],
                      plan_coordinates: bool = False) -> None:
    """`run --geojson` and `run --plan`: the result for GIS and the plan drawing."""
    if geojson is not None:
        try:
            collection = to_geojson(source, result, plan_coordinates=plan_coordinates)
        except (ImportError, ValueError) as error:
            raise InputError(f"{source.label}: {one_line(str(error))}") from None
        write_file(geojson, json.dumps(collection, indent=1, allow_nan=False) + "\n")
        # What the export changed or could not carry; on stderr, as stdout holds the results.
        for line in collection.get(REPORT_MEMBER, []):
            print(line, file=sys.stderr)
    if plan is not None:
        from ..drawing.plan import draw_plan

        try:
            draw_plan(source, result, plan, title=title)
        except ValueError as error:
            raise InputError(f"{source.label}: {error}") from None


def count_text(number: int, noun: str) -> str:
    return f"{number} {noun}" if number == 1 else f"{number} {noun}s"


def run_line(found: List[Finding], file: Optional[str]) -> str:
    """The line `rillwright run` prints under its summary."""
    number = counts(found)
    command = "rillwright check" + ("" if file is None else " " + shlex.quote(file))
    return (f"check: {count_text(number['warning'], 'warning')}, {count_text(number['error'], 'error')}"
            f" ({command} lists them)")


def add_executor_options(parser: argparse.ArgumentParser) -> None:
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--workers", type=positive_int, default=None, metavar="N",
                       help="local worker processes (default: one per core)")
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="run the analyses on the Dask cluster at ADDRESS (tcp://host:port); "
                            "needs the extra 'cluster'")
