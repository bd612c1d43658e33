"""One plan sheet's drawing: the plan (in feet) seen through a window at an engineering
scale, its pipes, structures and catchments, the labels the sheet carries placed by the
shared label placer, match lines, outlines of the areas drawn again on detail sheets with
their callouts, and the frame (title, scale, scale bar, north arrow, legend).

A sheet is 10 x 6.5 in (720 x 468 pt), the drawing area of a letter page in landscape
inside the report's margins (A4 landscape holds it too); its map is 9.5 x 5.4 in. Printed
at that size its scale is true and its labels (8 pt DejaVu Sans) have letters 2.06 mm
high."""

from __future__ import annotations

import json
import math
from dataclasses import dataclass, field
from typing import Any, Callable, Dict, Hashable, List, Optional, Sequence, Tuple

from ..inputs import Source, records
from .labels import LabelPlacer, around, block_size, text_width
from .notation import Units, nice_step
from .paper import Drawing, Point, clip_polygon, clip_segment

WIDTH, HEIGHT = 720.0, 468.0
MAP = (18.0, 50.0, 702.0, 440.0)
SIZE = 8.0
PART_FULL, SURCHARGED = "#1f4e9c", "#d7191c"
DETAIL = "#b35806"  # the outlines of detail areas and their callouts
FAR = 144.0  # pt: the farthest a callout goes out on its leader (2 in)
Box = Tuple[float, float, float, float]
Item = Tuple[str, Any]  # ("node", id) or ("pipe", index): what a label names


@dataclass
class Plan:
    units: Units
    nodes: Dict[str, Point]  # feet, the project's plan coordinates
    kinds: Dict[str, str]
    flooded: set
    pipes: List[Tuple[str, str, str, str, bool]]  # id, from, to, label, surcharged
    widths: List[float]
    rings: List[List[Point]]
    bounds: Tuple[float, float, float, float]


def read_plan(source: Source, result: Dict[str, Any]) -> Plan:
    network = records(source)
    project = json.loads(source.text) if source.kind == "project" else {}
    units = Units(project.get("units") == "si")
    nodes = {n["id"]: (float(n["x"]), float(n["y"])) for n in network["nodes"]}
    if not nodes or all(x == 0 and y == 0 for x, y in nodes.values()):
        raise ValueError("the network has no plan coordinates (every structure is at 0, 0): "
                         "give the structures x and y to draw a plan")
    kinds = {n["id"]: n["kind"] for n in network["nodes"]}
    flooded = {n["id"] for n in result["nodes"] if n.get("floods")}
    rows = {}
    for row in result["pipes"]:
        rows.setdefault(row["id"], row)
    pipes, widths = [], []
    rises = [p["rise"] for p in network["pipes"] if math.isfinite(p["rise"]) and p["rise"] > 0]
    largest = max(rises, default=1.0)
    for pipe in network["pipes"]:
        if pipe["from"] not in nodes or pipe["to"] not in nodes:
            continue  # the analysis refuses such a network before a drawing is asked for
        row = rows.get(pipe["id"], {})
        capacity, q = row.get("capacity"), row.get("design_q")
        surcharged = bool(row.get("surcharged")) or bool(capacity and q and math.isfinite(capacity) and q > capacity)
        label = f"{pipe['id']} {units.size_text(pipe['shape'], pipe['rise'], pipe.get('span', math.nan))}"
        pipes.append((pipe["id"], pipe["from"], pipe["to"], label, surcharged))
        rise = pipe["rise"] if math.isfinite(pipe["rise"]) else 0.0
        widths.append(0.8 + 1.6 * rise / largest)
    # Catchment outlines are in the project's own unit; the plan works in feet.
    to_feet = 1 / 0.3048 if units.si else 1.0
    rings = [[(x * to_feet, y * to_feet) for x, y in c.get("vertices", [])]
             for c in project.get("catchments", []) if len(c.get("vertices", [])) >= 3]
    xs = [p[0] for p in nodes.values()]
    ys = [p[1] for p in nodes.values()]
    return Plan(units, nodes, kinds, flooded, pipes, widths, rings, (min(xs), min(ys), max(xs), max(ys)))


