"""A network written as a SWMM 5 model that runs as it stands: dynamic wave routing of the
design flows, each structure's own runoff entering as a constant inflow.

* Own runoff of a structure: min(C x frequency factor, 1) x A x i, with i the intensity
  the analysis used at that structure (that of its first outgoing pipe in the result; the
  IDF curve at the structure's time of concentration where no pipe leaves it).
* Outfalls are FIXED at the tailwater when the network has one, FREE otherwise. SWMM
  takes one link per outfall: an outfall with more becomes a junction (tagged "outfall")
  draining through a short conduit to a stand-in outfall (both tagged "stand-in"). A
  plain outfall keeps its rim in a tag "rim=<elevation>", a structure whose inlet time is
  not 10 min keeps it in a tag "tc=<minutes>", and the design settings (IDF curve, losses)
  sit in one "rillwright-settings {...}" line of [TITLE]. The import reads all of these.
* Shapes: circular CIRCULAR, box RECT_CLOSED, elliptical HORIZ_ELLIPSE (VERT_ELLIPSE
  when the rise exceeds the span), arch ARCH; SWMM draws the last two from its standard
  shapes of the same rise and span.
* Drainage areas become subcatchments under a rain gauge that never rains (they carry
  area, outline and C as %impervious, C = 0.2 + 0.7 x %impervious / 100, clamped, with a
  tag "c=<C>" wherever that scale does not give C back exactly); the flows come only from
  the inflows. The area of a structure beyond its catchments keeps the structure's own C,
  so the import folds the same C x A into it; a catchment the analysis does not count (it
  names no known node) drains to its nearest structure with the tag "outline", and the
  import adds no area for it. Tags of one subcatchment are joined by ",".
* Structure losses: each structure's loss at the design flow, from the grade-line pass,
  becomes the entry-loss coefficient of the conduit leaving it ([LOSSES], K = loss /
  velocity head at the conduit's upstream end), so a dynamic model of the design charges
  the same losses at the design flow (and their equivalent at other flows).
* Units follow the project: CFS and feet, or CMS and metres for an SI project.
"""

from __future__ import annotations

import json
import math
from typing import Any, Dict, List, Optional, Tuple

import rillwright

from ... import _core
from ...inputs import Source, analyze, records
from .inlets_write import street_model
from .text import (C_TAG, EPSG_IN_TEXT, INLET_PREFIX, KEPT_SETTINGS, OUTLINE_TAG, SETTINGS_PREFIX, TAG_SEPARATOR,
                   c_of_impervious, impervious_text)
from ...units import FT_PER_M

ACRES_PER_HECTARE = 2.4710516301527603
CFS_PER_CMS = FT_PER_M ** 3
SWMM_SHAPES = {"circular": "CIRCULAR", "box": "RECT_CLOSED", "elliptical": "HORIZ_ELLIPSE", "arch": "ARCH"}


def number(value: float) -> str:
    return format(value, ".10g")


def name_of(text: str) -> str:
    """An id as a SWMM token: quoted when it holds spaces or starts like a comment or section."""
    if '"' in text or not text:
        raise ValueError(f"id {text!r} cannot be written to SWMM")
    return f'"{text}"' if any(ch.isspace() for ch in text) or text[0] in ";[" else text


def own_inflows(network: Dict[str, Any], result: Dict[str, Any]) -> Dict[str, float]:
    """{node id: own design runoff in cfs} for every node with a positive one."""
    settings = network["settings"]
    intensity: Dict[str, float] = {}
    for pipe in result["pipes"]:
        intensity.setdefault(pipe["from"], pipe["intensity"])
    node_tc = {node["id"]: node["tc"] for node in result["nodes"]}
    flows: Dict[str, float] = {}
    for node in network["nodes"]:
        ca = min(node["c"] * settings["frequency_factor"], 1.0) * node["area"]
        if not ca > 0:
            continue
        i = intensity.get(node["id"])
        if i is None:
            i = settings["intensity"] if settings["intensity"] is not None else rillwright.intensity(
                settings["idf_a"], settings["idf_b"], settings["idf_c"], node_tc[node["id"]])
        flows[node["id"]] = rillwright.rational_q(min(node["c"] * settings["frequency_factor"], 1.0), i, node["area"])
    return flows


