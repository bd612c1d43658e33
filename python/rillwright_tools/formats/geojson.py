"""GeoJSON for GIS: a network and its results out as a FeatureCollection, and a project
built from a layer of structures (Points) and pipes (LineStrings).

GeoJSON is defined in longitude and latitude (WGS 84, RFC 7946): a network that names its
coordinate reference system (`crs`) is reprojected on the way out and back on the way in;
plan coordinates are written only when asked for, and then marked as such."""

from __future__ import annotations

import json
import os
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple, Union

from . import crs as _crs
from ..inputs import Source
from .common import ImportReport, mark_import, project_text
from .features import (PLAN_MEMBER, REPORT_MEMBER, SETTINGS_MEMBER, Transform, plan_collection, project_crs,
                       project_from_features)


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
    collection, report = plan_collection(source, result, analyse)
    if transform is not None:
        _reproject(collection, transform)
    else:
        collection[PLAN_MEMBER] = {"crs": system, "note": "coordinates are the network's plan coordinates, "
                                                          "not WGS 84 longitude and latitude"}
    if system is not None and SETTINGS_MEMBER in collection:
        collection[SETTINGS_MEMBER]["crs"] = system
    if report.lines():
        collection[REPORT_MEMBER] = report.lines()
    return collection


def _reproject(collection: Dict[str, Any], transform: Transform) -> None:
    for item in collection["features"]:
        geometry = item["geometry"]
        if geometry is None:
            continue
        kind = geometry["type"]
        what = {"Point": "structure", "LineString": "pipe"}.get(kind, "catchment")
        try:
            if kind == "Point":
                geometry["coordinates"] = list(transform(*geometry["coordinates"]))
            elif kind == "LineString":
                geometry["coordinates"] = _crs.transform_all(geometry["coordinates"], transform)
            else:
                geometry["coordinates"] = [_crs.transform_all(ring, transform) for ring in geometry["coordinates"]]
        except ValueError as error:
            raise ValueError(f"{what} {item['properties'].get('id')!r}: {error}") from None


def load(obj_or_path: Union[Dict[str, Any], str, "os.PathLike[str]"]) -> Dict[str, Any]:
    if isinstance(obj_or_path, dict):
        return obj_or_path
    if not isinstance(obj_or_path, (str, os.PathLike)):
        raise ValueError(f"expected a GeoJSON object or the path of a GeoJSON file, not {type(obj_or_path).__name__}")
    with open(Path(os.fspath(obj_or_path)), encoding="utf-8") as handle:
        try:
            loaded = json.load(handle)
        except json.JSONDecodeError as error:
            raise ValueError(f"{os.fspath(obj_or_path)}: not JSON: {error}") from None
        except UnicodeDecodeError as error:
            raise ValueError(f"{os.fspath(obj_or_path)}: not UTF-8 text (GeoJSON is): {error}") from None
    if not isinstance(loaded, dict):
        raise ValueError(f"{os.fspath(obj_or_path)}: not a GeoJSON object")
    return loaded


def source_system(collection: Dict[str, Any], crs: Optional[str], report: ImportReport
                  ) -> Tuple[Optional[str], Optional[str]]:
    """(the system to read longitude and latitude into, or None to keep the coordinates as
    they stand; the system the project's plan coordinates are in, when one is named)."""
    for member in (PLAN_MEMBER, SETTINGS_MEMBER):
        if collection.get(member) is not None and not isinstance(collection[member], dict):
            raise ValueError(f"the collection's member {member!r} is {json.dumps(collection[member])[:40]}, "
                             "not an object")
    marked = collection.get(PLAN_MEMBER)
    given = collection.get(SETTINGS_MEMBER)
    settings: Dict[str, Any] = given if isinstance(given, dict) else {}
    system = crs if crs is not None else settings.get("crs")
    if isinstance(marked, dict):
        report.notes.append("the layer holds plan coordinates: they are kept as they stand")
        named = system if system is not None else marked.get("crs")
        return None, named if isinstance(named, str) else None
    if system is None:
        report.notes.append("no coordinate reference system given (crs=, --crs): coordinates are kept as they stand")
    return system, system


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
    report = ImportReport()
    lonlat_to, plan_system = source_system(collection, crs, report)
    back = _crs.from_lonlat(lonlat_to) if lonlat_to is not None else None
    settings = collection.get(SETTINGS_MEMBER)
    project = project_from_features(collection["features"], mapping=mapping, tolerance=tolerance, name=name,
                                    settings=settings if isinstance(settings, dict) else None, system=plan_system,
                                    transform=back, report=report)
    if isinstance(project.get("crs"), str):
        report.notes.append(_crs.placement(project["crs"], [(n["x"], n["y"]) for n in project["nodes"]]))
    mark_import(project, "GeoJSON", report, storm_given=isinstance(settings, dict) and "idf_a" in settings)
    return project_text(project), report
