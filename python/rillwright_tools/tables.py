"""Design tables, the one-line summary, CSV files and JSON of an analysis result."""

from __future__ import annotations

import csv
import json
import math
from dataclasses import dataclass
from typing import Any, Callable, Dict, Iterable, List, Optional, Sequence, TextIO, Tuple

from .units import HA_PER_ACRE, M3S_PER_CFS, M_PER_FT, MM_PER_IN

PIPE_KEYS = (
    "id", "from", "to", "slope", "total_ca", "tc", "travel_time", "intensity", "design_q", "capacity",
    "pct_full", "velocity", "normal_depth", "critical_depth", "hgl_up", "hgl_dn", "surcharged",
)
NODE_KEYS = ("id", "tc", "rim", "hgl", "freeboard", "floods")


def _text(value: Any) -> str:
    return "-" if value is None else str(value)


def _fixed(decimals: int, scale: float = 1.0) -> Callable[[Any], str]:
    def format_value(value: Any) -> str:
        return "-" if value is None else f"{value * scale:.{decimals}f}"
    return format_value


def _flag(word: str) -> Callable[[Any], str]:
    return lambda value: word if value else ""


# (name, unit, key, format, numeric): numbers are right-aligned, texts left-aligned.
Column = Tuple[str, str, str, Callable[[Any], str], bool]

PIPE_COLUMNS: Sequence[Column] = (
    ("Pipe", "", "id", _text, False),
    ("From", "", "from", _text, False),
    ("To", "", "to", _text, False),
    ("Slope", "ft/ft", "slope", _fixed(4), True),
    ("CA", "ac", "total_ca", _fixed(3), True),
    ("Tc", "min", "tc", _fixed(2), True),
    ("Travel", "min", "travel_time", _fixed(2), True),
    ("i", "in/hr", "intensity", _fixed(2), True),
    ("Q", "cfs", "design_q", _fixed(2), True),
    ("Capacity", "cfs", "capacity", _fixed(2), True),
    ("Full", "%", "pct_full", _fixed(0, 100.0), True),
    ("V", "ft/s", "velocity", _fixed(2), True),
    ("Normal d", "ft", "normal_depth", _fixed(3), True),
    ("Crit. d", "ft", "critical_depth", _fixed(3), True),
    ("HGL up", "ft", "hgl_up", _fixed(2), True),
    ("HGL down", "ft", "hgl_dn", _fixed(2), True),
    ("", "", "surcharged", _flag("SURCHARGED"), False),
)

NODE_COLUMNS: Sequence[Column] = (
    ("Node", "", "id", _text, False),
    ("Tc", "min", "tc", _fixed(2), True),
    ("Rim", "ft", "rim", _fixed(2), True),
    ("HGL", "ft", "hgl", _fixed(2), True),
    ("Freeboard", "ft", "freeboard", _fixed(2), True),
    ("", "", "floods", _flag("FLOODED"), False),
)


@dataclass(frozen=True)
class Measure:
    """A kind of value as the analysis gives it (US customary) and as a table prints it in
    either unit system: unit text, factor from US to SI, decimals in each."""

    us: str
    si: str
    to_si: float
    us_decimals: int
    si_decimals: int

    def unit(self, si: bool) -> str:
        return self.si if si else self.us

    def format(self, si: bool, scale: float = 1.0) -> Callable[[Any], str]:
        factor = scale * (self.to_si if si else 1.0)
        decimals = self.si_decimals if si else self.us_decimals

        def format_value(value: Any) -> str:
            if value is None or (isinstance(value, float) and math.isnan(value)):
                return "-"
            return f"{value * factor:.{decimals}f}"
        return format_value


# Decimals: elevations to the hundredth of a foot (3 mm), flows to the hundredth of a cfs.
ELEVATION = Measure("ft", "m", M_PER_FT, 2, 3)
DEPTH = Measure("ft", "m", M_PER_FT, 3, 3)
LENGTH = Measure("ft", "m", M_PER_FT, 1, 2)
HEIGHT = Measure("ft", "m", M_PER_FT, 2, 3)  # covers, freeboards, spreads, losses
FLOW = Measure("cfs", "m³/s", M3S_PER_CFS, 2, 4)
VELOCITY = Measure("ft/s", "m/s", M_PER_FT, 2, 2)
AREA = Measure("ac", "ha", HA_PER_ACRE, 3, 4)
INTENSITY = Measure("in/hr", "mm/hr", MM_PER_IN, 2, 1)
TIME = Measure("min", "min", 1.0, 2, 2)
SLOPE = Measure("ft/ft", "m/m", 1.0, 4, 4)
PERCENT = Measure("%", "%", 1.0, 0, 0)
RATIO = Measure("", "", 1.0, 2, 2)
COEFFICIENT = Measure("", "", 1.0, 3, 3)