class Grid:
    """The sheets at one scale: cells of MAP's size over the plan, those with something on them."""

    def __init__(self, plan: Plan, scale: int) -> None:
        self.plan, self.scale = plan, scale
        self.fpp = plan.units.feet_per_point(scale)
        self.cell_w, self.cell_h = (MAP[2] - MAP[0]) * self.fpp, (MAP[3] - MAP[1]) * self.fpp
        x0, y0, x1, y1 = plan.bounds
        # The grid is centred on the plan, so no structure sits on the outer edge.
        columns = max(1, math.ceil((x1 - x0) / self.cell_w + 1e-9))
        rows = max(1, math.ceil((y1 - y0) / self.cell_h + 1e-9))
        self.x0 = (x0 + x1) / 2 - columns * self.cell_w / 2
        self.y0 = (y0 + y1) / 2 - rows * self.cell_h / 2
        self.pipes_in: Dict[Tuple[int, int], List[int]] = {}  # pipe indices by the cells they cross
        for k, (_, a, b, _, _) in enumerate(plan.pipes):
            for cell in self._cells_of(plan.nodes[a], plan.nodes[b]):
                self.pipes_in.setdefault(cell, []).append(k)
        self.nodes_in: Dict[Tuple[int, int], List[str]] = {}
        for nid, (x, y) in plan.nodes.items():
            self.nodes_in.setdefault(self._cell(x, y), []).append(nid)
        used = set(self.pipes_in) | set(self.nodes_in)
        # Reading order: the top row first, left to right.
        self.cells = sorted(used, key=lambda c: (-c[1], c[0]))
        self.number = {c: k + 1 for k, c in enumerate(self.cells)}
        self._extents: Any = None  # the pipes' bounding boxes, for near()

    def _cell(self, x: float, y: float) -> Tuple[int, int]:
        return math.floor((x - self.x0) / self.cell_w), math.floor((y - self.y0) / self.cell_h)

    def _cells_of(self, a: Point, b: Point) -> List[Tuple[int, int]]:
        (i0, j0), (i1, j1) = self._cell(*a), self._cell(*b)
        found = []
        for i in range(min(i0, i1), max(i0, i1) + 1):
            for j in range(min(j0, j1), max(j0, j1) + 1):
                if clip_segment(a, b, self.ground(i, j)) is not None:
                    found.append((i, j))
        return found

    def ground(self, i: int, j: int) -> Tuple[float, float, float, float]:
        return (self.x0 + i * self.cell_w, self.y0 + j * self.cell_h,
                self.x0 + (i + 1) * self.cell_w, self.y0 + (j + 1) * self.cell_h)

    def view(self, cell: Tuple[int, int]) -> "View":
        return View(self.ground(*cell), self.scale, self.fpp, self.pipes_in.get(cell, []), self.nodes_in.get(cell, []))

    def near(self, box: Box) -> Tuple[List[int], List[str]]:
        """The pipes and structures of the cells the ground box meets, less those a paper
        point or more outside it (which a sheet of that window would not draw)."""
        import numpy as np

        (i0, j0), (i1, j1) = self._cell(box[0], box[1]), self._cell(box[2], box[3])
        pipes, nodes = set(), []
        for i in range(i0, i1 + 1):
            for j in range(j0, j1 + 1):
                pipes.update(self.pipes_in.get((i, j), []))
                nodes += self.nodes_in.get((i, j), [])
        if self._extents is None:
            ends = np.array([(*self.plan.nodes[a], *self.plan.nodes[b]) for _, a, b, _, _ in self.plan.pipes],
                            dtype=float).reshape(-1, 4)
            self._extents = np.column_stack((np.minimum(ends[:, 0], ends[:, 2]), np.minimum(ends[:, 1], ends[:, 3]),
                                             np.maximum(ends[:, 0], ends[:, 2]), np.maximum(ends[:, 1], ends[:, 3])))
        x0, y0, x1, y1 = box[0] - self.fpp, box[1] - self.fpp, box[2] + self.fpp, box[3] + self.fpp
        found = np.array(sorted(pipes), dtype=np.int64)
        e = self._extents[found]
        meets = (e[:, 0] <= x1) & (e[:, 2] >= x0) & (e[:, 1] <= y1) & (e[:, 3] >= y0)
        inside = [n for n in nodes if x0 <= self.plan.nodes[n][0] <= x1 and y0 <= self.plan.nodes[n][1] <= y1]
        return [int(k) for k in found[meets]], inside

    def cell_of(self, p: Point) -> Tuple[int, int]:
        return self._cell(*p)

    def neighbours(self, i: int, j: int) -> Dict[str, int]:
        return {side: self.number[c] for side, c in (("N", (i, j + 1)), ("S", (i, j - 1)), ("E", (i + 1, j)),
                                                     ("W", (i - 1, j))) if c in self.number}


