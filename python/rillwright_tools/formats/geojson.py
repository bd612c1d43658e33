"""GeoJSON for GIS: a network and its results out as a FeatureCollection, and a project
built from a layer of structures (Points) and pipes (LineStrings).

GeoJSON is defined in longitude and latitude (WGS 84, RFC 7946): a network that names its
coordinate reference system (`crs`) is reprojected on the way out and back on the way in;
plan coordinates are written only when asked for, and then marked as such."""

from __future__ import annotations

import json
import math
import os
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple, Union

from . import crs as _crs
from ..inputs import Source, analyze, records
from .common import ImportReport, mark_import
from ..units import FT_PER_M

SETTINGS_MEMBER = "rillwright_project"
NODE_KEYS = ("id", "kind", "invert", "rim", "area_ac", "c", "tc_inlet")
PIPE_KEYS = ("id", "from", "to", "length", "diameter", "n", "shape", "rise_ft", "span_ft", "invert_up", "invert_dn")
CATCHMENT_KEYS = ("id", "c", "flow_length_ft", "slope", "inlet_node_id")


def finite(value: Any) -> Any:
    """JSON has no NaN or infinity: such values become null."""
    if isinstance(value, float) and not math.isfinite(value):
        return None
    return value


def feature(geometry: Dict[str, Any], properties: Dict[str, Any]) -> Dict[str, Any]:
    return {"type": "Feature", "geometry": geometry,
            "properties": {key: finite(value) for key, value in properties.items()}}


PLAN_MEMBER = "rillwright_plan_coordinates"


def project_crs(source: Source, crs: Optional[str]) -> Optional[str]:
    """The system the plan coordinates are in: `crs` when given, else the project's own."""
    if crs is not None:
        return crs
    if source.kind != "project":
        return None
    named = json.loads(source.text).get("crs")
    return named if isinstance(named, str) else None


def to_geojson(source: Source, result: Optional[Dict[str, Any]] = None, *, analyse: bool = True,
               crs: Optional[str] = None, plan_coordinates: bool = False) -> Dict[str, Any]:
    """Structures as Points, pipes as LineStrings from the upstream to the downstream
    structure, catchments as Polygons, in longitude and latitude (WGS 84) from the
    project's `crs` (or `crs`), as GeoJSON is defined; with `plan_coordinates`, in the plan
    coordinates themselves, said in a foreign member. Inputs are in the project's units
    (US customary for .rwn); results are in US customary units, as the analysis reports them."""
    system = project_crs(source, crs)
    transform: Optional[_crs.Transform] = None
    if not plan_coordinates:
        if system is None:
            raise ValueError("the network names no coordinate reference system, and GeoJSON is longitude and "
                             "latitude: set the project's 'crs' (or give crs=, --crs), or write plan coordinates "
                             "with plan_coordinates=True (--plan-coordinates)")
        transform = _crs.to_lonlat(system)
    collection = plan_collection(source, result, analyse)
    if transform is not None:
        _reproject(collection, transform)
    else:
        collection[PLAN_MEMBER] = {"crs": system, "note": "coordinates are the network's plan coordinates, "
                                                          "not WGS 84 longitude and latitude"}
    if system is not None and SETTINGS_MEMBER in collection:
        collection[SETTINGS_MEMBER]["crs"] = system
    return collection


def _reproject(collection: Dict[str, Any], transform: "_crs.Transform") -> None:
    for item in collection["features"]:
        geometry = item["geometry"]
        if geometry is None:
            continue
        if geometry["type"] == "Point":
            geometry["coordinates"] = list(transform(*geometry["coordinates"]))
        elif geometry["type"] == "LineString":
            geometry["coordinates"] = _crs.transform_all(geometry["coordinates"], transform)
        else:
            geometry["coordinates"] = [_crs.transform_all(ring, transform) for ring in geometry["coordinates"]]


