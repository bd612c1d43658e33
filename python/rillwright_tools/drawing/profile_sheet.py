"""Profile sheets: the run of pipes at an engineering scale with a stated vertical
exaggeration, cut at match lines into sheets of the report's drawing area.

A sheet is 10 x 6.5 in (720 x 468 pt): the drawing area of a letter page in landscape
inside the report's margins, which A4 landscape holds too. Printed at that size, its
scales are true and its labels (8 pt DejaVu Sans) have letters 2.06 mm high.

On each sheet: the ground through the rims, each pipe filled between its inverts and its
crown (diameter, or rise of other shapes; adverse pipes in a plain orange that survives
any PDF), the structures, the hydraulic grade line and, where the results carry it, the
energy grade line; at each structure its id, station, rim, inverts and grade-line level;
under each pipe its size, length, slope and flow / capacity. A grade line above the sheet
runs dashed along its top edge with its highest level written there."""

from __future__ import annotations

import math
from typing import Callable, List, Optional, Sequence, Tuple

from .labels import LabelPlacer, block_size
from .notation import Units
from .paper import Drawing, Point, SheetFigure, clip_polygon, clip_segment
from .profile import ProfileSeries, clipped_peaks

WIDTH, HEIGHT = 720.0, 468.0
FRAME = (62.0, 54.0, 706.0, 428.0)  # the plotting frame: room left for elevations, below for stations
END_ROOM = 16.0  # pt inside the frame at either end: a structure at a match line stays readable
SIZE = 8.0  # pt
GAP = 4.0  # pt between a label and what it names
US_VERTICAL = (1, 2, 4, 5, 10, 20, 40, 50, 100, 200, 500, 1000)  # 1 in = N ft
SI_VERTICAL = (10, 20, 25, 50, 100, 200, 250, 500, 1000, 2000, 2500, 5000, 10000)  # 1:N

PIPE_FILL, ADVERSE_FILL, ADVERSE_EDGE = "#d9d9d9", "#f6b26b", "#cc4125"
GROUND, HGL, EGL, STRUCTURE, ALARM = "#8b4513", "#1f77b4", "#2ca02c", "#737373", "#d62728"


def _usable() -> float:
    return FRAME[2] - FRAME[0] - 2 * END_ROOM


def nice_above(target: float) -> float:
    """The smallest 1, 2 or 5 times a power of ten at least `target`."""
    if not (math.isfinite(target) and target > 0):
        return 1.0
    power = 10 ** math.floor(math.log10(target))
    return min(step * power for step in (1, 2, 5, 10) if step * power >= target * (1 - 1e-12))


def structure_lines(series: ProfileSeries, k: int, units: Units) -> List[str]:
    head = f"{series.node_ids[k]}  STA {units.station_text(series.stations[k])}"
    if series.flooded[k]:
        head += "  FLOODS"
    if k == len(series.node_ids) - 1 and series.dead_end:
        head += "  DEAD END"
    hgl = series.node_hgl[k] if k < len(series.node_hgl) else math.nan
    inverts = []
    if k > 0:
        inverts.append(f"IN {units.elevation_text(series.pipes[k - 1].invert_dn)}")
    if k < len(series.pipes):
        inverts.append(f"OUT {units.elevation_text(series.pipes[k].invert_up)}")
    return [head, f"RIM {units.elevation_text(series.rims[k])}  HGL {units.elevation_text(hgl)}",
            "INV " + "  ".join(inverts)]


def pipe_lines(series: ProfileSeries, k: int, units: Units) -> List[str]:
    pipe = series.pipes[k]
    row = series.pipe_rows[k] if k < len(series.pipe_rows) else {}
    head = f"{pipe.id}  {units.size_text(pipe.shape, pipe.rise, pipe.span)}"
    if series.adverse[k]:
        head += "  ADVERSE"
    slope = row.get("slope")
    slope_text = "?" if slope is None or not math.isfinite(slope) else f"{100 * slope:.2f}%"
    q, capacity = (math.nan if row.get(key) is None else float(row[key]) for key in ("design_q", "capacity"))
    return [head, f"L {units.length_text(pipe.length)}  S {slope_text}",
            f"Q {units.flow_value(q)} / CAP {units.flow_value(capacity)} {units.flow_unit}"]


