"""Longitudinal profile: the run of pipes to draw, and the drawing itself."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Sequence, Tuple

from .. import _core
from ..inputs import Geometry, InputError, PipeGeometry

PLOT_HINT = 'drawing a profile needs matplotlib: pip install "rillwright[plot]"'
ADVERSE_SLOPE = _core.ADVERSE_SLOPE  # the analysis's own limit

Run = Tuple[bool, float]  # (ends at an outfall, length): longer runs to an outfall win


def _reach(length: float) -> float:
    # Stations only move forward: a length that is not a positive number adds nothing.
    return length if math.isfinite(length) and length > 0 else 0.0


def profile_path(geometry: Geometry, start: Optional[str] = None) -> List[PipeGeometry]:
    """Pipes from `start` down along the longest run that ends at an outfall (the longest
    run to a dead end only where no outfall can be reached); without `start`, from the
    upstream end of the longest such flow path of the network. Ties go to the first in
    input order."""
    downstream: Dict[str, List[PipeGeometry]] = {}
    fed = set()
    for pipe in geometry.pipes:
        downstream.setdefault(pipe.from_node, []).append(pipe)
        fed.add(pipe.to_node)
    if not geometry.pipes:
        raise InputError("the network has no pipes to draw")

    best: Dict[str, Run] = {}  # the best run from a node down to where the water leaves

    def ends_here(node: str) -> Run:
        found = geometry.nodes.get(node)
        return (found is not None and found.kind == "outfall", 0.0)

    def through(pipe: PipeGeometry) -> Run:
        reaches, length = best[pipe.to_node]
        return (reaches, _reach(pipe.length) + length)

    def run_of(node: str) -> Run:
        # Iterative depth-first walk: networks can be deeper than Python's recursion limit.
        if node in best:
            return best[node]
        stack = [(node, iter(downstream.get(node, [])))]
        on_path = {node}
        while stack:
            current, pipes = stack[-1]
            for pipe in pipes:
                if pipe.to_node in best:
                    continue
                if pipe.to_node in on_path:
                    raise InputError("the network contains a cycle")
                on_path.add(pipe.to_node)
                stack.append((pipe.to_node, iter(downstream.get(pipe.to_node, []))))
                break
            else:
                leaving = downstream.get(current, [])
                best[current] = max((through(p) for p in leaving), default=ends_here(current))
                on_path.discard(current)
                stack.pop()
        return best[node]

    if start is None:
        heads = [n for n in geometry.node_order if n in downstream and n not in fed]
        if not heads:
            heads = [p.from_node for p in geometry.pipes]
        longest = max(run_of(n) for n in heads)
        start = next(n for n in heads if run_of(n) == longest)
    elif start not in geometry.nodes and start not in downstream:
        raise InputError(f"no node `{start}` in the network")
    elif start not in downstream:
        raise InputError(f"node `{start}` has no pipe downstream of it")

    path, node = [], start
    while node in downstream:
        run_of(node)
        pipe = max(downstream[node], key=through)
        path.append(pipe)
        node = pipe.to_node
    return path


def _value(value: Any) -> float:
    return math.nan if value is None else float(value)


@dataclass
class ProfileSeries:
    """Everything the drawing plots, in feet: stations grow downstream from the first node."""

    node_ids: List[str]
    stations: List[float]
    rims: List[float]
    node_inverts: List[float]
    flooded: List[bool]
    pipes: List[PipeGeometry]
    hgl_x: List[float]
    hgl_y: List[float]
    adverse: List[bool] = field(default_factory=list)  # per pipe
    dead_end: bool = False  # the path ends at a structure that is not an outfall
    si: bool = False  # sizes in mm


def profile_series(path: List[PipeGeometry], geometry: Geometry, result: Dict[str, Any]) -> ProfileSeries:
    pipe_results: Dict[str, Dict[str, Any]] = {}
    for row in result["pipes"]:
        pipe_results.setdefault(row["id"], row)
    node_results: Dict[str, Dict[str, Any]] = {}
    for row in result["nodes"]:
        node_results.setdefault(row["id"], row)

    node_ids = [path[0].from_node] + [p.to_node for p in path]
    stations = [0.0]
    for pipe in path:
        stations.append(stations[-1] + _reach(pipe.length))

    def node_value(node_id: str, key: str) -> float:
        row = node_results.get(node_id)
        return _value(row[key]) if row else math.nan

    # The structure's level, then along each pipe from its upstream to its downstream
    # level: the steps at structures show their losses.
    hgl_x, hgl_y = [stations[0]], [node_value(node_ids[0], "hgl")]
    for k, pipe in enumerate(path):
        row = pipe_results.get(pipe.id, {})
        hgl_x += [stations[k], stations[k + 1], stations[k + 1]]
        hgl_y += [_value(row.get("hgl_up")), _value(row.get("hgl_dn")), node_value(node_ids[k + 1], "hgl")]

    inverts = [geometry.nodes[n].invert if n in geometry.nodes else math.nan for n in node_ids]
    last = geometry.nodes.get(node_ids[-1])
    return ProfileSeries(
        node_ids=node_ids, stations=stations, rims=[node_value(n, "rim") for n in node_ids],
        node_inverts=inverts, flooded=[bool(node_results.get(n, {}).get("floods")) for n in node_ids],
        pipes=path, hgl_x=hgl_x, hgl_y=hgl_y,
        adverse=[_value(pipe_results.get(p.id, {}).get("slope")) < ADVERSE_SLOPE for p in path],
        dead_end=last is None or last.kind != "outfall", si=geometry.si,
    )


def size_text(pipe: PipeGeometry, si: bool) -> str:
    """The pipe's size as drawings give it: "D 18 in" (rise "H" for other shapes), mm in SI."""
    letter = "D" if pipe.shape == "circular" else "H"
    if not math.isfinite(pipe.rise):
        return f"{letter} ?"
    if si:
        return f"{letter} {round(pipe.rise * 304.8):d} mm"
    return f"{letter} {round(pipe.rise * 12.0):d} in"


