"""`rillwright run`: design tables, CSV, JSON and the profile drawing of one network."""

from __future__ import annotations

import argparse
import os
import sys

from ..check import findings, pipe_marks
from ..inputs import analyse, demo_source, geometry, read_source
from ..drawing.profile import draw_profile, profile_path, profile_series
from ..tables import NODE_KEYS, PIPE_KEYS, print_report, to_json
from .common import drawing_file, run_line, write_csv_file, write_interchange


def register(commands: argparse._SubParsersAction) -> None:
    run = commands.add_parser(
        "run", help="analyse a network and print its design tables",
        description="Analyse a .rwn or .rwproj file (or the built-in demo) and print the pipe and node tables.")
    run.add_argument("file", nargs="?", metavar="FILE",
                     help=".rwn or .rwproj file; content starting with '{' is read as a project "
                          "(default: the built-in demo)")
    run.add_argument("--csv", metavar="DIR", help="also write pipes.csv and nodes.csv into DIR")
    run.add_argument("--json", action="store_true", help="print the result as JSON instead of tables")
    run.add_argument("--profile", metavar="FILE", type=profile_file,
                     help="draw the longitudinal profile to FILE (.png, .svg or .dxf)")
    run.add_argument("--from", dest="start", metavar="NODE",
                     help="start the profile at NODE (default: the upstream end of the longest flow path)")
    run.add_argument("--geojson", metavar="OUT.geojson", help="also write structures, pipes, catchments and results as GeoJSON")
    run.add_argument("--plan-coordinates", action="store_true",
                     help="with --geojson: plan coordinates (marked as such) instead of longitude and latitude")
    run.add_argument("--plan", metavar="PLAN", type=drawing_file, help="draw the plan view to PLAN (.png or .svg)")
    run.set_defaults(handler=handle, usage=run)


def profile_file(text: str) -> str:
    return text if text.lower().endswith(".dxf") else drawing_file(text)


def handle(args: argparse.Namespace) -> int:
    if args.start is not None and args.profile is None:
        args.usage.error("--from needs --profile")
    source = demo_source() if args.file is None else read_source(args.file)
    result = analyse(source)
    title = result["name"] or (os.path.basename(source.label) if args.file else "demo")

    if args.json:
        sys.stdout.write(to_json(result) + "\n")
    else:
        shape = geometry(source)
        print_report(result, title, sys.stdout, marks=pipe_marks(shape, result),
                     footer=[run_line(findings(source, result), args.file)])
    if args.csv is not None:
        write_csv_file(args.csv, "pipes.csv", result["pipes"], PIPE_KEYS)
        write_csv_file(args.csv, "nodes.csv", result["nodes"], NODE_KEYS)
    if args.profile is not None:
        shape = geometry(source)
        series = profile_series(profile_path(shape, args.start), shape, result)
        if args.profile.lower().endswith(".dxf"):
            from ..formats.dxf import write_profile_dxf

            write_profile_dxf(series, title, args.profile)
        else:
            draw_profile(series, title, args.profile)
    if args.geojson is not None or args.plan is not None:
        write_interchange(source, result, title, args.geojson, args.plan, args.plan_coordinates)
    return 0