def _finite(values: Sequence[float]) -> List[float]:
    return [v for v in values if math.isfinite(v)]


class _Layout:
    """What every sheet of one profile shares: the scales and the bands kept for labels."""

    def __init__(self, series: ProfileSeries, title: str, h_fpp: float, h_text: str,
                 same_texts: Optional["_Layout"] = None) -> None:
        self.series, self.title, self.units = series, title, Units(series.si)
        self.h_fpp, self.h_text = h_fpp, h_text
        if same_texts is not None:  # another scale of the same profile: the same labels
            self.structure_text, self.pipe_text = same_texts.structure_text, same_texts.pipe_text
            self.top_band, self.bottom_band = same_texts.top_band, same_texts.bottom_band
        else:
            self.structure_text = [structure_lines(series, k, self.units) for k in range(len(series.node_ids))]
            self.pipe_text = [pipe_lines(series, k, self.units) for k in range(len(series.pipes))]
            # Room above the ground and below the pipes for the labels stood on end.
            self.top_band = max((block_size(t, SIZE)[0] for t in self.structure_text), default=0.0) + 2 * GAP
            self.bottom_band = max((block_size(t, SIZE)[0] for t in self.pipe_text), default=0.0) + 2 * GAP
        length = series.stations[-1] - series.stations[0]
        span = _usable() * h_fpp
        self.count = max(1, math.ceil(length / span - 1e-9))
        self.ranges = [(series.stations[0] + j * span, min(series.stations[0] + (j + 1) * span, series.stations[-1]))
                       for j in range(self.count)]
        needed = max((self._relief(s0, s1) for s0, s1 in self.ranges), default=1.0)
        room = FRAME[3] - FRAME[1] - self.top_band - self.bottom_band
        self.v_scale, self.v_fpp, self.v_text = self._vertical(needed / max(room, 36.0))

    def _on_sheet(self, s0: float, s1: float) -> Tuple[List[int], List[int]]:
        st = self.series.stations
        pipes = [k for k in range(len(self.series.pipes)) if st[k + 1] >= s0 and st[k] <= s1]
        nodes = [k for k in range(len(st)) if s0 - 1e-9 <= st[k] <= s1 + 1e-9]
        return pipes, nodes

    def _levels(self, s0: float, s1: float) -> Tuple[float, float]:
        pipes, nodes = self._on_sheet(s0, s1)
        series = self.series
        low = _finite([series.node_inverts[k] for k in nodes] +
                      [v for k in pipes for v in (series.pipes[k].invert_up, series.pipes[k].invert_dn)])
        high = _finite([series.rims[k] for k in nodes] +
                       [v + series.pipes[k].rise for k in pipes for v in (series.pipes[k].invert_up,
                                                                           series.pipes[k].invert_dn)])
        if not low and not high:
            return 0.0, 1.0
        return min(low or high), max(high or low)

    def _relief(self, s0: float, s1: float) -> float:
        low, high = self._levels(s0, s1)
        return max(high - low, 1.0)

    def _vertical(self, fpp_needed: float) -> Tuple[float, float, str]:
        """The finest vertical scale of the list that holds every sheet's ground and pipes,
        and no finer than ten times... the horizontal one's exaggeration ends where the list does."""
        units = self.units
        for scale in (SI_VERTICAL if units.si else US_VERTICAL):
            fpp = units.feet_per_point(scale)
            if fpp >= fpp_needed * (1 - 1e-12):
                return scale, fpp, units.scale_text(scale)
        fpp = fpp_needed
        per_inch = units.length(fpp * 72.0)
        text = f"1:{round(fpp * 72.0 / (0.0254 / 0.3048)):,}" if units.si else f"1 in = {per_inch:,.0f} ft"
        return math.nan, fpp, text

    @property
    def exaggeration(self) -> float:
        return self.h_fpp / self.v_fpp

    def sheet(self, j: int, placer_out: Optional[List[LabelPlacer]] = None, trial: bool = False) -> Tuple[Drawing, int]:
        """The sheet and its count of crowded labels; a `trial` counts the unclear ones too
        and ends at the first (unfinished)."""
        s0, s1 = self.ranges[j]
        return _draw_sheet(self, j, s0, s1, placer_out, trial)