def write_swmm(source: Source, result: Optional[Dict[str, Any]] = None) -> str:
    """The SWMM 5 model text of the network."""
    network = records(source)
    if result is None:
        result = analyze(source)
    project = json.loads(source.text) if source.kind == "project" else {}
    si = project.get("units") == "si"
    length = (lambda feet: feet / FT_PER_M) if si else (lambda feet: feet)
    flow = (lambda cfs: cfs / CFS_PER_CMS) if si else (lambda cfs: cfs)
    settings = network["settings"]
    nodes = {}
    for node in network["nodes"]:
        nodes[node["id"]] = node  # a repeated id resolves to its last node, as in the analysis
    ends: Dict[str, List[Tuple[float, float]]] = {}

    out: List[str] = []

    def section(name: str, header: str, rows: List[str]) -> None:
        if rows:
            out.extend(["", f"[{name}]", f";;{header}", *rows])

    taken = set(nodes) | {pipe["id"] for pipe in network["pipes"]}
    streets = street_model(project, nodes, length, si, taken, name_of)
    title = result.get("name") or project.get("name") or "network"
    out += ["[TITLE]", f";;Exported by rillwright from {source.label}", str(title).replace("\n", " "),
            *coordinate_system_line(project),
            SETTINGS_PREFIX + design_settings(project, settings), *streets.title, "",
            "[OPTIONS]", f"FLOW_UNITS           {'CMS' if si else 'CFS'}", "INFILTRATION         HORTON",
            "FLOW_ROUTING         DYNWAVE", "LINK_OFFSETS         DEPTH", "FORCE_MAIN_EQUATION  H-W",
            "START_DATE           01/01/2000", "START_TIME           00:00:00",
            "REPORT_START_DATE    01/01/2000", "REPORT_START_TIME    00:00:00",
            "END_DATE             01/01/2000", "END_TIME             06:00:00",
            "REPORT_STEP          00:05:00", "WET_STEP             00:05:00", "DRY_STEP             00:05:00",
            "ROUTING_STEP         0:00:01", "VARIABLE_STEP        0.75", "LENGTHENING_STEP     0",
            "MIN_SURFAREA         12.566", "INERTIAL_DAMPING     PARTIAL", "NORMAL_FLOW_LIMITED  BOTH",
            "SKIP_STEADY_STATE    NO", "ALLOW_PONDING        NO", "MAX_TRIALS           8",
            "HEAD_TOLERANCE       0.0015", "SYS_FLOW_TOL         5", "LAT_FLOW_TOL         5",
            "MINIMUM_STEP         0.5", "THREADS              1"]

    inflows = own_inflows(network, result)
    pipes = network["pipes"]
    conduits, xsections = [], []
    for pipe in pipes:
        up, down = nodes.get(pipe["from"]), nodes.get(pipe["to"])
        if up is None or down is None:
            raise ValueError(f"pipe {pipe['id']!r} names an unknown node")
        inv_up = pipe["invert_up"] if pipe["invert_up"] is not None else up["invert"]
        inv_dn = pipe["invert_dn"] if pipe["invert_dn"] is not None else down["invert"]
        conduits.append(f"{name_of(pipe['id'])} {name_of(pipe['from'])} {name_of(pipe['to'])} {number(length(pipe['length']))} "
                        f"{number(pipe['n'])} {number(length(inv_up - up['invert']))} "
                        f"{number(length(inv_dn - down['invert']))} 0 0")
        shape = SWMM_SHAPES[pipe["shape"]]
        rise, span = pipe["rise"], pipe["span"]
        if shape == "HORIZ_ELLIPSE" and rise > span:
            shape = "VERT_ELLIPSE"
        geom2 = 0.0 if shape == "CIRCULAR" else length(span)
        xsections.append(f"{name_of(pipe['id'])} {shape} {number(length(rise))} {number(geom2)} 0 0 1")
        ends.setdefault(pipe["from"], []).append((inv_up, rise))
        ends.setdefault(pipe["to"], []).append((inv_dn, rise))

    junctions, outfalls, tags = [], [], []
    links = {pipe["id"] for pipe in pipes}
    for node in nodes.values():
        node_id = node["id"]
        if node["kind"] == "outfall" and len(ends.get(node_id, [])) != 1:
            # A SWMM outfall takes exactly one link: a junction of the same id, tagged so that
            # the import restores the outfall, drains through a short conduit to a stand-in.
            outlet = unique(f"{node_id}_outfall", nodes)
            link = unique(f"{node_id}_outlet", links)
            rise = math.sqrt(sum(r * r for _, r in ends.get(node_id, [(0.0, 1.0)]))) * 1.5
            if node["rim"] > node["invert"]:
                rise = min(rise, node["rim"] - node["invert"])
            junctions.append(f"{name_of(node_id)} {number(length(node['invert']))} "
                             f"{number(length(node['rim'] - node['invert'] if node['rim'] > node['invert'] else rise))} 0 0 0")
            outfalls.append(outfall_line(outlet, node["invert"] - 0.1, settings["tailwater"], length))
            conduits.append(f"{name_of(link)} {name_of(node_id)} {name_of(outlet)} {number(length(100.0))} 0.013 0 0 0 0")
            xsections.append(f"{name_of(link)} CIRCULAR {number(length(rise))} 0 0 0 1")
            tags += [f"Node {name_of(node_id)} outfall", f"Node {name_of(outlet)} stand-in",
                     f"Link {name_of(link)} stand-in"]
        elif node["kind"] == "outfall":
            outfalls.append(outfall_line(node_id, node["invert"], settings["tailwater"], length))
            tags.append(f"Node {name_of(node_id)} rim={number(length(node['rim']))}")  # SWMM outfalls have none
        else:
            if node["tc_inlet"] != 10.0:  # the inlet time SWMM has no field for
                tags.append(f"Node {name_of(node_id)} tc={number(node['tc_inlet'])}")
            depth = node["rim"] - node["invert"]
            # SWMM reads a maximum depth of 0 as "up to the highest crown": keep the rim exact
            # where it sits above the invert, and a sliver otherwise.
            junctions.append(f"{name_of(node_id)} {number(length(node['invert']))} "
                             f"{number(length(depth)) if depth > 0 else '0.001'} 0 0 0")
    section("JUNCTIONS", "Name Elevation MaxDepth InitDepth SurDepth Aponded", junctions + streets.junctions)
    section("OUTFALLS", "Name Elevation Type Stage Gated", outfalls + streets.outfalls)
    section("CONDUITS", "Name From To Length Roughness InOffset OutOffset InitFlow MaxFlow",
            conduits + streets.conduits)
    section("XSECTIONS", "Link Shape Geom1 Geom2 Geom3 Geom4 Barrels", xsections + streets.xsections)
    section("STREETS", "Name Tcrown Hcurb Sx nRoad a W Sides", streets.streets)
    section("INLETS", "Name Type Parameters", streets.inlets)
    section("INLET_USAGE", "Conduit Inlet Node Number %Clogged Qmax aLocal wLocal Placement", streets.usage)
    # An inlet node's own runoff runs onto its street, where SWMM's inlet decides what it takes.
    section("DWF", "Node Constituent Baseline",
            [f"{name_of(streets.runoff_at.get(name, name))} FLOW {number(flow(q))}" for name, q in inflows.items()])

    catchments = subcatchments(project, network, nodes, si)
    if catchments:
        section("RAINGAGES", "Name Format Interval SCF Source", ["dry INTENSITY 6:00 1.0 TIMESERIES dry"])
        section("SUBCATCHMENTS", "Name RainGage Outlet Area %Imperv Width %Slope CurbLen",
                [f"{name_of(c['id'])} dry {name_of(c['outlet'])} {number(c['area'])} {c['impervious']} "
                 f"{number(c['width'])} {number(c['slope'])} 0" for c in catchments])
        section("SUBAREAS", "Subcatchment N-Imperv N-Perv S-Imperv S-Perv PctZero RouteTo",
                [f"{name_of(c['id'])} 0.01 0.1 0.05 0.05 25 OUTLET" for c in catchments])
        section("INFILTRATION", "Subcatchment MaxRate MinRate Decay DryTime MaxInfil",
                [f"{name_of(c['id'])} 3.0 0.5 4 7 0" for c in catchments])
        section("TIMESERIES", "Name Time Value", ["dry 0:00 0.0", "dry 6:00 0.0"])
    for c in catchments:
        parts = ([f"{C_TAG}{c['c']!r}"] if c["c_tag"] else []) + ([OUTLINE_TAG] if c.get("outline") else [])
        if parts:
            tags.append(f"Subcatch {name_of(c['id'])} {TAG_SEPARATOR.join(parts)}")
    section("LOSSES", "Link Kentry Kexit Kavg FlapGate Seepage", entry_losses(source, pipes, name_of))
    section("TAGS", "Type Name Tag", tags + streets.tags)
    section("REPORT", "Reporting Options", ["INPUT NO", "CONTROLS NO", "NODES ALL", "LINKS ALL"])
    section("COORDINATES", "Node X-Coord Y-Coord",
            [f"{name_of(node['id'])} {number(length(node['x']))} {number(length(node['y']))}" for node in nodes.values()]
            + streets.coordinates)
    section("POLYGONS", "Subcatchment X-Coord Y-Coord",
            [f"{name_of(c['id'])} {number(x / FT_PER_M if si else x)} {number(y / FT_PER_M if si else y)}"
             for c in catchments for x, y in c["ring"]])
    return "\n".join(out) + "\n"