def measured(name: str, key: str, measure: Measure, si: bool = False, scale: float = 1.0) -> Column:
    unit = measure.unit(si)
    return (name, unit, key, measure.format(si, scale), True)


def text(name: str, key: str, format_value: Callable[[Any], str] = None) -> Column:  # type: ignore[assignment]
    return (name, "", key, format_value or _text, False)


def size_text(rise: float, span: float, shape: str, si: bool = False) -> str:
    """A size in inches ("18", "24x36": rise x span) or, in SI, millimetres ("450", "600x900")."""
    factor = 12.0 * (MM_PER_IN if si else 1.0)
    if shape == "circular":
        return f"{rise * factor:.0f}" if si else f"{rise * factor:g}"
    if si:
        return f"{rise * factor:.0f}x{span * factor:.0f}"
    return f"{rise * factor:g}x{span * factor:g}"


def _size_change(row: Dict[str, Any], si: bool = False) -> str:
    """A designed pipe's size: the chosen one, or "given -> chosen" when the design changed it."""
    old = size_text(row["given_rise"], row["given_span"], row["shape"], si)
    new = size_text(row["rise"], row["span"], row["shape"], si)
    return new if old == new else f"{old} -> {new}"


def size_unit(si: bool) -> str:
    return "mm" if si else "in"


def report_pipe_columns(si: bool) -> Sequence[Column]:
    """The report's pipe table: every value a reviewer needs to check Q = C·i·A and the capacity;
    the rows are the analysis's pipe rows with the pipe's own geometry and `flags` added."""
    return (
        text("Pipe", "id"), text("From", "from"), text("To", "to"), text("Shape", "shape"),
        ("Size", size_unit(si), "size", _text, True),
        measured("Length", "length", LENGTH, si), measured("n", "n", COEFFICIENT, si),
        measured("Inv up", "invert_up", ELEVATION, si), measured("Inv dn", "invert_dn", ELEVATION, si),
        measured("Slope", "slope", SLOPE, si),
        measured("Cover up", "cover_up", HEIGHT, si), measured("Cover dn", "cover_dn", HEIGHT, si),
        measured("Q", "design_q", FLOW, si), measured("Capacity", "capacity", FLOW, si),
        measured("Full", "pct_full", PERCENT, si, 100.0), measured("V", "velocity", VELOCITY, si),
        measured("Normal d", "normal_depth", DEPTH, si), measured("Crit. d", "critical_depth", DEPTH, si),
        measured("HGL up", "hgl_up", ELEVATION, si), measured("HGL dn", "hgl_dn", ELEVATION, si),
        text("Flags", "flags"),
    )


def structure_columns(si: bool) -> Sequence[Column]:
    return (
        text("Structure", "id"), text("Kind", "kind"), measured("Rim", "rim", ELEVATION, si),
        measured("Invert", "invert", ELEVATION, si), text("Inverts in", "inverts_in"),
        measured("Invert out", "invert_out", ELEVATION, si), measured("Depth", "depth", HEIGHT, si),
        measured("HGL", "hgl", ELEVATION, si), measured("EGL", "egl", ELEVATION, si),
        measured("Freeboard", "freeboard", HEIGHT, si), text("Flags", "flags"),
    )


def grade_line_columns(si: bool) -> Sequence[Column]:
    return (
        text("Structure", "id"), text("Loss method", "method"), text("Coefficients", "coefficients"),
        text("Outlet pipe", "outlet"), measured("V²/2g out", "velocity_head", HEIGHT, si),
        measured("Structure loss", "structure_loss", HEIGHT, si),
        measured("HGL down", "outlet_hgl", ELEVATION, si), measured("EGL down", "outlet_egl", ELEVATION, si),
        measured("HGL up", "inlet_hgl", ELEVATION, si), measured("EGL up", "inlet_egl", ELEVATION, si),
    )