def _exaggeration_text(value: float) -> str:
    rounded = round(value, 1)
    return f"V.E. {rounded:g}:1"


def _draw_sheet(layout: _Layout, j: int, s0: float, s1: float,
                placer_out: Optional[List[LabelPlacer]], trial: bool = False) -> Tuple[Drawing, int]:
    series, units = layout.series, layout.units
    low, _ = layout._levels(s0, s1)
    bottom = low - (layout.bottom_band + GAP) * layout.v_fpp
    top = bottom + (FRAME[3] - FRAME[1]) * layout.v_fpp
    left_station = s0 - END_ROOM * layout.h_fpp
    right_station = s1 + END_ROOM * layout.h_fpp

    def X(station: float) -> float:
        return FRAME[0] + END_ROOM + (station - s0) / layout.h_fpp

    def Y(level: float) -> float:
        return FRAME[1] + (level - bottom) / layout.v_fpp

    drawing = Drawing(WIDTH, HEIGHT)
    placer = LabelPlacer(FRAME)
    frame_box = FRAME
    pipes, nodes = layout._on_sheet(left_station, right_station)

    _grid(drawing, layout, left_station, right_station, bottom, top, X, Y)

    for k in pipes:
        pipe = series.pipes[k]
        a, b = series.stations[k], series.stations[k + 1]
        up, dn, rise = pipe.invert_up, pipe.invert_dn, pipe.rise
        if not all(math.isfinite(v) for v in (up, dn, rise)):
            continue
        outline = [(X(a), Y(up)), (X(b), Y(dn)), (X(b), Y(dn + rise)), (X(a), Y(up + rise))]
        cut = clip_polygon(outline, frame_box)
        adverse = series.adverse[k]
        drawing.shape(cut, fill=ADVERSE_FILL if adverse else PIPE_FILL, opacity=0.85 if adverse else 1.0, z=1.0)
        edge = ADVERSE_EDGE if adverse else "black"
        for p, q in ((outline[0], outline[1]), (outline[3], outline[2])):
            part = clip_segment(p, q, frame_box)
            if part:
                drawing.line(list(part), colour=edge, width=0.8, z=2.0)
                placer.obstacle_line(list(part))

    for k in nodes:
        rim, invert = series.rims[k], series.node_inverts[k]
        levels = _finite([invert, rim] + ([series.pipes[k - 1].invert_dn] if k > 0 else []) +
                         ([series.pipes[k].invert_up] if k < len(series.pipes) else []))
        if not levels:
            continue
        x = X(series.stations[k])
        y0, y1 = max(Y(min(levels)), FRAME[1]), min(Y(max(levels)), FRAME[3])
        if y1 > y0:
            drawing.shape([(x - 2.5, y0), (x + 2.5, y0), (x + 2.5, y1), (x - 2.5, y1)], fill=STRUCTURE, z=1.5)
            placer.obstacle_box((x - 2.5, y0, x + 2.5, y1))

    ground = [(X(s), Y(r)) for s, r in zip(series.stations, series.rims) if math.isfinite(r)]
    _clipped_line(drawing, placer, ground, frame_box, colour=GROUND, width=1.2, z=3.0)
    egl = [(X(s), Y(v)) for s, v in zip(series.egl_x, series.egl_y)]
    _clipped_line(drawing, placer, egl, frame_box, colour=EGL, width=1.0, dash=(5, 2, 1, 2), z=3.2)
    hgl = [(X(s), Y(v)) for s, v in zip(series.hgl_x, series.hgl_y)]
    _clipped_line(drawing, placer, hgl, frame_box, colour=HGL, width=1.3, z=3.4)
    ceiling = FRAME[3] - 1.5
    above = _above_runs(hgl, FRAME[3])
    for p, q in above:
        a, b = (max(p, FRAME[0]), min(q, FRAME[2]))
        if b > a:
            drawing.line([(a, ceiling), (b, ceiling)], colour=HGL, width=1.3, dash=(3, 2), z=3.4)
            placer.obstacle_line([(a, ceiling), (b, ceiling)])

    # Match lines, and what lies beyond them: the note under the frame, beside a tick
    # under the line, where no structure or grade line can take its place.
    for station, other, side in ((s0, j, 1), (s1, j + 2, -1)):
        if not (1 <= other <= layout.count):
            continue
        x = X(station)
        note_y = FRAME[1] - 22  # below the station numbers, above the legend
        drawing.line([(x, FRAME[1]), (x, FRAME[3])], colour="black", width=0.9, dash=(8, 2, 2, 2), z=3.6)
        drawing.line([(x, note_y - 2), (x, note_y + 8)], colour="black", width=0.9, z=3.6)  # clear of the stations
        placer.obstacle_line([(x, FRAME[1]), (x, FRAME[3])])
        drawing.text(x + side * 3, note_y, f"MATCH LINE STA {units.station_text(station)}  SEE SHEET {other}",
                     size=SIZE, bold=True, anchor="start" if side > 0 else "end", key=f"match-{other}")

    # Labels: the alarms first, then the structures, the grade line's peaks and the pipes.
    peaks = [(x, y) for x, y in clipped_peaks(series.hgl_x, series.hgl_y, top) if left_station <= x <= right_station]
    for x, y in peaks:
        px = min(max(X(x), FRAME[0] + 4), FRAME[2] - 4)
        drawing.shape([(px - 3.5, ceiling - 6), (px + 3.5, ceiling - 6), (px, ceiling)], fill=HGL, z=3.5)
        placer.obstacle_box((px - 3.5, ceiling - 6, px + 3.5, ceiling))
        placed = placer.place(f"hgl-peak-{x:g}", [f"HGL UP TO {units.elevation_text(y)} {units.length_unit}"],
                              (px, ceiling - 6), [(0, -2, 0.5, 1), (4, -2, 0, 1), (-4, -2, 1, 1)], size=SIZE,
                              bold=True, colour=HGL)
        drawing.label(placed)
        if trial and placed.unclear:
            return drawing, placer.unclear

    last = len(series.node_ids) - 1
    owned = [k for k in nodes if s0 - 1e-9 <= series.stations[k] < s1 - 1e-9 or
             (j == layout.count - 1 and series.stations[k] >= s1 - 1e-9)]
    order = sorted(owned, key=lambda k: (not (series.flooded[k] or (k == last and series.dead_end)), k))
    for k in order:
        x = X(series.stations[k])
        stands = _finite([series.rims[k], series.node_hgl[k] if k < len(series.node_hgl) else math.nan])
        y = min(Y(max(stands)), ceiling) if stands else FRAME[3] - 40
        y_rim = Y(series.rims[k]) if math.isfinite(series.rims[k]) else y
        spots = [(0, y_rim - y + GAP + 2, 0.5, 0, True), (0, GAP + 2, 0.5, 0, True),
                 (-GAP, GAP, 1, 0, True), (GAP, GAP, 0, 0, True), (0, GAP + 2, 0.5, 0, False)]
        alarm = series.flooded[k] or (k == last and series.dead_end)
        placed = placer.place(series.node_ids[k], layout.structure_text[k], (x, y), spots, size=SIZE,
                              colour=ALARM if alarm else "black")
        drawing.label(placed)
        if trial and placed.unclear:
            return drawing, placer.unclear
    pipe_owned = [k for k in pipes if s0 <= (series.stations[k] + series.stations[k + 1]) / 2 < s1 or
                  (j == layout.count - 1 and (series.stations[k] + series.stations[k + 1]) / 2 >= s1)]
    for k in sorted(pipe_owned, key=lambda k: (not series.adverse[k], k)):
        pipe = series.pipes[k]
        mid = (series.stations[k] + series.stations[k + 1]) / 2
        lows = _finite([pipe.invert_up, pipe.invert_dn])
        y = Y(min(lows)) if lows else FRAME[1] + layout.bottom_band
        spots = [(0, -GAP, 0.5, 1, False), (0, -GAP, 0.5, 1, True), (-GAP, -GAP, 1, 1, True),
                 (GAP, -GAP, 0, 1, True)]
        placed = placer.place(pipe.id, layout.pipe_text[k], (X(mid), max(y, FRAME[1] + 2)), spots, size=SIZE,
                              colour=ADVERSE_EDGE if series.adverse[k] else "black")
        drawing.label(placed)
        if trial and placed.unclear:
            return drawing, placer.unclear

    _frame_and_title(drawing, layout, j, series)
    if placer_out is not None:
        placer_out.append(placer)
    return drawing, placer.unclear if trial else placer.crowded


