"""Plan view of a network and its results: pipes coloured by design flow / capacity,
flooded structures and outfalls marked, catchments shaded, ids where they fit, a scale
bar and a north arrow. Drawn in the project's own plan units (feet for .rwn)."""

from __future__ import annotations

import json
import math
from typing import Any, Dict, List, Optional, Sequence, Tuple

from .backdrops import Warn, base_of, draw_backdrops, stderr_warning
from ..inputs import InputError, Source, records
from ..units import FT_PER_M

PLOT_HINT = 'drawing a plan needs matplotlib: pip install "rillwright[plot]"'
Box = Tuple[float, float, float, float]


def draw_plan(source: Source, result: Dict[str, Any], out_path: str, *, title: Optional[str] = None,
              node_values: Optional[Dict[str, Optional[float]]] = None, node_values_label: str = "",
              warn: Warn = stderr_warning) -> None:
    """Draws the plan to `out_path` (.png or .svg). `node_values` colours the structures on
    a second labelled scale ({id: value, or None for "never floods"})."""
    figure = plan_figure(source, result, title=title, node_values=node_values,
                         node_values_label=node_values_label, warn=warn)
    figure.savefig(out_path, bbox_inches="tight", pad_inches=0.15)


def plan_figure(source: Source, result: Dict[str, Any], *, title: Optional[str] = None,
                node_values: Optional[Dict[str, Optional[float]]] = None, node_values_label: str = "",
                warn: Warn = stderr_warning, width: float = 11.0) -> Any:
    """The plan as a matplotlib Figure, over the project's backdrops."""
    network = records(source)
    project = json.loads(source.text) if source.kind == "project" else {}
    unit, scale = ("m", 1 / FT_PER_M) if project.get("units") == "si" else ("ft", 1.0)
    nodes: Dict[str, Tuple[float, float]] = {}
    for node in network["nodes"]:
        nodes[node["id"]] = (node["x"] * scale, node["y"] * scale)
    if not nodes or all(x == 0 and y == 0 for x, y in nodes.values()):
        raise ValueError("the network has no plan coordinates (every structure is at 0, 0): "
                         "give the structures x and y to draw a plan")
    try:
        from matplotlib import colormaps
        from matplotlib.collections import LineCollection, PolyCollection
        from matplotlib.colors import LinearSegmentedColormap, Normalize
        from matplotlib.figure import Figure
        from matplotlib.lines import Line2D
    except ImportError:
        raise InputError(PLOT_HINT) from None

    rings = [[(x * scale, y * scale) for x, y in c.get("vertices", [])]
             for c in project.get("catchments", []) if len(c.get("vertices", [])) >= 3]
    xs = [p[0] for p in nodes.values()] + [x for ring in rings for x, _ in ring]
    ys = [p[1] for p in nodes.values()] + [y for ring in rings for _, y in ring]
    x0, x1, y0, y1 = min(xs), max(xs), min(ys), max(ys)
    pad = 0.06 * max(x1 - x0, y1 - y0, 1.0)
    x0, x1, y0, y1 = x0 - pad, x1 + pad, y0 - pad, y1 + pad
    height = min(max(width * 0.8 * (y1 - y0) / (x1 - x0), 3.0), 11.0) + 1.2
    figure = Figure(figsize=(width, height), dpi=150, layout="constrained")
    axes = figure.add_subplot()
    axes.set_aspect("equal", adjustable="box")
    axes.set_xlim(x0, x1)
    axes.set_ylim(y0, y1)
    axes.set_xticks([])
    axes.set_yticks([])
    axes.set_title(title or result.get("name") or "Plan", fontsize=12)

    draw_backdrops(axes, project, base_of(source.label), warn)
    if rings:
        axes.add_collection(PolyCollection(rings, facecolors="#a6d96a", edgecolors="#4d8c2a",
                                           alpha=0.35, linewidths=0.7, zorder=1))

    segments, ratios, widths, middles = [], [], [], []
    rises = [p["rise"] for p in network["pipes"] if math.isfinite(p["rise"]) and p["rise"] > 0]
    largest = max(rises, default=1.0)
    for pipe, outcome in zip(network["pipes"], result["pipes"]):
        if pipe["from"] not in nodes or pipe["to"] not in nodes:
            continue
        a, b = nodes[pipe["from"]], nodes[pipe["to"]]
        segments.append([a, b])
        capacity = outcome["capacity"]
        ratio = outcome["design_q"] / capacity if capacity and math.isfinite(capacity) else math.nan
        ratios.append(ratio if math.isfinite(ratio) else 0.0)
        widths.append(1.2 + 2.8 * (pipe["rise"] / largest if math.isfinite(pipe["rise"]) else 0.0))
        middles.append((pipe["id"], (a[0] + b[0]) / 2, (a[1] + b[1]) / 2))
    top = max(1.25, min(max(ratios, default=1.0), 2.0))
    # No pale middle: every pipe must stand out on the white page and the pale catchments.
    pipe_colours = LinearSegmentedColormap.from_list(
        "flow_ratio", ["#2c7bb6", "#1a9641", "#fdae61", "#d7191c", "#67001f"])
    lines = LineCollection(segments, cmap=pipe_colours, norm=Normalize(0.0, top), linewidths=widths,
                           capstyle="round", zorder=2)
    lines.set_array(ratios)
    axes.add_collection(lines)
    bar = figure.colorbar(lines, ax=axes, shrink=0.8, pad=0.01, extend="max" if max(ratios, default=0) > top else "neither")
    bar.set_label("pipe design flow / capacity (> 1: surcharged)")
    if bar.solids is not None:
        # A gradient of vectors prints sharp at any scale; edges of their own colour leave
        # no hairline seams between the bands.
        bar.solids.set_rasterized(False)
        bar.solids.set_edgecolor("face")

    node_result = {n["id"]: n for n in result["nodes"]}
    kinds = {n["id"]: n["kind"] for n in network["nodes"]}
    ordinary = [i for i in nodes if kinds[i] != "outfall"]
    outfalls = [i for i in nodes if kinds[i] == "outfall"]
    flooded = [i for i in nodes if node_result.get(i, {}).get("floods")]

    def scatter(ids: List[str], **style: Any) -> Any:
        if ids:
            return axes.scatter([nodes[i][0] for i in ids], [nodes[i][1] for i in ids], **style)
        return None

    handles: List[Any] = []
    if node_values is not None:
        valued = [i for i in ordinary if _finite(node_values.get(i))]
        never = [i for i in ordinary if i not in valued]
        if valued:
            marks = scatter(valued, c=[node_values[i] for i in valued], cmap=colormaps["viridis"], s=34,
                            edgecolors="black", linewidths=0.5, zorder=4)
            figure.colorbar(marks, ax=axes, shrink=0.8, pad=0.01).set_label(node_values_label or "structure value")
        scatter(never, s=30, facecolors="white", edgecolors="#808080", linewidths=1.0, zorder=4)
        handles.append(Line2D([], [], marker="o", ls="", mfc="white", mec="#808080", label="never floods"))
    else:
        scatter(ordinary, s=18, c="#404040", zorder=4)
        handles.append(Line2D([], [], marker="o", ls="", color="#404040", ms=5, label="structure"))
    scatter(outfalls, s=70, marker="v", c="#1f4e9c", edgecolors="black", linewidths=0.6, zorder=5)
    handles.append(Line2D([], [], marker="v", ls="", mfc="#1f4e9c", mec="black", ms=8, label="outfall"))
    if flooded:
        scatter(flooded, s=95, marker="s", facecolors="none", edgecolors="#7b2cbf", linewidths=1.6, zorder=6)
        handles.append(Line2D([], [], marker="s", ls="", mfc="none", mec="#7b2cbf", mew=1.6, ms=9,
                              label=f"floods ({len(flooded)})"))
    if rings:
        handles.append(Line2D([], [], marker="s", ls="", mfc="#a6d96a", mec="#4d8c2a", alpha=0.6, ms=9,
                              label="catchment"))
    axes.legend(handles=handles, loc="upper center", bbox_to_anchor=(0.5, -0.005), ncol=len(handles),
                fontsize=8, frameon=False)

    figure.canvas.draw()  # fixes the final limits, which the label placement needs
    priority = outfalls + [i for i in flooded if i not in outfalls] + [i for i in nodes if i not in outfalls and i not in flooded]
    label_items = [(i, nodes[i][0], nodes[i][1], 7.5) for i in priority] + [(i, x, y, 6.0) for i, x, y in middles]
    place_labels(figure, axes, label_items, list(nodes.values()), segments)
    draw_scale_bar(axes, unit)
    draw_north_arrow(axes)
    return figure


