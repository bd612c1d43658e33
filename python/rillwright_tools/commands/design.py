"""`rillwright design`: size every pipe from a catalogue, print what changed and why, and
write the sized network."""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import Any, Dict, List, Optional

from ..design import DEFAULT, DesignOptionError, design
from ..inputs import InputError, one_line, read_source
from ..tables import _size_change, table
from .common import write_csv_file, write_file

PIPE_KEYS = ("id", "shape", "given_rise", "given_span", "rise", "span", "design_q", "capacity", "pct_full",
             "velocity", "governed_by")
PROFILE_KEYS = ("given_invert_up", "given_invert_dn", "invert_up", "invert_dn", "slope", "cover_up", "cover_dn",
                "slope_governed_by")
NODE_KEYS = ("id", "hgl", "freeboard", "floods")
VIOLATION_KEYS = ("kind", "id", "message")
COST_KEYS = ("cost",)


def register(commands: argparse._SubParsersAction) -> None:
    command = commands.add_parser(
        "design", help="size every pipe from a catalogue and write the sized network",
        description="Choose every pipe's size from a catalogue (the smallest that carries its design flow), "
                    "print the sizes, the violations, and write the sized file. Exit status 0 when the design "
                    "has no violations, 1 when it has.")
    command.add_argument("file", metavar="FILE", help=".rwn or .rwproj file")
    command.add_argument("-o", "--output", metavar="SIZED",
                         help="sized file to write (default: FILE with .sized before its extension)")
    command.add_argument("--catalogue", metavar="FILE.json",
                         help='JSON object of shape -> sizes in inches, e.g. {"circular": [12, 15, 18]}, '
                              '{"box": [[24, 36], [36, 48]]} (default: the built-in catalogue)')
    command.add_argument("--max-fill", type=float, default=1.0, metavar="R",
                         help="design flow at most R times the just-full capacity (default 1)")
    command.add_argument("--min-size", type=float, metavar="IN", help="smallest rise in inches")
    command.add_argument("--min-velocity", type=float, metavar="V", help="report velocities below V ft/s")
    command.add_argument("--max-velocity", type=limit, default=DEFAULT, metavar="V",
                         help="report velocities above V ft/s (with --profile 20 by default; none: no limit)")
    command.add_argument("--min-cover", type=float, metavar="FT", help="report cover below FT at either pipe end")
    command.add_argument("--min-freeboard", type=float, metavar="FT",
                         help="upsize pipes until every structure keeps FT of freeboard")
    command.add_argument("--fixed", metavar="ID,...", help="pipes that keep their given size")
    command.add_argument("--profile", action="store_true",
                         help="design the inverts and slopes with the sizes (the output is then a project)")
    command.add_argument("--match", default="crown", metavar="RULE",
                         help="matching rule at structures: crown, 0.8 or invert (default crown)")
    command.add_argument("--min-drop", type=float, default=0.1, metavar="FT",
                         help="least fall of the invert across a structure (default 0.1)")
    command.add_argument("--max-drop", type=float, metavar="FT", help="report drops above FT")
    command.add_argument("--min-slope", type=limit, default=DEFAULT, metavar="S",
                         help="least pipe slope (default the network's min_slope; none: no limit)")
    command.add_argument("--max-slope", type=float, metavar="S", help="greatest pipe slope")
    command.add_argument("--min-full-velocity", type=float, metavar="V", help="least full-pipe velocity, ft/s")
    command.add_argument("--max-depth", type=limit, default=DEFAULT, metavar="FT",
                         help="report pipes whose invert lies more than FT below the rim (default 20; none: no limit)")
    command.add_argument("--fixed-inverts", metavar="ID,...", help="structures that keep their given invert")
    command.add_argument("--objective", default="shallowest", choices=("shallowest", "cost"),
                         help="with --profile: shallowest (each pipe as high as the rules allow, the default) or "
                              "cost (the cheapest sizes and inverts on the invert grid, proven least)")
    command.add_argument("--cost", metavar="COST.json",
                         help="cost model: JSON object of pipe_per_ft {shape: {size: price}}, excavation_per_cuft, "
                              "trench_side_ft, structure_each, structure_per_ft (per m / m3 in SI; default: "
                              "order-of-magnitude US figures)")
    command.add_argument("--invert-step", type=float, default=0.01, metavar="FT",
                         help="with --objective cost: every designed invert a multiple of FT (m in SI; default 0.01)")
    command.add_argument("--csv", metavar="DIR", help="also write pipes.csv, nodes.csv and violations.csv into DIR")
    command.set_defaults(handler=handle)