def plan_collection(source: Source, result: Optional[Dict[str, Any]], analyse: bool) -> Dict[str, Any]:
    network = records(source)
    project = json.loads(source.text) if source.kind == "project" else {}
    si = project.get("units") == "si"
    scale = 1 / FT_PER_M if si else 1.0  # back to the project's own plan units
    if result is None and analyse:
        result = analyze(source)
    node_results = {n["id"]: n for n in result["nodes"]} if result else {}
    features: List[Dict[str, Any]] = []
    nodes: Dict[str, Tuple[float, float]] = {}
    source_nodes = project.get("nodes") or [None] * len(network["nodes"])
    for node, given in zip(network["nodes"], source_nodes):
        # The project's own plan coordinates, exactly as written; .rwn coordinates are feet.
        point = (float(given["x"]), float(given["y"])) if given else (node["x"] * scale, node["y"] * scale)
        nodes[node["id"]] = point
        properties = {key: given.get(key) for key in NODE_KEYS} if given else {
            "id": node["id"], "kind": node["kind"], "invert": node["invert"], "rim": node["rim"],
            "area_ac": node["area"], "c": node["c"], "tc_inlet": node["tc_inlet"]}
        for key, value in node_results.get(node["id"], {}).items():
            if key != "id":
                properties[f"result_{key}" if key in properties else key] = value
        features.append(feature({"type": "Point", "coordinates": list(point)}, properties))
    pipe_results = result["pipes"] if result else [None] * len(network["pipes"])
    source_pipes = project.get("pipes") or [None] * len(network["pipes"])
    for pipe, given, outcome in zip(network["pipes"], source_pipes, pipe_results):
        up, down = nodes.get(pipe["from"]), nodes.get(pipe["to"])
        geometry = {"type": "LineString", "coordinates": [list(up), list(down)]} if up and down else None
        properties = {key: given.get(key) for key in PIPE_KEYS if key in given} if given else {
            "id": pipe["id"], "from": pipe["from"], "to": pipe["to"], "length": pipe["length"],
            "diameter": pipe["rise"], "n": pipe["n"], "shape": pipe["shape"]}
        for key, value in (outcome or {}).items():
            if key not in ("id", "from", "to"):
                properties[key] = value
        features.append(feature(geometry, properties))  # type: ignore[arg-type]
    for catchment in project.get("catchments", []):
        # Catchment outlines are kept in feet in every project: back to the plan units.
        ring = [[v[0] * scale, v[1] * scale] for v in catchment.get("vertices", [])]
        if len(ring) < 3:
            continue
        ring.append(list(ring[0]))  # a linear ring closes on its first position
        properties = {key: catchment.get(key) for key in CATCHMENT_KEYS}
        if catchment.get("drains_to") is not None:
            properties["drains_to"] = catchment["drains_to"]
        features.append(feature({"type": "Polygon", "coordinates": [ring]}, properties))
    collection: Dict[str, Any] = {"type": "FeatureCollection",
                                  "name": (result or {}).get("name") or project.get("name", ""), "features": features}
    if project:
        # The design settings ride along as a foreign member, so that a layer read back
        # analyses as the project did.
        collection[SETTINGS_MEMBER] = {k: v for k, v in project.items() if k not in ("nodes", "pipes", "catchments")}
    return collection


def load(obj_or_path: Union[Dict[str, Any], str, "os.PathLike[str]"]) -> Dict[str, Any]:
    if isinstance(obj_or_path, dict):
        return obj_or_path
    with open(Path(os.fspath(obj_or_path)), encoding="utf-8") as handle:
        try:
            loaded = json.load(handle)
        except json.JSONDecodeError as error:
            raise ValueError(f"{os.fspath(obj_or_path)}: not JSON: {error}") from None
    if not isinstance(loaded, dict):
        raise ValueError(f"{os.fspath(obj_or_path)}: not a GeoJSON object")
    return loaded


NODE_DEFAULTS = {"kind": "junction", "invert": None, "rim": None, "area_ac": 0.0, "c": 0.0, "tc_inlet": 0.0}
PIPE_DEFAULTS = {"length": None, "diameter": 0.0, "n": 0.013, "shape": "circular", "rise_ft": 0.0,
                 "span_ft": 0.0, "invert_up": None, "invert_dn": None}
TEXT_KEYS = ("id", "kind", "shape", "from", "to")


class Unusable(ValueError):
    """A feature the import cannot use: it is left out, and the report says why."""


def number(got: Any, key: str) -> Any:
    if key in TEXT_KEYS or got is None:
        return got
    if isinstance(got, bool) or not isinstance(got, (int, float)) or not math.isfinite(got):
        raise Unusable(f"its {key!r} is {json.dumps(got)}, not a finite number")
    return got


def source_system(collection: Dict[str, Any], crs: Optional[str], report: ImportReport) -> Optional[str]:
    """The system to read the coordinates into, or None to keep them as they stand."""
    marked = collection.get(PLAN_MEMBER)
    settings = collection.get(SETTINGS_MEMBER) if isinstance(collection.get(SETTINGS_MEMBER), dict) else {}
    system = crs if crs is not None else settings.get("crs")
    if isinstance(marked, dict):
        report.notes.append("the layer holds plan coordinates: they are kept as they stand")
        return None
    if system is None:
        report.notes.append("no coordinate reference system given (crs=, --crs): coordinates are kept as they stand")
    return system