def place_labels(figure: Any, axes: Any, items: List[Tuple[str, float, float, float]],
                 markers: List[Tuple[float, float]],
                 lines: Sequence[Sequence[Tuple[float, float]]] = ()) -> List[Box]:
    """Labels in priority order by the shared placer (drawing/labels.py): beside their
    point, clear of the structures, the `lines` (in data units) and each other; else on a
    leader; never left out. Returns the pixel boxes of the labels."""
    from matplotlib.patheffects import withStroke

    from .labels import LabelPlacer, around

    halo = [withStroke(linewidth=2.5, foreground="white")]  # readable where a label must cross a pipe
    per_point = figure.dpi / 72.0
    frame = axes.get_window_extent()

    def points(x: float, y: float) -> Tuple[float, float]:
        px, py = axes.transData.transform((x, y))
        return px / per_point, py / per_point

    placer = LabelPlacer((frame.x0 / per_point, frame.y0 / per_point, frame.x1 / per_point, frame.y1 / per_point))
    for x, y in markers:
        px, py = points(x, y)
        placer.obstacle_box((px - 2, py - 2, px + 2, py + 2))
    for line in lines:
        placer.obstacle_line([points(x, y) for x, y in line])
    boxes: List[Box] = []
    for text, x, y, size in items:
        anchor = points(x, y)
        placed = placer.place(text, [text], anchor, around(3.0), size=size)
        left, baseline = placed.baselines()[0]
        colour = "black" if size > 7 else "#444444"
        style = {"arrowprops": {"arrowstyle": "-", "color": colour, "lw": 0.5, "shrinkA": 2, "shrinkB": 0}} \
            if placed.leader is not None else {}
        axes.annotate(text, (x, y), xytext=(left - anchor[0], baseline - anchor[1]), textcoords="offset points",
                      fontsize=size, ha="left", va="baseline", color=colour, zorder=7, path_effects=halo,
                      gid=f"label-{text}", family="DejaVu Sans", annotation_clip=False, **style)
        b = placed.box
        boxes.append((b[0] * per_point, b[1] * per_point, b[2] * per_point, b[3] * per_point))
    return boxes


