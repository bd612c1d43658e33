"""Drawings for CAD at a drawing scale: the plan (structures, pipes, catchments, labels)
and the grade-line profile, as DXF in the project's length unit (ft, or m for SI).

The scale is the one the plan sheets and the profile sheets choose (1 in = 20 ... 500 ft;
1:200 ... 1:5,000), written on the drawing. Text is 2.5 mm high when plotted at that
scale (0.1 in x the scale: 10 ft letters at 1 in = 100 ft, 1.25 m at 1:500), and
structure circles 3 mm across, whatever the network's extent.

The profile is drawn with its vertical exaggeration: x is the true station, y is
DATUM + (elevation - DATUM) x V.E., both written on the drawing, with an elevation grid
labelled in true elevations and stations along the foot."""

from __future__ import annotations

import math
from typing import Any, Dict, List, Tuple

from ..inputs import InputError, Source, geometry
from ..drawing.notation import Units
from ..drawing.profile import ProfileSeries
from ..units import M_PER_FT

DXF_HINT = 'writing DXF needs ezdxf: pip install "rillwright[report]"'
INSUNITS = {"ft": 2, "m": 6}
TEXT_MM = 2.5  # plotted letter height
CIRCLE_MM = 3.0  # plotted structure diameter
# name: (AutoCAD colour index, what is on it)
LAYERS: Dict[str, Tuple[int, str]] = {
    "STRUCTURES": (7, "structures"),
    "OUTFALLS": (5, "outfalls"),
    "PIPES": (3, "pipes"),
    "LABELS": (7, "ids, sizes, elevations and notes"),
    "CATCHMENTS": (82, "catchment outlines"),
    "GROUND": (30, "ground (rims)"),
    "GRADE-LINE": (5, "hydraulic grade line"),
    "ENERGY-LINE": (94, "energy grade line"),
    "GRID": (8, "stations and elevation grid"),
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


def _align(name: str) -> Any:
    from ezdxf.enums import TextEntityAlignment

    return getattr(TextEntityAlignment, name)


def model_per_mm(units: Units, feet_per_point: float) -> float:
    """Model units (ft or m) per plotted millimetre at a scale given in feet per point."""
    return units.length(feet_per_point * 72.0 / 25.4)


def _text(space: Any, text: str, at: Tuple[float, float], height: float, *, layer: str = "LABELS",
          rotation: float = 0.0, align: str = "BOTTOM_LEFT") -> None:
    space.add_text(text, height=height, rotation=rotation, dxfattribs={"layer": layer}).set_placement(
        at, align=_align(align))


def write_plan_dxf(source: Source, out_path: str) -> None:
    """Every structure as a circle (outfalls on their own layer), every pipe as a line
    between its structures, the catchments, at the project's plan coordinates and the plan
    sheets' scale; the ids and sizes where the plan sheets' label placer puts them (beside
    what they name or on a leader, crossing no other label), with letters 2.5 mm high."""
    from ..drawing.labels import CAP_HEIGHT
    from ..drawing.sheets import _read, plan_labels

    shape = geometry(source)
    plan = _read(source, {"nodes": [], "pipes": []})
    # The placer sizes labels by their font size: the one whose capitals are TEXT_MM high.
    units, scale, labels = plan_labels(source, TEXT_MM / 25.4 * 72.0 / CAP_HEIGHT)
    per_mm = model_per_mm(units, units.feet_per_point(scale))
    height, radius = TEXT_MM * per_mm, CIRCLE_MM / 2 * per_mm
    document = _new_document(units.length_unit)
    space = document.modelspace()
    where = {nid: (units.length(x), units.length(y)) for nid, (x, y) in plan.nodes.items()}
    for nid, centre in where.items():
        layer = "OUTFALLS" if plan.kinds[nid] == "outfall" else "STRUCTURES"
        space.add_circle(centre, radius, dxfattribs={"layer": layer})
    for pipe in shape.pipes:
        if pipe.from_node not in where or pipe.to_node not in where:
            continue  # the analysis refuses such a network before a drawing is asked for
        space.add_line(where[pipe.from_node], where[pipe.to_node], dxfattribs={"layer": "PIPES"})
    for label in labels:
        for line, (x, y) in zip(label.lines, label.origins):
            _text(space, line, (units.length(x), units.length(y)), height, rotation=90.0 if label.vertical else 0.0,
                  align="LEFT")  # at the baseline
        if label.leader is not None:
            (x0, y0), (x1, y1) = label.leader
            space.add_line((units.length(x0), units.length(y0)), (units.length(x1), units.length(y1)),
                           dxfattribs={"layer": "LABELS"})
    for ring in plan.rings:
        points = [(units.length(x), units.length(y)) for x, y in ring]
        space.add_lwpolyline(points, close=True, dxfattribs={"layer": "CATCHMENTS"})
    if where:
        left = min(x for x, _ in where.values())
        bottom = min(y for _, y in where.values())
        _text(space, f"PLAN  SCALE {units.scale_text(scale)}  (TEXT {TEXT_MM} MM PLOTTED)",
              (left, bottom - 6 * height), 1.4 * height)
    _save(document, out_path)


def write_profile_dxf(series: ProfileSeries, title: str, out_path: str) -> None:
    """The profile at the profile sheets' scales: true stations along x, elevations
    exaggerated about a datum along y; pipes, structures, ground, grade and energy lines,
    the labels of the structures and pipes, and the grid."""
    from ..drawing.profile import profile_title
    from ..drawing.labels import text_width
    from ..drawing.profile_sheet import choose_layout, nice_above, pipe_lines, structure_lines

    layout, _ = choose_layout(series, profile_title(series, title))
    units = Units(series.si)
    per_mm = model_per_mm(units, layout.h_fpp)
    height = TEXT_MM * per_mm
    exaggeration = layout.exaggeration
    document = _new_document(units.length_unit)
    space = document.modelspace()

    def L(feet: float) -> float:
        return units.length(feet)

    levels = [v for v in series.rims + series.node_inverts if math.isfinite(v)]
    levels += [v for p in series.pipes for v in (p.invert_up, p.invert_dn) if math.isfinite(v)]
    step = nice_above(10.0 * per_mm / exaggeration)  # a level line at least every 10 mm plotted
    low = L(min(levels)) if levels else 0.0
    high = L(max(levels)) if levels else 1.0
    datum = math.floor((low - 2 * step) / step) * step
    top_level = math.ceil((high + step) / step) * step

    def Y(feet: float) -> float:
        return datum + (L(feet) - datum) * exaggeration

    st = [L(s) for s in series.stations]
    first, last = (st[0], st[-1]) if st else (0.0, 1.0)
    for k, pipe in enumerate(series.pipes):
        up, dn, rise = pipe.invert_up, pipe.invert_dn, pipe.rise
        if not all(math.isfinite(v) for v in (up, dn, rise)):
            continue
        space.add_lwpolyline([(st[k], Y(up)), (st[k + 1], Y(dn)), (st[k + 1], Y(dn + rise)), (st[k], Y(up + rise))],
                             close=True, dxfattribs={"layer": "PIPES"})
        x = (st[k] + st[k + 1]) / 2
        y = Y(min(up, dn)) - height
        for line in pipe_lines(series, k, units):
            _text(space, line, (x, y), height, align="TOP_CENTER")
            y -= 1.5 * height
    label_top = -math.inf
    for k, node_id in enumerate(series.node_ids):
        invert, rim = series.node_inverts[k], series.rims[k]
        if math.isfinite(invert) and math.isfinite(rim):
            space.add_line((st[k], Y(invert)), (st[k], Y(rim)), dxfattribs={"layer": "STRUCTURES"})
        stand = max([v for v in (rim, series.node_hgl[k] if k < len(series.node_hgl) else math.nan)
                     if math.isfinite(v)], default=math.nan)
        if not math.isfinite(stand):
            continue
        lines = structure_lines(series, k, units)
        label_top = max(label_top, Y(stand) + height + max(text_width(t, 1.0) for t in lines) * height)
        for j, line in enumerate(lines):  # read from below, the first line leftmost
            _text(space, line, (st[k] - (len(lines) - 1 - 2 * j) * 0.75 * height, Y(stand) + height), height,
                  rotation=90.0, align="MIDDLE_LEFT")
    ground = [(s, Y(r)) for s, r in zip(st, series.rims) if math.isfinite(r)]
    if len(ground) >= 2:
        space.add_lwpolyline(ground, dxfattribs={"layer": "GROUND"})
    _polyline_runs(space, [(L(x), y) for x, y in zip(series.hgl_x, series.hgl_y)], Y, "GRADE-LINE")
    _polyline_runs(space, [(L(x), y) for x, y in zip(series.egl_x, series.egl_y)], Y, "ENERGY-LINE")

    # The grid: elevations in true values at the left, stations along the foot.
    level = datum
    while level <= top_level + 1e-9:
        y = datum + (level - datum) * exaggeration
        space.add_line((first, y), (last, y), dxfattribs={"layer": "GRID"})
        _text(space, f"{level:,.2f}", (first - height, y), height, layer="GRID", align="MIDDLE_RIGHT")
        level += step
    station_step = nice_above(25.4 * per_mm)  # a station line at least every inch plotted
    s = math.ceil(first / station_step) * station_step
    while s <= last + 1e-9:
        space.add_line((s, datum), (s, datum + (top_level - datum) * exaggeration), dxfattribs={"layer": "GRID"})
        feet = s / M_PER_FT if units.si else s
        _text(space, units.station_text(feet, places=0), (s, datum - height), height, layer="GRID",
              align="TOP_CENTER")
        s += station_step
    note_y = max(datum + (top_level - datum) * exaggeration, label_top) + 2 * height
    _text(space, layout.title, (first, note_y + 2.5 * height), 1.6 * height)
    _text(space, f"HORIZONTAL {layout.h_text}  VERTICAL {layout.v_text}  "
                 f"V.E. {round(exaggeration, 1):g}:1  DATUM {datum:,.2f} {units.length_unit}", (first, note_y), height)
    _save(document, out_path)


def _polyline_runs(space: Any, points: List[Tuple[float, float]], Y: Any, layer: str) -> None:
    """The line where its levels are known, broken where they are not."""
    run: List[Tuple[float, float]] = []
    for x, level in points + [(math.nan, math.nan)]:
        if math.isfinite(x) and math.isfinite(level):
            run.append((x, Y(level)))
            continue
        if len(run) >= 2:
            space.add_lwpolyline(run, dxfattribs={"layer": layer})
        run = []
