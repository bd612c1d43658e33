"""Plan sheets: the plan cut at match lines into sheets at an engineering scale, and a key
map of them all.

A sheet is 10 x 6.5 in (720 x 468 pt), the drawing area of a letter page in landscape
inside the report's margins (A4 landscape holds it too); its map is 9.5 x 5.4 in. Printed
at that size its scale is true and its labels (8 pt DejaVu Sans) have letters 2.06 mm
high. The scale is one of the list (1 in = 20 ... 500 ft; 1:200 ... 1:5,000), chosen
from the pipes' lengths and their labels (choose_scale); every structure id and every
pipe's id and size is then placed by the shared label placer (next to what it names, on a
leader, or masking the lines under it: never dropped). Sheets are the cells of
one grid over the plan that hold a structure or a piece of pipe, numbered in reading
order; each names its neighbours at its match lines."""

from __future__ import annotations

import json
import math
from dataclasses import dataclass
from typing import Any, Dict, List, Optional, Sequence, Tuple

from ..inputs import InputError, Source, records
from .labels import LabelPlacer, Placed, around, block_size, text_width
from .notation import Units, nice_step
from .paper import Drawing, Point, SheetFigure, clip_polygon, clip_segment

WIDTH, HEIGHT = 720.0, 468.0
MAP = (18.0, 50.0, 702.0, 440.0)
SIZE = 8.0
PART_FULL, SURCHARGED = "#1f4e9c", "#d7191c"
PLOT_HINT = 'drawing plan sheets needs matplotlib: pip install "rillwright[plot]"'

__all__ = ["SheetFigure", "plan_sheets"]


@dataclass
class _Plan:
    units: Units
    nodes: Dict[str, Point]  # feet, the project's plan coordinates
    kinds: Dict[str, str]
    flooded: set
    pipes: List[Tuple[str, str, str, str, bool]]  # id, from, to, label, surcharged
    widths: List[float]
    rings: List[List[Point]]
    bounds: Tuple[float, float, float, float]


def _read(source: Source, result: Dict[str, Any]) -> _Plan:
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
    return _Plan(units, nodes, kinds, flooded, pipes, widths, rings, (min(xs), min(ys), max(xs), max(ys)))


class _Grid:
    """The sheets at one scale: cells of MAP's size over the plan, those with something on them."""

    def __init__(self, plan: _Plan, scale: int) -> None:
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


def _sheet(grid: _Grid, cell: Tuple[int, int], title: str, count: int,
           trial: bool = False, size: float = SIZE) -> Tuple[Drawing, LabelPlacer]:
    """The sheet of the cell, its labels `size` points; a `trial` ends at its first crowded
    label (the drawing unfinished)."""
    plan, fpp = grid.plan, grid.fpp
    i, j = cell
    g = grid.ground(i, j)

    def paper(p: Point) -> Point:
        return MAP[0] + (p[0] - g[0]) / fpp, MAP[1] + (p[1] - g[1]) / fpp

    drawing = Drawing(WIDTH, HEIGHT)
    placer = LabelPlacer(MAP, leader_reach=54.0)  # 3/4 in: farther, a leader no longer reads as one
    for ring in plan.rings:
        cut = clip_polygon([paper(p) for p in ring], MAP)
        drawing.shape(cut, fill="#a6d96a", opacity=0.35, edge="#4d8c2a", width=0.6, z=0.5)
    middles = []
    for k in grid.pipes_in.get(cell, []):
        pid, a, b, label, surcharged = plan.pipes[k]
        width = plan.widths[k]
        pa, pb = paper(plan.nodes[a]), paper(plan.nodes[b])
        part = clip_segment(pa, pb, MAP)
        if part is None:
            continue
        drawing.line(list(part), colour=SURCHARGED if surcharged else PART_FULL, width=width, z=2)
        placer.obstacle_line(list(part))
        mid = ((pa[0] + pb[0]) / 2, (pa[1] + pb[1]) / 2)
        if _inside(mid, MAP):
            middles.append((pid, label, mid, surcharged))
    here = []
    for nid in grid.nodes_in.get(cell, []):
        q = paper(plan.nodes[nid])
        if _inside(q, MAP):
            _marker(drawing, placer, q[0], q[1], plan.kinds[nid], nid in plan.flooded)
            here.append((nid, q))

    for side, other in grid.neighbours(i, j).items():
        _match_line(drawing, placer, side, other)
    # Labels: outfalls and flooded structures first, then the others, then the pipes.
    here.sort(key=lambda item: (plan.kinds[item[0]] != "outfall", item[0] not in plan.flooded))
    for nid, q in here:
        alarm = nid in plan.flooded
        drawing.label(placer.place(nid, [nid], q, around(4.0), size=size,
                                   bold=True, colour="#7b2cbf" if alarm else "black"))
        if trial and placer.placed[-1].unclear:
            return drawing, placer
    for pid, label, mid, surcharged in middles:
        drawing.label(placer.place(pid, [label], mid, around(2.5), size=size,
                                   colour=SURCHARGED if surcharged else "#333333"))
        if trial and placer.placed[-1].unclear:
            return drawing, placer
    bar_end = _frame(drawing, plan.units, grid.scale, fpp, f"{title} sheet {grid.number[cell]} of {count}")
    _legend(drawing, plan, bar_end)
    return drawing, placer


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