def profile_title(series: ProfileSeries, title: str) -> str:
    text = f"{title}: profile {series.node_ids[0]} to {series.node_ids[-1]}"
    if series.dead_end:
        text += f" (ends at dead end {series.node_ids[-1]}, not an outfall)"
    return text


def vertical_range(series: ProfileSeries) -> Tuple[float, float]:
    """From the ground and the pipes, with room below for the pipe labels; a grade line
    a little above the ground widens it, one far above is clipped."""
    crowns = [e + p.rise for p in series.pipes for e in (p.invert_up, p.invert_dn)]
    inverts = [e for p in series.pipes for e in (p.invert_up, p.invert_dn)]
    levels = [v for v in series.rims + series.node_inverts + crowns + inverts if math.isfinite(v)]
    if not levels:
        levels = [v for v in series.hgl_y if math.isfinite(v)] or [0.0]
    low, high = min(levels), max(levels)
    span = max(high - low, 1.0)
    top, bottom = high + 0.12 * span, low - 0.16 * span
    hgl = [v for v in series.hgl_y if math.isfinite(v)]
    if hgl:
        top = max(top, min(max(hgl) + 0.06 * span, high + 0.4 * span))
        bottom = min(bottom, max(min(hgl) - 0.06 * span, low - 0.4 * span))
    return bottom, top


def clipped_peaks(xs: Sequence[float], ys: Sequence[float], top: float) -> List[Tuple[float, float]]:
    """(station, highest level) of each run of grade-line points above `top`."""
    peaks: List[Tuple[float, float]] = []
    in_run = False
    for x, y in zip(xs, ys):
        if math.isfinite(y) and y > top:
            if in_run and y > peaks[-1][1]:
                peaks[-1] = (x, y)
            elif not in_run:
                peaks.append((x, y))
            in_run = True
        elif math.isfinite(y):
            in_run = False
    return peaks


class LabelPlacer:
    """Adds labels one by one, keeping each only where it overlaps no label already kept
    (trying each offset in turn) and stays inside the axes."""

    def __init__(self, figure: Any, axes: Any) -> None:
        self.axes = axes
        self.renderer = figure.canvas.get_renderer()
        self.inside = axes.get_window_extent(self.renderer)
        self.dpi = figure.dpi
        self.kept: List[Any] = []

    def place(self, x: float, y: float, text: str, offsets: Sequence[float], **style: Any) -> bool:
        for dy in offsets:
            label = self.axes.annotate(text, (x, y), xytext=(0, dy), textcoords="offset points", ha="center",
                                       va="bottom" if dy >= 0 else "top", annotation_clip=False, **style)
            box = label.get_window_extent(self.renderer)
            # A label at either end of the drawing moves inwards rather than off the axes.
            shift = max(self.inside.x0 + 3 - box.x0, 0.0) - max(box.x1 - (self.inside.x1 - 3), 0.0)
            if shift:
                label.xyann = (shift * 72.0 / self.dpi, dy)
                box = label.get_window_extent(self.renderer)
            fits = (box.x0 >= self.inside.x0 and box.x1 <= self.inside.x1 and box.y0 >= self.inside.y0
                    and box.y1 <= self.inside.y1)
            box = box.padded(3)
            if fits and not any(box.overlaps(other) for other in self.kept):
                self.kept.append(box)
                return True
            label.remove()
        return False


def draw_profile(series: ProfileSeries, title: str, out_path: str) -> None:
    figure = profile_figure(series, title)
    try:
        figure.savefig(out_path)
    except OSError as error:
        raise InputError(f"cannot write {out_path}: {error.strerror or error}") from None


