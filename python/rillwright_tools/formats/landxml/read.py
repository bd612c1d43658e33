"""LandXML 1.2 pipe networks in: structures, pipes, their shapes, sizes and inverts, in
the file's own units (feet, international or US survey, inches, metres, millimetres and
the rest), as a project in feet or metres. A file written by rillwright reads back with
its design settings; any other file gets the defaults and a report of what was assumed."""

from __future__ import annotations

import json
import math
import os
import xml.etree.ElementTree as ET
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple, Union

from .names import FEATURE_CODE, INLET_PREFIX, SETTINGS_LABEL
from ..common import ImportReport, mark_import, project_text
from ..crs import placement

# Metres per unit; imperial files become feet projects, metric ones metre projects.
METRES = {"foot": 0.3048, "feet": 0.3048, "USSurveyFoot": 1200.0 / 3937.0, "inch": 0.0254, "mile": 1609.344,
          "millimeter": 0.001, "centimeter": 0.01, "meter": 1.0, "kilometer": 1000.0}
DEFAULT_N = 0.013

PathOrText = Union[str, "os.PathLike[str]"]


def local(tag: str) -> str:
    return tag.rsplit("}", 1)[-1]


def children(element: ET.Element, name: str) -> List[ET.Element]:
    return [child for child in element if local(child.tag) == name]


def child(element: ET.Element, name: str) -> Optional[ET.Element]:
    found = children(element, name)
    return found[0] if found else None


def required(element: ET.Element, attribute: str, where: str) -> str:
    value = element.get(attribute)
    if value is None:
        raise ValueError(f"{where}: <{local(element.tag)}> has no {attribute!r} attribute")
    return value


def number(element: ET.Element, attribute: str, where: str, default: Optional[float] = None) -> float:
    value = element.get(attribute)
    if value is None:
        if default is None:
            raise ValueError(f"{where}: <{local(element.tag)}> has no {attribute!r} attribute")
        return default
    try:
        parsed = float(value)
    except ValueError:
        parsed = math.nan
    if not math.isfinite(parsed):
        raise ValueError(f"{where}: <{local(element.tag)}> {attribute}={value!r} is not a finite number")
    return parsed


def properties(element: ET.Element) -> Dict[str, str]:
    out: Dict[str, str] = {}
    for item in children(element, "Feature"):
        if item.get("code") == FEATURE_CODE:
            out.update({p.get("label", ""): p.get("value", "") for p in children(item, "Property")})
    return out


def json_value(text: str, where: str) -> Any:
    try:
        return json.loads(text)
    except ValueError:
        raise ValueError(f"{where}: {text[:40]!r} is not a JSON value") from None


def read_text(path_or_text: PathOrText) -> Tuple[str, str]:
    if isinstance(path_or_text, str) and path_or_text.lstrip().startswith("<"):
        return path_or_text, "LandXML network"
    path = Path(os.fspath(path_or_text))
    try:
        return path.read_text(encoding="utf-8"), path.stem
    except UnicodeDecodeError as error:
        raise ValueError(f"{path}: not UTF-8 text: {error}") from None