def _frame(drawing: Drawing, units: Units, scale: Optional[int], fpp: float, title: str) -> float:
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


def _legend(drawing: Drawing, plan: _Plan, after: float) -> None:
    x, y = max(MAP[0] + 150, after + 14), 26.0
    items = [("line", PART_FULL, "Pipe within capacity")]
    if any(p[4] for p in plan.pipes):
        items.append(("line", SURCHARGED, "Pipe over capacity"))
    items += [("node", "", "Structure"), ("outfall", "", "Outfall")]
    if plan.flooded:
        items.append(("flood", "", "Floods"))
    if plan.rings:
        items.append(("ring", "", "Catchment"))
    for kind, colour, text in items:
        if kind == "line":
            drawing.line([(x, y + 3), (x + 16, y + 3)], colour=colour, width=2, z=6)
        elif kind == "ring":
            drawing.shape([(x, y - 1), (x + 14, y - 1), (x + 14, y + 7), (x, y + 7)], fill="#a6d96a",
                          opacity=0.35, edge="#4d8c2a", width=0.6, z=6)
        else:
            _marker(drawing, None, x + 8, y + 3, "outfall" if kind == "outfall" else "", kind == "flood")
        drawing.text(x + 20, y, text, size=SIZE)
        x += 20 + block_size([text], SIZE)[0] + 10


def _groups(grid: _Grid) -> List[List[Tuple[int, int]]]:
    """The sheets in groups that touch (sides or corners), in the order of their numbers."""
    left = set(grid.cells)
    groups = []
    for cell in grid.cells:
        if cell not in left:
            continue
        group, todo = [], [cell]
        left.discard(cell)
        while todo:
            i, j = todo.pop()
            group.append((i, j))
            for near in ((i + a, j + b) for a in (-1, 0, 1) for b in (-1, 0, 1)):
                if near in left:
                    left.discard(near)
                    todo.append(near)
        groups.append(sorted(group, key=lambda c: grid.number[c]))
    return groups


