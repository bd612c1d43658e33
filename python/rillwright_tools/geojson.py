"""GeoJSON for GIS: a network and its results out as a FeatureCollection, and a project
built from a layer of structures (Points) and pipes (LineStrings).

Coordinates are the plan coordinates of the project as they stand (no reprojection):
GeoJSON readers take them as whatever system the layer is declared in."""

from __future__ import annotations

import json
import math
import os
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple, Union

from .inputs import Source, analyze, records
from .swmm_read import FT_PER_M

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


def to_geojson(source: Source, result: Optional[Dict[str, Any]] = None, *, analyse: bool = True) -> Dict[str, Any]:
    """Structures as Points, pipes as LineStrings from the upstream to the downstream
    structure, catchments as Polygons. Inputs are in the project's units (US customary for
    .rwn); results are in US customary units, as the analysis reports them."""
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
        point = (node["x"] * scale, node["y"] * scale)
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


def from_geojson(obj_or_path: Union[Dict[str, Any], str, "os.PathLike[str]"],
                 mapping: Optional[Dict[str, str]] = None, *, tolerance: float = 1.0,
                 name: str = "GeoJSON network") -> str:
    """A project from Points (structures) and LineStrings (pipes), with Polygons as
    catchments and the design settings that `to_geojson` wrote. `mapping` maps a
    project key ("id", "kind", "invert", "rim", "diameter", "from", "to", ...) to the
    attribute that holds it. A pipe's length defaults to the length of its line; every
    other missing required value is an error naming the feature."""
    collection = load(obj_or_path)
    if collection.get("type") != "FeatureCollection" or not isinstance(collection.get("features"), list):
        raise ValueError("expected a GeoJSON FeatureCollection")
    names = dict(mapping or {})

    def value(props: Dict[str, Any], key: str, default: Any, what: str) -> Any:
        got = props.get(names.get(key, key))
        if got is None:
            if default is None:
                raise ValueError(f"{what} has no {names.get(key, key)!r}")
            return default
        return got

    nodes, lines, catchments = [], [], []
    for index, item in enumerate(collection["features"]):
        geometry = (item or {}).get("geometry") or {}
        props = (item or {}).get("properties") or {}
        kind = geometry.get("type")
        if kind == "Point":
            nodes.append((index, props, geometry.get("coordinates") or []))
        elif kind == "LineString":
            lines.append((index, props, geometry.get("coordinates") or []))
        elif kind == "Polygon" and geometry.get("coordinates"):
            ring = [list(map(float, p[:2])) for p in geometry["coordinates"][0]]
            if len(ring) > 1 and ring[0] == ring[-1]:
                ring.pop()
            catchments.append({"id": str(props.get("id", f"A{index}")), "vertices": ring,
                               "c": props.get("c") or 0.0, "flow_length_ft": props.get("flow_length_ft") or 0.0,
                               "slope": props.get("slope") or 0.0, "inlet_node_id": props.get("inlet_node_id"),
                               **({"drains_to": props["drains_to"]} if props.get("drains_to") else {})})
    project_nodes = []
    for index, props, point in nodes:
        what = f"feature {index} (Point)"
        ident = str(value(props, "id", None, what))
        what = f"structure {ident!r}"
        if len(point) < 2:
            raise ValueError(f"{what} has no coordinates")
        node: Dict[str, Any] = {"id": ident, "x": float(point[0]), "y": float(point[1])}
        for key, default in NODE_DEFAULTS.items():
            node[key] = value(props, key, default, what)
        project_nodes.append(node)
    positions = [(n["id"], n["x"], n["y"]) for n in project_nodes]
    ids = {n["id"] for n in project_nodes}
    pipes = []
    for index, props, line in lines:
        ident = str(value(props, "id", f"L{index}", f"feature {index}"))
        what = f"pipe {ident!r} (feature {index})"
        if len(line) < 2:
            raise ValueError(f"{what} has fewer than two positions")
        ends: List[str] = []
        for key, position in (("from", line[0]), ("to", line[-1])):
            named = props.get(names.get(key, key))
            if named is not None:
                if str(named) not in ids:
                    raise ValueError(f"{what} names unknown structure {named!r} as its {key!r} end")
                ends.append(str(named))
            else:
                ends.append(_nearest(positions, position, tolerance, what, key))
        pipe: Dict[str, Any] = {"id": ident, "from": ends[0], "to": ends[1]}
        drawn = sum(math.dist(line[k][:2], line[k + 1][:2]) for k in range(len(line) - 1))
        for key, default in PIPE_DEFAULTS.items():
            fallback = drawn if key == "length" else default
            if key in ("invert_up", "invert_dn"):
                pipe[key] = props.get(names.get(key, key))
            else:
                pipe[key] = value(props, key, fallback, what)
        if not pipe["diameter"]:
            if pipe["shape"] == "circular" or not pipe["rise_ft"]:
                raise ValueError(f"{what} has no {names.get('diameter', 'diameter')!r}")
            pipe["diameter"] = pipe["rise_ft"]
        pipes.append(pipe)
    project = {"name": name, "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0, "junction_k": 0.5}
    settings = collection.get(SETTINGS_MEMBER)
    if isinstance(settings, dict):
        project.update(settings)
    if project.get("units") == "si":
        for catchment in catchments:
            catchment["vertices"] = [[x * FT_PER_M, y * FT_PER_M] for x, y in catchment["vertices"]]
    project.update(nodes=project_nodes, pipes=pipes, catchments=catchments)
    return json.dumps(project, indent=1)


def _nearest(positions: List[Tuple[str, float, float]], point: List[float], tolerance: float,
             what: str, end: str) -> str:
    best, distance = None, math.inf
    for ident, x, y in positions:
        d = math.hypot(x - point[0], y - point[1])
        if d < distance:
            best, distance = ident, d
    if best is None or distance > tolerance:
        raise ValueError(f"{what}: no structure within {tolerance:g} of its {end!r} end "
                         f"and no {end!r} attribute")
    return best
