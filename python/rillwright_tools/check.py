"""The check report: everything an engineer should know about a network before trusting
its result. The findings that need the topology come from the core; the ones read off a
finished analysis (overloads, speeds, pressure) are comparisons over its result."""

from __future__ import annotations

import json
import os
from typing import Any, Dict, List, Optional, Tuple, Union

from . import _core
from .inputs import Geometry, Source, analyze, geometry, resolve

Finding = Dict[str, Any]  # {"severity", "code", "ids", "message"}

SEVERITIES = ("error", "warning", "note")
OVERLOAD = 2.0  # design flow over just-full capacity
FASTEST = 30.0  # ft/s, where scour and wear set in
SLOWEST = 2.0  # ft/s, below which a pipe does not clean itself
ADVERSE_SLOPE = _core.ADVERSE_SLOPE  # the analysis's own limit: a pipe below it runs uphill


def check(source: Union[str, "os.PathLike[str]", None] = None, *, text: Optional[str] = None,
          format: Optional[str] = None) -> List[Finding]:
    """Findings about the network, errors first, then warnings, then notes, each kind in
    input order. Each is a dict {"severity": "error"|"warning"|"note", "code": str,
    "ids": [record ids named, in the message's order], "message": one line}.

    Errors are what stops the analysis: pipes naming missing nodes, loops (their nodes
    and pipes in flow order in "ids"), values that are not finite or not usable sizes.
    When there is none the network is analysed and the result is checked too.
    Raises ValueError for a network that cannot be read, OSError for a file that cannot."""
    resolved = resolve(source, text=text, format=format)
    if resolved.model is None:  # read once: the findings, the analysis and the inlet pass share it
        from .model import open as open_model

        resolved = open_model(resolved).source
    return findings(resolved)


def findings(source: Source, result: Optional[Dict[str, Any]] = None) -> List[Finding]:
    """`check` of a resolved source; `result` is its analysis when the caller has it."""
    found: List[Finding] = _without_folded_catchments(source, json.loads(_core.network_findings(source.core,
                                                                                              source.format)))
    if not any(f["severity"] == "error" for f in found):
        try:
            if result is None:
                result = analyze(source)
        except ValueError as error:  # every refusal should be a finding already; keep any other
            found.append(_finding("error", "analysis", [], str(error)))
        else:
            found += result_findings(geometry(source), result)
            found += inlet_findings(source)
    order = {severity: k for k, severity in enumerate(SEVERITIES)}
    return sorted(found, key=lambda f: order[f["severity"]])


def _without_folded_catchments(source: Source, found: List[Finding]) -> List[Finding]:
    """Leaves out the warning about a catchment without an inlet node where its runoff is not
    lost: an import (SWMM) keeps subcatchment outlines as catchments with no inlet node but
    `drains_to`, their area already on that node."""
    if source.format != "rwproj" or not any(f["code"] == "catchment-without-inlet" for f in found):
        return found
    project = json.loads(source.text)
    nodes = {n.get("id") for n in project.get("nodes", []) if isinstance(n, dict)}
    folded = {c.get("id") for c in project.get("catchments", [])
              if isinstance(c, dict) and c.get("inlet_node_id") is None and c.get("drains_to") in nodes}
    return [f for f in found if not (f["code"] == "catchment-without-inlet" and len(f["ids"]) == 1
                                     and f["ids"][0] in folded)]


def inlet_findings(source: Source) -> List[Finding]:
    """The inlet pass's warnings (spread over its limit, depth above the curb opening, bypass
    leaving the network, a gutter flatter than 0.3 %), or its refusal as an error."""
    if source.format != "rwproj":
        return []
    from .inlets import inlet_pass  # the pass is only run for projects
    try:
        return [_finding("warning", "inlet_" + w["code"], [w["id"]], w["message"]) for w in inlet_pass(source)[1]]
    except ValueError as error:
        return [_finding("error", "inlets", [], str(error))]


def _finding(severity: str, code: str, ids: List[str], message: str) -> Finding:
    return {"severity": severity, "code": code, "ids": ids, "message": message}


def _above_crown(level: Any, crown: float) -> float:
    """How far a grade line stands above a crown; 0 when it does not (or is unknown)."""
    return level - crown if isinstance(level, float) and level > crown else 0.0


def pressure_heads(shape: Geometry, result: Dict[str, Any]) -> List[Tuple[float, float]]:
    """Per pipe, the height of the grade line above the crown at its upstream and its
    downstream end (0 where it is not above)."""
    return [(_above_crown(row["hgl_up"], pipe.invert_up + pipe.rise),
             _above_crown(row["hgl_dn"], pipe.invert_dn + pipe.rise))
            for pipe, row in zip(shape.pipes, result["pipes"])]


def _where(heads: Tuple[float, float]) -> str:
    up, down = heads
    if up > 0.0 and down > 0.0:
        return f"{up:.2f} ft above its crown upstream, {down:.2f} ft downstream"
    return f"{up:.2f} ft above its crown at the upstream end" if up > 0.0 else \
        f"{down:.2f} ft above its crown at the downstream end"


def pipe_marks(shape: Geometry, result: Dict[str, Any]) -> List[str]:
    """Per pipe, the words the design table shows: SURCHARGED (the reported flag), ADVERSE,
    and PRESSURIZED for a grade line above the crown on a pipe not reported surcharged."""
    marks = []
    for row, heads in zip(result["pipes"], pressure_heads(shape, result)):
        words = []
        if row["surcharged"]:
            words.append("SURCHARGED")
        elif max(heads) > 0.0:
            words.append("PRESSURIZED")
        if row["slope"] < ADVERSE_SLOPE:
            words.append("ADVERSE")
        marks.append(" ".join(words))
    return marks


def result_findings(shape: Geometry, result: Dict[str, Any]) -> List[Finding]:
    """Overloads, extreme speeds and unflagged pressure of an analysed network."""
    warnings: List[Finding] = []
    notes: List[Finding] = []
    for row, heads in zip(result["pipes"], pressure_heads(shape, result)):
        pid = row["id"]
        if row["pct_full"] > OVERLOAD:
            warnings.append(_finding(
                "warning", "overloaded", [pid],
                f"pipe '{pid}' is at {row['pct_full'] * 100:.0f} % of its capacity "
                f"({row['design_q']:.3g} cfs in {row['capacity']:.3g} cfs)"))
        if row["velocity"] > FASTEST:
            warnings.append(_finding(
                "warning", "fast", [pid],
                f"pipe '{pid}' flows at {row['velocity']:.1f} ft/s at design flow, above {FASTEST:.0f} ft/s"))
        if max(heads) > 0.0 and not row["surcharged"]:
            warnings.append(_finding(
                "warning", "pressurized", [pid],
                f"pipe '{pid}' is under pressure but not reported surcharged (grade line {_where(heads)})"))
        if row["design_q"] > 0.0 and row["velocity"] < SLOWEST:
            notes.append(_finding(
                "note", "slow", [pid],
                f"pipe '{pid}' flows at {row['velocity']:.2f} ft/s at design flow, below {SLOWEST:.0f} ft/s"))
    return warnings + notes


def counts(found: List[Finding]) -> Dict[str, int]:
    """Number of findings of each severity."""
    return {severity: sum(1 for f in found if f["severity"] == severity) for severity in SEVERITIES}