def design_settings(project: Dict[str, Any], settings: Dict[str, Any]) -> str:
    """The design storm and loss settings as one compact JSON title line, which SWMM shows
    as text and the import reads back; SWMM lines hold at most 1024 characters."""
    chosen = {key: (project if project else settings)[key] for key in KEPT_SETTINGS
              if key in (project if project else settings)}
    text = json.dumps(chosen, separators=(",", ":"), allow_nan=False)
    if len(text) > 900:
        chosen.pop("idf_curves", None)
        text = json.dumps(chosen, separators=(",", ":"), allow_nan=False)
    return text


def unique(name: str, taken: Any) -> str:
    while name in taken:
        name += "_"
    return name


def outfall_line(name: str, invert_ft: float, tailwater: Optional[float], length: Any) -> str:
    if tailwater is not None:
        return f"{name_of(name)} {number(length(invert_ft))} FIXED {number(length(tailwater))} NO"
    return f"{name_of(name)} {number(length(invert_ft))} FREE NO"


def entry_losses(source: Source, pipes: List[dict], name_of: Any) -> List[str]:
    """[LOSSES] rows: K = the structure loss charged for each pipe at its upstream
    structure over its velocity head there, both at the design flow."""
    details = json.loads(_core.grade_line_details(source.text, source.format))
    rows = []
    for pipe, more in zip(pipes, details["pipes"]):
        head, loss = more["velocity_head_up"], more["structure_loss"]
        if head > 0 and loss > 0 and math.isfinite(loss / head):
            rows.append(f"{name_of(pipe['id'])} {number(loss / head)} 0 0 NO 0")
    return rows


