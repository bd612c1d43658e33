"""`rillwright service`: the storm at which each structure floods, least margin first."""

from __future__ import annotations

import argparse
import math
import os
import sys
from typing import Any, Callable, Dict, Optional, TextIO, cast

from ..executors import executor_for
from ..inputs import InputError, analyse, demo_source, read_source
from ..tables import table
from ..service import level_of_service
from .common import add_executor_options, drawing_file, positive_int, write_csv_file

NODE_CSV_KEYS = ("id", "flood_multiplier_low", "flood_multiplier", "flood_return_period", "freeboard")
PIPE_CSV_KEYS = ("id", "surcharge_multiplier_low", "surcharge_multiplier", "pressurized_multiplier_low",
                 "pressurized_multiplier", "surcharge_return_period")


def positive_number(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not (math.isfinite(value) and value > 0):
        raise argparse.ArgumentTypeError(f"must be a number above 0: {text!r}")
    return value


def register(commands: argparse._SubParsersAction) -> None:
    service = commands.add_parser(
        "service", help="the storm at which each structure floods (level of service)",
        description="For every structure, the rainfall multiplier of the design storm (and, for a project "
                    "with IDF curves, the return period) at which its grade line first rises above the rim; "
                    "printed from the least to the most margin.")
    service.add_argument("file", nargs="?", metavar="FILE",
                         help=".rwn or .rwproj file (default: the built-in demo)")
    service.add_argument("--max-multiplier", type=positive_number, default=10.0, metavar="M",
                         help="search storms up to M times the design rainfall (default: 10)")
    service.add_argument("--tolerance", type=positive_number, default=0.01, metavar="R",
                         help="bracket every crossing between two analysed storms at most 1 + R apart "
                              "(default: 0.01)")
    service.add_argument("--max-analyses", type=positive_int, default=None, metavar="N",
                         help="stop after N analyses, with the brackets as wide as they are then")
    service.add_argument("--csv", metavar="DIR", help="also write service_nodes.csv and service_pipes.csv into DIR")
    service.add_argument("--plan", metavar="FILE", type=drawing_file,
                         help="draw the plan with structures coloured by their flood multiplier (.png or .svg)")
    add_executor_options(service)
    service.set_defaults(handler=handle)


def _bracket(row: Dict[str, Any]) -> str:
    """The analysed storms between which the structure first floods: "1.37–1.38"."""
    low, high = row["flood_multiplier_low"], row["flood_multiplier"]
    if high is None:
        return "never"
    if high == 0.0:
        return "0 (no rain)"
    digits = 2
    while f"{low:.{digits}f}" == f"{high:.{digits}f}" and digits < 6:
        digits += 1  # as many digits as tell the two ends apart
    return f"{'0' if low == 0.0 else f'{low:.{digits}f}'}\u2013{high:.{digits}f}"


def _period(value: Optional[int]) -> str:
    return "-" if value is None else f"{value} yr"


def _margin_order(row: Dict[str, Any]) -> tuple:
    flood = row["flood_multiplier"]
    freeboard = row["freeboard"]
    return (math.inf if flood is None else flood, math.inf if freeboard is None or math.isnan(freeboard) else freeboard)


def print_service(result: Dict[str, Any], title: str, max_multiplier: float, out: TextIO) -> None:
    rows = [dict(row, bracket=_bracket(row)) for row in sorted(result["nodes"], key=_margin_order)]
    columns = (
        ("Structure", "", "id", str, False),
        ("Floods between", "x design", "bracket", str, True),
        ("Floods at", "return period", "flood_return_period", _period, True),
        ("Freeboard", "ft, design", "freeboard", lambda v: "-" if v is None else f"{v:.2f}", True),
    )
    flooding = sum(1 for row in rows if row["flood_multiplier"] is not None and row["flood_multiplier"] <= 1.0)
    never = sum(1 for row in rows if row["flood_multiplier"] is None)
    out.write(f"{title}: level of service of {len(rows)} structures "
              f"(storms up to {max_multiplier:g} x design, {result['analyses']} analyses)\n")
    out.write(f"{flooding} flood at the design storm or below; {never} do not flood up to {max_multiplier:g} x\n\n")
    for line in table(rows, columns):
        out.write(line + "\n")


def handle(args: argparse.Namespace) -> int:
    draw = plan_drawer() if args.plan is not None else None  # before minutes of analyses
    source = demo_source() if args.file is None else read_source(args.file)
    title = os.path.basename(source.label) if args.file else "demo"
    progress = progress_line(sys.stderr) if sys.stderr.isatty() else None
    with executor_for(args.workers, args.scheduler) as executor:
        try:
            result = level_of_service(source, max_multiplier=args.max_multiplier, tolerance=args.tolerance,
                                      max_analyses=args.max_analyses, executor=executor, progress=progress)
        except ValueError as error:
            raise InputError(f"{source.label}: {' '.join(str(error).split())}") from None
    if progress is not None:
        sys.stderr.write("\n")
    print_service(result, title, args.max_multiplier, sys.stdout)
    if args.csv is not None:
        write_csv_file(args.csv, "service_nodes.csv", result["nodes"], NODE_CSV_KEYS)
        write_csv_file(args.csv, "service_pipes.csv", result["pipes"], PIPE_CSV_KEYS)
    if draw is not None:
        values: Dict[str, Optional[float]] = {row["id"]: row["flood_multiplier"] for row in result["nodes"]}
        draw(source, analyse(source), args.plan, title=f"{title}: storm at which each structure floods",
             node_values=values, node_values_label="floods at x design storm")
    return 0


def progress_line(err: TextIO) -> Callable[[int, int], None]:
    """For a terminal: the round, the analyses so far and the brackets still open, on one line."""
    rounds = [0]

    def show(analyses: int, still_open: int) -> None:
        rounds[0] += 1  # called once per round
        err.write(f"\rround {rounds[0]}: {analyses} analyses, {still_open} brackets open   ")
        err.flush()
    return show


def plan_drawer() -> Callable[..., Any]:
    try:
        from ..drawing.plan import draw_plan  # type: ignore
    except ImportError:
        raise InputError("the plan view is not available in this installation") from None
    return cast(Callable[..., Any], draw_plan)