def drainage_area_columns(si: bool) -> Sequence[Column]:
    return (
        text("Inlet", "id"), measured("Area", "area_ac", AREA, si), measured("C", "c", RATIO, si),
        measured("C·A", "ca", AREA, si), measured("Inlet time", "tc_inlet", TIME, si),
        measured("Tc", "tc", TIME, si), measured("i", "intensity", INTENSITY, si),
        measured("Own Q", "own_q", FLOW, si),
    )


def _bypass_to(to: Any) -> str:
    return "" if to is None else f"-> {to}"


def _over_spread(ok: Any) -> str:
    return "OVER SPREAD" if ok is False else ""


def inlet_columns(si: bool = False, full: bool = False) -> Sequence[Column]:
    """The inlet sheet: the command's table, or with `full` the report's (size, placement,
    gutter, allowed spread)."""
    head = (text("Inlet", "id"), text("Type", "type"))
    if full:
        head += (text("Size", "size"), text("Placement", "placement"),
                 measured("Gutter S", "gutter_slope", SLOPE, si), measured("Cross S", "cross_slope", SLOPE, si))
    else:
        head += (text("", "on_grade", lambda on_grade: "" if on_grade else "sag"),)
    spread = (measured("Spread", "spread", HEIGHT, si),)
    if full:
        spread += (measured("Allowed", "spread_limit", HEIGHT, si),)
    return head + (
        measured("Q own", "own_q", FLOW, si), measured("Carry-over", "carryover_in", FLOW, si),
        measured("Total", "gutter_q", FLOW, si), *spread, measured("Depth", "depth", DEPTH, si),
        measured("E", "efficiency", RATIO, si), measured("Intercepted", "intercepted", FLOW, si),
        measured("Bypass", "bypass", FLOW, si), text("To" if full else "", "bypass_to", _bypass_to),
        text("Flags" if full else "", "spread_ok", _over_spread),
    )


INLET_COLUMNS: Sequence[Column] = inlet_columns()


def design_columns(si: bool, profile: bool) -> Sequence[Column]:
    """The designed pipes: given and chosen size, with the profile design its inverts,
    slope and cover, and what governed each choice."""
    head = (text("Pipe", "id"), text("Shape", "shape"), ("Size", size_unit(si), "size", _text, False))
    inverts = (measured("Inv up", "invert_up", ELEVATION, si), measured("Inv dn", "invert_dn", ELEVATION, si),
               measured("Slope", "slope", SLOPE, si), measured("Cover up", "cover_up", HEIGHT, si),
               measured("Cover dn", "cover_dn", HEIGHT, si)) if profile else ()
    tail = (measured("Q", "design_q", FLOW, si), measured("Capacity", "capacity", FLOW, si),
            measured("Full", "pct_full", PERCENT, si, 100.0), measured("V", "velocity", VELOCITY, si),
            text("Governed by", "governed_by"))
    return head + inverts + tail + ((text("Slope by", "slope_governed_by"),) if profile else ())


def _bracket(low_key: str, key: str) -> Callable[[Any], str]:
    def format_value(row: Any) -> str:
        low, high = row.get(low_key), row.get(key)
        if high is None:
            return "never"
        return f"{high:.3f}" if low is None or f"{low:.3f}" == f"{high:.3f}" else f"{low:.3f}–{high:.3f}"
    return format_value


def _years(value: Any) -> str:
    return "-" if value is None else f"{value:g} yr"


def service_columns(si: bool) -> Sequence[Column]:
    """Level of service per structure: the storm (as a multiple of the design storm, a
    bracket the search proved) at which it floods, its return period, and its freeboard."""
    return (text("Structure", "id"), text("Floods at", "flood_multiplier"),
            text("Return period", "flood_return_period", _years), measured("Freeboard", "freeboard", HEIGHT, si))


def pipe_service_columns() -> Sequence[Column]:
    return (text("Pipe", "id"), text("Surcharges at", "surcharge_multiplier"),
            text("Pressurized at", "pressurized_multiplier"),
            text("Return period", "surcharge_return_period", _years))


