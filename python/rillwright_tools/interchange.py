"""The public functions that bring networks in from SWMM and GIS and take them out again,
with the `source` rule of every companion function."""

from __future__ import annotations

import os
from typing import Any, Dict, Optional, Tuple, Union

from .formats import geojson as _geojson
from .formats.swmm import read as _swmm_read
from .formats.swmm import write as _swmm_write
from .inputs import resolve

PathOrText = Union[str, "os.PathLike[str]"]


def read_swmm(path_or_text: PathOrText, *, c_pervious: float = 0.2,
              c_impervious: float = 0.9) -> Tuple[str, "_swmm_read.ImportReport"]:
    """A SWMM 5 model (path, or its text) as (project JSON text, report of every element
    dropped or approximated, by id, and of every section not read). C = c_pervious +
    (c_impervious - c_pervious) x %impervious / 100, except where the model's own export
    tag gives C exactly. A link end below its node's invert is set at the invert, as SWMM
    sets it, and reported; an EPSG code in the title (or a .prj beside the file) becomes
    the project's crs, reported with the plan extent in longitude and latitude. A model
    with a loop is read (the analysis names the loop). ValueError names the section and
    line of a malformed line."""
    return _swmm_read.read_swmm(path_or_text, c_pervious=c_pervious, c_impervious=c_impervious)


def write_swmm(source: Optional[PathOrText] = None, *, text: Optional[str] = None,
               format: Optional[str] = None) -> str:
    """The network as a SWMM 5 model that runs as it stands (dynamic wave, each structure's
    own design runoff as a constant inflow, FREE outfalls or FIXED at the tailwater). Each
    structure's loss at the design flow is the entry-loss coefficient of the conduit
    leaving it ([LOSSES]: K = loss / velocity head), the design flow's equivalent."""
    return _swmm_write.write_swmm(resolve(source, text=text, format=format))


def to_geojson(source: Optional[PathOrText] = None, result: Optional[Dict[str, Any]] = None, *,
               text: Optional[str] = None, format: Optional[str] = None,
               analyse: bool = True, crs: Optional[str] = None,
               plan_coordinates: bool = False) -> Dict[str, Any]:
    """The network as a GeoJSON FeatureCollection: structures as Points, pipes as
    LineStrings, catchments as Polygons, each with its inputs and (from `result`, or an
    analysis when `analyse` is true) its results; values that are not finite are null.
    Coordinates are longitude and latitude (WGS 84) reprojected from the project's `crs`
    (or `crs`, which needs pyproj: `pip install "rillwright[gis]"`); a network without one
    is refused unless `plan_coordinates` writes its plan coordinates, marked as such.
    A structure's inlet travels as properties `inlet_<key>` beside `bypass_to`; what the
    collection cannot carry is listed in its member `rillwright_export_report`."""
    return _geojson.to_geojson(resolve(source, text=text, format=format), result, analyse=analyse,
                               crs=crs, plan_coordinates=plan_coordinates)


def from_geojson(obj_or_path: Union[Dict[str, Any], PathOrText],
                 mapping: Optional[Dict[str, str]] = None, *, tolerance: float = 1.0,
                 name: str = "GeoJSON network", crs: Optional[str] = None) -> Tuple[str, "_swmm_read.ImportReport"]:
    """(project JSON text, report) from a FeatureCollection of Points (structures) and
    LineStrings (pipes), longitude and latitude read into `crs` (default: the system the
    layer's settings name; without either, coordinates are kept as they stand). `mapping`
    maps project keys (of structures, pipes and catchments) to attribute names; attributes
    `inlet_<key>` make a structure's inlet. A line's ends join structures by its
    `from`/`to` attributes, else the nearest structure within `tolerance`. Every feature
    the import cannot use is left out and named in the report with its reason, and the
    report names the coordinate system taken and where it puts the plan."""
    return _geojson.from_geojson(obj_or_path, mapping, tolerance=tolerance, name=name, crs=crs)


def to_geopackage(source: Optional[PathOrText], out: PathOrText, *, text: Optional[str] = None,
                  format: Optional[str] = None, result: Optional[Dict[str, Any]] = None,
                  analyse: bool = True, crs: Optional[str] = None) -> "_swmm_read.ImportReport":
    """Writes the network to the GeoPackage `out`: layers `structures` (points), `pipes`
    (lines) and `catchments` (polygons) with the project's attributes (a structure's inlet
    as columns `inlet_<key>`) and (from `result`, or an analysis when `analyse` is true) the
    results, in the project's `crs` (or `crs`). Returns the report of what the package
    could not carry; a write that fails leaves no file."""
    from .formats import geopackage

    return geopackage.write_geopackage(resolve(source, text=text, format=format), out, result,
                                analyse=analyse, crs=crs)


def from_geopackage(path: PathOrText, mapping: Optional[Dict[str, str]] = None, *,
                    tolerance: float = 1.0) -> Tuple[str, "_swmm_read.ImportReport"]:
    """(project JSON text, report) from a GeoPackage's `structures`, `pipes` and
    `catchments` layers (`mapping` and `tolerance` as for `from_geojson`); the project keeps
    the package's coordinate system as its `crs`. Z and M coordinates are dropped and
    single-part Multi* geometries read, with report lines; a file that is not a readable
    GeoPackage is a ValueError naming the file and the table or feature. Needs shapely."""
    from .formats import geopackage

    return geopackage.read_geopackage(path, mapping, tolerance=tolerance)


def read_landxml(path_or_text: PathOrText) -> Tuple[str, "_swmm_read.ImportReport"]:
    """(project JSON text, report) from the pipe networks of a LandXML 1.2 file (a path,
    or its text), in the file's own units; ValueError names the element that is missing
    or wrong, and both names when a pipe refers to a missing structure."""
    from .formats.landxml import read as landxml_read

    return landxml_read.read_landxml(path_or_text)


def write_landxml(source: Optional[PathOrText] = None, *, text: Optional[str] = None,
                  format: Optional[str] = None) -> Tuple[str, "_swmm_read.ImportReport"]:
    """(LandXML 1.2 text, report) of a project: structures with centres, rims and sumps,
    pipes with shapes, sizes and, on each end structure's Invert, their inverts."""
    from .formats.landxml import write as landxml_write

    return landxml_write.write_landxml(resolve(source, text=text, format=format))


def plan_view(source: Optional[PathOrText], out: PathOrText, *, text: Optional[str] = None,
              format: Optional[str] = None, result: Optional[Dict[str, Any]] = None) -> None:
    """Draws the network in plan to `out` (.png or .svg): pipes coloured by design flow /
    capacity, flooded structures and outfalls marked, catchments shaded, ids, scale bar
    and north arrow. Needs matplotlib (`pip install "rillwright[plot]"`)."""
    from .drawing import plan
    from .inputs import analyze

    network = resolve(source, text=text, format=format)
    plan.draw_plan(network, result if result is not None else analyze(network), os.fspath(out))
