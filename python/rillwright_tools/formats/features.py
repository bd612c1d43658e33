"""The network as plan features and back, shared by the GIS formats (GeoJSON, GeoPackage):
structures as points, pipes as lines, catchments as polygons, each with a flat table of
attributes. A structure's `inlet` object travels as one attribute per key (`inlet_type`,
`inlet_length_ft`, ...), so that every key of it, present or added later, comes through."""

from __future__ import annotations

import json
import math
import re
from typing import Any, Callable, Dict, List, Optional, Tuple

from ..inputs import Source, analyze, records
from ..units import FT_PER_M
from .common import ImportReport

SETTINGS_MEMBER = "rillwright_project"
PLAN_MEMBER = "rillwright_plan_coordinates"
REPORT_MEMBER = "rillwright_export_report"
INLET_PREFIX = "inlet_"
RWN_NODE_KEYS = ("id", "kind", "invert", "rim", "area_ac", "c", "tc_inlet")
PIPE_KEYS = ("id", "from", "to", "length", "diameter", "n", "shape", "rise_ft", "span_ft", "invert_up", "invert_dn")
CATCHMENT_KEYS = ("id", "c", "flow_length_ft", "slope", "inlet_node_id")
# A structure's keys besides its position that a feature carries as they stand.
OPTIONAL_NODE_KEYS = ("bypass_to", "diameter_ft", "benching")
OPTIONAL_CATCHMENT_KEYS = ("drains_to", "area_ac")

Position = List[float]
Transform = Callable[[float, float], Tuple[float, float]]


def finite(value: Any) -> Any:
    """JSON has no NaN or infinity: such values become null."""
    if isinstance(value, float) and not math.isfinite(value):
        return None
    return value


def feature(geometry: Optional[Dict[str, Any]], properties: Dict[str, Any]) -> Dict[str, Any]:
    return {"type": "Feature", "geometry": geometry,
            "properties": {key: finite(value) for key, value in properties.items()}}


def project_crs(source: Source, crs: Optional[str]) -> Optional[str]:
    """The system the plan coordinates are in: `crs` when given, else the project's own."""
    if crs is not None:
        return crs
    if source.kind != "project":
        return None
    named = json.loads(source.text).get("crs")
    return named if isinstance(named, str) else None


def node_properties(given: Dict[str, Any]) -> Dict[str, Any]:
    """A project structure's attributes, its inlet flattened into `inlet_<key>` columns."""
    properties = {key: value for key, value in given.items() if key not in ("x", "y", "inlet")}
    for key, value in (given.get("inlet") or {}).items():
        properties[INLET_PREFIX + key] = value
    return properties


