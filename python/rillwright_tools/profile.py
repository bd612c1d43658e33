"""Longitudinal profile: the run of pipes to draw, and the drawing itself."""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Dict, List, Optional

from .inputs import Geometry, InputError, PipeGeometry

PLOT_HINT = 'drawing a profile needs matplotlib: pip install "rillwright[plot]"'


def _reach(length: float) -> float:
    # Stations only move forward: a length that is not a positive number adds nothing.
    return length if math.isfinite(length) and length > 0 else 0.0


def profile_path(geometry: Geometry, start: Optional[str] = None) -> List[PipeGeometry]:
    """Pipes from `start` down to an outfall along the longest run; without `start`, from
    the upstream end of the longest flow path of the network. Ties go to the first in
    input order."""
    downstream: Dict[str, List[PipeGeometry]] = {}
    fed = set()
    for pipe in geometry.pipes:
        downstream.setdefault(pipe.from_node, []).append(pipe)
        fed.add(pipe.to_node)
    if not geometry.pipes:
        raise InputError("the network has no pipes to draw")

    longest: Dict[str, float] = {}  # length of the longest run from a node down to an outfall

    def run_length(node: str) -> float:
        # Iterative depth-first walk: networks can be deeper than Python's recursion limit.
        if node in longest:
            return longest[node]
        stack = [(node, iter(downstream.get(node, [])))]
        on_path = {node}
        while stack:
            current, pipes = stack[-1]
            for pipe in pipes:
                if pipe.to_node in longest:
                    continue
                if pipe.to_node in on_path:
                    raise InputError("the network contains a cycle")
                on_path.add(pipe.to_node)
                stack.append((pipe.to_node, iter(downstream.get(pipe.to_node, []))))
                break
            else:
                longest[current] = max(
                    (_reach(p.length) + longest[p.to_node] for p in downstream.get(current, [])), default=0.0)
                on_path.discard(current)
                stack.pop()
        return longest[node]

    if start is None:
        heads = [n for n in geometry.node_order if n in downstream and n not in fed]
        if not heads:
            heads = [p.from_node for p in geometry.pipes]
        best = max(run_length(n) for n in heads)
        start = next(n for n in heads if run_length(n) == best)
    elif start not in geometry.nodes and start not in downstream:
        raise InputError(f"no node `{start}` in the network")
    elif start not in downstream:
        raise InputError(f"node `{start}` has no pipe downstream of it")

    path, node = [], start
    while node in downstream:
        run_length(node)
        pipe = max(downstream[node], key=lambda p: _reach(p.length) + longest[p.to_node])
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
    return ProfileSeries(
        node_ids=node_ids, stations=stations, rims=[node_value(n, "rim") for n in node_ids],
        node_inverts=inverts, flooded=[bool(node_results.get(n, {}).get("floods")) for n in node_ids],
        pipes=path, hgl_x=hgl_x, hgl_y=hgl_y,
    )


def draw_profile(series: ProfileSeries, title: str, out_path: str) -> None:
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise InputError(PLOT_HINT) from None

    stations = series.stations
    figure = Figure(figsize=(11, 5.5), dpi=150)
    axes = figure.add_subplot()
    for k, pipe in enumerate(series.pipes):
        xs = [stations[k], stations[k + 1]]
        inverts = [pipe.invert_up, pipe.invert_dn]
        crowns = [pipe.invert_up + pipe.rise, pipe.invert_dn + pipe.rise]
        axes.fill_between(xs, inverts, crowns, color="0.85", zorder=1)
        axes.plot(xs, inverts, color="black", linewidth=1.2, zorder=2,
                  label="Pipe invert and crown" if k == 0 else None)
        axes.plot(xs, crowns, color="black", linewidth=1.2, zorder=2)
        axes.annotate(f"{pipe.id}: D {pipe.rise:g} ft, L {pipe.length:g} ft", ((xs[0] + xs[1]) / 2, min(inverts)),
                      xytext=(0, -14), textcoords="offset points", ha="center", va="top", fontsize=8)
    for k, node_id in enumerate(series.node_ids):
        axes.plot([stations[k]] * 2, [series.node_inverts[k], series.rims[k]], color="0.45", linewidth=4,
                  zorder=1.5, solid_capstyle="butt", label="Structure" if k == 0 else None)
        flooded = series.flooded[k]
        axes.annotate(node_id + (" FLOODS" if flooded else ""), (stations[k], series.rims[k]), xytext=(0, 8),
                      textcoords="offset points", ha="center", fontsize=9, fontweight="bold",
                      color="red" if flooded else "black")
    axes.plot(stations, series.rims, color="saddlebrown", linewidth=1.5, zorder=3, label="Ground (rim)")
    axes.plot(series.hgl_x, series.hgl_y, color="tab:blue", linewidth=2, zorder=4, label="Hydraulic grade line")

    axes.set_title(f"{title}: profile {series.node_ids[0]} to {series.node_ids[-1]}")
    axes.set_xlabel("Station (ft)")
    axes.set_ylabel("Elevation (ft)")
    axes.set_axisbelow(True)  # keep grid lines behind structures that stand on a tick
    axes.grid(True, color="0.92")
    axes.margins(x=0.04, y=0.12)
    axes.legend(loc="upper right", fontsize=8)
    figure.tight_layout()
    try:
        figure.savefig(out_path)
    except OSError as error:
        raise InputError(f"cannot write {out_path}: {error.strerror or error}") from None