def profile_figure(series: ProfileSeries, title: str) -> Any:
    """The profile as a matplotlib Figure."""
    try:
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        from matplotlib.figure import Figure
        from matplotlib.lines import Line2D
        from matplotlib.patches import Patch
    except ImportError:
        raise InputError(PLOT_HINT) from None

    stations = series.stations
    figure = Figure(figsize=(12, 6), dpi=150)
    FigureCanvasAgg(figure)
    # Fixed margins instead of a layout pass: labels are placed by measuring them where
    # they will stay.
    axes = figure.add_axes((0.07, 0.2, 0.9, 0.71))
    bottom, top = vertical_range(series)
    width = max(stations[-1] - stations[0], 1.0)
    axes.set_xlim(stations[0] - 0.03 * width, stations[-1] + 0.03 * width)
    axes.set_ylim(bottom, top)

    for k, pipe in enumerate(series.pipes):
        xs = [stations[k], stations[k + 1]]
        inverts = [pipe.invert_up, pipe.invert_dn]
        crowns = [pipe.invert_up + pipe.rise, pipe.invert_dn + pipe.rise]
        adverse = series.adverse[k] if k < len(series.adverse) else False
        axes.fill_between(xs, inverts, crowns, color="#f6b26b" if adverse else "0.85",
                          hatch="///" if adverse else None, edgecolor="#cc4125" if adverse else None,
                          linewidth=0, zorder=1)
        edge = "#cc4125" if adverse else "black"
        axes.plot(xs, inverts, color=edge, linewidth=1.2, zorder=2)
        axes.plot(xs, crowns, color=edge, linewidth=1.2, zorder=2)
    for k in range(len(series.node_ids)):
        axes.plot([stations[k]] * 2, [series.node_inverts[k], series.rims[k]], color="0.45", linewidth=4,
                  zorder=1.5, solid_capstyle="butt")
    axes.plot(stations, series.rims, color="saddlebrown", linewidth=1.5, zorder=3)
    axes.plot(series.hgl_x, series.hgl_y, color="tab:blue", linewidth=2, zorder=4)

    placer = LabelPlacer(figure, axes)
    # Where the grade line rises above the drawing it runs dashed along the top edge, and
    # the highest level of each such run is written there.
    ceiling = top - 0.015 * (top - bottom)  # just inside the frame, where a line stays visible
    along_top = [ceiling if math.isfinite(y) and y > top else math.nan for y in series.hgl_y]
    axes.plot(series.hgl_x, along_top, color="tab:blue", linewidth=2, linestyle=(0, (3, 2)), zorder=4)
    peaks = clipped_peaks(series.hgl_x, series.hgl_y, top)
    for x, y in peaks:
        axes.plot([x], [ceiling], marker="^", color="tab:blue", markersize=7, zorder=5)
        placer.place(x, ceiling, f"grade line up to {y:,.1f} ft", (-7, -19), fontsize=8, color="tab:blue",
                     fontweight="bold")

    # Labels in order of importance; the ones that do not fit are left out.
    last = len(series.node_ids) - 1
    node_order = sorted(range(len(series.node_ids)),
                        key=lambda k: (k not in (0, last), not series.flooded[k], k))
    for k in node_order:
        words = [series.node_ids[k]]
        if series.flooded[k]:
            words.append("FLOODS")
        if k == last and series.dead_end:
            words.append("DEAD END")
        alarm = series.flooded[k] or (k == last and series.dead_end)
        placer.place(stations[k], series.rims[k] if math.isfinite(series.rims[k]) else top, " ".join(words),
                     (6, 18), fontsize=8.5, fontweight="bold", color="red" if alarm else "black")
    pipe_order = sorted(range(len(series.pipes)), key=lambda k: (not series.adverse[k], k))
    for k in pipe_order:
        pipe = series.pipes[k]
        label = f"{pipe.id}: {size_text(pipe, series.si)}, L {pipe.length:.0f} ft" + \
            (" ADVERSE" if series.adverse[k] else "")
        # Below its neighbours too, whose ends can lie lower than its own.
        near = series.pipes[max(k - 1, 0):k + 2]
        low = min([v for p in near for v in (p.invert_up, p.invert_dn) if math.isfinite(v)] or [top])
        placer.place((stations[k] + stations[k + 1]) / 2, low, label, (-5, -16), fontsize=7.5,
                     color="#cc4125" if series.adverse[k] else "0.15")

    handles: List[Any] = [Patch(facecolor="0.85", edgecolor="black", label="Pipe")]
    if any(series.adverse):
        handles.append(Patch(facecolor="#f6b26b", edgecolor="#cc4125", hatch="///", label="Adverse pipe (uphill)"))
    handles += [Patch(facecolor="0.45", label="Structure"),
                Line2D([], [], color="saddlebrown", linewidth=1.5, label="Ground (rim)"),
                Line2D([], [], color="tab:blue", linewidth=2, label="Hydraulic grade line")]
    if peaks:
        handles.append(Line2D([], [], color="tab:blue", linewidth=2, linestyle=(0, (3, 2)), marker="^",
                              label="Grade line above the drawing"))
    axes.legend(handles=handles, loc="upper center", bbox_to_anchor=(0.5, -0.1), ncol=len(handles), fontsize=8,
                frameon=False)
    axes.set_title(profile_title(series, title))
    axes.set_xlabel("Station (ft)")
    axes.set_ylabel("Elevation (ft)")
    axes.set_axisbelow(True)  # keep grid lines behind structures that stand on a tick
    axes.grid(True, color="0.92")
    return figure