def _marker(drawing: Drawing, placer: Optional[LabelPlacer], x: float, y: float, kind: str, flooded: bool) -> None:
    if kind == "outfall":
        drawing.shape([(x - 4, y + 3), (x + 4, y + 3), (x, y - 4)], fill="#1f4e9c", edge="black", width=0.5, z=4)
        box = (x - 4, y - 4, x + 4, y + 3)
    else:
        r = 2.4
        drawing.shape([(x + r * math.cos(a * math.pi / 4), y + r * math.sin(a * math.pi / 4)) for a in range(8)],
                      fill="#404040", z=4)
        box = (x - r, y - r, x + r, y + r)
    if flooded:
        r = 4.5
        drawing.line([(x - r, y - r), (x + r, y - r), (x + r, y + r), (x - r, y + r), (x - r, y - r)],
                     colour="#7b2cbf", width=1.2, z=4.2)
        box = (x - r, y - r, x + r, y + r)
    if placer is not None:
        placer.obstacle_box(box)


@dataclass
class View:
    """What one sheet shows: the ground (feet) its map holds, at a scale of the list."""

    ground: Box
    scale: int
    fpp: float  # ground feet per paper point
    pipes: Sequence[int]  # the pipes that may cross the window
    nodes: Sequence[str]  # the structures that may stand in it

    def paper(self, p: Point) -> Point:
        return MAP[0] + (p[0] - self.ground[0]) / self.fpp, MAP[1] + (p[1] - self.ground[1]) / self.fpp


@dataclass
class Outline:
    """An area drawn again on a detail sheet: its ground rectangle and its callout."""

    ground: Box
    callout: str  # "DETAIL 3, SHEET 41"
    key: str  # "detail-3"


@dataclass
class Drawn:
    """A sheet drawn without its frame: the drawing, its placer and the items whose labels
    are not clear (crowded, tangled, over lines, or on a leader over another label)."""

    drawing: Drawing
    placer: LabelPlacer
    unclear: List[Item] = field(default_factory=list)
    legend: List[str] = field(default_factory=list)  # the extra legend entries it needs


def anchor_of(plan: "Plan", item: Item) -> Point:
    """Where the item's label hangs, in feet: the structure, or the pipe's middle."""
    kind, ident = item
    if kind == "node":
        return plan.nodes[ident]
    _, a, b, _, _ = plan.pipes[ident]
    (xa, ya), (xb, yb) = plan.nodes[a], plan.nodes[b]
    return (xa + xb) / 2, (ya + yb) / 2


