"""Label placement shared by the plan sheets, the plan and the profile.

Everything is in paper points (1/72 in, origin at the lower left). A label is a block of
one or more lines of text, upright or turned a quarter turn. It is kept only where its box
crosses no line and no other label; where none of its own spots is free it moves out to
the nearest free spot on a leader (a thin line back to what it names), and where even that
fails it is still drawn, at its first spot, and counted as crowded: a label never
disappears.

Text extents are measured with the font the drawings use (DejaVu Sans, matplotlib's own,
which the report embeds), one string at a time, without a figure or a renderer."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from functools import lru_cache
from typing import Dict, Iterable, List, Optional, Sequence, Tuple

Box = Tuple[float, float, float, float]  # x0, y0, x1, y1
Segment = Tuple[float, float, float, float]
# (dx, dy, fx, fy[, vertical]): the point anchor + (dx, dy) sits at fraction (fx, fy) of
# the box; a fifth item True turns the label a quarter turn at that spot.
Spot = Tuple[float, ...]

FONT = "DejaVu Sans"
LINE_SPACING = 1.2  # em from one baseline to the next
ASCENT, DESCENT = 0.93, 0.24  # em above and below the baseline, from the font's tables (1901, 483 of 2048)
CAP_HEIGHT = 0.729  # em: a label of 8 pt has letters 5.8 pt = 2.06 mm high
WIDTH_MARGIN = 1.03  # measured widths plus 3 %: other renderers' kerning and hinting differ a little
PAD = 1.0  # pt kept clear around every label


@lru_cache(maxsize=2)
def _font(bold: bool):  # type: ignore[no-untyped-def]
    from matplotlib import font_manager, ft2font

    weight = "bold" if bold else "normal"
    return ft2font.FT2Font(font_manager.findfont(font_manager.FontProperties(family=FONT, weight=weight)))


@lru_cache(maxsize=65536)
def text_width(text: str, size: float, bold: bool = False) -> float:
    """Width in points of one line of `text` at `size` points."""
    from matplotlib import ft2font

    font = _font(bold)
    font.set_size(size, 72)
    flags = ft2font.LoadFlags.NO_HINTING if hasattr(ft2font, "LoadFlags") else ft2font.LOAD_NO_HINTING
    font.set_text(text, 0.0, flags=flags)
    return font.get_width_height()[0] / 64.0 * WIDTH_MARGIN


def block_size(lines: Sequence[str], size: float, bold: bool = False) -> Tuple[float, float]:
    """(width, height) in points of a block of upright lines."""
    width = max((text_width(line, size, bold) for line in lines), default=0.0)
    return width, size * (LINE_SPACING * (len(lines) - 1) + ASCENT + DESCENT)


def overlaps(a: Box, b: Box) -> bool:
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


def crosses(segment: Segment, box: Box) -> bool:
    """Whether the segment has a point inside the box (Liang-Barsky clipping)."""
    x0, y0, x1, y1 = segment
    dx, dy = x1 - x0, y1 - y0
    low, high = 0.0, 1.0
    for p, q in ((-dx, x0 - box[0]), (dx, box[2] - x0), (-dy, y0 - box[1]), (dy, box[3] - y0)):
        if p == 0:
            if q < 0:
                return False
        else:
            t = q / p
            if p < 0:
                low = max(low, t)
            else:
                high = min(high, t)
            if low > high:
                return False
    return True


def around(gap: float) -> List[Spot]:
    """The eight spots around a point, the upper right first."""
    return [(gap, gap, 0, 0), (-gap, gap, 1, 0), (gap, -gap, 0, 1), (-gap, -gap, 1, 1),
            (0, gap, 0.5, 0), (0, -gap, 0.5, 1), (gap, 0, 0, 0.5), (-gap, 0, 1, 0.5)]


@dataclass
class Placed:
    """A label where it is drawn: its box, its lines and their baselines."""

    key: str
    lines: List[str]
    size: float
    box: Box
    vertical: bool = False  # read from below, turned a quarter turn anticlockwise
    bold: bool = False
    colour: str = "black"
    anchor: Tuple[float, float] = (0.0, 0.0)
    leader: Optional[Segment] = None
    crowded: bool = False  # no free spot anywhere: drawn at its first spot regardless

    def baselines(self) -> List[Tuple[float, float]]:
        """Where each line starts (its left end on the baseline, before turning)."""
        x0, y0, x1, y1 = self.box
        step, top = LINE_SPACING * self.size, ASCENT * self.size
        if self.vertical:  # lines run upwards; the first line is the leftmost
            return [(x0 + top + k * step, y0) for k in range(len(self.lines))]
        return [(x0, y1 - top - k * step) for k in range(len(self.lines))]


class _Grid:
    """Boxes and segments by the square cells they touch, for near-only overlap tests."""

    def __init__(self, cell: float) -> None:
        self.cell = cell
        self.boxes: Dict[Tuple[int, int], List[Box]] = {}  # labels
        self.marks: Dict[Tuple[int, int], List[Box]] = {}  # what labels name: structures, arrows
        self.segments: Dict[Tuple[int, int], List[Segment]] = {}

    def _cells(self, box: Box) -> Iterable[Tuple[int, int]]:
        c = self.cell
        for i in range(math.floor(box[0] / c), math.floor(box[2] / c) + 1):
            for j in range(math.floor(box[1] / c), math.floor(box[3] / c) + 1):
                yield i, j

    def add_box(self, box: Box, mark: bool = False) -> None:
        into = self.marks if mark else self.boxes
        for key in self._cells(box):
            into.setdefault(key, []).append(box)

    def add_segment(self, segment: Segment) -> None:
        x0, y0, x1, y1 = segment
        bounds = (min(x0, x1), min(y0, y1), max(x0, x1), max(y0, y1))
        for key in self._cells(bounds):
            cell = (key[0] * self.cell, key[1] * self.cell, (key[0] + 1) * self.cell, (key[1] + 1) * self.cell)
            if crosses(segment, cell):
                self.segments.setdefault(key, []).append(segment)

    def free(self, box: Box) -> bool:
        for key in self._cells(box):
            if any(overlaps(box, other) for other in self.boxes.get(key, ())):
                return False
            if any(overlaps(box, other) for other in self.marks.get(key, ())):
                return False
            if any(crosses(segment, box) for segment in self.segments.get(key, ())):
                return False
        return True

    def box_free(self, segment: Segment) -> bool:
        """Whether the segment crosses no box (a leader may cross lines, never labels)."""
        x0, y0, x1, y1 = segment
        for key in self._cells((min(x0, x1), min(y0, y1), max(x0, x1), max(y0, y1))):
            if any(crosses(segment, box) for box in self.boxes.get(key, ())):
                return False
        return True


@dataclass
class LabelPlacer:
    """Labels added in order of importance inside `frame`, around the lines and boxes
    given as obstacles first."""

    frame: Box
    cell: float = 36.0
    leader_reach: float = 90.0  # pt: how far a label may move out on its leader
    placed: List[Placed] = field(default_factory=list)

    def __post_init__(self) -> None:
        self._grid = _Grid(self.cell)

    def obstacle_box(self, box: Box) -> None:
        self._grid.add_box(box, mark=True)

    def obstacle_line(self, points: Sequence[Tuple[float, float]]) -> None:
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            if all(math.isfinite(v) for v in (x0, y0, x1, y1)):
                self._grid.add_segment((x0, y0, x1, y1))

    def _fits(self, box: Box) -> bool:
        f = self.frame
        return f[0] <= box[0] and box[2] <= f[2] and f[1] <= box[1] and box[3] <= f[3] and self._grid.free(box)

    def place(self, key: str, lines: Sequence[str], anchor: Tuple[float, float], spots: Sequence[Spot], *,
              size: float = 8.0, vertical: bool = False, bold: bool = False, colour: str = "black",
              reach: Optional[float] = None) -> Placed:
        """The label at the first free spot, else on a leader to the nearest free place
        within `reach` points (the placer's own by default; math.inf: the whole frame)."""
        upright = block_size(lines, size, bold)
        ax, ay = anchor
        first: Optional[Tuple[Box, bool]] = None
        for spot in spots:
            dx, dy, fx, fy = spot[:4]
            turned = bool(spot[4]) if len(spot) > 4 else vertical
            width, height = (upright[1], upright[0]) if turned else upright
            x0, y0 = ax + dx - fx * width, ay + dy - fy * height
            box = (x0 - PAD, y0 - PAD, x0 + width + PAD, y0 + height + PAD)
            first = first or (box, turned)
            if self._fits(box):
                return self._keep(Placed(key, list(lines), size, _unpadded(box), turned, bold, colour, anchor))
        assert first is not None, "a label needs at least one spot"
        turned = first[1]
        width, height = (upright[1], upright[0]) if turned else upright
        found = self._leader_spot(anchor, width, height, self.leader_reach if reach is None else reach)
        if found is not None:
            box, leader = found
            self._grid.add_segment(leader)
            return self._keep(Placed(key, list(lines), size, _unpadded(box), turned, bold, colour, anchor, leader))
        return self._keep(Placed(key, list(lines), size, _unpadded(first[0]), turned, bold, colour, anchor,
                                 crowded=True))

    def _keep(self, label: Placed) -> Placed:
        b = label.box
        self._grid.add_box((b[0] - PAD, b[1] - PAD, b[2] + PAD, b[3] + PAD))
        self.placed.append(label)
        return label

    def _leader_spot(self, anchor: Tuple[float, float], width: float, height: float,
                     reach: float) -> Optional[Tuple[Box, Segment]]:
        ax, ay = anchor
        f = self.frame
        limit = min(reach, math.hypot(f[2] - f[0], f[3] - f[1]))
        step = max(min(width, height), 6.0)
        radius = step
        while radius <= limit:
            count = max(8, int(2 * math.pi * radius / step))
            for k in range(count):
                angle = 2 * math.pi * k / count + 0.5  # not straight along the lines drawn on the axes
                cx, cy = ax + radius * math.cos(angle), ay + radius * math.sin(angle)
                box = (cx - width / 2 - PAD, cy - height / 2 - PAD, cx + width / 2 + PAD, cy + height / 2 + PAD)
                if not self._fits(box):
                    continue
                # The leader ends at the box's nearest point, a little short of the anchor.
                ex, ey = min(max(ax, box[0]), box[2]), min(max(ay, box[1]), box[3])
                length = math.hypot(ex - ax, ey - ay)
                sx, sy = (ax + 2 * (ex - ax) / length, ay + 2 * (ey - ay) / length) if length > 2 else (ax, ay)
                leader = (sx, sy, ex, ey)
                if self._grid.box_free(leader):
                    return box, leader
            radius += step
        return None

    @property
    def leaders(self) -> int:
        return sum(1 for p in self.placed if p.leader is not None)

    @property
    def crowded(self) -> int:
        return sum(1 for p in self.placed if p.crowded)


def _unpadded(box: Box) -> Box:
    return (box[0] + PAD, box[1] + PAD, box[2] - PAD, box[3] - PAD)
