"""What a reviewer must see before anything else: each kind of doubtful result with its
count and the worst few by id, and the check's findings grouped by kind (never one line
per finding). Every number is the analysis's, compared with a stated limit."""

from __future__ import annotations

import re
from typing import Any, Callable, Dict, List, Sequence, Tuple

from ..check import ADVERSE_SLOPE
from ..inputs import Geometry
from .. import tables as T
from .content import Table, table

WORST = 5  # ids named per line: the worst few, the rest counted
FOLD = 12  # ids written out per kind of finding before the list is folded
SLOWEST_FT_S = (2.0, 0.6 / 0.3048)  # below this a pipe does not clean itself (US rule, SI rule 0.6 m/s)
FASTEST_FT_S = (20.0, 6.0 / 0.3048)  # above this scour and wear set in (US rule, SI rule 6 m/s)
HGL_ABOVE_RIM_FT = 10.0  # a grade line this far above a rim means the storm does not fit the network


def _worst(items: List[Tuple[float, str, str]]) -> str:
    """"id (value)" of the worst few, largest first, and how many more."""
    items = sorted(items, key=lambda item: -item[0])
    named = ", ".join(f"{ident} ({text})" for _, ident, text in items[:WORST])
    more = len(items) - WORST
    return named + (f" and {more} more" if more > 0 else "")


def _line(check: str, items: List[Tuple[float, str, str]], remark: str = "") -> Dict[str, Any]:
    return {"check": check, "count": str(len(items)), "worst": _worst(items) if items else "none",
            "remark": remark if items else ""}


def review_first(result: Dict[str, Any], shape: Geometry, si: bool, imported: Dict[str, Any]) -> Table:
    height, unit = T.HEIGHT.format(si), T.HEIGHT.unit(si)
    speed, speed_unit = T.VELOCITY.format(si), T.VELOCITY.unit(si)
    slow, fast = SLOWEST_FT_S[si], FASTEST_FT_S[si]
    pipes, nodes = result["pipes"], result["nodes"]
    number = lambda v: isinstance(v, float) and v == v  # noqa: E731 (not NaN)
    lines = [
        _line("Structures flooding (grade line above the rim)",
              [(-n["freeboard"], n["id"], f"{height(-n['freeboard'])} {unit} above") for n in nodes if n["floods"]]),
        _line("Pipes over capacity (design flow above just-full capacity)",
              [(p["pct_full"], p["id"], f"{p['pct_full'] * 100:.0f} %") for p in pipes
               if number(p["pct_full"]) and p["pct_full"] > 1.0]),
        _line("Adverse pipes (slope against the flow)",
              [(-p["slope"], p["id"], f"{p['slope']:.4f}") for p in pipes if p["slope"] < ADVERSE_SLOPE]),
        _line("Flat pipes (no fall)",
              [(0.0, p["id"], f"{p['slope']:.4f}") for p in pipes if abs(p["slope"]) <= -ADVERSE_SLOPE]),
        _line(f"Velocities below {speed(slow)} {speed_unit} at design flow",
              [(-p["velocity"], p["id"], f"{speed(p['velocity'])} {speed_unit}") for p in pipes
               if p["design_q"] > 0.0 and p["velocity"] < slow]),
        _line(f"Velocities above {speed(fast)} {speed_unit}",
              [(p["velocity"], p["id"], f"{speed(p['velocity'])} {speed_unit}") for p in pipes if p["velocity"] > fast]),
        _line("Crowns above the rim", _crowns_above_rim(shape, height, unit)),
        _line(f"Grade lines more than {height(HGL_ABOVE_RIM_FT)} {unit} above a rim",
              [(-n["freeboard"], n["id"], f"{height(-n['freeboard'])} {unit}") for n in nodes
               if number(n["freeboard"]) and -n["freeboard"] > HGL_ABOVE_RIM_FT],
              "the design storm may not fit this network"),
    ]
    dropped = [str(line) for line in imported.get("dropped") or []]
    source = f" from {imported['from']}" if imported.get("from") else ""
    lines.append({"check": f"Elements dropped on import{source}", "count": str(len(dropped)),
                  "worst": fold(dropped) if dropped else "none" if source else "none (not imported)",
                  "remark": "not analysed: the network in this report lacks them" if dropped else ""})
    if imported.get("design_storm") == "placeholder":
        lines.append({"check": "Design storm", "count": "1", "worst": "placeholder from import",
                      "remark": "set the IDF curve and return period before relying on any flow"})
    return table("Review first", "review-first", lines,
                 (T.text("Check", "check"), ("Count", "", "count", str, True), T.text("Worst (by id)", "worst"),
                  T.text("Remark", "remark")))


def _crowns_above_rim(shape: Geometry, height: Callable[[Any], str], unit: str) -> List[Tuple[float, str, str]]:
    found = []
    for pipe in shape.pipes:
        ends = [(shape.nodes.get(pipe.from_node), pipe.invert_up), (shape.nodes.get(pipe.to_node), pipe.invert_dn)]
        above = max((invert + pipe.rise - node.rim for node, invert in ends if node is not None), default=0.0)
        if above > 0.0:
            found.append((above, pipe.id, f"{height(above)} {unit}"))
    return found


def fold(ids: Sequence[str]) -> str:
    """A long list of ids folded: the first few, then how many more."""
    more = len(ids) - FOLD
    return ", ".join(ids[:FOLD]) + (f" … and {more} more" if more > 0 else "")


_MEASURED = re.compile(r"(-?\d+(?:\.\d+)?(?:e[+-]?\d+)?) ?(ft/s|ft|cfs|in/hr|acres|ac)(?![\w/])")
_IN_SI = {"ft/s": T.VELOCITY, "ft": T.HEIGHT, "cfs": T.FLOW, "in/hr": T.INTENSITY, "acres": T.AREA, "ac": T.AREA}


def in_si(message: str) -> str:
    """A check message (written in US units) with every measured value in SI."""
    def convert(match: "re.Match[str]") -> str:
        measure = _IN_SI[match.group(2)]
        return f"{float(match.group(1)) * measure.to_si:.3g} {measure.si}"
    return _MEASURED.sub(convert, message)


def findings_by_kind(found: List[Dict[str, Any]], si: bool = False) -> Table:
    """One row per kind of finding (severity and code): its count, a sample message and the
    ids it names."""
    kinds: Dict[Tuple[str, str], List[Dict[str, Any]]] = {}
    for finding in found:
        kinds.setdefault((finding["severity"], finding["code"]), []).append(finding)
    rows = []
    for (severity, code), group in kinds.items():
        ids = list(dict.fromkeys(i for f in group for i in f["ids"]))
        rows.append({"severity": severity, "code": code.replace("_", " "), "count": str(len(group)),
                     "example": in_si(group[0]["message"]) if si else group[0]["message"], "ids": fold(ids) if ids else "-"})
    return table("Check findings by kind", "findings", rows,
                 (T.text("Severity", "severity"), T.text("Kind", "code"), ("Count", "", "count", str, True),
                  T.text("First of them", "example"), T.text("Ids", "ids")),
                 "" if rows else "The check found nothing.")