def _clipped_line(drawing: Drawing, placer: LabelPlacer, points: List[Point], box: Tuple[float, ...],
                  **style: object) -> None:
    """The polyline cut to the frame, gaps where its values are missing."""
    run: List[Point] = []

    def flush() -> None:
        if len(run) >= 2:
            drawing.line(list(run), **style)  # type: ignore[arg-type]
            placer.obstacle_line(run)
        run.clear()

    for p, q in zip(points, points[1:]):
        if not all(math.isfinite(v) for v in (*p, *q)):
            flush()
            continue
        part = clip_segment(p, q, box)  # type: ignore[arg-type]
        if part is None:
            flush()
            continue
        a, b = part
        if run and (abs(run[-1][0] - a[0]) > 1e-6 or abs(run[-1][1] - a[1]) > 1e-6):
            flush()
        if not run:
            run.append(a)
        run.append(b)
    flush()


def _above_runs(points: List[Point], top: float) -> List[Tuple[float, float]]:
    """The x-ranges where the polyline runs above `top`."""
    runs: List[Tuple[float, float]] = []
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        if not all(math.isfinite(v) for v in (x0, y0, x1, y1)) or (y0 <= top and y1 <= top):
            continue
        if y0 > top and y1 > top:
            a, b = x0, x1
        else:
            t = (top - y0) / (y1 - y0)
            cut = x0 + t * (x1 - x0)
            a, b = (x0, cut) if y0 > top else (cut, x1)
        a, b = min(a, b), max(a, b)
        if runs and a <= runs[-1][1] + 1e-6:
            runs[-1] = (runs[-1][0], max(b, runs[-1][1]))
        else:
            runs.append((a, b))
    return runs