def coordinate_system_line(project: Dict[str, Any]) -> List[str]:
    """A title line naming the project's coordinate system by its authority code, which the
    import reads back; a system given only as WKT is named when pyproj finds its code."""
    system = project.get("crs")
    if not isinstance(system, str) or not system.strip():
        return []
    found = EPSG_IN_TEXT.search(system)
    if found and found.group(0).strip() == system.strip():
        return [f"coordinate system {found.group(1).upper()}:{found.group(2)}"]
    try:
        from .. import crs as _crs

        code = _crs.authority(system)
    except (ImportError, ValueError):
        code = None
    return [f"coordinate system {code[0]}:{code[1]}"] if code else []


def subcatchments(project: Dict[str, Any], network: Dict[str, Any], nodes: Dict[str, Any], si: bool) -> List[dict]:
    """Project catchments with outlines, then the rest of each node's own area, so that the
    areas draining to every node add up to that node's area as the analysis reads it."""
    area_unit = (1.0 / ACRES_PER_HECTARE) if si else 1.0
    left = {node["id"]: node["area"] for node in nodes.values()}  # acres
    # A structure's own C, before its catchments were folded in: the rest of its area has it.
    own_c: Dict[str, float] = {}
    for node in project.get("nodes", []):
        if isinstance(node, dict) and isinstance(node.get("c"), (int, float)):
            own_c.setdefault(str(node.get("id")), float(node["c"]))
    out: List[dict] = []
    names = {c.get("id") for c in project.get("catchments", [])}
    for catchment in project.get("catchments", []):
        ring = [tuple(v) for v in catchment.get("vertices", [])]
        outlet = catchment.get("inlet_node_id") or catchment.get("drains_to")
        # The analysis counts a catchment only on a node it names; any other is an outline
        # drawn to its nearest node (SWMM needs an outlet), tagged so the import adds no area.
        counted = outlet in nodes
        if not counted:
            outlet = nearest(ring, network["nodes"]) if ring else None
        if outlet is None or len(ring) < 3:
            continue
        if catchment.get("area_ac") is not None and catchment.get("inlet_node_id") is None:
            acres = catchment["area_ac"] * (ACRES_PER_HECTARE if si else 1.0)
        else:
            acres = shoelace(ring) / 43560.0
        if counted:
            left[outlet] = left.get(outlet, 0.0) - acres
        row = catchment_row(catchment["id"], outlet, acres * area_unit, catchment.get("c", 0.0),
                            catchment.get("flow_length_ft", 0.0), catchment.get("slope", 0.0), ring, si)
        row["outline"] = not counted
        out.append(row)
    for node in nodes.values():
        rest = left[node["id"]]
        if rest > 1e-9 * max(node["area"], 1.0):
            name = node["id"] + "_area"
            while name in names or name in nodes:  # SWMM finds an outlet among all names
                name += "_"
            names.add(name)
            out.append(catchment_row(name, node["id"], rest * area_unit, own_c.get(node["id"], node["c"]), 0.0,
                                     0.005, [], si))
    return out


