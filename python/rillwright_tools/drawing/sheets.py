"""Plan sheets: the plan cut at match lines into sheets at an engineering scale, detail
sheets that draw its congested areas again larger, and a key map of them all.

The scale is one of the list (1 in = 20 ... 500 ft; 1:200 ... 1:5,000), chosen from the
pipes' lengths and their labels (choose_scale), or a finer one of the list that needs no
more sheets and sets every label clear. Sheets are the cells of one grid over the plan
that hold a structure or a piece of pipe, numbered in reading order; each names its
neighbours at its match lines. Every structure id and every pipe's id and size is placed
by the shared label placer (next to what it names or on a leader, never dropped). Where a
label finds no place clear of all other text and lines, its neighbourhood becomes a
detail area (areas.py): outlined on the plan sheet with a callout, its labels left off
there, and drawn on a detail sheet at the coarsest finer scale that sets them all clear
(details.py). Leaving labels off can move others, so the plan sheets are drawn again
until every label on them is clear; the details follow the plan sheets in the set."""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Dict, FrozenSet, List, Optional, Sequence, Tuple

from ..alongside import alongside
from ..inputs import InputError, Source
from .areas import congested_areas, inside
from .details import ROOM, Detail, DetailSearch
from .labels import Placed, text_width
from .notation import Units
from .paper import Drawing, Point, SheetFigure, clip_polygon, clip_segment
from .sheet_view import (DETAIL, HEIGHT, MAP, SIZE, WIDTH, Drawn, Grid, Item, Outline, Plan, anchor_of, draw_view,
                         finish, frame, read_plan)

PLOT_HINT = 'drawing plan sheets needs matplotlib: pip install "rillwright[plot]"'
_read = read_plan  # the CAD writer reads the plan as the sheets do

__all__ = ["SheetFigure", "plan_sheets"]


def _groups(grid: Grid) -> List[List[Tuple[int, int]]]:
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


def _key_map(plan: Plan, grid: Grid, title: str, details: Sequence[Detail] = (), crowded: int = 0) -> Drawing:
    """Every sheet outlined and numbered over the pipes, the detail areas outlined, and the
    list of the details by the plan sheet they enlarge. Groups of sheets far apart get a
    panel each, side by side at one common scale, so that the numbers stay legible."""
    groups = _groups(grid)
    columns = math.ceil(math.sqrt(len(groups)))
    rows = math.ceil(len(groups) / columns)
    gap = 14.0
    listing = _detail_list(grid, details)
    list_w = max((text_width(line, SIZE) for line in listing), default=0.0) + gap if listing else 0.0
    panel_w = (MAP[2] - MAP[0] - list_w - gap * (columns + 1)) / columns
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
        for detail in details:
            limit = detail.limit
            if all(inside(corner, extent) for corner in (limit[:2], limit[2:])):
                (a, b), (c, d) = paper(limit[:2]), paper(limit[2:])
                drawing.line([(a, b), (c, b), (c, d), (a, d), (a, b)], colour=DETAIL, width=0.6, z=3.2)
        if len(groups) > 1:
            numbers = [grid.number[c] for c in group]
            drawing.text(box[0], box[3] + 4, f"Sheets {min(numbers)}-{max(numbers)}" if len(numbers) > 1
                         else f"Sheet {numbers[0]}", size=SIZE, bold=True)
    y = MAP[3] - gap - SIZE
    for line in listing:  # the list's heading first, then a line per plan sheet with details
        drawing.text(MAP[2] - list_w, y, line, size=SIZE, bold=line is listing[0],
                     colour=DETAIL if line is listing[0] else "black")
        y -= 1.25 * SIZE
    summary = f"{title} key map: {len(grid.cells)} sheets at {plan.units.scale_text(grid.scale)}"
    if details:
        summary += f" and {len(details)} details"
    frame(drawing, plan.units, None, fpp, summary)
    if crowded:
        drawing.text(MAP[0] + 190, 26.0, f"{crowded} labels drawn over others: structures on one spot or pipes "
                                         "along one another (see the details)", size=SIZE, colour="#d7191c")
    return drawing


def _detail_list(grid: Grid, details: Sequence[Detail]) -> List[str]:
    """ "Details (outlined):", then "Sheet 4: details 1-5 (sheets 38-42)" for each plan sheet
    in order (a round of details found is numbered by the sheets that hold their middles)."""
    if not details:
        return []
    first = len(grid.cells) + 1
    by_sheet: Dict[int, List[int]] = {}
    for j, detail in enumerate(details):
        by_sheet.setdefault(detail.home, []).append(j + 1)
    lines = ["Details (outlined):"]
    for sheet in sorted(by_sheet):
        numbers = by_sheet[sheet]
        plural = "s" if len(numbers) > 1 else ""
        lines.append(f"Sheet {sheet}: detail{plural} {_ranges(numbers)} "
                     f"(sheet{plural} {_ranges([n + first - 1 for n in numbers])})")
    return lines


