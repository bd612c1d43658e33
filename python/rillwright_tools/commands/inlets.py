"""`rillwright inlets`: the HEC-22 inlet sheet of a project."""

from __future__ import annotations

import argparse
import os
import sys
from typing import Any, Dict, List

from ..inlets import INLET_KEYS, inlet_pass
from ..inputs import read_source
from ..tables import INLET_COLUMNS, NODE_KEYS, PIPE_KEYS, table
from .common import write_csv_file


def register(commands: argparse._SubParsersAction) -> None:
    command = commands.add_parser(
        "inlets", help="print the HEC-22 inlet sheet of a project",
        description="Run the HEC-22 inlet pass of a .rwproj file: each inlet's own flow, carry-over, spread, "
                    "efficiency, interception and bypass, in US customary units.")
    command.add_argument("file", metavar="FILE", help=".rwproj file")
    command.add_argument("--csv", metavar="DIR", help="also write inlets.csv, pipes.csv and nodes.csv into DIR")
    command.set_defaults(handler=handle)


def summary_line(rows: List[Dict[str, Any]], warnings: List[Dict[str, str]]) -> str:
    over = sum(1 for r in rows if r["spread_ok"] is False)
    leaves = {w["id"] for w in warnings if w["code"] == "bypass_leaves"}  # no bypass_to, or to an outfall
    leaving = sum(r["bypass"] for r in rows if r["id"] in leaves)
    noun = "inlet" if len(rows) == 1 else "inlets"
    return f"{len(rows)} {noun}, {over} over their spread limit, {leaving:.2f} cfs of bypass leaves the network"


def handle(args: argparse.Namespace) -> int:
    source = read_source(args.file)
    result, warnings = inlet_pass(source)
    rows = result["inlets"]
    out = sys.stdout
    out.write(f"Inlets: {os.path.basename(source.label)}\n\n")
    out.write("\n".join(table(rows, INLET_COLUMNS)) + "\n\n")
    out.write(summary_line(rows, warnings) + "\n")
    for warning in warnings:
        if warning["code"] == "bypass_leaves":
            out.write(f"  {warning['message']}\n")
    if args.csv is not None:
        write_csv_file(args.csv, "inlets.csv", rows, INLET_KEYS)
        write_csv_file(args.csv, "pipes.csv", result["pipes"], PIPE_KEYS)
        write_csv_file(args.csv, "nodes.csv", result["nodes"], NODE_KEYS)
    return 0