def draw_view(plan: "Plan", view: View, labelled: Callable[[Item], bool], *,
              neighbours: Optional[Dict[str, int]] = None, outlines: Sequence[Outline] = (),
              limit: Optional[Box] = None, trial: bool = False, probe: bool = False, size: float = SIZE) -> Drawn:
    """The window's pipes, structures and catchments, and the labels of the `labelled`
    items whose anchors it holds: structures (outfalls and flooded ones first), then pipes.
    Before them the match lines to the `neighbours` (side: sheet number), the `outlines`
    of detail areas with their callouts, and a detail sheet's own `limit` (feet). A
    `trial` stops at the first label that is not clear (the drawing unfinished); a `probe`
    leaves out the labels that are not clear (a sheet to draw again without them)."""
    drawing = Drawing(WIDTH, HEIGHT)
    placer = LabelPlacer(MAP, leader_reach=54.0)  # 3/4 in: farther, a leader no longer reads as one
    drawn = Drawn(drawing, placer)
    paper = view.paper
    for ring in plan.rings:
        cut = clip_polygon([paper(p) for p in ring], MAP)
        drawing.shape(cut, fill="#a6d96a", opacity=0.35, edge="#4d8c2a", width=0.6, z=0.5)
    middles = []
    for k in view.pipes:
        pid, a, b, label, surcharged = plan.pipes[k]
        pa, pb = paper(plan.nodes[a]), paper(plan.nodes[b])
        part = clip_segment(pa, pb, MAP)
        if part is None:
            continue
        drawing.line(list(part), colour=SURCHARGED if surcharged else PART_FULL, width=plan.widths[k], z=2)
        placer.obstacle_line(list(part))
        mid = ((pa[0] + pb[0]) / 2, (pa[1] + pb[1]) / 2)
        if _inside(mid, MAP) and labelled(("pipe", k)):
            middles.append((k, pid, label, mid, surcharged))
    here = []
    for nid in view.nodes:
        q = paper(plan.nodes[nid])
        if _inside(q, MAP):
            _marker(drawing, placer, q[0], q[1], plan.kinds[nid], nid in plan.flooded)
            if labelled(("node", nid)):
                here.append((nid, q))
    for side, other in (neighbours or {}).items():
        _match_line(drawing, placer, side, other)
    if limit is not None:
        (a, b), (c, d) = paper(limit[:2]), paper(limit[2:])
        drawing.line([(a, b), (c, b), (c, d), (a, d), (a, b)], colour=DETAIL, width=0.9, dash=(6, 2), z=3.4)
        placer.obstacle_line([(a, b), (c, b), (c, d), (a, d), (a, b)])
        drawn.legend.append("limit")
    # Every outline before any callout: the raster widens new lines once, not per callout.
    rings = [_outline_ring(view, outline) for outline in outlines]
    for ring in rings:
        if ring:
            drawing.line(ring, colour=DETAIL, width=1.1, dash=(6, 2), z=3.4)
            placer.obstacle_line(ring)
    for outline, ring in zip(outlines, rings):
        if ring:
            _callout(drawing, placer, outline, ring[3])
    if outlines:
        drawn.legend.append("outline")
    # Labels: outfalls and flooded structures first, then the others, then the pipes.
    here.sort(key=lambda item: (plan.kinds[item[0]] != "outfall", item[0] not in plan.flooded))
    labels: List[Tuple[Item, str, List[str], Point, Any, Dict[str, Any]]] = [
        (("node", nid), nid, [nid], q, around(4.0),
         {"bold": True, "colour": "#7b2cbf" if nid in plan.flooded else "black"}) for nid, q in here]
    labels += [(("pipe", k), pid, [label], mid, around(2.5), {"colour": SURCHARGED if surcharged else "#333333"})
               for k, pid, label, mid, surcharged in middles]
    place = placer.place_clear if probe else placer.place
    for item, key, lines, anchor, spots, style in labels:
        placed = place(key, lines, anchor, spots, size=size, **style)
        if placed is not None:
            drawing.label(placed)
        if placed is None or not placed.clear:
            drawn.unclear.append(item)
            if trial:
                return drawn
    return drawn


