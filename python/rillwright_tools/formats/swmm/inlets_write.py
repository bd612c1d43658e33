"""Street inlets of a project as SWMM 5.2 streets, inlets and inlet usage.

Each node with an inlet (length_ft > 0) gets a street junction beside it and a STREET
conduit from there, at its gutter slope, to the street junction of its bypass_to node (or to
a street outfall where its bypass leaves the network); the inlet sits on that conduit and
captures into the node, so the bypass runs down the conduit to the next inlet as in the
analysis. A bypass_to node without an inlet drains its street junction through a short
stand-in pipe. Its own design runoff enters the street junction instead of the node. What
SWMM has no field for (spread limits, keys left to their defaults, exact values) is kept
in one "rillwright-inlet {...}" line of [TITLE] per node, which the import checks against
the SWMM fields before it trusts it.
"""

from __future__ import annotations

import json
import math
from dataclasses import dataclass, field
from typing import Any, Callable, Dict, List, Set, Tuple

from .inlet_fields import street_slope, swmm_fields
from .text import INLET_PREFIX

STREET_DEPTH_FT = 2.0


@dataclass
class StreetModel:
    title: List[str] = field(default_factory=list)
    junctions: List[str] = field(default_factory=list)
    outfalls: List[str] = field(default_factory=list)
    conduits: List[str] = field(default_factory=list)
    xsections: List[str] = field(default_factory=list)
    streets: List[str] = field(default_factory=list)
    inlets: List[str] = field(default_factory=list)
    usage: List[str] = field(default_factory=list)
    tags: List[str] = field(default_factory=list)
    coordinates: List[str] = field(default_factory=list)
    runoff_at: Dict[str, str] = field(default_factory=dict)  # node id -> street junction taking its runoff


def fresh(name: str, taken: Set[str]) -> str:
    while name in taken:
        name += "_"
    taken.add(name)
    return name