def choose_scale(plan: Plan) -> int:
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


def _ranges(numbers: Sequence[int]) -> str:
    """1, 2, 3, 5, 7, 8 as "1-3, 5, 7-8"."""
    runs: List[List[int]] = []
    for n in sorted(numbers):
        if runs and n == runs[-1][1] + 1:
            runs[-1][1] = n
        else:
            runs.append([n, n])
    return ", ".join(str(a) if a == b else f"{a}-{b}" for a, b in runs)


def _plan_grid(plan: Plan) -> Grid:
    """The grid at choose_scale's scale, or at the coarsest finer scale of the list that
    needs no more sheets and sets every label clear (a small plan drawn larger)."""
    first = choose_scale(plan)
    base = Grid(plan, first)
    for scale in sorted((s for s in plan.units.scales if s <= first), reverse=True):
        grid = base if scale == first else Grid(plan, scale)
        if len(grid.cells) > len(base.cells):
            break
        if _all_clear(plan, grid):
            return grid
    return base


def _all_clear(plan: Plan, grid: Grid) -> bool:
    """Every label of every sheet clear (the fullest sheets tried first: they fail soonest)."""
    for cell in sorted(grid.cells, key=lambda c: -(len(grid.pipes_in.get(c, [])) + len(grid.nodes_in.get(c, [])))):
        if draw_view(plan, grid.view(cell), lambda item: True, neighbours=grid.neighbours(*cell), trial=True,
                     probe=True).unclear:
            return False
    return True


def _home(grid: Grid, limit: Tuple[float, float, float, float]) -> int:
    """The plan sheet that holds the middle of an area (or its nearest sheet)."""
    middle = ((limit[0] + limit[2]) / 2, (limit[1] + limit[3]) / 2)
    cell = grid.cell_of(middle)
    if cell not in grid.number:
        cell = min(grid.cells, key=lambda c: (c[0] - cell[0]) ** 2 + (c[1] - cell[1]) ** 2)
    return grid.number[cell]


@dataclass
class SheetSet:
    """The plan sheets (by cell, in number order) and the details after them."""

    grid: Grid
    sheets: List[Tuple[Tuple[int, int], Drawn]]
    details: List[Detail]


def _items(plan: Plan) -> Dict[Item, Point]:
    found: Dict[Item, Point] = {("node", nid): p for nid, p in plan.nodes.items()}
    for k in range(len(plan.pipes)):
        found[("pipe", k)] = anchor_of(plan, ("pipe", k))
    return found


def layout(plan: Plan) -> SheetSet:
    """The plan sheets drawn with every label on them clear, and the details of the rest."""
    grid = _plan_grid(plan)
    items = _items(plan)
    by_cell: Dict[Tuple[int, int], List[Item]] = {}
    for item, p in items.items():
        by_cell.setdefault(grid.cell_of(p), []).append(item)
    search = DetailSearch(plan, grid)
    groups: List[List[Detail]] = []  # the details of one area each
    drawn_before: Dict[Tuple[Any, ...], Drawn] = {}
    while True:
        details = [detail for group in groups for detail in group]
        owned = {item for detail in details for item in detail.items}
        outlines = _outlines(grid, groups)
        sheets, unclear = [], []
        for cell in grid.cells:
            mine = tuple(o for o in outlines if _meets(o.ground, grid.ground(*cell)))
            key: Tuple[Any, ...] = (cell, frozenset(i for i in by_cell.get(cell, []) if i in owned),
                                    tuple((o.ground, o.callout) for o in mine))
            if key not in drawn_before:
                drawn_before[key] = draw_view(plan, grid.view(cell), lambda item: item not in owned,
                                              neighbours=grid.neighbours(*cell), outlines=mine, probe=True)
            sheets.append((cell, drawn_before[key]))
            unclear += [i for i in drawn_before[key].unclear if i not in owned]
        if not unclear:
            return SheetSet(grid, sheets, details)
        # Labels left without room by the areas so far make areas of their own (the
        # details found already stand).
        seeds = {item: items[item] for item in unclear}
        free = {item: p for item, p in items.items() if item not in owned}
        found = []
        areas = congested_areas(seeds, free, reach=54.0 * grid.fpp, margin=ROOM * grid.fpp,
                                one_sheet=search.one_sheet())
        for group in _details_of(search, list(areas)):
            home = _home(grid, _union(group))
            for detail in group:
                detail.home = home
            found.append(group)
        # Numbered in the order found (by sheet within a round), so that the callouts drawn
        # already keep their numbers and the sheets that carry them need not be drawn again.
        groups += sorted(found, key=lambda g: (g[0].home, -_union(g)[3], _union(g)[0]))