def _grid(drawing: Drawing, layout: _Layout, left: float, right: float, bottom: float, top: float,
          X: Callable[[float], float], Y: Callable[[float], float]) -> None:
    units = layout.units
    from .notation import M_PER_FT

    to_feet = (1 / M_PER_FT) if units.si else 1.0
    station_step = nice_above(units.length(72.0 * layout.h_fpp))  # a line at least every inch
    level_step = nice_above(units.length(36.0 * layout.v_fpp))  # and every half inch up
    k = math.ceil(units.length(left) / station_step - 1e-9)
    while k * station_step * to_feet <= right + 1e-9:
        feet = k * station_step * to_feet
        x = X(feet)
        if FRAME[0] <= x <= FRAME[2]:
            drawing.line([(x, FRAME[1]), (x, FRAME[3])], colour="#e3e3e3", width=0.4, z=0.5)
            drawing.text(x, FRAME[1] - 11, units.station_text(feet, places=0), size=SIZE, anchor="middle")
        k += 1
    k = math.ceil(units.length(bottom) / level_step - 1e-9)
    while k * level_step * to_feet <= top + 1e-9:
        level = k * level_step
        y = Y(level * to_feet)
        if FRAME[1] <= y <= FRAME[3]:
            drawing.line([(FRAME[0], y), (FRAME[2], y)], colour="#e3e3e3", width=0.4, z=0.5)
            drawing.text(FRAME[0] - 3, y - 0.35 * SIZE, f"{level:,.{_places(level_step)}f}", size=SIZE, anchor="end")
        k += 1


def _places(step: float) -> int:
    return max(0, -math.floor(math.log10(step) + 1e-9)) if step < 1 else 0


