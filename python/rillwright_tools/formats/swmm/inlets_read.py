"""SWMM 5.2 streets, inlets and inlet usage read onto the project's node inlets.

* An [INLET_USAGE] line puts its inlet on the node that captures. Its street conduit gives
  the gutter slope (end to end, offsets included) and its [STREETS] entry the cross slope
  (Sx), gutter n (nRoad) and the depressed gutter (a, W).
* Placement ON_SAG is a sag inlet, ON_GRADE one on grade; AUTOMATIC is read as a sag where
  no street conduit leaves the conduit's downstream end or the conduit does not fall, on
  grade otherwise (reported).
* bypass_to: what the inlet does not catch runs down its street conduit; the first inlet
  found downstream along street conduits takes it. None found: the bypass leaves.
* Approximated and reported: Number > 1 as one inlet that many times as long (inlets in
  series), Qmax (no capture cap), DROP_GRATE and DROP_CURB as sag grates and curb openings,
  an inclined or vertical throat as the HEC-22 curb opening. Dropped: CUSTOM inlets.
* Street junctions and outfalls (touched only by street conduits) and street conduits are
  the street, not structures or pipes: they are left out and listed in the report. Runoff
  reaching a street junction goes to the inlet on the street conduit leaving it.
* A "rillwright-inlet" title line (written by the export) supplies keys SWMM has no field
  for and exact values, when what the export would write from it matches the SWMM fields;
  where it does not, the SWMM fields win and the report says which keys differ.
"""

from __future__ import annotations

import json
import re
from typing import Any, Callable, Dict, List, Optional, Set, Tuple

from ... import _core
from .inlet_fields import GRATE_OF, Usage, agrees, from_swmm, street_slope, swmm_fields

from .text import INLET_PREFIX, Line, Section

INLET_KINDS = {"GRATE": 4, "DROP_GRATE": 4, "CURB": 4, "DROP_CURB": 4, "SLOTTED": 4, "CUSTOM": 3}


def carried_lines(title: List[str], notes: List[str]) -> Dict[str, dict]:
    """{node: carried inlet keys}; a carrier line that cannot be read is noted (the SWMM
    fields then stand alone for its node)."""
    carried: Dict[str, dict] = {}
    for number, line in enumerate(title, 1):
        if line.startswith(INLET_PREFIX):
            try:
                data = json.loads(line[len(INLET_PREFIX):])
            except ValueError:
                data = None
            if isinstance(data, dict) and isinstance(data.get("node"), str):
                carried[data["node"]] = data
            else:
                notes.append(f"[TITLE] line {number}: an unreadable {INLET_PREFIX.strip()} line was ignored "
                             "(the inlet's SWMM fields are read alone)")
    return carried


def inlet_problem(node: Dict[str, Any], inlet: Dict[str, Any], si: bool) -> Optional[str]:
    """Why the project reader or the inlet pass would refuse this inlet on this node, in
    their own words; None when both take it."""
    probe = {"name": "", "idf_a": 1.0, "idf_b": 1.0, "idf_c": 1.0, "min_tc": 10.0, "junction_k": 0.0,
             "units": "si" if si else "us_customary", "pipes": [],
             "nodes": [{"id": node["id"], "kind": "junction", "x": 0.0, "y": 0.0, "invert": 0.0, "rim": 1.0,
                        "area_ac": 0.0, "c": 0.0, "tc_inlet": 10.0, "inlet": inlet}]}
    try:
        _core.inlets(json.dumps(probe), "rwproj")
    except (ValueError, TypeError) as error:
        text = re.sub(r" at line \d+ column \d+$", "", str(error))
        return text[len("invalid project JSON: "):] if text.startswith("invalid project JSON: ") else text
    return None