def plan_collection(source: Source, result: Optional[Dict[str, Any]], analyse: bool
                    ) -> Tuple[Dict[str, Any], ImportReport]:
    """(FeatureCollection in plan coordinates, report of what it could not carry)."""
    network = records(source)
    project = json.loads(source.text) if source.kind == "project" else {}
    report = ImportReport()
    si = project.get("units") == "si"
    scale = 1 / FT_PER_M if si else 1.0  # back to the project's own plan units
    if result is None and analyse:
        result = analyze(source)
    node_results = {n["id"]: n for n in result["nodes"]} if result else {}
    features: List[Dict[str, Any]] = []
    nodes: Dict[str, Tuple[float, float]] = {}
    not_finite: List[str] = []
    source_nodes = project.get("nodes") or [None] * len(network["nodes"])
    for node, given in zip(network["nodes"], source_nodes):
        # The project's own plan coordinates, exactly as written; .rwn coordinates are feet.
        point = (float(given["x"]), float(given["y"])) if given else (node["x"] * scale, node["y"] * scale)
        nodes[node["id"]] = point
        properties = node_properties(given) if given else {
            "id": node["id"], "kind": node["kind"], "invert": node["invert"], "rim": node["rim"],
            "area_ac": node["area"], "c": node["c"], "tc_inlet": node["tc_inlet"]}
        _add_results(properties, node_results.get(node["id"], {}), ("id",), f"structure {node['id']}", not_finite)
        features.append(feature({"type": "Point", "coordinates": list(point)}, properties))
    pipe_results = result["pipes"] if result else [None] * len(network["pipes"])
    source_pipes = project.get("pipes") or [None] * len(network["pipes"])
    for pipe, given, outcome in zip(network["pipes"], source_pipes, pipe_results):
        up, down = nodes.get(pipe["from"]), nodes.get(pipe["to"])
        geometry = {"type": "LineString", "coordinates": [list(up), list(down)]} if up and down else None
        if geometry is None:
            report.dropped.append(("pipe", pipe["id"], f"an end ({pipe['from']!r} or {pipe['to']!r}) names no "
                                                       "structure, so it has no line"))
        properties = {key: given.get(key) for key in PIPE_KEYS if key in given} if given else {
            "id": pipe["id"], "from": pipe["from"], "to": pipe["to"], "length": pipe["length"],
            "diameter": pipe["rise"], "n": pipe["n"], "shape": pipe["shape"]}
        _add_results(properties, outcome or {}, ("id", "from", "to"), f"pipe {pipe['id']}", not_finite)
        features.append(feature(geometry, properties))
    for catchment in project.get("catchments", []):
        # Catchment outlines are kept in feet in every project: back to the plan units.
        ring = [[v[0] * scale, v[1] * scale] for v in catchment.get("vertices", [])]
        if len(ring) < 3:
            report.dropped.append(("catchment", str(catchment.get("id")),
                                   f"its outline has {len(ring)} corners, and a polygon needs three"))
            continue
        ring.append(list(ring[0]))  # a linear ring closes on its first position
        properties = {key: catchment.get(key) for key in CATCHMENT_KEYS}
        properties.update({key: value for key, value in catchment.items()
                           if key not in properties and key != "vertices" and value is not None})
        features.append(feature({"type": "Polygon", "coordinates": [ring]}, properties))
    if not_finite:
        report.notes.append("results that are not finite numbers are written as null: " + "; ".join(not_finite))
    collection: Dict[str, Any] = {"type": "FeatureCollection",
                                  "name": (result or {}).get("name") or project.get("name", ""), "features": features}
    if project:
        # The design settings ride along as a foreign member, so that a layer read back
        # analyses as the project did.
        collection[SETTINGS_MEMBER] = {k: v for k, v in project.items() if k not in ("nodes", "pipes", "catchments")}
    return collection, report


def _add_results(properties: Dict[str, Any], results: Dict[str, Any], skipped: Tuple[str, ...], what: str,
                 not_finite: List[str]) -> None:
    bad = []
    for key, value in results.items():
        if key in skipped:
            continue
        if isinstance(value, float) and not math.isfinite(value):
            bad.append(key)
        properties[f"result_{key}" if key in properties else key] = value
    if bad:
        not_finite.append(f"{what} ({', '.join(bad)})")


# --------------------------------------------------------------------------- features to a project
NODE_DEFAULTS = {"kind": "junction", "invert": None, "rim": None, "area_ac": 0.0, "c": 0.0, "tc_inlet": 0.0}
PIPE_DEFAULTS = {"length": None, "diameter": 0.0, "n": 0.013, "shape": "circular", "rise_ft": 0.0,
                 "span_ft": 0.0, "invert_up": None, "invert_dn": None}