def _details_of(search: DetailSearch, areas: List[List[Item]]) -> List[List[Detail]]:
    """Each area's details, in the areas' order; every other area found in a second process
    where a core is free (the details of an area depend on nothing but the area)."""
    def others() -> List[List[Detail]]:
        found = [search.details(area) for area in areas[1::2]]
        for group in found:
            for detail in group:
                detail.drawn.placer.forget_raster()  # done with placing: only its labels come back
        return found

    if len(areas) < 2:
        return [search.details(area) for area in areas]
    with alongside(others) as second:
        first = [search.details(area) for area in areas[0::2]]
        odd = second()
    return [first[k // 2] if k % 2 == 0 else odd[k // 2] for k in range(len(areas))]


def _union(group: Sequence[Detail]) -> Tuple[float, float, float, float]:
    limits = [d.limit for d in group]
    return (min(b[0] for b in limits), min(b[1] for b in limits), max(b[2] for b in limits), max(b[3] for b in limits))


def _outlines(grid: Grid, groups: Sequence[Sequence[Detail]]) -> List[Outline]:
    """A detail's outline and callout ("DETAIL 3, SHEET 41"); an area cut into several, its
    outline with "DETAILS 3-8, SHEETS 41-46" and each detail's outline with its number."""
    first = len(grid.cells) + 1
    found, n = [], 1
    for group in groups:
        if len(group) == 1:
            found.append(Outline(group[0].limit, f"DETAIL {n}, SHEET {first + n - 1}", f"detail-{n}"))
        else:
            last = n + len(group) - 1
            found.append(Outline(_union(group), f"DETAILS {n}-{last}, SHEETS {first + n - 1}-{first + last - 1}",
                                 f"details-{n}"))
            found += [Outline(d.limit, str(n + k), f"detail-{n + k}") for k, d in enumerate(group)]
        n += len(group)
    return found


def _meets(a: Tuple[float, float, float, float], b: Tuple[float, float, float, float]) -> bool:
    return a[0] <= b[2] and b[0] <= a[2] and a[1] <= b[3] and b[1] <= a[3]


def plan_sheets(source: Source, result: Dict[str, Any], *, title: str = "Plan") -> List[SheetFigure]:
    """The key map ("Plan key map"), every plan sheet ("Plan sheet k of n"), then the
    details ("Detail j of m: Plan sheet k of n"), n counting them all."""
    try:
        import matplotlib  # noqa: F401  (text is measured with its font)
    except ImportError:
        raise InputError(PLOT_HINT) from None
    plan = read_plan(source, result)
    chosen = layout(plan)
    grid, details = chosen.grid, chosen.details
    count, total = len(grid.cells), len(grid.cells) + len(details)
    crowded = sum(d.placer.crowded for _, d in chosen.sheets) + sum(d.drawn.placer.crowded for d in details)
    sheets = [SheetFigure(f"{title} key map", _key_map(plan, grid, title, details, crowded))]
    for cell, drawn in chosen.sheets:
        name = f"{title} sheet {grid.number[cell]} of {total}"
        finish(drawn.drawing, plan, grid.scale, grid.fpp, name, drawn.legend)
        sheets.append(SheetFigure(name, drawn.drawing))
    for j, detail in enumerate(details):
        name = f"Detail {j + 1} of {len(details)}: {title} sheet {count + j + 1} of {total}"
        note = ""
        if detail.unclear:
            note = (f"{detail.unclear} labels not clear at any scale of the list, {detail.drawn.placer.crowded} "
                    "over other text: structures on one spot or pipes along one another")
        finish(detail.drawn.drawing, plan, detail.scale, detail.fpp, f"{name}, enlarging sheet {detail.home}",
               detail.drawn.legend, note)
        sheets.append(SheetFigure(name, detail.drawn.drawing))
    return sheets


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
    the same placer, sheet by sheet, none left to a detail) with letters of `size` points,
    in plan feet: for CAD, whose text then stands where the sheets leave room for it.
    Returns the units, the scale and the labels."""
    try:
        import matplotlib  # noqa: F401  (text is measured with its font)
    except ImportError:
        raise InputError(PLOT_HINT) from None
    plan = read_plan(source, {"nodes": [], "pipes": []})
    grid = _plan_grid(plan)
    labels = []
    for cell in grid.cells:
        g = grid.ground(*cell)

        def feet(p: Tuple[float, float], g: Tuple[float, ...] = g) -> Point:
            return g[0] + (p[0] - MAP[0]) * grid.fpp, g[1] + (p[1] - MAP[1]) * grid.fpp

        drawn = draw_view(plan, grid.view(cell), lambda item: True, neighbours=grid.neighbours(*cell), size=size)
        for placed in drawn.drawing.labels:
            if placed.key.startswith("match-"):
                continue
            leader = None if placed.leader is None else (feet(placed.leader[:2]), feet(placed.leader[2:]))
            labels.append(PlanLabel(placed.key, placed.lines, [feet(o) for o in placed.baselines()],
                                    placed.vertical, leader))
    return plan.units, grid.scale, labels


def placed_labels(sheet: SheetFigure) -> List[Placed]:
    """The labels a sheet carries, for checking them."""
    return sheet.drawing.labels
