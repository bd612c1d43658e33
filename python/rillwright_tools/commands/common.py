"""Small pieces the subcommands share: argument types and writing files."""

from __future__ import annotations

import argparse
import os
from typing import Iterable, Optional, Sequence

from ..check import CYCLE, explain_cycle
from ..inputs import InputError, Source, read_source
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


def with_loops(message: str, file: Optional[str]) -> str:
    """The analysis's refusal of a cycle, followed by the loops of FILE named pipe by pipe."""
    if not message.endswith(CYCLE) or file is None:
        return message
    try:
        if file.lower().endswith(".inp"):
            from ..interchange import read_swmm

            source = Source(label=file, kind="project", text=read_swmm(file)[0])
        else:
            source = read_source(file)
        return explain_cycle(message, source)
    except (InputError, ValueError, OSError):
        return message


def write_file(path: str, text: str) -> None:
    try:
        with open(path, "w", encoding="utf-8", newline="\n") as handle:
            handle.write(text)
    except OSError as error:
        raise InputError(f"cannot write {path}: {error.strerror or error}") from None


def write_csv_file(directory: str, name: str, rows: Iterable[dict], keys: Sequence[str]) -> None:
    """Writes `rows` as DIR/NAME, creating DIR when it is missing."""
    path = os.path.join(directory, name)
    try:
        os.makedirs(directory, exist_ok=True)
        with open(path, "w", encoding="utf-8", newline="") as handle:
            write_csv(handle, rows, keys)
    except OSError as error:
        raise InputError(f"cannot write {path}: {error.strerror or error}") from None