def _frame_and_title(drawing: Drawing, layout: _Layout, j: int, series: ProfileSeries) -> None:
    x0, y0, x1, y1 = FRAME
    drawing.line([(x0, y0), (x1, y0), (x1, y1), (x0, y1), (x0, y0)], colour="black", width=0.8, z=6.0)
    drawing.text(x0, 452, layout.title, size=11, bold=True)
    if layout.count > 1:
        drawing.text(x1, 452, f"Sheet {j + 1} of {layout.count}", size=9, bold=True, anchor="end")
    unit = layout.units.length_unit
    drawing.text(x0, 436, f"Horizontal {layout.h_text}, vertical {layout.v_text}: "
                          f"{_exaggeration_text(layout.exaggeration)}.  Stations and elevations in {unit}.",
                 size=SIZE)
    drawing.text(14, (y0 + y1) / 2, f"ELEVATION ({unit})", size=SIZE, vertical=True, anchor="middle")
    # Legend along the foot of the sheet.
    x = x0
    items: List[Tuple[str, str, object]] = [("Pipe", "box", PIPE_FILL)]
    if any(series.adverse):
        items.append(("Adverse pipe (uphill)", "box", ADVERSE_FILL))
    items += [("Structure", "box", STRUCTURE), ("Ground (rim)", "line", (GROUND, None)),
              ("Hydraulic grade line", "line", (HGL, None))]
    if series.egl_x:
        items.append(("Energy grade line", "line", (EGL, (5, 2, 1, 2))))
    for text, kind, style in items:
        if kind == "box":
            drawing.shape([(x, 10), (x + 16, 10), (x + 16, 17), (x, 17)], fill=str(style), edge="black", width=0.4)
        else:
            colour, dash = style  # type: ignore[misc]
            drawing.line([(x, 13.5), (x + 16, 13.5)], colour=colour, width=1.3, dash=dash)
        drawing.text(x + 20, 11, text, size=SIZE)
        x += 20 + block_size([text], SIZE)[0] + 14


def _sheet_title(layout: _Layout, j: int) -> str:
    return layout.title if layout.count == 1 else f"{layout.title} (sheet {j + 1} of {layout.count})"


def _build(layout: _Layout, give_up_above: Optional[int] = None) -> Tuple[List[SheetFigure], int]:
    sheets, crowded = [], 0
    for j in range(layout.count):
        drawing, count = layout.sheet(j, trial=give_up_above == 0)
        crowded += count
        if give_up_above is not None and crowded > give_up_above:  # cannot beat the best found
            return [], crowded
        sheets.append(SheetFigure(_sheet_title(layout, j), drawing))
    return sheets, crowded


def choose_layout(series: ProfileSeries, title: str) -> Tuple[_Layout, List[SheetFigure]]:
    """On the fewest sheets at which no label is crowded out of a place of its own, at the
    finest scale of the list that needs no more sheets; where every scale crowds some
    label, at the finest of the list (the most room), crowded labels drawn regardless."""
    units = Units(series.si)
    # Sheet counts grow as the scale gets finer: the answer is the finest scale without a
    # crowded label among those needing the fewest sheets at which any scale has none. So
    # the scales are tried by count, the finest of each count first, and the first that
    # works is it (a trial ends at its first crowded label).
    layouts: List[_Layout] = []
    for scale in sorted(units.profile_scales):
        layouts.append(_Layout(series, title, units.feet_per_point(scale), units.scale_text(scale),
                               layouts[0] if layouts else None))
    for layout in sorted(layouts, key=lambda candidate: candidate.count):  # stable: finest first
        sheets, _ = _build(layout, 0)
        if sheets:
            return layout, sheets
    finest = layouts[0]
    return finest, _build(finest)[0]


def layout_sheets(series: ProfileSeries, title: str) -> List[SheetFigure]:
    return choose_layout(series, title)[1]


def one_sheet(series: ProfileSeries, title: str) -> SheetFigure:
    """The whole profile on one sheet: the finest scale of the list that holds it, or the
    scale that just holds it."""
    units = Units(series.si)
    length = max(series.stations[-1] - series.stations[0], 1.0)
    fitting = [s for s in units.profile_scales if length <= _usable() * units.feet_per_point(s) * (1 + 1e-12)]
    if fitting:
        layout = _Layout(series, title, units.feet_per_point(min(fitting)), units.scale_text(min(fitting)))
    else:
        fpp = length / _usable()
        per_inch = fpp * 72.0
        text = (f"1:{round(units.length(per_inch) / 0.0254):,}" if units.si else f"1 in = {per_inch:,.0f} ft")
        layout = _Layout(series, title, fpp, text)
    drawing, _ = layout.sheet(0)
    return SheetFigure(title, drawing)
