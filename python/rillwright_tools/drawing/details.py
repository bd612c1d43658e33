"""Detail sheets: a congested area of the plan drawn again at a finer scale of the list,
where each of its labels is placed clear of every other label, mark and line.

An area's items (the structures and pipes whose label anchors lie in it) are tried at
the scales finer than the plan sheets', coarsest first. At a scale where the area with
room round it no longer fits one sheet's map, it is cut into tiles that each do (the
fewest, centred on it), and each tile goes on alone; at the first scale where every label
of a piece is clear, that is its detail. Where even the finest scale leaves some label unclear (structures on one
spot, pipes along one another), the detail is drawn at the finest scale and says so."""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Dict, FrozenSet, List, Optional, Sequence, Tuple

from .areas import bounds
from .paper import Point
from .sheet_view import MAP, Box, Drawn, Grid, Item, Plan, View, anchor_of, draw_view

ROOM = 12.0  # pt of paper round an area's anchors inside its limit, and again round the limit


@dataclass
class Detail:
    items: List[Item]
    scale: int
    fpp: float
    limit: Box  # feet: the area the detail labels
    drawn: Drawn
    unclear: int  # labels of the area not clear even at the finest scale: 0 but for degenerate input
    home: int = 0  # the plan sheet its area is on, set once the sheets are numbered


def _window(limit: Box, fpp: float) -> Box:
    """The ground the map shows, centred on the limit."""
    cx, cy = (limit[0] + limit[2]) / 2, (limit[1] + limit[3]) / 2
    w, h = (MAP[2] - MAP[0]) * fpp, (MAP[3] - MAP[1]) * fpp
    return cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2


def _fits(limit: Box, fpp: float) -> bool:
    return (limit[2] - limit[0]) / fpp <= MAP[2] - MAP[0] - 2 * ROOM and \
        (limit[3] - limit[1]) / fpp <= MAP[3] - MAP[1] - 2 * ROOM


def _tiles(anchors: Dict[Item, Point], fpp: float) -> List[List[Item]]:
    """The items in the tiles, each the size one sheet's map holds with room round it, that
    cover their anchors: the fewest such tiles, centred on them (empty tiles left out)."""
    x0, y0, x1, y1 = bounds(list(anchors.values()), 0.0)
    w, h = (MAP[2] - MAP[0] - 4 * ROOM) * fpp, (MAP[3] - MAP[1] - 4 * ROOM) * fpp
    columns, rows = max(1, math.ceil((x1 - x0) / w)), max(1, math.ceil((y1 - y0) / h))
    left, bottom = (x0 + x1 - columns * w) / 2, (y0 + y1 - rows * h) / 2
    tiles: Dict[Tuple[int, int], List[Item]] = {}
    for item, (x, y) in anchors.items():
        i = min(max(math.floor((x - left) / w), 0), columns - 1)
        j = min(max(math.floor((y - bottom) / h), 0), rows - 1)
        tiles.setdefault((-j, i), []).append(item)  # reading order: the top row first
    return [tiles[key] for key in sorted(tiles)]


class DetailSearch:
    """Details for areas, remembered: the plan sheets are drawn again as areas grow, and an
    area that did not change keeps its details."""

    def __init__(self, plan: Plan, grid: Grid) -> None:
        self.plan, self.grid = plan, grid
        self.scales = [s for s in plan.units.detail_scales if s < grid.scale]
        self._found: Dict[Tuple[FrozenSet[Item], int], List[Detail]] = {}

    def one_sheet(self) -> Tuple[float, float]:
        """The ground (feet) one detail at the coarsest finer scale labels: its limit's most."""
        fpp = self.plan.units.feet_per_point(self.scales[0])
        return (MAP[2] - MAP[0] - 2 * ROOM) * fpp, (MAP[3] - MAP[1] - 2 * ROOM) * fpp

    def details(self, items: Sequence[Item]) -> List[Detail]:
        return self._pack(self._search(list(items), 0))

    def _pack(self, details: List[Detail]) -> List[Detail]:
        """Two details of the area drawn as one where their items fit one sheet at the finer
        of their scales and every label there stays clear, the tightest pair first, until no
        pair does: the cut into tiles, scale by scale, leaves many sheets part empty."""
        details = list(details)
        extent = {id(d): bounds([anchor_of(self.plan, i) for i in d.items], 0.0) for d in details}
        made = list(details)  # kept, so that no id in `tried` is reused by another
        tried = set()
        while True:
            pairs = []
            for a, first in enumerate(details):
                for b in range(a + 1, len(details)):
                    second = details[b]
                    if first.unclear or second.unclear or (id(first), id(second)) in tried:
                        continue  # a degenerate spot stays on its own detail
                    scale = min(first.scale, second.scale)
                    fpp = self.plan.units.feet_per_point(scale)
                    e, f = extent[id(first)], extent[id(second)]
                    limit = (min(e[0], f[0]) - ROOM * fpp, min(e[1], f[1]) - ROOM * fpp,
                             max(e[2], f[2]) + ROOM * fpp, max(e[3], f[3]) + ROOM * fpp)
                    if _fits(limit, fpp):
                        pairs.append(((limit[2] - limit[0]) * (limit[3] - limit[1]) / fpp ** 2, a, b, scale, fpp, limit))
            for _, a, b, scale, fpp, limit in sorted(pairs, key=lambda pair: pair[:3]):
                tried.add((id(details[a]), id(details[b])))
                joined = self._draw(details[a].items + details[b].items, scale, fpp, limit, probe=True)
                if not joined.unclear:
                    made.append(joined)
                    extent[id(joined)] = (limit[0] + ROOM * fpp, limit[1] + ROOM * fpp,
                                          limit[2] - ROOM * fpp, limit[3] - ROOM * fpp)
                    details[a] = joined
                    del details[b]
                    break
            else:
                return details

    def _search(self, items: List[Item], start: int) -> List[Detail]:
        key = (frozenset(items), start)
        if key not in self._found:
            self._found[key] = self._find(items, start)
        return self._found[key]

    def _find(self, items: List[Item], start: int) -> List[Detail]:
        anchors = {item: anchor_of(self.plan, item) for item in items}
        last: Optional[Detail] = None
        for k in range(start, len(self.scales)):
            scale = self.scales[k]
            fpp = self.plan.units.feet_per_point(scale)
            limit = bounds(list(anchors.values()), ROOM * fpp)
            if not _fits(limit, fpp):
                return [d for tile in _tiles(anchors, fpp) for d in self._search(tile, k)]
            last = self._draw(items, scale, fpp, limit, probe=True)
            if not last.drawn.unclear:  # a probe that met no unclear label is the whole drawing
                return [last]
        if last is None:  # no finer scale at all: the plan's own, as fine as the list goes
            scale = self.grid.scale
            fpp = self.grid.fpp
            last = self._draw(items, scale, fpp, bounds(list(anchors.values()), ROOM * fpp))
        else:
            last = self._draw(items, last.scale, last.fpp, last.limit)
        return [last]

    def _draw(self, items: List[Item], scale: int, fpp: float, limit: Box, probe: bool = False) -> Detail:
        window = _window(limit, fpp)
        pipes, nodes = self.grid.near(window)
        chosen = set(items)
        drawn = draw_view(self.plan, View(window, scale, fpp, pipes, nodes), chosen.__contains__, limit=limit,
                          trial=probe, probe=probe)
        return Detail(items, scale, fpp, limit, drawn, len(drawn.unclear))