def _outline_ring(view: View, outline: Outline) -> List[Point]:
    """The part of a detail area on this sheet as a closed ring (its upper left corner
    fourth), or nothing where it misses the sheet."""
    (a, b), (c, d) = view.paper(outline.ground[:2]), view.paper(outline.ground[2:])
    x0, y0, x1, y1 = max(a, MAP[0]), max(b, MAP[1]), min(c, MAP[2]), min(d, MAP[3])
    if x0 >= x1 or y0 >= y1:
        return []
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1), (x0, y0)]


def _callout(drawing: Drawing, placer: LabelPlacer, outline: Outline, corner: Point) -> None:
    """The callout at the upper left corner of the area's part on the sheet."""
    x0, y1 = corner
    spots = [(2, -2, 0, 1), (-2, 2, 0, 0), (2, 2, 0, 0), (-2, 2, 1, 0), (-2, -2, 1, 1)]
    style: Dict[str, Any] = {"size": SIZE, "bold": True, "colour": DETAIL}
    # Where areas crowd one another, a callout may go farther out on its leader (it names
    # an outline, not a point).
    placed = placer.place_clear(outline.key, [outline.callout], (x0, y1), spots, **style) or \
        placer.place_clear(outline.key, [outline.callout], (x0, y1), spots, reach=FAR, **style)
    if placed is None and outline.callout.isdigit():
        return  # an area's piece whose number finds no clear room: the area's callout names them all
    if placed is None:  # the last resort before a callout over other text: anywhere on the sheet
        placed = placer.place_clear(outline.key, [outline.callout], (x0, y1), spots, reach=MAP[2] - MAP[0], **style)
    drawing.label(placed or placer.place(outline.key, [outline.callout], (x0, y1), spots, reach=FAR, **style))


def finish(drawing: Drawing, plan: "Plan", scale: int, fpp: float, title: str, legend: Sequence[str] = (),
           note: str = "") -> None:
    """The frame, title, scale bar, north arrow and legend, and a `note` in red where the
    sheet must own up to something."""
    bar_end = frame(drawing, plan.units, scale, fpp, title)
    _legend(drawing, plan, bar_end, legend)
    if note:  # between the frame and the scale bar
        drawing.text(MAP[0] + 150, 40.0, note, size=SIZE, colour="#d7191c")


def _inside(p: Point, box: Sequence[float]) -> bool:
    return box[0] <= p[0] <= box[2] and box[1] <= p[1] <= box[3]


def _match_line(drawing: Drawing, placer: LabelPlacer, side: str, other: int) -> None:
    x0, y0, x1, y1 = MAP
    inset = 1.5
    ends = {"N": ((x0, y1 - inset), (x1, y1 - inset)), "S": ((x0, y0 + inset), (x1, y0 + inset)),
            "E": ((x1 - inset, y0), (x1 - inset, y1)), "W": ((x0 + inset, y0), (x0 + inset, y1))}[side]
    drawing.line(list(ends), colour="black", width=1.6, dash=(10, 3, 2, 3), z=3.5)
    placer.obstacle_line(list(ends))
    text = [f"MATCH LINE  SEE SHEET {other}"]
    mx, my = (ends[0][0] + ends[1][0]) / 2, (ends[0][1] + ends[1][1]) / 2
    if side in "NS":
        dy, fy = (-3, 1) if side == "N" else (3, 0)
        spots = [(d, dy, 0.5, fy) for d in (0, -150, 150, -250, 250)]
        vertical = False
    else:
        dx, fx = (-3, 1) if side == "E" else (3, 0)
        spots = [(dx, d, fx, 0.5) for d in (0, -90, 90, -150, 150)]
        vertical = True
    drawing.label(placer.place(f"match-{side}", text, (mx, my), spots, size=SIZE, bold=True, vertical=vertical))