def _finite(value: Optional[float]) -> bool:
    return value is not None and math.isfinite(value)


def _overlap(a: Box, b: Box) -> bool:
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


def draw_scale_bar(axes: Any, unit: str) -> None:
    x0, x1 = axes.get_xlim()
    y0, y1 = axes.get_ylim()
    target = (x1 - x0) / 5
    power = 10 ** math.floor(math.log10(target))
    length = max(step * power for step in (1, 2, 5) if step * power <= target)
    left, bottom = x0 + 0.03 * (x1 - x0), y0 + 0.04 * (y1 - y0)
    tick = 0.012 * (y1 - y0)
    axes.plot([left, left + length], [bottom, bottom], color="black", lw=2.5, zorder=8, solid_capstyle="butt")
    for end in (left, left + length / 2, left + length):
        axes.plot([end, end], [bottom - tick, bottom + tick], color="black", lw=1.2, zorder=8)
    axes.text(left + length / 2, bottom + 1.8 * tick, f"{length:g} {unit}", ha="center", va="bottom",
              fontsize=8, zorder=8, bbox={"facecolor": "white", "edgecolor": "none", "alpha": 0.7, "pad": 1})


def draw_north_arrow(axes: Any) -> None:
    axes.annotate("N", xy=(0.96, 0.95), xytext=(0.96, 0.84), xycoords="axes fraction", ha="center",
                  va="center", fontsize=11, fontweight="bold", zorder=8,
                  arrowprops={"arrowstyle": "-|>", "color": "black", "lw": 1.5})