def _key_map(plan: _Plan, grid: _Grid, title: str, crowded: int = 0) -> Drawing:
    """Every sheet outlined and numbered over the pipes. Groups of sheets far apart get a
    panel each, side by side at one common scale, so that the numbers stay legible."""
    groups = _groups(grid)
    columns = math.ceil(math.sqrt(len(groups)))
    rows = math.ceil(len(groups) / columns)
    gap = 14.0
    panel_w = (MAP[2] - MAP[0] - gap * (columns + 1)) / columns
    panel_h = (MAP[3] - MAP[1] - gap * (rows + 1) - 12 * rows) / rows
    extents = []
    for group in groups:
        boxes = [grid.ground(*c) for c in group]
        extents.append((min(b[0] for b in boxes), min(b[1] for b in boxes), max(b[2] for b in boxes),
                        max(b[3] for b in boxes)))
    fpp = max(max((e[2] - e[0]) / panel_w, (e[3] - e[1]) / panel_h) for e in extents)
    drawing = Drawing(WIDTH, HEIGHT)
    size = min(12.0, max(6.0, 0.4 * grid.cell_h / fpp))
    for k, (group, extent) in enumerate(zip(groups, extents)):
        column, row = k % columns, k // columns
        px = MAP[0] + gap + column * (panel_w + gap) + (panel_w - (extent[2] - extent[0]) / fpp) / 2
        py = MAP[3] - (row + 1) * (panel_h + gap + 12) + (panel_h - (extent[3] - extent[1]) / fpp) / 2

        def paper(p: Point, px: float = px, py: float = py, extent: Tuple[float, ...] = extent) -> Point:
            return px + (p[0] - extent[0]) / fpp, py + (p[1] - extent[1]) / fpp

        box = (paper(extent[:2])[0] - 2, paper(extent[:2])[1] - 2, paper(extent[2:])[0] + 2, paper(extent[2:])[1] + 2)
        for ring in plan.rings:
            drawing.shape(clip_polygon([paper(p) for p in ring], box), fill="#a6d96a", opacity=0.35, z=0.5)
        for _, a, b, _, _ in plan.pipes:
            part = clip_segment(paper(plan.nodes[a]), paper(plan.nodes[b]), box)
            if part:
                drawing.line(list(part), colour="#7f7f7f", width=0.6, z=2)
        for cell in group:
            g = grid.ground(*cell)
            (a, b), (c, d) = paper(g[:2]), paper(g[2:])
            drawing.line([(a, b), (c, b), (c, d), (a, d), (a, b)], colour="#1f4e9c", width=0.9, z=3)
            number = str(grid.number[cell])
            drawing.text((a + c) / 2, (b + d) / 2 - 0.35 * size, number, size=size, bold=True, colour="#1f4e9c",
                         anchor="middle", key=f"sheet-{number}")
        if len(groups) > 1:
            numbers = [grid.number[c] for c in group]
            drawing.text(box[0], box[3] + 4, f"Sheets {min(numbers)}-{max(numbers)}" if len(numbers) > 1
                         else f"Sheet {numbers[0]}", size=SIZE, bold=True)
    _frame(drawing, plan.units, None, fpp,
           f"{title} key map: {len(grid.cells)} sheets at {plan.units.scale_text(grid.scale)}")
    if crowded:
        drawing.text(MAP[0] + 190, 26.0, f"{crowded} labels drawn over others at this scale: every scale of the "
                                         "list crowds some (pipes cross in a tangle)", size=SIZE, colour="#d7191c")
    return drawing


def choose_scale(plan: _Plan) -> int:
    """The coarsest scale of the list at which the median pipe is at least as long on
    paper as its own label and half of each of its structures' labels, with the gaps
    between them: where that holds, a typical pipe carries its labels beside it and the
    rest find room on leaders. The finest of the list where no scale does."""
    needs = []
    for _, a, b, label, _ in plan.pipes:
        (xa, ya), (xb, yb) = plan.nodes[a], plan.nodes[b]
        room = text_width(label, SIZE) + (text_width(a, SIZE, True) + text_width(b, SIZE, True)) / 2 + 4 * 4.0
        needs.append(math.hypot(xb - xa, yb - ya) / room)  # the largest feet per point that fits it
    if not needs:
        return max(plan.units.scales)
    needs.sort()
    middle = len(needs) // 2
    median = needs[middle] if len(needs) % 2 else (needs[middle - 1] + needs[middle]) / 2
    fitting = [s for s in plan.units.scales if plan.units.feet_per_point(s) <= median]
    return max(fitting) if fitting else min(plan.units.scales)