def from_geojson(obj_or_path: Union[Dict[str, Any], str, "os.PathLike[str]"],
                 mapping: Optional[Dict[str, str]] = None, *, tolerance: float = 1.0,
                 name: str = "GeoJSON network", crs: Optional[str] = None) -> Tuple[str, ImportReport]:
    """(project JSON text, report) from Points (structures) and LineStrings (pipes), with
    Polygons as catchments and the design settings that `to_geojson` wrote. Longitude and
    latitude are read into `crs` (default: the `crs` the layer's settings carry), which the
    project keeps. `mapping` maps a project key ("id", "kind", "invert", "rim", "diameter",
    "from", "to", ...) to the attribute that holds it. A pipe's length defaults to the
    length of its line. Every feature that cannot be used (no geometry, a missing value,
    a text where a number belongs, an end that joins no structure) is left out and named
    in the report with its reason."""
    collection = load(obj_or_path)
    if collection.get("type") != "FeatureCollection" or not isinstance(collection.get("features"), list):
        raise ValueError("expected a GeoJSON FeatureCollection")
    names = dict(mapping or {})
    report = ImportReport()
    system = source_system(collection, crs, report)
    back = _crs.from_lonlat(system) if system is not None else None

    def value(props: Dict[str, Any], key: str, default: Any, what: str) -> Any:
        got = props.get(names.get(key, key))
        if got is None:
            if default is None:
                raise Unusable(f"it has no {names.get(key, key)!r}")
            return default
        return number(got, key)

    def plan(point: Any) -> List[float]:
        if not isinstance(point, list) or len(point) < 2 or not all(
                isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v) for v in point[:2]):
            raise Unusable("its coordinates are not a position")
        return list(back(point[0], point[1])) if back else [float(point[0]), float(point[1])]

    def label(index: int, props: Dict[str, Any], fallback: str) -> str:
        ident = props.get(names.get("id", "id"))
        return f"{ident!s} (feature {index})" if ident is not None else f"{fallback} {index}"

    nodes, lines, catchments = [], [], []
    for index, item in enumerate(collection["features"]):
        item = item if isinstance(item, dict) else {}
        geometry = item.get("geometry") if isinstance(item.get("geometry"), dict) else {}
        props = item.get("properties") if isinstance(item.get("properties"), dict) else {}
        kind = geometry.get("type")
        try:
            if kind == "Point":
                nodes.append((index, props, plan(geometry.get("coordinates"))))
            elif kind == "LineString":
                line = [plan(p) for p in geometry.get("coordinates") or []]
                if len(line) < 2:
                    raise Unusable("its line has fewer than two positions")
                lines.append((index, props, line))
            elif kind == "Polygon":
                rings = geometry.get("coordinates") or [[]]
                ring = [plan(p) for p in rings[0]]
                if len(ring) > 1 and ring[0] == ring[-1]:
                    ring.pop()
                if len(ring) < 3:
                    raise Unusable("its outline has fewer than three corners")
                catchments.append({"id": str(props.get("id", f"A{index}")), "vertices": ring,
                                   "c": number(props.get("c"), "c") or 0.0,
                                   "flow_length_ft": number(props.get("flow_length_ft"), "flow_length_ft") or 0.0,
                                   "slope": number(props.get("slope"), "slope") or 0.0,
                                   "inlet_node_id": props.get("inlet_node_id"),
                                   **({"drains_to": props["drains_to"]} if props.get("drains_to") else {})})
            else:
                raise Unusable(f"its geometry is {kind!r}, not a Point, LineString or Polygon" if kind
                               else "it has no geometry")
        except Unusable as why:
            report.dropped.append(("feature", label(index, props, "feature"), str(why)))
    project_nodes = []
    for index, props, point in nodes:
        try:
            ident = str(value(props, "id", None, ""))
            node: Dict[str, Any] = {"id": ident, "x": point[0], "y": point[1]}
            for key, default in NODE_DEFAULTS.items():
                node[key] = value(props, key, default, "")
            project_nodes.append(node)
        except Unusable as why:
            report.dropped.append(("structure", label(index, props, "Point"), str(why)))
    positions = [(n["id"], n["x"], n["y"]) for n in project_nodes]
    ids = {n["id"] for n in project_nodes}
    pipes = []
    for index, props, line in lines:
        ident = str(props.get(names.get("id", "id"), f"L{index}"))
        try:
            ends: List[str] = []
            for key, position in (("from", line[0]), ("to", line[-1])):
                named = props.get(names.get(key, key))
                if named is not None:
                    if str(named) not in ids:
                        raise Unusable(f"its {key!r} end names structure {named!r}, which is not in the import")
                    ends.append(str(named))
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
                    pipe[key] = value(props, key, fallback, "")
            if not pipe["diameter"]:
                if pipe["shape"] == "circular" or not pipe["rise_ft"]:
                    raise Unusable(f"it has no {names.get('diameter', 'diameter')!r}")
                pipe["diameter"] = pipe["rise_ft"]
            pipes.append(pipe)
        except Unusable as why:
            report.dropped.append(("pipe", f"{ident} (feature {index})", str(why)))
    project = {"name": name, "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0, "junction_k": 0.5}
    settings = collection.get(SETTINGS_MEMBER)
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
    mark_import(project, "GeoJSON", report, storm_given=isinstance(settings, dict) and "idf_a" in settings)
    return json.dumps(project, indent=1), report


def _nearest(positions: List[Tuple[str, float, float]], point: List[float], tolerance: float,
             end: str) -> str:
    best, distance = None, math.inf
    for ident, x, y in positions:
        d = math.hypot(x - point[0], y - point[1])
        if d < distance:
            best, distance = ident, d
    if best is None or distance > tolerance:
        raise Unusable(f"no structure within {tolerance:g} of its {end!r} end and no {end!r} attribute")
    return best
