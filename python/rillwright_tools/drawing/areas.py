"""Congested areas of a plan: the places whose labels find no clear room at the plan
sheets' scale, gathered into a few rectangles that detail sheets draw again larger.

Pure geometry in plan feet: points near one another (within `reach`) join one area, an
area is their bounding box grown by `margin`, and areas that overlap merge, until none
does; then every point inside an area belongs to it."""

from __future__ import annotations

import math
from typing import Dict, Hashable, List, Optional, Sequence, Tuple

Point = Tuple[float, float]
Box = Tuple[float, float, float, float]


def _bounds(points: Sequence[Point], margin: float) -> Box:
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return min(xs) - margin, min(ys) - margin, max(xs) + margin, max(ys) + margin


def _overlap(a: Box, b: Box) -> bool:
    return a[0] <= b[2] and b[0] <= a[2] and a[1] <= b[3] and b[1] <= a[3]


def inside(p: Point, box: Box) -> bool:
    return box[0] <= p[0] <= box[2] and box[1] <= p[1] <= box[3]


def congested_areas(seeds: Dict[Hashable, Point], everything: Dict[Hashable, Point],
                    reach: float, margin: float, one_sheet: Optional[Tuple[float, float]] = None) -> List[List[Hashable]]:
    """The areas around the `seeds` (keys to points), each as the keys of `everything`
    inside it (the seeds among them), in a stable order: by their first key's position in
    `everything`. With `one_sheet` (the width and height a detail sheet holds), areas that
    fit one together become one, the tightest pairs first: a detail sheet each would be
    mostly empty."""
    keys = list(seeds)
    parent = list(range(len(keys)))

    def root(k: int) -> int:
        while parent[k] != k:
            parent[k] = parent[parent[k]]
            k = parent[k]
        return k

    # Points within `reach` join: found through a grid of cells `reach` wide.
    cells: Dict[Tuple[int, int], List[int]] = {}
    for k, key in enumerate(keys):
        x, y = seeds[key]
        i, j = math.floor(x / reach), math.floor(y / reach)
        for di in (-1, 0, 1):
            for dj in (-1, 0, 1):
                for other in cells.get((i + di, j + dj), []):
                    ox, oy = seeds[keys[other]]
                    if math.hypot(ox - x, oy - y) <= reach:
                        parent[root(k)] = root(other)
        cells.setdefault((i, j), []).append(k)
    groups: Dict[int, List[Point]] = {}
    for k, key in enumerate(keys):
        groups.setdefault(root(k), []).append(seeds[key])
    boxes = [_bounds(points, margin) for points in groups.values()]
    merged = True
    while merged:  # overlapping areas become one
        merged = False
        for a in range(len(boxes)):
            for b in range(a + 1, len(boxes)):
                if _overlap(boxes[a], boxes[b]):
                    p, q = boxes[a], boxes[b]
                    boxes[a] = (min(p[0], q[0]), min(p[1], q[1]), max(p[2], q[2]), max(p[3], q[3]))
                    del boxes[b]
                    merged = True
                    break
            if merged:
                break
    if one_sheet is not None:
        boxes = _gathered(boxes, one_sheet)
    members: List[List[Hashable]] = [[] for _ in boxes]
    for key, point in everything.items():
        for k, box in enumerate(boxes):
            if inside(point, box):
                members[k].append(key)
                break
    return [m for m in members if m]


def _gathered(boxes: List[Box], room: Tuple[float, float]) -> List[Box]:
    """Boxes joined pairwise, smallest union first (as Kruskal joins trees), wherever the
    union of the two groups still fits `room`."""
    def union(a: Box, b: Box) -> Box:
        return min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3])

    def fits(box: Box) -> bool:
        return box[2] - box[0] <= room[0] and box[3] - box[1] <= room[1]

    pairs = []
    for a in range(len(boxes)):
        for b in range(a + 1, len(boxes)):
            u = union(boxes[a], boxes[b])
            if fits(u):
                pairs.append(((u[2] - u[0]) * (u[3] - u[1]), a, b))
    group = list(range(len(boxes)))
    extent = list(boxes)

    def root(k: int) -> int:
        while group[k] != k:
            group[k] = group[group[k]]
            k = group[k]
        return k

    for _, a, b in sorted(pairs):
        ra, rb = root(a), root(b)
        if ra != rb and fits(union(extent[ra], extent[rb])):
            group[rb] = ra
            extent[ra] = union(extent[ra], extent[rb])
    return [extent[k] for k in range(len(boxes)) if root(k) == k]


def halves(keys: Sequence[Hashable], points: Dict[Hashable, Point]) -> Tuple[List[Hashable], List[Hashable]]:
    """The keys cut in two at the median across the longer side of their bounding box."""
    x0, y0, x1, y1 = _bounds([points[k] for k in keys], 0.0)
    axis = 0 if x1 - x0 >= y1 - y0 else 1
    ordered = sorted(keys, key=lambda k: (points[k][axis], points[k][1 - axis]))
    middle = len(ordered) // 2
    return ordered[:middle], ordered[middle:]


def bounds(points: Sequence[Point], margin: float) -> Box:
    return _bounds(points, margin)