def _drawn(grid: _Grid, title: str, give_up: bool) -> Optional[List[Tuple[Tuple[int, int], Drawing, int]]]:
    """Every sheet of the grid with its crowded labels, the fullest drawn first so that a
    trial (`give_up`) ends at the first sheet that crowds a label (None)."""
    count = len(grid.cells)
    drawn = []
    for cell in sorted(grid.cells, key=lambda c: -(len(grid.pipes_in.get(c, [])) + len(grid.nodes_in.get(c, [])))):
        drawing, placer = _sheet(grid, cell, title, count, trial=give_up)
        if give_up and placer.unclear:
            return None
        drawn.append((cell, drawing, placer.crowded))
    return sorted(drawn, key=lambda item: grid.number[item[0]])


def plan_sheets(source: Source, result: Dict[str, Any], *, title: str = "Plan") -> List[SheetFigure]:
    """The key map ("Plan key map"), then every sheet ("Plan sheet k of n"): at the
    coarsest scale of the list, no coarser than choose_scale's, at which no label is
    crowded (drawn over another for want of any free place); where every scale crowds some
    (pipes that cross in a tangle), at choose_scale's, the key map saying how many."""
    try:
        import matplotlib  # noqa: F401  (text is measured with its font)
    except ImportError:
        raise InputError(PLOT_HINT) from None
    plan = _read(source, result)
    grid, drawn = _chosen(plan, title)
    crowded = sum(k for _, _, k in drawn)
    count = len(grid.cells)
    sheets = [SheetFigure(f"{title} key map", _key_map(plan, grid, title, crowded))]
    sheets += [SheetFigure(f"{title} sheet {grid.number[cell]} of {count}", drawing) for cell, drawing, _ in drawn]
    return sheets


def _chosen(plan: _Plan, title: str) -> Tuple[_Grid, List[Tuple[Tuple[int, int], Drawing, int]]]:
    """The grid at the scale plan_sheets tells, with its sheets drawn."""
    first = choose_scale(plan)
    for scale in sorted((s for s in plan.units.scales if s <= first), reverse=True):
        grid = _Grid(plan, scale)
        drawn = _drawn(grid, title, give_up=True)
        if drawn is not None:
            return grid, drawn
    grid = _Grid(plan, first)
    return grid, _drawn(grid, title, give_up=False) or []


@dataclass
class PlanLabel:
    """A label of the plan in plan feet: its lines from their baseline origins, turned a
    quarter turn when `vertical`, and its leader where it has one."""

    key: str
    lines: List[str]
    origins: List[Point]
    vertical: bool
    leader: Optional[Tuple[Point, Point]]


def plan_labels(source: Source, size: float) -> Tuple[Units, int, List[PlanLabel]]:
    """The plan's structure and pipe labels placed as on the plan sheets (at their scale, by
    the same placer, sheet by sheet) with letters of `size` points, in plan feet: for CAD,
    whose text then stands where the sheets leave room for it. Returns the units, the scale
    and the labels."""
    try:
        import matplotlib  # noqa: F401  (text is measured with its font)
    except ImportError:
        raise InputError(PLOT_HINT) from None
    plan = _read(source, {"nodes": [], "pipes": []})
    grid, _ = _chosen(plan, "Plan")
    labels = []
    for cell in grid.cells:
        g = grid.ground(*cell)

        def feet(p: Tuple[float, float], g: Tuple[float, ...] = g) -> Point:
            return g[0] + (p[0] - MAP[0]) * grid.fpp, g[1] + (p[1] - MAP[1]) * grid.fpp

        drawing, _ = _sheet(grid, cell, "Plan", len(grid.cells), size=size)
        for placed in drawing.labels:
            if placed.key.startswith("match-"):
                continue
            leader = None if placed.leader is None else (feet(placed.leader[:2]), feet(placed.leader[2:]))
            labels.append(PlanLabel(placed.key, placed.lines, [feet(o) for o in placed.baselines()],
                                    placed.vertical, leader))
    return plan.units, grid.scale, labels


def placed_labels(sheet: SheetFigure) -> List[Placed]:
    """The labels a sheet carries, for checking them."""
    return sheet.drawing.labels