def street_model(project: Dict[str, Any], nodes: Dict[str, dict], length: Callable[[float], float], si: bool,
                 taken: Set[str], name_of: Callable[[str], str]) -> StreetModel:
    """`nodes` are the analysis' node records (feet); `length` converts feet to model units."""
    model = StreetModel()
    project_nodes = {node["id"]: node for node in project.get("nodes", []) if isinstance(node, dict)}
    for node_id, node in project_nodes.items():
        if "inlet" in node or node.get("bypass_to") is not None:
            line = INLET_PREFIX + json.dumps({"node": node_id, "inlet": node.get("inlet"),
                                              "bypass_to": node.get("bypass_to")}, separators=(",", ":"))
            if len(line) > 1000:  # SWMM reads lines of at most 1024 characters
                raise ValueError(f"node {node_id!r}: inlet data too long for one SWMM title line")
            model.title.append(line)
    active = [n for n in project_nodes.values() if (n.get("inlet") or {}).get("length_ft", 0.0) > 0]
    if not active:
        return model
    for node in active:
        if node.get("bypass_to") is not None and node["bypass_to"] not in nodes:
            raise ValueError(f"node {node['id']!r}: bypass_to names unknown node {node['bypass_to']!r}")
    street_of = {n["id"]: fresh(f"{n['id']}_street", taken) for n in active}
    for target in {n["bypass_to"] for n in active if n.get("bypass_to") is not None} - set(street_of):
        street_of[target] = fresh(f"{target}_street", taken)
        model.tags.append(f"Node {name_of(street_of[target])} street={target}")
        if nodes[target]["kind"] == "outfall":
            continue  # SWMM gives an outfall one link: this street runs on to a street outfall
        drop = fresh(f"{target}_street_drop", taken)
        model.conduits.append(f"{name_of(drop)} {name_of(street_of[target])} {name_of(target)} "
                              f"{length(10.0)!r} 0.013 0 0 0 0")
        model.xsections.append(f"{name_of(drop)} CIRCULAR {length(1.0)!r} 0 0 0 1")
        model.tags.append(f"Link {name_of(drop)} stand-in")
    # Elevations in feet: a conduit starts at its node's rim and falls at the gutter slope;
    # a street junction sits at the lowest conduit end it holds, each end offset above it.
    ends: Dict[str, List[float]] = {street: [] for street in street_of.values()}
    for node_id, street in street_of.items():
        ends[street].append(nodes[node_id]["rim"])
    links: List[Tuple[dict, str, str, float, float, float, bool]] = []
    outlets: Set[str] = set()
    for node in active:
        up = nodes[node["id"]]
        target = node.get("bypass_to")
        if target is not None:
            down = nodes[target]
            # SWMM's street routing misbehaves below a drop at a street junction: where the rim
            # falls toward the next inlet, the conduit is as long as makes it meet that rim
            # at its gutter slope; otherwise it takes the plan distance and ends below it.
            fall = up["rim"] - down["rim"]
            run = fall / street_slope(node["inlet"]) if fall > 0 else \
                max(math.hypot(down["x"] - up["x"], down["y"] - up["y"]), 10.0)
            dn_street = street_of[target]
        else:
            # An inlet's capture leaves its conduit's downstream node, which must be a junction:
            # a sag ends the street there (what it cannot take floods), and a bypass that
            # leaves the network runs on through a plain street conduit to a street outfall.
            run, dn_street = 50.0, fresh(f"{node['id']}_street_end", taken)
            ends[dn_street] = []
        fall_here = street_slope(node["inlet"]) * run
        ends[dn_street].append(up["rim"] - fall_here)
        links.append((node, street_of[node["id"]], dn_street, run, up["rim"], up["rim"] - fall_here, True))
        if target is None and not node["inlet"].get("sag"):
            out = fresh(f"{node['id']}_street_out", taken)
            outlets.add(out)
            ends[out] = [up["rim"] - 2.0 * fall_here]
            links.append((node, dn_street, out, run, up["rim"] - fall_here, up["rim"] - 2.0 * fall_here, False))
    for target, street in list(street_of.items()):
        if nodes[target]["kind"] == "outfall" and target not in {n["id"] for n in active}:
            incoming = [link for link in links if link[2] == street]
            out = fresh(f"{target}_street_out", taken)
            outlets.add(out)
            low = min(link[5] for link in incoming)
            ends[out] = [low - 0.005 * 50.0]
            links.append((incoming[0][0], street, out, 50.0, low, low - 0.005 * 50.0, False))
    floor = {street: min(values) for street, values in ends.items()}
    designs: Dict[Tuple[Any, ...], str] = {}
    gutters: Dict[Tuple[float, ...], str] = {}
    for node, up_street, dn_street, run, top, bottom, with_inlet in links:
        section, lines, usage = swmm_fields(node["inlet"], si)
        gutter = gutters.get(section)
        if gutter is None:
            gutter = gutters[section] = fresh(f"street{len(gutters) + 1}", taken)
            model.streets.append(f"{gutter} " + " ".join(repr(v) for v in section))
        design = designs.get(lines)
        if design is None:
            design = designs[lines] = fresh(f"inlet{len(designs) + 1}", taken)
            model.inlets += [f"{design} " + " ".join(line) for line in lines]
        conduit = fresh(f"{node['id']}_gutter" if with_inlet else f"{node['id']}_runoff", taken)
        model.conduits.append(f"{name_of(conduit)} {name_of(up_street)} {name_of(dn_street)} {length(run)!r} "
                              f"{node['inlet'].get('gutter_n', 0.016)!r} {length(top - floor[up_street])!r} "
                              f"{length(bottom - floor[dn_street])!r} 0 0")
        model.xsections.append(f"{name_of(conduit)} STREET {gutter}")
        if with_inlet:
            model.usage.append(f"{name_of(conduit)} {design} {name_of(node['id'])} "
                               + " ".join(v if isinstance(v, str) else repr(v) for v in usage))
    owner = {street: node_id for node_id, street in street_of.items()}
    for link in links:
        owner.setdefault(link[2], link[0]["id"])
    for street, low in floor.items():
        if street in outlets:
            model.outfalls.append(f"{name_of(street)} {length(low)!r} FREE NO")
        else:
            depth = max(ends[street]) - low + STREET_DEPTH_FT  # above its highest conduit end
            model.junctions.append(f"{name_of(street)} {length(low)!r} {length(depth)!r} 0 0 0")
        base = nodes[owner[street]]
        shift = 20.0 if street in outlets else 5.0
        model.coordinates.append(f"{name_of(street)} {length(base['x'] + shift)!r} {length(base['y'] + shift)!r}")
    model.runoff_at = {node["id"]: street_of[node["id"]] for node in active}
    return model