TEXT_KEYS = ("id", "kind", "shape", "from", "to", "bypass_to", "benching", "inlet_node_id", "drains_to")
DEFAULT_SETTINGS = {"idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0, "junction_k": 0.5}


class Unusable(ValueError):
    """A feature the import cannot use: it is left out, and the report says why."""


def number(got: Any, key: str) -> Any:
    """`got` as the value of `key`: a finite number, or a text for the keys that are texts
    (a number there, as GIS programs store many ids, becomes its text)."""
    if got is None:
        return got
    if key in TEXT_KEYS:
        if isinstance(got, (int, float)) and not isinstance(got, bool) and math.isfinite(got):
            return str(got)
        if not isinstance(got, str):
            raise Unusable(f"its {key!r} is {json.dumps(got)}, not a text")
        return got
    if isinstance(got, bool) or not isinstance(got, (int, float)) or not math.isfinite(got):
        raise Unusable(f"its {key!r} is {json.dumps(got)}, not a finite number")
    return got


def _object(value: Any) -> Dict[str, Any]:
    return value if isinstance(value, dict) else {}


def listed(value: Any, what: str) -> List[Any]:
    if not isinstance(value, list):
        raise Unusable(f"its {what} is {json.dumps(value)[:40]}, not a list of positions")
    return value


def inlet_value(got: Any, key: str) -> Any:
    """An inlet key's value as a GIS attribute holds it: a number, a text or a boolean."""
    if isinstance(got, (bool, str)) or (isinstance(got, (int, float)) and math.isfinite(got)):
        return got
    raise Unusable(f"its {key!r} is {json.dumps(got)[:40]}, not a number, text or boolean")


def project_from_features(items: List[Dict[str, Any]], *, mapping: Optional[Dict[str, str]], tolerance: float,
                          name: str, settings: Optional[Dict[str, Any]], system: Optional[str],
                          transform: Optional[Transform], report: ImportReport,
                          where: Optional[List[str]] = None) -> Dict[str, Any]:
    """The project of point, line and polygon features (GeoJSON-like dicts) whose positions
    `transform` takes to plan coordinates (None: they are plan coordinates). `where[i]`
    names feature i in the report (default "feature i")."""
    names = dict(mapping or {})

    def value(props: Dict[str, Any], key: str, default: Any) -> Any:
        got = props.get(names.get(key, key))
        if got is None:
            if default is None:
                raise Unusable(f"it has no {names.get(key, key)!r}")
            return default
        return number(got, key)

    def plan(point: Any) -> Position:
        if not isinstance(point, list) or len(point) < 2 or not all(
                isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v) for v in point[:2]):
            raise Unusable("its coordinates are not a position")
        if transform is None:
            return [float(point[0]), float(point[1])]
        try:
            x, y = transform(point[0], point[1])
        except ValueError as error:
            raise Unusable(str(error)) from None
        return [x, y]

    def label(index: int, props: Dict[str, Any], fallback: str) -> str:
        ident = props.get(names.get("id", "id"))
        at = where[index] if where else f"feature {index}"
        return f"{ident!s} ({at})" if ident is not None else (at if where else f"{fallback} {index}")

    nodes, lines, catchments = [], [], []
    for index, item in enumerate(items):
        item = _object(item)
        geometry, props = _object(item.get("geometry")), _object(item.get("properties"))
        kind = geometry.get("type")
        try:
            if kind == "Point":
                nodes.append((index, props, plan(geometry.get("coordinates"))))
            elif kind == "LineString":
                line = [plan(p) for p in listed(geometry.get("coordinates"), "line")]
                if len(line) < 2:
                    raise Unusable("its line has fewer than two positions")
                lines.append((index, props, line))
            elif kind == "Polygon":
                rings = listed(geometry.get("coordinates"), "outline") or [[]]
                ring = [plan(p) for p in listed(rings[0], "outline")]
                if len(rings) > 1:
                    report.approximated.append(("catchment", label(index, props, "Polygon"),
                                                f"its {len(rings) - 1} holes are left out: a catchment is one outline"))
                if len(ring) > 1 and ring[0] == ring[-1]:
                    ring.pop()
                if len(ring) < 3:
                    raise Unusable("its outline has fewer than three corners")
                catchment = {"id": value(props, "id", f"A{index}"), "vertices": ring, "c": value(props, "c", None)}
                for key in ("flow_length_ft", "slope"):
                    catchment[key] = value(props, key, 0.0)
                    if props.get(names.get(key, key)) is None:
                        report.approximated.append(("catchment", label(index, props, "Polygon"),
                                                    f"no {names.get(key, key)!r}: 0 taken"))
                catchment["inlet_node_id"] = value(props, "inlet_node_id", False) or None
                for key in OPTIONAL_CATCHMENT_KEYS:  # what the SWMM import keeps for its export
                    if props.get(names.get(key, key)) is not None:
                        catchment[key] = value(props, key, None)
                catchments.append(catchment)
            else:
                raise Unusable(f"its geometry is {kind!r}, not a Point, LineString or Polygon" if kind
                               else "it has no geometry")
        except Unusable as why:
            report.dropped.append(("feature", label(index, props, "feature"), str(why)))
    project_nodes = []
    for index, props, point in nodes:
        try:
            node: Dict[str, Any] = {"id": value(props, "id", None), "x": point[0], "y": point[1]}
            for key, default in NODE_DEFAULTS.items():
                node[key] = value(props, key, default)
            inlet = {key[len(INLET_PREFIX):]: inlet_value(got, key) for key, got in props.items()
                     if key.startswith(INLET_PREFIX) and got is not None}
            refused = _inlet_refused(node, inlet) if inlet else None
            if refused:
                # A foreign layer's own inlet columns (an inventory's `inlet_type` "CB") leave the
                # structure as it is: only the inlet is left out.
                report.dropped.append(("inlet", label(index, props, "Point"), refused))
            elif inlet:
                node["inlet"] = inlet
            for key in OPTIONAL_NODE_KEYS:
                got = value(props, key, False)
                if got is not False:
                    node[key] = got
            project_nodes.append(node)
        except Unusable as why:
            report.dropped.append(("structure", label(index, props, "Point"), str(why)))
    positions = [(n["id"], n["x"], n["y"]) for n in project_nodes]
    ids = {n["id"] for n in project_nodes}
    pipes = []
    for index, props, line in lines:
        named_id = props.get(names.get("id", "id"))
        ident = str(named_id) if named_id is not None else f"L{index}"
        try:
            ends: List[str] = []
            for key, position in (("from", line[0]), ("to", line[-1])):
                named = number(props.get(names.get(key, key)), key)
                if named is not None:
                    if named not in ids:
                        raise Unusable(f"its {key!r} end names structure {named!r}, which is not in the import")
                    ends.append(named)
                else:
                    ends.append(_nearest(positions, position, tolerance, key))
            if ends[0] == ends[1]:
                # Surveyed stubs shorter than the join tolerance snap both ends to one structure.
                raise Unusable(f"both its ends join structure {ends[0]!r}")
            pipe: Dict[str, Any] = {"id": ident, "from": ends[0], "to": ends[1]}
            drawn = sum(math.dist(line[k][:2], line[k + 1][:2]) for k in range(len(line) - 1))
            for key, default in PIPE_DEFAULTS.items():
                fallback = drawn if key == "length" else default
                if key in ("invert_up", "invert_dn"):
                    pipe[key] = number(props.get(names.get(key, key)), key)
                else:
                    pipe[key] = value(props, key, fallback)
            if not pipe["diameter"]:
                if pipe["shape"] == "circular" or not pipe["rise_ft"]:
                    raise Unusable(f"it has no {names.get('diameter', 'diameter')!r}")
                pipe["diameter"] = pipe["rise_ft"]
            pipes.append(pipe)
        except Unusable as why:
            where_text = where[index] if where else f"feature {index}"
            report.dropped.append(("pipe", f"{ident} ({where_text})", str(why)))
    project: Dict[str, Any] = {"name": name, **DEFAULT_SETTINGS}
    if isinstance(settings, dict):
        project.update(settings)
    if system is not None:
        project["crs"] = system
    if project.get("units") == "si":
        # Catchment outlines are kept in feet in every project.
        for catchment in catchments:
            catchment["vertices"] = [[x * FT_PER_M, y * FT_PER_M] for x, y in catchment["vertices"]]
    project.update(nodes=project_nodes, pipes=pipes, catchments=catchments)
    if not pipes:
        raise ValueError("the layer has no pipe the import can use" + "".join(f"; {line}" for line in report.lines()))
    return project


def _inlet_refused(node: Dict[str, Any], inlet: Dict[str, Any]) -> Optional[str]:
    """Why the project reader refuses this inlet object, or None when it takes it."""
    alone = {"name": "inlet", **DEFAULT_SETTINGS, "nodes": [dict(node, inlet=inlet)], "pipes": [], "catchments": []}
    try:
        records(Source("<inlet>", "project", json.dumps(alone)))
    except ValueError as error:
        reason = re.sub(r" at line \d+ column \d+$", "", str(error))
        return reason.replace("invalid project JSON: ", "", 1)
    return None


def _nearest(positions: List[Tuple[str, float, float]], point: Position, tolerance: float, end: str) -> str:
    best, distance = None, math.inf
    for ident, x, y in positions:
        d = math.hypot(x - point[0], y - point[1])
        if d < distance:
            best, distance = ident, d
    if best is None or distance > tolerance:
        raise Unusable(f"no structure within {tolerance:g} of its {end!r} end and no {end!r} attribute")
    return best