def read_landxml(path_or_text: PathOrText) -> Tuple[str, ImportReport]:
    """(project JSON text, report) from every pipe network of a LandXML file (a path, or
    its text). ValueError names the element for what breaks the schema where the network
    depends on it (a missing name, centre or size; a pipe naming a missing structure)."""
    text, name = read_text(path_or_text)
    try:
        root = ET.fromstring(text)
    except ET.ParseError as error:
        raise ValueError(f"not XML: {error}") from None
    if local(root.tag) != "LandXML":
        raise ValueError(f"the root element is <{local(root.tag)}>, not <LandXML>")
    report = ImportReport()
    units = child(root, "Units")
    system = child(units, "Metric") if units is not None else None
    system = system if system is not None else (child(units, "Imperial") if units is not None else None)
    if system is None:
        raise ValueError("<LandXML> has no <Units> with <Imperial> or <Metric>")
    si = local(system.tag) == "Metric"
    unit_metres = 1.0 if si else 0.3048

    def scale(attribute: str, fallback: str) -> float:
        unit = system.get(attribute, system.get(fallback, "meter" if si else "foot"))  # type: ignore[union-attr]
        if unit not in METRES:
            raise ValueError(f"<{local(system.tag)}> {attribute}={unit!r} is not a length unit")  # type: ignore[union-attr]
        return METRES[unit] / unit_metres

    linear, diameter = scale("linearUnit", "linearUnit"), scale("diameterUnit", "linearUnit")
    elevation = linear  # elevations are in the linear unit of the file
    project: Dict[str, Any] = {"name": name, "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0,
                               "junction_k": 0.5}
    if si:
        project["units"] = "si"
    settings_element = child(root, "Project")
    settings = properties(settings_element).get(SETTINGS_LABEL) if settings_element is not None else None
    if settings:
        loaded = json_value(settings, f"<Project> property {SETTINGS_LABEL!r}")
        if not isinstance(loaded, dict):
            raise ValueError(f"<Project> property {SETTINGS_LABEL!r} is {settings[:40]!r}, not a JSON object")
        project.update(loaded)
    else:
        report.notes.append("no rillwright settings in the file: the rainfall and loss settings are the defaults")
    coordinates = child(root, "CoordinateSystem")
    if coordinates is not None and "crs" not in project:
        if coordinates.get("epsgCode"):
            project["crs"] = f"EPSG:{coordinates.get('epsgCode')}"
        elif coordinates.get("ogcWktCode"):
            project["crs"] = coordinates.get("ogcWktCode")
    nodes: List[Dict[str, Any]] = []
    pipes: List[Dict[str, Any]] = []
    inverts: Dict[Tuple[str, str], float] = {}
    networks = [n for group in children(root, "PipeNetworks") for n in children(group, "PipeNetwork")]
    if not networks:
        raise ValueError("the file has no <PipeNetworks> with a <PipeNetwork>")
    for network in networks:
        for structs in children(network, "Structs"):
            for struct in children(structs, "Struct"):
                nodes.append(_structure(struct, linear, elevation, inverts, report))
    known = {n["id"] for n in nodes}
    leaving = set()
    for network in networks:
        for section in children(network, "Pipes"):
            for element in children(section, "Pipe"):
                pipe = _pipe(element, linear, diameter, report)
                for key in ("from", "to"):
                    if pipe[key] not in known:
                        raise ValueError(f"pipe {pipe['id']!r} names structure {pipe[key]!r} as its "
                                         f"{'refStart' if key == 'from' else 'refEnd'}, and there is no such <Struct>")
                leaving.add(pipe["from"])
                pipes.append(pipe)
    positions = {n["id"]: (n["x"], n["y"]) for n in nodes}
    by_id = {n["id"]: n for n in nodes}
    for pipe in pipes:
        if pipe["length"] is None:
            pipe["length"] = math.dist(positions[pipe["from"]], positions[pipe["to"]])
        for key, direction, end in (("invert_up", "out", "from"), ("invert_dn", "in", "to")):
            at = inverts.get((pipe[end], pipe["id"]))
            pipe[key] = at if at is not None and at != by_id[pipe[end]]["invert"] else None
    for node in nodes:
        if node.pop("_kind_given") is False:
            node["kind"] = "outfall" if node["id"] not in leaving else node["kind"]
    project.update(nodes=nodes, pipes=pipes)
    project.setdefault("catchments", [])
    if isinstance(project.get("crs"), str):
        report.notes.append(placement(project["crs"], [(n["x"], n["y"]) for n in nodes]))
    mark_import(project, "LandXML", report, storm_given=bool(settings))
    return project_text(project), report


