"""Network files for the command line: reading, telling the formats apart, analysing,
and the little geometry (inverts, rims, sizes, lengths) that a profile drawing needs
and the result dicts do not carry."""

from __future__ import annotations

import json
import math
import os
from dataclasses import dataclass
from typing import Any, Dict, List, Optional, cast

import rillwright

FEET_PER_METRE = 3.280839895013123
NON_CIRCULAR_SHAPES = ("elliptical", "arch", "box")


class InputError(Exception):
    """A file that cannot be read or analysed. The message is one line meant for the user."""


@dataclass(frozen=True)
class Source:
    """One network as text, with what it is and where it came from."""

    label: str  # the path as given, or "demo"
    kind: str  # "project" or "rwn"
    text: str


@dataclass(frozen=True)
class NodeGeometry:
    id: str
    invert: float
    rim: float


@dataclass(frozen=True)
class PipeGeometry:
    id: str
    from_node: str
    to_node: str
    length: float
    rise: float  # diameter of a circular pipe, rise of the other shapes
    invert_up: float
    invert_dn: float


@dataclass(frozen=True)
class Geometry:
    nodes: Dict[str, NodeGeometry]  # the first node of each id, as the analysis resolves it
    node_order: List[str]
    pipes: List[PipeGeometry]


def one_line(message: str) -> str:
    return " ".join(str(message).split())


def kind_of(path: str, text: str) -> str:
    extension = os.path.splitext(path)[1].lower()
    if extension == ".rwn":
        return "rwn"
    if extension == ".rwproj":
        return "project"
    return "project" if text.lstrip().startswith("{") else "rwn"


def read_source(path: str) -> Source:
    try:
        with open(path, encoding="utf-8") as handle:
            text = handle.read()
    except OSError as error:
        raise InputError(f"cannot read {path}: {error.strerror or error}") from None
    except UnicodeDecodeError as error:
        raise InputError(f"cannot read {path}: not UTF-8 text (bad byte at offset {error.start})") from None
    return Source(label=path, kind=kind_of(path, text), text=text)


def demo_source() -> Source:
    try:
        text = rillwright.demo_project_json()
    except ValueError as error:
        raise InputError(f"demo: {one_line(str(error))}") from None
    return Source(label="demo", kind="project", text=text)


def analyse(source: Source) -> Dict[str, Any]:
    try:
        if source.kind == "project":
            result = rillwright.analyze_project(source.text)
        else:
            result = rillwright.analyze_rwn(source.text)
    except ValueError as error:
        raise InputError(f"{source.label}: {one_line(str(error))}") from None
    return cast(Dict[str, Any], result)


def geometry(source: Source) -> Geometry:
    """Geometry of a network that the analysis has already accepted."""
    if source.kind == "project":
        return _project_geometry(json.loads(source.text))
    return _rwn_geometry(source.text)


def _collect(nodes: List[NodeGeometry], pipes: List[dict]) -> Geometry:
    by_id: Dict[str, NodeGeometry] = {}
    for node in nodes:
        by_id.setdefault(node.id, node)
    built = []
    for pipe in pipes:
        up = pipe["invert_up"] if pipe["invert_up"] is not None else _invert_of(by_id, pipe["from"])
        dn = pipe["invert_dn"] if pipe["invert_dn"] is not None else _invert_of(by_id, pipe["to"])
        built.append(PipeGeometry(pipe["id"], pipe["from"], pipe["to"], pipe["length"], pipe["rise"], up, dn))
    return Geometry(by_id, list(by_id), built)


def _invert_of(nodes: Dict[str, NodeGeometry], node_id: str) -> float:
    node = nodes.get(node_id)
    return node.invert if node is not None else math.nan


def _project_geometry(project: Dict[str, Any]) -> Geometry:
    scale = FEET_PER_METRE if project.get("units") == "si" else 1.0

    def length(value: Optional[float]) -> Optional[float]:
        return None if value is None else float(value) * scale

    nodes = [NodeGeometry(n["id"], float(n["invert"]) * scale, float(n["rim"]) * scale) for n in project["nodes"]]
    pipes = []
    for p in project["pipes"]:
        rise, span = float(p.get("rise_ft", 0.0)), float(p.get("span_ft", 0.0))
        shaped = p.get("shape", "circular") in NON_CIRCULAR_SHAPES and rise > 0 and span > 0
        pipes.append({
            "id": p["id"], "from": p["from"], "to": p["to"],
            "length": float(p["length"]) * scale,
            "rise": (rise if shaped else float(p["diameter"])) * scale,
            "invert_up": length(p.get("invert_up")), "invert_dn": length(p.get("invert_dn")),
        })
    return _collect(nodes, pipes)


def _rwn_geometry(text: str) -> Geometry:
    # Only NODE and PIPE lines matter here; the analysis has already checked every line.
    nodes, pipes = [], []
    for line in text.split("\n"):
        tokens = line.split("#", 1)[0].split()
        if not tokens:
            continue
        keyword = tokens[0].upper()
        if keyword == "NODE":
            nodes.append(NodeGeometry(tokens[1], float(tokens[5]), float(tokens[6])))
        elif keyword == "PIPE":
            pipes.append({
                "id": tokens[1], "from": tokens[2], "to": tokens[3],
                "length": float(tokens[4]), "rise": float(tokens[5]),
                "invert_up": None, "invert_dn": None,
            })
    return _collect(nodes, pipes)
