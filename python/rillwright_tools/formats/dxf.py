"""Drawings for CAD: the plan (structures and pipes on their own layers, labelled with ids
and sizes) and the grade-line profile, as DXF in the project's length unit."""

from __future__ import annotations

import math
from typing import Any, Dict, Tuple

from ..inputs import InputError, Source, geometry, records
from ..drawing.profile import ProfileSeries, size_text
from ..units import FT_PER_M

DXF_HINT = 'writing DXF needs ezdxf: pip install "rillwright[report]"'
INSUNITS = {"ft": 2, "m": 6}
# name: (AutoCAD colour index, what is on it)
LAYERS: Dict[str, Tuple[int, str]] = {
    "STRUCTURES": (7, "structures"),
    "OUTFALLS": (5, "outfalls"),
    "PIPES": (3, "pipes"),
    "STRUCTURE-LABELS": (7, "structure ids"),
    "PIPE-LABELS": (3, "pipe ids and sizes"),
    "GROUND": (30, "ground (rims)"),
    "GRADE-LINE": (5, "hydraulic grade line"),
}


def _new_document(unit: str) -> Any:
    try:
        import ezdxf
    except ImportError:
        raise InputError(DXF_HINT) from None
    document = ezdxf.new("R2010", setup=True)
    document.header["$INSUNITS"] = INSUNITS[unit]
    document.header["$MEASUREMENT"] = 1 if unit == "m" else 0
    for name, (colour, description) in LAYERS.items():
        document.layers.add(name, color=colour).description = description
    return document


def _save(document: Any, out_path: str) -> None:
    try:
        document.saveas(out_path)
    except OSError as error:
        raise InputError(f"cannot write {out_path}: {error.strerror or error}") from None


def write_plan_dxf(source: Source, out_path: str) -> None:
    """Every structure as a circle (outfalls on their own layer) and every pipe as a line
    between its structures, at the project's plan coordinates."""
    shape = geometry(source)
    unit, scale = ("m", 1 / FT_PER_M) if shape.si else ("ft", 1.0)
    network = records(source)
    document = _new_document(unit)
    space = document.modelspace()
    where = {n["id"]: (n["x"] * scale, n["y"] * scale) for n in network["nodes"]}
    xs = [x for x, _ in where.values()] or [0.0]
    ys = [y for _, y in where.values()] or [0.0]
    span = max(max(xs) - min(xs), max(ys) - min(ys), 1.0)
    radius, text_height = span / 300, span / 150
    for node in network["nodes"]:
        layer = "OUTFALLS" if node["kind"] == "outfall" else "STRUCTURES"
        centre = where[node["id"]]
        space.add_circle(centre, radius, dxfattribs={"layer": layer})
        space.add_text(node["id"], height=text_height, dxfattribs={"layer": "STRUCTURE-LABELS"}).set_placement(
            (centre[0] + 1.5 * radius, centre[1] + 1.5 * radius))
    for pipe in shape.pipes:
        if pipe.from_node not in where or pipe.to_node not in where:
            continue  # the analysis refuses such a network before a drawing is asked for
        (x0, y0), (x1, y1) = where[pipe.from_node], where[pipe.to_node]
        space.add_line((x0, y0), (x1, y1), dxfattribs={"layer": "PIPES"})
        angle = math.degrees(math.atan2(y1 - y0, x1 - x0))
        if angle > 90 or angle < -90:
            angle -= math.copysign(180, angle)  # labels read from the left or from below
        label = f"{pipe.id} {size_text(pipe, shape.si)}"
        space.add_text(label, height=0.8 * text_height, rotation=angle,
                       dxfattribs={"layer": "PIPE-LABELS"}).set_placement(
            ((x0 + x1) / 2, (y0 + y1) / 2), align=_middle())
    _save(document, out_path)


def _middle() -> Any:
    from ezdxf.enums import TextEntityAlignment

    return TextEntityAlignment.BOTTOM_CENTER


def write_profile_dxf(series: ProfileSeries, title: str, out_path: str) -> None:
    """The profile at true elevations (station along x, elevation along y): pipe inverts
    and crowns, structures from invert to rim, the ground and the grade line."""
    unit, scale = ("m", 1 / FT_PER_M) if series.si else ("ft", 1.0)
    document = _new_document(unit)
    space = document.modelspace()
    st = [s * scale for s in series.stations]
    levels = [v * scale for v in series.rims + series.node_inverts if math.isfinite(v)] or [0.0]
    text_height = max(max(levels) - min(levels), 1.0) / 40
    for k, pipe in enumerate(series.pipes):
        up, dn = pipe.invert_up * scale, pipe.invert_dn * scale
        rise = pipe.rise * scale
        if not all(math.isfinite(v) for v in (up, dn, rise)):
            continue
        space.add_lwpolyline([(st[k], up), (st[k + 1], dn), (st[k + 1], dn + rise), (st[k], up + rise)],
                             close=True, dxfattribs={"layer": "PIPES"})
        label = f"{pipe.id} {size_text(pipe, series.si)}"
        space.add_text(label, height=0.8 * text_height, dxfattribs={"layer": "PIPE-LABELS"}).set_placement(
            ((st[k] + st[k + 1]) / 2, min(up, dn) - 1.5 * text_height), align=_middle())
    for k, node_id in enumerate(series.node_ids):
        invert, rim = series.node_inverts[k] * scale, series.rims[k] * scale
        if math.isfinite(invert) and math.isfinite(rim):
            space.add_line((st[k], invert), (st[k], rim), dxfattribs={"layer": "STRUCTURES"})
            space.add_text(node_id, height=text_height, dxfattribs={"layer": "STRUCTURE-LABELS"}).set_placement(
                (st[k], rim + 0.5 * text_height), align=_middle())
    ground = [(s, r * scale) for s, r in zip(st, series.rims) if math.isfinite(r)]
    if len(ground) >= 2:
        space.add_lwpolyline(ground, dxfattribs={"layer": "GROUND"})
    grade = [(x * scale, y * scale) for x, y in zip(series.hgl_x, series.hgl_y) if math.isfinite(y)]
    if len(grade) >= 2:
        space.add_lwpolyline(grade, dxfattribs={"layer": "GRADE-LINE"})
    if st:
        space.add_text(title, height=1.5 * text_height, dxfattribs={"layer": "STRUCTURE-LABELS"}).set_placement(
            (st[0], max(levels) + 3 * text_height))
    _save(document, out_path)
