"""LandXML 1.2 pipe networks out: the neutral format CAD programs import.

Structures carry their centre ("northing easting"), rim and sump; each pipe's invert
at an end lives on that end structure's `Invert` element, as LandXML keeps it. Lengths
and sizes are written in the project's own length unit (feet or metres), so they read
back exactly; the design settings and the catchments, which LandXML has no place for,
travel as a JSON `Property` of the project's `Feature`, and a structure's inlet as one
`Property` per key (`inlet_<key>`) of its `Feature`, beside `bypass_to`. An arch pipe is
written as its equivalent ellipse (same rise and span) and marked, so that it reads back
as an arch."""

from __future__ import annotations

import datetime
import json
import xml.etree.ElementTree as ET
from typing import Any, Dict, List, Optional, Tuple

from ... import _core
from ...inputs import Source
from ..common import ImportReport
from .names import FEATURE_CODE, INLET_PREFIX, SETTINGS_LABEL

NAMESPACE = "http://www.landxml.org/schema/LandXML-1.2"
NODE_PROPERTIES = ("kind", "area_ac", "c", "tc_inlet", "bypass_to", "diameter_ft", "benching")
SHAPED = tuple(shape for shape in _core.SHAPES if shape != "circular")  # the shapes with a span
UNITS = {
    False: ("Imperial", {"areaUnit": "acre", "linearUnit": "foot", "volumeUnit": "cubicFeet",
                         "temperatureUnit": "fahrenheit", "pressureUnit": "inchHG", "diameterUnit": "foot",
                         "widthUnit": "foot", "heightUnit": "foot", "elevationUnit": "feet"}),
    True: ("Metric", {"areaUnit": "hectare", "linearUnit": "meter", "volumeUnit": "cubicMeter",
                      "temperatureUnit": "celsius", "pressureUnit": "milliBars", "diameterUnit": "meter",
                      "widthUnit": "meter", "heightUnit": "meter", "elevationUnit": "meter"}),
}


def text(value: float) -> str:
    return repr(float(value))  # the shortest text that reads back to the same double


def feature(parent: ET.Element, properties: Dict[str, Any]) -> None:
    element = ET.SubElement(parent, "Feature", code=FEATURE_CODE)
    for label, value in properties.items():
        ET.SubElement(element, "Property", label=label,
                      value=value if isinstance(value, str) else json.dumps(value))


def write_landxml(source: Source, *, now: Optional[datetime.datetime] = None) -> Tuple[str, ImportReport]:
    """(LandXML text, report of what LandXML holds only approximately) of a project."""
    if source.kind != "project":
        raise ValueError("LandXML export takes a project (.rwproj): convert the .rwn file to a project first")
    project = json.loads(source.text)
    report = ImportReport()
    si = project.get("units") == "si"
    stamp = (now or datetime.datetime.now()).replace(microsecond=0)
    root = ET.Element("LandXML", {"xmlns": NAMESPACE, "version": "1.2", "date": stamp.date().isoformat(),
                                  "time": stamp.time().isoformat()})
    kind, attributes = UNITS[si]
    ET.SubElement(ET.SubElement(root, "Units"), kind, attributes)
    if project.get("crs"):
        crs = project["crs"]
        code = crs.split(":", 1)[1] if crs.upper().startswith("EPSG:") else None
        ET.SubElement(root, "CoordinateSystem", {"epsgCode": code} if code else {"ogcWktCode": crs})
    settings = {k: v for k, v in project.items() if k not in ("nodes", "pipes")}
    feature(ET.SubElement(root, "Project", name=str(project.get("name", ""))), {SETTINGS_LABEL: json.dumps(settings)})
    network = ET.SubElement(ET.SubElement(root, "PipeNetworks"), "PipeNetwork",
                            name=str(project.get("name") or "network"), pipeNetType="storm")
    nodes: List[Dict[str, Any]] = project["nodes"]
    pipes: List[Dict[str, Any]] = project["pipes"]
    ends: Dict[str, List[Tuple[str, str, float]]] = {n["id"]: [] for n in nodes}
    invert_of = {n["id"]: n["invert"] for n in nodes}
    for pipe in pipes:
        for key, direction, invert in (("from", "out", "invert_up"), ("to", "in", "invert_dn")):
            if pipe[key] not in ends:
                raise ValueError(f"pipe {pipe['id']!r} names unknown structure {pipe[key]!r}")
            elevation = pipe.get(invert)
            ends[pipe[key]].append((pipe["id"], direction, invert_of[pipe[key]] if elevation is None else elevation))
    structs = ET.SubElement(network, "Structs")
    for node in nodes:
        if not ends[node["id"]]:
            report.dropped.append(("structure", node["id"], "it has no pipe, and a LandXML structure needs the "
                                                             "Invert of at least one"))
            continue
        struct = ET.SubElement(structs, "Struct", name=node["id"], elevRim=text(node["rim"]),
                               elevSump=text(node["invert"]))
        ET.SubElement(struct, "Center").text = f"{text(node['y'])} {text(node['x'])}"  # northing first
        if node.get("kind") == "outfall":
            ET.SubElement(struct, "OutletStruct")
        else:
            ET.SubElement(struct, "CircStruct", diameter=text(node.get("diameter_ft", 4.0)))
        for pipe_id, direction, elevation in ends[node["id"]]:
            ET.SubElement(struct, "Invert", elev=text(elevation), flowDir=direction, refPipe=pipe_id)
        properties = {key: node[key] for key in NODE_PROPERTIES if node.get(key) is not None}
        # Always JSON, so that a text such as a grate named "3" reads back as a text.
        properties.update({INLET_PREFIX + key: json.dumps(value) for key, value in (node.get("inlet") or {}).items()})
        feature(struct, properties)
    section = ET.SubElement(network, "Pipes")
    for pipe in pipes:
        element = ET.SubElement(section, "Pipe", name=pipe["id"], refStart=pipe["from"], refEnd=pipe["to"],
                                length=text(pipe["length"]))
        shape = pipe.get("shape", "circular")
        n = text(pipe["n"])
        rise, span = pipe.get("rise_ft") or 0.0, pipe.get("span_ft") or 0.0
        # As the analysis builds a section: the shape only with a rise and a span, else the
        # circle of the diameter.
        sized = shape in SHAPED and rise > 0 and span > 0
        if sized and shape == "box":
            ET.SubElement(element, "RectPipe", height=text(rise), width=text(span), mannings=n)
        elif sized:
            ET.SubElement(element, "ElliPipe", height=text(rise), span=text(span), mannings=n)
            if shape == "arch":
                report.approximated.append(("pipe", pipe["id"], "an arch is written as the ellipse of its rise and "
                                                                "span (marked, so it reads back as an arch)"))
        else:
            ET.SubElement(element, "CircPipe", diameter=text(pipe["diameter"]), mannings=n)
            if shape in SHAPED:
                report.notes.append(f"pipe {pipe['id']}: shape {shape!r} without a rise and a span is analysed as "
                                    f"the circle of its diameter {pipe['diameter']!r}, and written as that circle")
        if shape not in ("circular", "box", "elliptical") or "rise_ft" in pipe or "span_ft" in pipe:
            feature(element, {"shape": shape, "diameter": pipe["diameter"], "rise_ft": rise, "span_ft": span})
    ET.indent(root)
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + ET.tostring(root, encoding="unicode") + "\n", report
