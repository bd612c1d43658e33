"""Longitudinal profile: the run of pipes to draw, what is drawn along it, and the drawing
(its sheets are laid out in profile_sheet.py)."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Sequence, Tuple

from .. import _core
from ..inputs import Geometry, InputError, PipeGeometry
from .notation import Units
from .paper import SheetFigure

PLOT_HINT = 'drawing a profile needs matplotlib: pip install "rillwright[plot]"'
ADVERSE_SLOPE = _core.ADVERSE_SLOPE  # the analysis's own limit

Run = Tuple[bool, float]  # (ends at an outfall, length): longer runs to an outfall win


def _reach(length: float) -> float:
    # Stations only move forward: a length that is not a positive number adds nothing.
    return length if math.isfinite(length) and length > 0 else 0.0


class _Runs:
    """The best run from each node down to where the water leaves, worked out once per
    network and shared by every path asked of it."""

    def __init__(self, geometry: Geometry) -> None:
        if not geometry.pipes:
            raise InputError("the network has no pipes to draw")
        self.geometry = geometry
        self.downstream: Dict[str, List[PipeGeometry]] = {}
        self.fed = set()
        for pipe in geometry.pipes:
            self.downstream.setdefault(pipe.from_node, []).append(pipe)
            self.fed.add(pipe.to_node)
        self.best: Dict[str, Run] = {}

    def _ends_here(self, node: str) -> Run:
        found = self.geometry.nodes.get(node)
        return (found is not None and found.kind == "outfall", 0.0)

    def through(self, pipe: PipeGeometry) -> Run:
        reaches, length = self.best[pipe.to_node]
        return (reaches, _reach(pipe.length) + length)

    def run_of(self, node: str) -> Run:
        # Iterative depth-first walk: networks can be deeper than Python's recursion limit.
        best, downstream = self.best, self.downstream
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
                best[current] = max((self.through(p) for p in leaving), default=self._ends_here(current))
                on_path.discard(current)
                stack.pop()
        return best[node]

    def path_from(self, start: str) -> List[PipeGeometry]:
        path, node = [], start
        while node in self.downstream:
            self.run_of(node)
            pipe = max(self.downstream[node], key=self.through)
            path.append(pipe)
            node = pipe.to_node
        return path


def profile_path(geometry: Geometry, start: Optional[str] = None) -> List[PipeGeometry]:
    """Pipes from `start` down along the longest run that ends at an outfall (the longest
    run to a dead end only where no outfall can be reached); without `start`, from the
    upstream end of the longest such flow path of the network. Ties go to the first in
    input order."""
    runs = _Runs(geometry)
    if start is None:
        heads = [n for n in geometry.node_order if n in runs.downstream and n not in runs.fed]
        if not heads:
            heads = [p.from_node for p in geometry.pipes]
        longest = max(runs.run_of(n) for n in heads)
        start = next(n for n in heads if runs.run_of(n) == longest)
    elif start not in geometry.nodes and start not in runs.downstream:
        raise InputError(f"no node `{start}` in the network")
    elif start not in runs.downstream:
        raise InputError(f"node `{start}` has no pipe downstream of it")
    return runs.path_from(start)


def head_paths(geometry: Geometry) -> List[List[PipeGeometry]]:
    """From every structure that no pipe feeds (in pipe order), its path as profile_path
    gives it, the runs below worked out once for all of them."""
    runs = _Runs(geometry)
    heads = [n for n in dict.fromkeys(p.from_node for p in geometry.pipes) if n not in runs.fed]
    return [runs.path_from(head) for head in heads]


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
    si: bool = False  # written in metres, millimetres and m³/s
    node_hgl: List[float] = field(default_factory=list)  # per node
    pipe_rows: List[Dict[str, Any]] = field(default_factory=list)  # the analysis' row of each pipe
    egl_x: List[float] = field(default_factory=list)  # the energy line, where the rows carry it
    egl_y: List[float] = field(default_factory=list)


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
    egl_x: List[float] = []
    egl_y: List[float] = []
    rows = [pipe_results.get(pipe.id, {}) for pipe in path]
    for k, row in enumerate(rows):
        hgl_x += [stations[k], stations[k + 1], stations[k + 1]]
        hgl_y += [_value(row.get("hgl_up")), _value(row.get("hgl_dn")), node_value(node_ids[k + 1], "hgl")]
        if "egl_up" in row or "egl_dn" in row:
            egl_x += [stations[k], stations[k + 1]]
            egl_y += [_value(row.get("egl_up")), _value(row.get("egl_dn"))]

    inverts = [geometry.nodes[n].invert if n in geometry.nodes else math.nan for n in node_ids]
    last = geometry.nodes.get(node_ids[-1])
    return ProfileSeries(
        node_ids=node_ids, stations=stations, rims=[node_value(n, "rim") for n in node_ids],
        node_inverts=inverts, flooded=[bool(node_results.get(n, {}).get("floods")) for n in node_ids],
        pipes=path, hgl_x=hgl_x, hgl_y=hgl_y,
        adverse=[_value(row.get("slope")) < ADVERSE_SLOPE for row in rows],
        dead_end=last is None or last.kind != "outfall", si=geometry.si,
        node_hgl=[node_value(n, "hgl") for n in node_ids], pipe_rows=rows, egl_x=egl_x, egl_y=egl_y,
    )


def size_text(pipe: PipeGeometry, si: bool) -> str:
    """The pipe's size as drawings give it: "18 in", "24 x 36 in" (rise x span) for the
    other shapes, mm in SI."""
    return Units(si).size_text(pipe.shape, pipe.rise, pipe.span)


def profile_title(series: ProfileSeries, title: str) -> str:
    text = f"{title}: {series.node_ids[0]} to {series.node_ids[-1]}"
    if series.dead_end:
        text += f" (ends at dead end {series.node_ids[-1]}, not an outfall)"
    return text


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


def profile_sheets(series: ProfileSeries, title: str) -> List[SheetFigure]:
    """The profile on sheets of the report's drawing area at an engineering scale: the
    coarsest at which every label finds a place of its own (next to what it names or on
    a leader), with match lines between the sheets."""
    from .profile_sheet import layout_sheets

    return layout_sheets(series, profile_title(series, title))


def draw_profile(series: ProfileSeries, title: str, out_path: str) -> None:
    figure = profile_figure(series, title)
    try:
        figure.savefig(out_path)
    except OSError as error:
        raise InputError(f"cannot write {out_path}: {error.strerror or error}") from None


def profile_figure(series: ProfileSeries, title: str) -> Any:
    """The whole profile on one sheet, as a matplotlib Figure: at the finest engineering
    scale that holds it, or a scale of its own (stated) where none does."""
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise InputError(PLOT_HINT) from None
    from .profile_sheet import one_sheet

    return one_sheet(series, profile_title(series, title)).figure