def _structure(struct: ET.Element, linear: float, elevation: float, inverts: Dict[Tuple[str, str], float],
               report: ImportReport) -> Dict[str, Any]:
    ident = required(struct, "name", "a <Struct>")
    where = f"structure {ident!r}"
    center = child(struct, "Center")
    if center is None or not (center.text or "").split():
        raise ValueError(f"{where}: <Struct> has no <Center> coordinates")
    try:
        northing, easting = (float(v) for v in (center.text or "").split()[:2])
    except ValueError:
        raise ValueError(f"{where}: <Center> {center.text!r} is not 'northing easting'") from None
    ends = []
    for element in children(struct, "Invert"):
        pipe = required(element, "refPipe", where)
        ends.append(number(element, "elev", where) * elevation)
        inverts[(ident, pipe)] = ends[-1]
    sump = struct.get("elevSump")
    invert = number(struct, "elevSump", where) * elevation if sump is not None else (min(ends) if ends else None)
    if invert is None:
        raise ValueError(f"{where}: <Struct> has neither an elevSump nor an <Invert>")
    rim = struct.get("elevRim")
    if rim is None:
        report.approximated.append(("structure", ident, "no elevRim: the rim is taken 10 length units above the invert"))
    given = properties(struct)
    kind = given.get("kind")
    shape = next((local(c.tag) for c in struct if local(c.tag) in
                  ("CircStruct", "RectStruct", "InletStruct", "OutletStruct", "Connection")), None)
    node: Dict[str, Any] = {
        "id": ident, "kind": kind or ("outfall" if shape == "OutletStruct" else
                                      "inlet" if shape == "InletStruct" else "junction"),
        "x": easting * linear, "y": northing * linear, "invert": invert,
        "rim": number(struct, "elevRim", where) * elevation if rim is not None else invert + 10.0,
        "area_ac": json_value(given.get("area_ac", "0"), f"{where}: property 'area_ac'"),
        "c": json_value(given.get("c", "0"), f"{where}: property 'c'"),
        "tc_inlet": json_value(given.get("tc_inlet", "0"), f"{where}: property 'tc_inlet'"),
        "_kind_given": kind is not None or shape in ("OutletStruct", "InletStruct"),
    }
    inlet = {label[len(INLET_PREFIX):]: json_value(value, f"{where}: property {label!r}")
             for label, value in given.items() if label.startswith(INLET_PREFIX)}
    if inlet:
        node["inlet"] = inlet
    for label in ("bypass_to", "benching"):
        if label in given:
            node[label] = given[label]
    circle = child(struct, "CircStruct")
    if "diameter_ft" in given:
        node["diameter_ft"] = json_value(given["diameter_ft"], f"{where}: property 'diameter_ft'")
    elif circle is not None and circle.get("diameter") is not None:
        node["diameter_ft"] = number(circle, "diameter", where) * linear
    return node


def _pipe(element: ET.Element, linear: float, diameter: float, report: ImportReport) -> Dict[str, Any]:
    ident = required(element, "name", "a <Pipe>")
    where = f"pipe {ident!r}"
    pipe: Dict[str, Any] = {"id": ident, "from": required(element, "refStart", where),
                            "to": required(element, "refEnd", where),
                            "length": number(element, "length", where) * linear if element.get("length") else None}
    given = properties(element)
    section = next((c for c in element if local(c.tag) in ("CircPipe", "RectPipe", "ElliPipe", "EggPipe", "Channel")),
                   None)
    if section is None:
        raise ValueError(f"{where}: <Pipe> has no <CircPipe>, <RectPipe> or <ElliPipe>")
    kind = local(section.tag)
    if kind == "CircPipe":
        pipe.update(diameter=number(section, "diameter", where) * diameter, shape="circular")
    elif kind == "RectPipe":
        rise, span = number(section, "height", where) * diameter, number(section, "width", where) * diameter
        pipe.update(diameter=rise, shape="box", rise_ft=rise, span_ft=span)
    elif kind in ("ElliPipe", "EggPipe"):
        rise, span = number(section, "height", where) * diameter, number(section, "span", where) * diameter
        shape = given.get("shape", "elliptical")
        pipe.update(diameter=rise, shape=shape if shape in ("elliptical", "arch") else "elliptical",
                    rise_ft=rise, span_ft=span)
        if kind == "EggPipe":
            report.approximated.append(("pipe", ident, "an egg-shaped pipe is taken as the ellipse of its height and span"))
    else:
        raise ValueError(f"{where}: an open <Channel> is not a pipe the analysis can take")
    if "shape" in given:
        pipe["shape"] = given["shape"]  # the project's own text, as the analysis read it
    for label in ("diameter", "rise_ft", "span_ft"):
        if label in given:
            pipe[label] = json_value(given[label], f"{where}: property {label!r}")
    if section.get("mannings") is not None:
        pipe["n"] = number(section, "mannings", where)
    else:
        pipe["n"] = DEFAULT_N
        report.approximated.append(("pipe", ident, f"no Manning's n: {DEFAULT_N} assumed"))
    return pipe
