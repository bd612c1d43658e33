"""Label placement shared by the plan sheets, the plan and the profile.

Everything is in paper points (1/72 in, origin at the lower left). A label is a block of
one or more lines of text, upright or turned a quarter turn. It is kept where its box
crosses no line and no other label; where none of its own spots is free it moves out to
the nearest free place on a leader (a thin line back to what it names); where there is
none (a tangle of pipes) it sits at a spot that meets no other label, on a white ground
that masks the lines under it; and where even that fails it is still drawn, at its first
spot, and counted as crowded: a label never disappears.
(Before that last resort, a label hemmed in by others takes a free place whose leader
passes over them.)

Text extents are measured with the font the drawings use (DejaVu Sans, matplotlib's own,
which the report embeds), one string at a time, without a figure or a renderer."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from functools import lru_cache
from typing import Any, List, Optional, Sequence, Tuple

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


@lru_cache(maxsize=4096)
def _advance(character: str, bold: bool) -> float:
    """The character's advance width in em, from the font's tables, unhinted."""
    from matplotlib import ft2font

    font = _font(bold)
    font.set_size(64, 72)  # at 64 pt one em is 64 points
    flags = ft2font.LoadFlags.NO_HINTING if hasattr(ft2font, "LoadFlags") else ft2font.LOAD_NO_HINTING
    glyph = font.load_char(ord(character), flags=flags)
    return glyph.linearHoriAdvance / 65536.0 / 64.0


def text_width(text: str, size: float, bold: bool = False) -> float:
    """Width in points of one line of `text` at `size` points: the sum of its characters'
    advances, without kerning (which in DejaVu Sans narrows the pairs it changes, AV, To)."""
    return sum(_advance(c, bold) for c in text) * size * WIDTH_MARGIN


def block_size(lines: Sequence[str], size: float, bold: bool = False) -> Tuple[float, float]:
    """(width, height) in points of a block of upright lines."""
    width = max((text_width(line, size, bold) for line in lines), default=0.0)
    return width, size * (LINE_SPACING * (len(lines) - 1) + ASCENT + DESCENT)


def overlaps(a: Box, b: Box) -> bool:
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


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
    over_lines: bool = False  # crosses lines (which its white ground masks), no label or mark
    tangled: bool = False  # on a leader to a place clear only of labels and marks: not clear
    leader_over: bool = False  # clear itself, its leader passing over other labels

    @property
    def unclear(self) -> bool:
        """Not set clear of what it names' surroundings: a scale that gives such labels is
        one to pass over where another gives none."""
        return self.crowded or self.tangled

    @property
    def clear(self) -> bool:
        """Clear of every other label, mark and line, its leader (if any) crossing no label."""
        return not (self.crowded or self.tangled or self.over_lines or self.leader_over)

    def baselines(self) -> List[Tuple[float, float]]:
        """Where each line starts (its left end on the baseline, before turning)."""
        x0, y0, x1, y1 = self.box
        step, top = LINE_SPACING * self.size, ASCENT * self.size
        if self.vertical:  # lines run upwards; the first line is the leftmost
            return [(x0 + top + k * step, y0) for k in range(len(self.lines))]
        return [(x0, y1 - top - k * step) for k in range(len(self.lines))]


class _Raster:
    """What is taken, on a grid of 1 pt cells over the frame: lines, marks (structures,
    arrows) and labels, each on its own layer. A box is free when none of the cells it
    touches is taken. Lines are sampled every half point, each sample taking its cell, and
    a box is tested against the lines one cell wider all round: so a free box holds no
    point of any line (every line point lies within a quarter point of a sample)."""

    def __init__(self, frame: Box) -> None:
        import numpy as np

        self.x0, self.y0 = math.floor(frame[0]) - 2, math.floor(frame[1]) - 2
        self.nx = math.ceil(frame[2]) + 3 - self.x0
        self.ny = math.ceil(frame[3]) + 3 - self.y0
        self.layers = {name: np.zeros((self.ny, self.nx), dtype=bool) for name in ("lines", "marks", "labels")}
        # Everything taken as a box test sees it (the lines one cell wider all round, the
        # marks and labels as they are), kept up to date as marks and labels are taken and
        # worked out again after lines were (they come first, before the labels).
        self._taken = np.zeros((self.ny, self.nx), dtype=bool)
        self._lines_changed = False
        # Lines wait here and are drawn all at once when first asked about: one pass of
        # array arithmetic for a sheet's hundreds of pipes, the cells those of take_segment.
        self._pending: List[Segment] = []

    def _slice(self, box: Box) -> Tuple[slice, slice]:
        i0 = max(math.floor(box[0]) - self.x0, 0)
        i1 = min(math.ceil(box[2]) - self.x0, self.nx)
        j0 = max(math.floor(box[1]) - self.y0, 0)
        j1 = min(math.ceil(box[3]) - self.y0, self.ny)
        return slice(j0, max(j1, j0)), slice(i0, max(i1, i0))

    def _everything(self) -> Any:
        if self._lines_changed:
            self._flush()
            lines = self.layers["lines"]
            taken = self.layers["marks"] | self.layers["labels"]
            for dj in (-1, 0, 1):
                for di in (-1, 0, 1):
                    # taken[j, i] |= lines[j + dj, i + di] wherever both are on the raster
                    taken[max(-dj, 0):self.ny - max(dj, 0), max(-di, 0):self.nx - max(di, 0)] |= \
                        lines[max(dj, 0):self.ny + min(dj, 0), max(di, 0):self.nx + min(di, 0)]
            self._taken = taken
            self._lines_changed = False
        return self._taken

    def take_box(self, box: Box, layer: str) -> None:
        where = self._slice(box)
        self.layers[layer][where] = True
        if layer == "lines":
            self._lines_changed = True
        else:
            self._taken[where] = True

    def take_segment(self, segment: Segment, layer: str = "lines") -> None:
        import numpy as np

        if layer == "lines":
            self._pending.append(segment)
            self._lines_changed = True
            return
        x0, y0, x1, y1 = segment
        count = int(math.hypot(x1 - x0, y1 - y0) / 0.5) + 2
        t = np.linspace(0.0, 1.0, count)
        i = np.floor(x0 + t * (x1 - x0)).astype(np.int64) - self.x0
        j = np.floor(y0 + t * (y1 - y0)).astype(np.int64) - self.y0
        keep = (i >= 0) & (i < self.nx) & (j >= 0) & (j < self.ny)
        self.layers[layer][j[keep], i[keep]] = True
        if layer == "lines":
            self._lines_changed = True
        else:
            self._taken[j[keep], i[keep]] = True

    def _flush(self) -> None:
        """The waiting lines into their layer: each sampled as take_segment samples one
        (count points at i / (count - 1) of the way, as numpy's linspace puts them)."""
        import numpy as np

        if not self._pending:
            return
        ends = np.array(self._pending, dtype=float)
        self._pending = []
        x0, y0, x1, y1 = ends.T
        counts = (np.hypot(x1 - x0, y1 - y0) / 0.5).astype(np.int64) + 2
        first = np.repeat(np.cumsum(counts) - counts, counts)
        step = np.arange(int(counts.sum())) - first  # 0 .. count - 1 along each segment
        t = step * np.repeat(1.0 / (counts - 1), counts)
        t[np.cumsum(counts) - 1] = 1.0  # linspace ends exactly at its stop
        dx, dy = np.repeat(x1 - x0, counts), np.repeat(y1 - y0, counts)
        i = np.floor(np.repeat(x0, counts) + t * dx).astype(np.int64) - self.x0
        j = np.floor(np.repeat(y0, counts) + t * dy).astype(np.int64) - self.y0
        keep = (i >= 0) & (i < self.nx) & (j >= 0) & (j < self.ny)
        self.layers["lines"][j[keep], i[keep]] = True

    def free(self, box: Box, layers: Sequence[str] = ("lines", "marks", "labels")) -> bool:
        where = self._slice(box)
        if tuple(layers) == ("lines", "marks", "labels"):
            # The lines within a cell of the box are the wide lines inside it.
            return not self._everything()[where].any()
        self._flush()
        if "lines" in layers and self.layers["lines"][self._slice((box[0] - 1, box[1] - 1, box[2] + 1, box[3] + 1))].any():
            return False
        return not any(self.layers[name][where].any() for name in layers if name != "lines")

    def segment_free(self, segment: Segment, layer: str = "labels") -> bool:
        import numpy as np

        x0, y0, x1, y1 = segment
        count = int(math.hypot(x1 - x0, y1 - y0) / 0.5) + 2
        t = np.linspace(0.0, 1.0, count)
        i = np.clip(np.floor(x0 + t * (x1 - x0)).astype(np.int64) - self.x0, 0, self.nx - 1)
        j = np.clip(np.floor(y0 + t * (y1 - y0)).astype(np.int64) - self.y0, 0, self.ny - 1)
        return not self.layers[layer][j, i].any()

    def free_corners(self, window: Box, width: float, height: float, lines: bool = True) -> Any:
        """Lower-left cell corners (x, y) in `window` of every free box of that size (free
        of marks and labels only, without `lines`)."""
        import numpy as np

        rows, cols = self._slice(window)
        taken = (self._everything()[rows, cols] if lines else
                 self.layers["marks"][rows, cols] | self.layers["labels"][rows, cols])
        w, h = math.ceil(width) + 1, math.ceil(height) + 1
        if taken.shape[0] < h or taken.shape[1] < w:
            return np.empty((0, 2))
        table = np.zeros((taken.shape[0] + 1, taken.shape[1] + 1), dtype=np.int32)
        table[1:, 1:] = taken.cumsum(0, dtype=np.int32).cumsum(1, dtype=np.int32)
        counts = table[h:, w:] - table[:-h, w:] - table[h:, :-w] + table[:-h, :-w]
        jj, ii = np.nonzero(counts == 0)
        return np.column_stack((ii + cols.start + self.x0, jj + rows.start + self.y0)).astype(float)


@dataclass
class LabelPlacer:
    """Labels added in order of importance inside `frame`, around the lines and marks
    given first. Each label goes to the first of its spots that is free; else, on a
    leader, to the nearest free place within `leader_reach` points; else to the first of
    its spots that meets no label or mark, masking the lines it crosses (`over_lines`);
    else to the nearest free place with its leader passing over other labels; else, on a
    leader, to the nearest place clear of labels and marks, masking the lines there
    (`over_lines`); else it is drawn at its first spot regardless (`crowded`)."""

    frame: Box
    leader_reach: float = 90.0  # pt: how far a label may move out on its leader
    placed: List[Placed] = field(default_factory=list)

    def __post_init__(self) -> None:
        self._raster = _Raster(self.frame)

    def forget_raster(self) -> None:
        """Drops what it placed around once placing is over (most of its memory); its labels stay."""
        self._raster = _Raster((0.0, 0.0, 0.0, 0.0))

    def obstacle_box(self, box: Box) -> None:
        self._raster.take_box(box, "marks")

    def obstacle_line(self, points: Sequence[Tuple[float, float]]) -> None:
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            if all(math.isfinite(v) for v in (x0, y0, x1, y1)):
                self._raster.take_segment((x0, y0, x1, y1))

    def _inside(self, box: Box) -> bool:
        f = self.frame
        return f[0] <= box[0] and box[2] <= f[2] and f[1] <= box[1] and box[3] <= f[3]

    def place(self, key: str, lines: Sequence[str], anchor: Tuple[float, float], spots: Sequence[Spot], *,
              size: float = 8.0, vertical: bool = False, bold: bool = False, colour: str = "black",
              reach: Optional[float] = None) -> Placed:
        placed = self._place(key, lines, anchor, spots, size, vertical, bold, colour, reach, False)
        assert placed is not None
        return placed

    def place_clear(self, key: str, lines: Sequence[str], anchor: Tuple[float, float], spots: Sequence[Spot], *,
                    size: float = 8.0, vertical: bool = False, bold: bool = False, colour: str = "black",
                    reach: Optional[float] = None) -> Optional[Placed]:
        """The label where place() puts it if that is clear (at a spot or on a leader that
        crosses no label); else None, and nothing taken."""
        return self._place(key, lines, anchor, spots, size, vertical, bold, colour, reach, True)

    def _place(self, key: str, lines: Sequence[str], anchor: Tuple[float, float], spots: Sequence[Spot],
               size: float, vertical: bool, bold: bool, colour: str, reach: Optional[float],
               clear_only: bool) -> Optional[Placed]:
        upright = block_size(lines, size, bold)
        ax, ay = anchor
        boxes: List[Tuple[Box, bool]] = []
        for spot in spots:
            dx, dy, fx, fy = spot[:4]
            turned = bool(spot[4]) if len(spot) > 4 else vertical
            width, height = (upright[1], upright[0]) if turned else upright
            x0, y0 = ax + dx - fx * width, ay + dy - fy * height
            box = (x0 - PAD, y0 - PAD, x0 + width + PAD, y0 + height + PAD)
            boxes.append((box, turned))
            if self._inside(box) and self._raster.free(box):
                return self._keep(Placed(key, list(lines), size, _unpadded(box), turned, bold, colour, anchor))
        assert boxes, "a label needs at least one spot"
        first_turned = boxes[0][1]  # a label on a leader stands as at its first spot
        width, height = (upright[1], upright[0]) if first_turned else upright
        found = self._leader_spot(anchor, width + 2 * PAD, height + 2 * PAD,
                                  self.leader_reach if reach is None else reach, clear=False)
        if found is not None and found[2]:
            box, leader, _ = found
            self._raster.take_segment(leader, "marks")
            return self._keep(Placed(key, list(lines), size, _unpadded(box), first_turned, bold, colour, anchor,
                                     leader))
        if clear_only:
            return None
        for box, turned in boxes:
            if self._inside(box) and self._raster.free(box, ("marks", "labels")):
                return self._keep(Placed(key, list(lines), size, _unpadded(box), turned, bold, colour, anchor,
                                         over_lines=True))
        # Hemmed in by labels all round: a free place, its leader passing over them.
        if found is not None:
            box, leader, _ = found
            self._raster.take_segment(leader, "marks")
            return self._keep(Placed(key, list(lines), size, _unpadded(box), first_turned, bold, colour, anchor,
                                     leader, leader_over=True))
        # Lines all round (pipes crossing in a tangle): the nearest place clear of labels and
        # marks, on a leader, its white ground masking the lines under it.
        found = self._leader_spot(anchor, width + 2 * PAD, height + 2 * PAD,
                                  self.leader_reach if reach is None else reach, clear=True, lines=False)
        if found is not None:
            box, leader, _ = found
            self._raster.take_segment(leader, "marks")
            return self._keep(Placed(key, list(lines), size, _unpadded(box), first_turned, bold, colour, anchor,
                                     leader, over_lines=True, tangled=True))
        box, turned = boxes[0]
        return self._keep(Placed(key, list(lines), size, _unpadded(box), turned, bold, colour, anchor, crowded=True))

    def _keep(self, label: Placed) -> Placed:
        b = label.box
        self._raster.take_box((b[0] - PAD, b[1] - PAD, b[2] + PAD, b[3] + PAD), "labels")
        self.placed.append(label)
        return label

    def _leader_spot(self, anchor: Tuple[float, float], width: float, height: float,
                     reach: float, clear: bool = True, lines: bool = True) -> Optional[Tuple[Box, Segment, bool]]:
        """The nearest free place for the box within `reach`, its leader crossing no label
        (`clear`) or, failing that, any. One search serves both.

        The places within a third of the reach are tried first, in a window that holds all
        of them: the nearest of each direction among them are the first of the whole
        search's list (which is in order of distance), so a clear leader found there is the
        one the whole search finds, for a ninth of the cells."""
        ax, ay = anchor
        f = self.frame
        window = (max(ax - reach - width, f[0]), max(ay - reach - height, f[1]),
                  min(ax + reach + width, f[2]), min(ay + reach + height, f[3]))
        near = reach / 3
        if near >= 3.0:
            w, h = math.ceil(width) + 2, math.ceil(height) + 2
            close = (max(window[0], ax - near - w), max(window[1], ay - near - h),
                     min(window[2], ax + near + w), min(window[3], ay + near + h))
            found = self._search(anchor, width, height, near, close, True, lines)
            if found is not None:
                return found
        return self._search(anchor, width, height, reach, window, clear, lines)

    def _search(self, anchor: Tuple[float, float], width: float, height: float, reach: float, window: Box,
                clear: bool, lines: bool) -> Optional[Tuple[Box, Segment, bool]]:
        import numpy as np

        ax, ay = anchor
        f = self.frame
        corners = self._raster.free_corners(window, width, height, lines)
        if not len(corners):
            return None
        x0, y0 = corners[:, 0], corners[:, 1]
        x1, y1 = x0 + math.ceil(width) + 1, y0 + math.ceil(height) + 1
        inside = (x0 >= f[0]) & (y0 >= f[1]) & (x1 <= f[2]) & (y1 <= f[3])
        # The leader ends at the box's nearest point.
        ex, ey = np.clip(ax, x0, x1), np.clip(ay, y0, y1)
        distance = np.hypot(ex - ax, ey - ay)
        usable = np.nonzero(inside & (distance <= reach) & (distance >= 3.0))[0]
        if not len(usable):
            return None
        # The nearest few in each of sixteen directions, so that a leader can find a gap.
        bearing = np.floor((np.arctan2(ey[usable] - ay, ex[usable] - ax) + math.pi) / (2 * math.pi) * 16)
        # In each direction the nearest, the first of equals (as a stable sort would give).
        nearest = usable[nearest_per_sector(bearing.astype(np.int64), distance[usable])]
        for k in nearest:
            length = float(distance[k])
            sx, sy = ax + 2 * (ex[k] - ax) / length, ay + 2 * (ey[k] - ay) / length
            leader = (float(sx), float(sy), float(ex[k]), float(ey[k]))
            if self._raster.segment_free(leader):
                return (float(x0[k]), float(y0[k]), float(x1[k]), float(y1[k])), leader, True
        if clear:
            return None
        k = nearest[0]
        length = float(distance[k])
        sx, sy = ax + 2 * (ex[k] - ax) / length, ay + 2 * (ey[k] - ay) / length
        return ((float(x0[k]), float(y0[k]), float(x1[k]), float(y1[k])),
                (float(sx), float(sy), float(ex[k]), float(ey[k])), False)

    @property
    def leaders(self) -> int:
        return sum(1 for p in self.placed if p.leader is not None)

    @property
    def crowded(self) -> int:
        return sum(1 for p in self.placed if p.crowded)

    @property
    def unclear(self) -> int:
        return sum(1 for p in self.placed if p.unclear)

    @property
    def over_lines(self) -> int:
        return sum(1 for p in self.placed if p.over_lines)


def nearest_per_sector(sector: Any, distance: Any) -> Any:
    """The index of the nearest in each sector (the first of equals), nearest first (equals
    by sector): lexsort is stable, so by sector then distance the first of each sector is
    where its run begins."""
    import numpy as np

    order = np.lexsort((distance, sector))
    ordered = sector[order]
    firsts = order[np.nonzero(np.concatenate(([True], ordered[1:] != ordered[:-1])))[0]]
    return firsts[np.argsort(distance[firsts], kind="stable")]


def _unpadded(box: Box) -> Box:
    return (box[0] + PAD, box[1] + PAD, box[2] - PAD, box[3] - PAD)