def frame(drawing: Drawing, units: Units, scale: Optional[int], fpp: float, title: str) -> float:
    """The frame, title, scale, scale bar and north arrow; returns where the scale bar's text ends."""
    x0, y0, x1, y1 = MAP
    drawing.line([(x0, y0), (x1, y0), (x1, y1), (x0, y1), (x0, y0)], colour="black", width=0.8, z=6)
    drawing.text(x0, 450, title, size=11, bold=True)
    scale_text = f"Scale {units.scale_text(scale)}" if scale is not None else "Not to scale: see the bar"
    drawing.text(x1, 450, scale_text, size=9, anchor="end")
    # Scale bar: about two inches long, in halves.
    unit = units.length_unit
    length = nice_step(units.length(144.0 * fpp))
    bar = length / units.length(fpp)  # points
    bx, by = x0, 24.0
    for k in range(4):
        a, b = bx + k * bar / 4, bx + (k + 1) * bar / 4
        drawing.shape([(a, by), (b, by), (b, by + 4), (a, by + 4)], fill="black" if k % 2 == 0 else "white",
                      edge="black", width=0.5, z=6)
    for fraction in (0, 0.5, 1):
        value = length * fraction
        drawing.text(bx + bar * fraction, by + 7, f"{value:g}", size=SIZE, anchor="middle")
    drawing.text(bx + bar + 6, by, unit, size=SIZE)
    bar_end = bx + bar + 6 + text_width(unit, SIZE)
    # North arrow: plan y is north.
    nx, ny = x1 - 8, 6.0
    drawing.shape([(nx, ny + 24), (nx - 5, ny), (nx, ny + 5)], fill="black", z=6)
    drawing.shape([(nx, ny + 24), (nx + 5, ny), (nx, ny + 5)], fill="white", edge="black", width=0.6, z=6)
    drawing.text(nx, ny + 28, "N", size=10, bold=True, anchor="middle")
    return bar_end


def _legend(drawing: Drawing, plan: Plan, after: float, extra: Sequence[str] = ()) -> None:
    """The legend from `after` on, in two rows where one would reach the north arrow."""
    x, y = max(MAP[0] + 150, after + 14), 26.0
    items = [("line", PART_FULL, "Pipe within capacity")]
    if any(p[4] for p in plan.pipes):
        items.append(("line", SURCHARGED, "Pipe over capacity"))
    items += [("node", "", "Structure"), ("outfall", "", "Outfall")]
    if plan.flooded:
        items.append(("flood", "", "Floods"))
    if plan.rings:
        items.append(("ring", "", "Catchment"))
    if "outline" in extra:
        items.append(("detail", DETAIL, "Detail area"))
    if "limit" in extra:
        items.append(("detail", DETAIL, "Detail limit"))
    start = x
    for kind, colour, text in items:
        if x + 20 + block_size([text], SIZE)[0] > MAP[2] - 24 and x > start:
            x, y = start, y - 14  # a second row: the north arrow stands at the right
        if kind == "line":
            drawing.line([(x, y + 3), (x + 16, y + 3)], colour=colour, width=2, z=6)
        elif kind == "detail":
            drawing.line([(x, y + 3), (x + 16, y + 3)], colour=colour, width=1.1, dash=(6, 2), z=6)
        elif kind == "ring":
            drawing.shape([(x, y - 1), (x + 14, y - 1), (x + 14, y + 7), (x, y + 7)], fill="#a6d96a",
                          opacity=0.35, edge="#4d8c2a", width=0.6, z=6)
        else:
            _marker(drawing, None, x + 8, y + 3, "outfall" if kind == "outfall" else "", kind == "flood")
        drawing.text(x + 20, y, text, size=SIZE)
        x += 20 + block_size([text], SIZE)[0] + 10