def service_brackets(row: Dict[str, Any], keys: Sequence[str]) -> Dict[str, Any]:
    """The row with each multiplier written as its bracket "low–high" (x design storm)."""
    return dict(row, **{key: _bracket(f"{key}_low", key)(row) for key in keys})


def table(rows: Iterable[Dict[str, Any]], columns: Sequence[Column]) -> List[str]:
    """Lines of an aligned table: a name line, a unit line, a rule, then one line per row."""
    cells = [[fmt(row[key]) for _, _, key, fmt, _ in columns] for row in rows]
    widths = [max([len(name), len(unit)] + [len(line[i]) for line in cells])
              for i, (name, unit, _, _, _) in enumerate(columns)]

    def line(values: Sequence[str]) -> str:
        parts = [v.rjust(w) if column[4] else v.ljust(w) for v, w, column in zip(values, widths, columns)]
        return "  ".join(parts).rstrip()

    return [
        line([c[0] for c in columns]),
        line([c[1] for c in columns]),
        "  ".join("-" * w for w in widths if w).rstrip(),
        *(line(values) for values in cells),
    ]


def _count(number: int, noun: str) -> str:
    return f"{number} {noun}" if number == 1 else f"{number} {noun}s"


def _number(value: Any) -> bool:
    return isinstance(value, float) and not math.isnan(value)


def summary(result: Dict[str, Any]) -> str:
    pipes, nodes = result["pipes"], result["nodes"]
    parts = [
        f"{_count(len(pipes), 'pipe')} ({sum(1 for p in pipes if p['surcharged'])} surcharged)",
        f"{_count(len(nodes), 'node')} ({sum(1 for n in nodes if n['floods'])} flooded)",
    ]
    fullest = _extreme(pipes, "pct_full", max)
    parts.append("fullest pipe: none" if fullest is None
                 else f"fullest pipe {fullest['id']} at {fullest['pct_full'] * 100:.0f}% full")
    tightest = _extreme(nodes, "freeboard", min)
    parts.append("smallest freeboard: none" if tightest is None
                 else f"smallest freeboard {tightest['freeboard']:.2f} ft at {tightest['id']}")
    return "; ".join(parts)


def _extreme(rows: List[Dict[str, Any]], key: str, pick: Callable[..., Any]) -> Optional[Dict[str, Any]]:
    candidates = [row for row in rows if _number(row[key])]
    return pick(candidates, key=lambda row: row[key]) if candidates else None


def print_report(result: Dict[str, Any], title: str, out: TextIO, marks: Optional[Sequence[str]] = None,
                 footer: Sequence[str] = ()) -> None:
    """The design tables and summary; `marks` (one text per pipe) replaces the SURCHARGED
    column, and `footer` lines follow the summary."""
    pipes, pipe_columns = result["pipes"], PIPE_COLUMNS
    if marks is not None:
        pipes = [dict(row, marks=mark) for row, mark in zip(pipes, marks)]
        pipe_columns = (*PIPE_COLUMNS[:-1], ("", "", "marks", _text, False))
    lines = [title, "", "Pipes", *table(pipes, pipe_columns),
             "", "Nodes", *table(result["nodes"], NODE_COLUMNS), "", summary(result), *footer]
    out.write("\n".join(lines) + "\n")


def csv_value(value: Any) -> str:
    if value is None:
        return ""
    if isinstance(value, float):
        return repr(value)  # shortest text that reads back to the same number
    return str(value)


def csv_cells(row: Dict[str, Any], keys: Sequence[str]) -> List[str]:
    return [csv_value(row[key]) for key in keys]


def write_csv(out: TextIO, rows: Iterable[Dict[str, Any]], keys: Sequence[str]) -> None:
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(keys)
    writer.writerows(csv_cells(row, keys) for row in rows)


def _finite_or_none(value: Any) -> Any:
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, dict):
        return {key: _finite_or_none(item) for key, item in value.items()}
    if isinstance(value, list):
        return [_finite_or_none(item) for item in value]
    return value


def to_json(result: Dict[str, Any]) -> str:
    """Standard JSON: a number that is not finite becomes null, as JSON has no such numbers."""
    return json.dumps(_finite_or_none(result), indent=2, ensure_ascii=False, allow_nan=False)