def handle(args: argparse.Namespace) -> int:
    source = read_source(args.file)
    try:
        catalogue = read_catalogue(args.catalogue) if args.catalogue is not None else None
        cost = read_catalogue(args.cost, "cost model") if args.cost is not None else None
        fixed = _ids(args.fixed)
        result = design(text=source.text, format=source.format, catalogue=catalogue, max_fill=args.max_fill,
                        min_size=args.min_size, min_velocity=args.min_velocity, max_velocity=args.max_velocity,
                        min_cover=args.min_cover, min_freeboard=args.min_freeboard, fixed=fixed,
                        profile=args.profile, match=args.match, min_drop=args.min_drop, max_drop=args.max_drop,
                        min_slope=args.min_slope, max_slope=args.max_slope,
                        min_full_velocity=args.min_full_velocity, max_depth=args.max_depth,
                        fixed_inverts=_ids(args.fixed_inverts), objective=args.objective, cost=cost,
                        invert_step=args.invert_step)
    except (DesignOptionError, TypeError) as error:
        sys.stderr.write(f"rillwright: error: {one_line(str(error))}\n")
        return 2
    except ValueError as error:
        raise InputError(f"{source.label}: {one_line(str(error))}") from None

    output = args.output or sized_path(args.file, args.profile)
    sized = result["sized"]
    write_file(output, sized if sized.endswith("\n") or (source.kind == "rwn" and not args.profile) else sized + "\n")
    print_design(result, os.path.basename(args.file), output, sys.stdout)
    if args.csv is not None:
        write_csv_file(args.csv, "pipes.csv", result["pipes"],
                       PIPE_KEYS + (PROFILE_KEYS + COST_KEYS if args.profile else ()))
        write_csv_file(args.csv, "nodes.csv", result["nodes"], NODE_KEYS + (("invert", "drop") if args.profile else ()))
        write_csv_file(args.csv, "violations.csv", result["violations"], VIOLATION_KEYS)
    return 1 if result["violations"] else 0


def limit(text: str) -> Optional[float]:
    """A limit on the command line: a number, or "none" for no limit."""
    if text.strip().lower() == "none":
        return None
    try:
        return float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number or none, not {text!r}") from None


def read_catalogue(path: str, what: str = "catalogue") -> Any:
    """The catalogue (or cost model) file's JSON; a file that cannot be read is a bad option too."""
    try:
        with open(path, encoding="utf-8") as handle:
            return json.load(handle)
    except OSError as error:
        raise DesignOptionError(f"cannot read the {what} {path}: {error.strerror or error}") from None
    except ValueError as error:
        raise DesignOptionError(f"the {what} {path} is not JSON: {error}") from None


def _ids(text: Any) -> List[str]:
    return [part.strip() for part in text.split(",") if part.strip()] if text else []


def sized_path(path: str, profile: bool = False) -> str:
    """FILE.sized.ext; with the profile always a project, FILE.sized.rwproj."""
    stem, extension = os.path.splitext(path)
    return f"{stem}.sized{'.rwproj' if profile else extension}"


def _two(value: Any) -> str:
    return f"{value:.2f}"


COLUMNS = (
    ("Pipe", "", "id", str, False),
    ("Shape", "", "shape", str, False),
    ("Size", "in", "size", str, False),
    ("Q", "cfs", "design_q", _two, True),
    ("Capacity", "cfs", "capacity", _two, True),
    ("Full", "%", "pct_full", lambda value: f"{value * 100:.0f}", True),
    ("V", "ft/s", "velocity", _two, True),
    ("Governed by", "", "governed_by", str, False),
)

PROFILE_COLUMNS = COLUMNS[:3] + (
    ("Inv up", "ft", "invert_up", _two, True),
    ("Inv dn", "ft", "invert_dn", _two, True),
    ("Slope", "%", "slope", lambda value: f"{value * 100:.2f}", True),
    ("Cover up", "ft", "cover_up", _two, True),
    ("Cover dn", "ft", "cover_dn", _two, True),
) + COLUMNS[3:] + (("Slope by", "", "slope_governed_by", str, False),)


def print_design(result: Dict[str, Any], title: str, output: str, out: Any) -> None:
    rows = [dict(row, size=_size_change(row)) for row in result["pipes"]]
    changed = sum(1 for row in rows if "->" in row["size"])
    columns = PROFILE_COLUMNS if rows and "invert_up" in rows[0] else COLUMNS
    lines: List[str] = [f"{title}: {changed} of {len(rows)} pipes resized", "", *table(rows, columns), ""]
    violations = result["violations"]
    if violations:
        lines.append(f"Violations ({len(violations)})")
        lines.extend(f"  {violation['message']}" for violation in violations)
    else:
        lines.append("No violations.")
    cost = result.get("cost")
    if cost:
        lines.extend(cost_lines(cost, result["rounds"]))
    if result["rounds"] and not (cost and "shallowest_total" in cost):
        lines.append(f"Grade-line rounds: {result['rounds']}")
    lines.append(f"Sized network written to {output}")
    out.write("\n".join(lines) + "\n")


def cost_lines(cost: Dict[str, Any], rounds: int) -> List[str]:
    """The total and its parts; with the least cost, the shallowest-first design's beside it."""
    lines = [f"Cost {cost['total']:,.0f}: pipes {cost['pipes']:,.0f}, excavation {cost['excavation']:,.0f}, "
             f"structures {cost['structures']:,.0f}"]
    if "shallowest_total" in cost:
        shallow = cost["shallowest_total"]
        saving = (shallow - cost["total"]) / shallow * 100 if shallow > 0 else 0.0
        lines.append(f"The shallowest-first design costs {shallow:,.0f}: the least cost "
                     + (f"saves {saving:.1f} %" if saving >= 0 else f"is {-saving:.1f} % dearer "
                        "(the shallowest-first design's inverts are not on the grid)"))
        repeat = "the flows repeat" if cost["flows_repeat"] else "the flows did not repeat"
        lines.append(f"Rounds of design and analysis: {rounds} ({repeat})")
    return lines