def catchment_row(name: str, outlet: str, area: float, c: float, flow_length_ft: float, slope: float,
                  ring: List[Tuple[float, float]], si: bool) -> dict:
    square = area * (10000.0 if si else 43560.0)
    flow_length = flow_length_ft / FT_PER_M if si else flow_length_ft
    width = square / flow_length if flow_length > 0 else math.sqrt(square)
    impervious = impervious_text(c)
    return {"id": name, "outlet": outlet, "area": area, "impervious": impervious, "c": c,
            "c_tag": c_of_impervious(float(impervious)) != c,
            "width": width if width > 0 else 1.0, "slope": slope * 100.0 if slope > 0 else 0.5, "ring": ring}


def shoelace(ring: List[Tuple[float, float]]) -> float:
    total = 0.0
    for k in range(len(ring)):
        x0, y0 = ring[k]
        x1, y1 = ring[(k + 1) % len(ring)]
        total += x0 * y1 - x1 * y0
    return abs(total) * 0.5


def nearest(ring: List[Tuple[float, float]], nodes: List[dict]) -> Optional[str]:
    cx = sum(x for x, _ in ring) / len(ring)
    cy = sum(y for _, y in ring) / len(ring)
    best = min(nodes, key=lambda n: (n["x"] - cx) ** 2 + (n["y"] - cy) ** 2, default=None)
    return best["id"] if best is not None else None