class StreetReader:
    def __init__(self, sections: Dict[str, List[Line]], nodes: Dict[str, dict], pipe_nodes: Set[str],
                 find: Callable[[Dict[str, dict], str], Optional[str]], elevation_offsets: bool, si: bool,
                 report: Any, tags: Dict[Tuple[str, str], str]):
        self.sections, self.nodes, self.find = sections, nodes, find
        self.elevation_offsets, self.si, self.report, self.tags = elevation_offsets, si, report, tags
        self.pipe_nodes = pipe_nodes
        self.links = self.street_links()

    def section(self, name: str) -> Section:
        return Section(name, self.sections.get(name, []))

    def street_links(self) -> Dict[str, Tuple[str, str, float, float, str]]:
        """{street conduit: (up node, down node, length, slope, street name)}."""
        shapes = {tokens[0]: tokens for _, tokens in self.section("XSECTIONS").rows(2)}
        conduits = self.section("CONDUITS")
        links = {}
        for number, tokens in conduits.rows(7):
            shape = shapes.get(tokens[0])
            if shape is None or shape[1].upper() != "STREET":
                continue
            if len(shape) < 3:
                raise ValueError(f"[XSECTIONS]: street conduit {tokens[0]!r} names no street")
            up, down = self.find(self.nodes, tokens[1]), self.find(self.nodes, tokens[2])
            if up is None or down is None:
                raise ValueError(f"[CONDUITS] line {number}: street conduit {tokens[0]!r} names an unknown node")
            length = conduits.number(number, tokens, 3, "length")
            if not length > 0:
                raise ValueError(f"[CONDUITS] line {number}: street conduit {tokens[0]!r} needs a positive length")
            ends = []
            for end, index in ((up, 5), (down, 6)):
                invert = self.nodes[end]["invert"]
                if self.elevation_offsets:
                    ends.append(invert if tokens[index] == "*" else conduits.number(number, tokens, index, "offset"))
                else:
                    ends.append(invert + conduits.number(number, tokens, index, "offset"))
            links[tokens[0]] = (up, down, length, (ends[0] - ends[1]) / length, shape[2])
        return links

    def streets(self) -> Dict[str, Tuple[float, ...]]:
        section = self.section("STREETS")
        unit = 0.3048 if self.si else 1.0
        defaults = (None, None, None, None, 0.0, 2.0 * unit, 2.0)
        out = {}
        for number, tokens in section.rows(5):
            names = ("Tcrown", "Hcurb", "Sx", "nRoad", "a", "W", "Sides")
            out[tokens[0]] = tuple(section.number(number, tokens, k + 1, names[k], defaults[k]) for k in range(7))
        return out

    def inlets(self) -> Dict[str, List[Tuple[str, ...]]]:
        section = self.section("INLETS")
        out: Dict[str, List[Tuple[str, ...]]] = {}
        for number, tokens in section.rows(3):
            kind = tokens[1].upper()
            if kind not in INLET_KINDS:
                raise ValueError(f"[INLETS] line {number}: inlet {tokens[0]!r} has unknown type {tokens[1]!r}")
            if len(tokens) < INLET_KINDS[kind]:
                raise ValueError(f"[INLETS] line {number}: inlet {tokens[0]!r} needs {INLET_KINDS[kind] - 2} fields")
            fields: Tuple[str, ...] = (kind,)
            if kind != "CUSTOM":
                fields += tuple(repr(section.number(number, tokens, k, f"inlet {tokens[0]!r} {what}"))
                                for k, what in ((2, "length"), (3, "width or height")))
            if kind != "CUSTOM" and not (float(fields[1]) > 0 and float(fields[2]) > 0):
                raise ValueError(f"[INLETS] line {number}: inlet {tokens[0]!r} needs a positive length and width "
                                 "or height")
            if kind in ("GRATE", "DROP_GRATE"):
                grate = tokens[4].upper() if len(tokens) > 4 else ""
                if grate not in GRATE_OF:
                    raise ValueError(f"[INLETS] line {number}: inlet {tokens[0]!r} has unknown grate type "
                                     f"{grate or 'none'!r}")
                fields += (grate,)
                if grate == "GENERIC":
                    fields += tuple(repr(section.number(number, tokens, k, what))
                                    for k, what in ((5, "open area fraction"), (6, "splash velocity")))
            elif kind in ("CURB", "DROP_CURB") and len(tokens) > 4:
                throat = tokens[4].upper()
                if throat not in ("HORIZONTAL", "INCLINED", "VERTICAL"):
                    raise ValueError(f"[INLETS] line {number}: inlet {tokens[0]!r} has unknown throat {tokens[4]!r}")
                fields += (throat,)
            out.setdefault(tokens[0], []).append(fields)
        return out

    def downstream_inlet(self, start: str, usage_on: Dict[str, str]) -> Tuple[Optional[str], List[str]]:
        """(node of the first inlet down the street from `start`, every such node found)."""
        tag = self.tags.get(("NODE", start), "")
        if tag.startswith("street=") and tag[7:] in self.nodes:
            return tag[7:], [tag[7:]]
        found: List[str] = []
        frontier, seen = [start], {start}
        while frontier:
            node = frontier.pop(0)
            for name, (up, down, _, _, _) in self.links.items():
                if up != node:
                    continue
                if name in usage_on:
                    if usage_on[name] not in found:
                        found.append(usage_on[name])
                elif down not in seen:
                    seen.add(down)
                    frontier.append(down)
        return (found[0] if found else None), found

    def read(self, carried: Dict[str, dict]) -> Dict[str, str]:
        """Sets node inlets and bypass_to, removes street nodes; returns {street node: inlet
        node} for runoff that reaches a street junction."""
        streets, designs = self.streets(), self.inlets()
        if streets:
            self.report.notes.append("[STREETS]: Tcrown, Hcurb, Tback, Sback and nBack not used (the inlets take the "
                                     "gutter's Sx, nRoad, a, W and Sides; the street's own capacity is not modelled)")
        section = self.section("INLET_USAGE")
        rows: List[Tuple[int, str, str, str, Usage]] = []
        for number, tokens in section.rows(3):
            conduit, design, node = tokens[0], tokens[1], self.find(self.nodes, tokens[2])
            if conduit not in self.links:
                raise ValueError(f"[INLET_USAGE] line {number}: conduit {conduit!r} is not a street conduit")
            if design not in designs:
                raise ValueError(f"[INLET_USAGE] line {number}: unknown inlet {design!r}")
            if node is None:
                raise ValueError(f"[INLET_USAGE] line {number}: unknown node {tokens[2]!r}")
            values = tuple(section.number(number, tokens, k, what, default) for k, what, default in
                          ((3, "number of inlets", 1.0), (4, "%clogged", 0.0), (5, "Qmax", 0.0),
                           (6, "aLocal", 0.0), (7, "wLocal", 0.0)))
            placement = tokens[8].upper() if len(tokens) > 8 else "AUTOMATIC"
            if placement not in ("AUTOMATIC", "ON_GRADE", "ON_SAG"):
                raise ValueError(f"[INLET_USAGE] line {number}: unknown placement {tokens[8]!r}")
            usage: Usage = (values[0], values[1], values[2], values[3], values[4], placement)
            rows.append((number, conduit, design, node, usage))
        street_nodes = {end for link in self.links.values() for end in link[:2]} - self.pipe_nodes
        usage_on = {conduit: node for _, conduit, _, node, _ in rows if node not in street_nodes}
        done: Dict[str, str] = {}
        for number, conduit, design, node, usage in rows:
            up, down, _, slope, street_name = self.links[conduit]
            if node in street_nodes:
                raise ValueError(f"[INLET_USAGE] line {number}: node {node!r} is on the street, not a sewer node")
            if node in done:
                self.report.dropped.append(("inlet usage", conduit, f"node {node} already has the inlet of {done[node]}"))
                continue
            leaves = any(link[0] == down for link in self.links.values())
            sag = usage[5] == "ON_SAG" or (usage[5] == "AUTOMATIC" and (not leaves or slope <= 0))
            notes: List[str] = []
            if usage[5] == "AUTOMATIC":
                notes.append(f"AUTOMATIC placement read as {'a sag' if sag else 'on grade'}")
            if slope < 0:
                notes.append("street conduit rises: gutter slope 0")
            if street_name not in streets:
                raise ValueError(f"[XSECTIONS]: street conduit {conduit!r} names unknown street {street_name!r}")
            try:
                inlet = from_swmm(tuple(designs[design]), streets[street_name], usage, max(slope, 0.0), sag,
                                  self.si, notes)
            except ValueError as error:
                raise ValueError(f"[INLET_USAGE] line {number}: conduit {conduit!r}: {error}") from None
            if inlet is None:
                self.report.dropped.append(("inlet usage", conduit, notes[-1]))
                continue
            done[node] = conduit
            bypass, found = self.downstream_inlet(down, usage_on)
            if len(found) > 1:
                notes.append(f"bypass splits among street conduits to {', '.join(found)}: all of it to {bypass}")
            inlet, bypass = self.reconcile(node, inlet, bypass, carried.get(node), notes, sag)
            problem = inlet_problem(self.nodes[node], inlet, self.si)
            if problem is not None:
                self.report.dropped.append(("inlet usage", conduit, f"inlet {design} at node {node}: {problem}"))
                continue
            for note in notes:
                self.report.approximated.append(("inlet", node, note))
            self.nodes[node]["inlet"] = inlet
            if bypass is not None:
                self.nodes[node]["bypass_to"] = bypass
        for node_id, data in carried.items():
            node = self.find(self.nodes, node_id)
            if node is None or node in done or node in street_nodes:
                continue
            inlet = data.get("inlet")
            if isinstance(inlet, dict) and inlet.get("length_ft", 0.0) > 0:
                self.report.dropped.append(("inlet", node, "the rillwright line's inlet has no INLET_USAGE"))
                continue
            if isinstance(inlet, dict):
                problem = inlet_problem(self.nodes[node], inlet, self.si)
                if problem is not None:
                    self.report.dropped.append(("inlet", node, f"the rillwright line's inlet: {problem}"))
                    continue
                self.nodes[node]["inlet"] = inlet
            if data.get("bypass_to") in self.nodes:
                self.nodes[node]["bypass_to"] = data["bypass_to"]
        runoff: Dict[str, str] = {}
        for conduit, node in usage_on.items():
            runoff.setdefault(self.links[conduit][0], node)
        for name in sorted(street_nodes):
            self.report.approximated.append(("street node", name, "part of the street, not a structure"))
            del self.nodes[name]
        for name in self.links:
            self.report.approximated.append(("street conduit", name, "street gutter: read into inlet data, not a pipe"))
        return runoff

    def reconcile(self, node: str, inlet: Dict[str, Any], bypass: Optional[str], data: Optional[dict],
                  notes: List[str], sag: bool) -> Tuple[Dict[str, Any], Optional[str]]:
        """The carried inlet where the export would write the SWMM fields from it."""
        if data is None or not isinstance(data.get("inlet"), dict):
            return inlet, bypass
        own = data["inlet"]
        try:
            street, lines, usage = swmm_fields(own, self.si)
            expected = from_swmm(lines, street, usage, street_slope(own), sag, self.si, [])
        except (KeyError, TypeError, ValueError):
            expected = None
        if expected is None:
            return inlet, bypass
        differ = sorted(k for k in set(inlet) | set(expected) if not agrees(inlet.get(k), expected.get(k)))
        if data.get("bypass_to") != bypass:
            differ.append("bypass_to")
        if not differ:
            del notes[:]  # the export's own approximations, undone by the carried values
            return dict(own), data.get("bypass_to")
        notes.append(f"SWMM's {', '.join(differ)} differ from the rillwright line: SWMM's used")
        return {**{k: v for k, v in own.items() if k not in inlet}, **inlet}, bypass
