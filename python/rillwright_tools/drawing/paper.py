"""A drawing on paper: lines, filled shapes and text in points (1/72 in, origin at the
lower left), written straight to SVG (text as text) or drawn as a matplotlib Figure.

The report writes hundreds of sheets; building each through matplotlib's artists and its
SVG writer costs about half a millisecond per piece of text, writing the same SVG here a
few microseconds. The Figure is drawn from the same list, so the PNG shows what the SVG
shows."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, List, Optional, Sequence, Tuple
from xml.sax.saxutils import escape

from .labels import FONT, Placed

Point = Tuple[float, float]


@dataclass
class Line:
    points: List[Point]
    colour: str = "black"
    width: float = 0.5
    dash: Optional[Tuple[float, ...]] = None
    z: float = 2.0


@dataclass
class Shape:
    points: List[Point]
    fill: str = "none"
    opacity: float = 1.0
    edge: str = "none"
    width: float = 0.0
    z: float = 1.0


@dataclass
class Text:
    x: float  # on the baseline; where `anchor` says
    y: float
    text: str
    size: float = 8.0
    colour: str = "black"
    bold: bool = False
    vertical: bool = False
    anchor: str = "start"  # SVG's: start, middle or end
    z: float = 5.0
    key: str = ""  # the element the text names, for readers of the SVG


@dataclass
class Drawing:
    width: float  # points
    height: float
    lines: List[Line] = field(default_factory=list)
    shapes: List[Shape] = field(default_factory=list)
    texts: List[Text] = field(default_factory=list)
    labels: List[Placed] = field(default_factory=list)  # placed labels, also written into `texts`

    def line(self, points: Sequence[Point], **style: Any) -> None:
        if len(points) >= 2:
            self.lines.append(Line(list(points), **style))

    def shape(self, points: Sequence[Point], **style: Any) -> None:
        if len(points) >= 3:
            self.shapes.append(Shape(list(points), **style))

    def text(self, x: float, y: float, text: str, **style: Any) -> None:
        self.texts.append(Text(x, y, text, **style))

    def label(self, placed: Placed, *, backing: bool = True) -> None:
        """A placed label: its lines, a white ground under it (it hides the grid there) and its leader."""
        self.labels.append(placed)
        x0, y0, x1, y1 = placed.box
        if backing:
            self.shape([(x0, y0), (x1, y0), (x1, y1), (x0, y1)], fill="white", z=4.5)
        if placed.leader is not None:
            sx, sy, ex, ey = placed.leader
            self.line([(sx, sy), (ex, ey)], colour=placed.colour, width=0.4, z=4.6)
        for line, (x, y) in zip(placed.lines, placed.baselines()):
            self.text(x, y, line, size=placed.size, colour=placed.colour, bold=placed.bold, vertical=placed.vertical,
                      key=placed.key)

    # -- SVG ---------------------------------------------------------------------------

    def svg(self) -> str:
        h = self.height
        out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{self.width:g}pt" height="{h:g}pt" '
               f'viewBox="0 0 {self.width:g} {h:g}" version="1.1">',
               f'<rect x="0" y="0" width="{self.width:g}" height="{h:g}" fill="white"/>']
        items: List[Tuple[float, int, str]] = []
        for k, s in enumerate(self.shapes):
            d = " ".join(f"{x:.2f},{h - y:.2f}" for x, y in s.points)
            opacity = f' fill-opacity="{s.opacity:g}"' if s.opacity < 1 else ""
            edge = f' stroke="{s.edge}" stroke-width="{s.width:g}"' if s.edge != "none" and s.width > 0 else ""
            items.append((s.z, k, f'<polygon points="{d}" fill="{s.fill}"{opacity}{edge}/>'))
        for k, ln in enumerate(self.lines):
            d = " ".join(f"{x:.2f},{h - y:.2f}" for x, y in ln.points)
            dash = f' stroke-dasharray="{",".join(f"{v:g}" for v in ln.dash)}"' if ln.dash else ""
            items.append((ln.z, len(self.shapes) + k,
                          f'<polyline points="{d}" fill="none" stroke="{ln.colour}" stroke-width="{ln.width:g}" '
                          f'stroke-linejoin="round"{dash}/>'))
        base = len(self.shapes) + len(self.lines)
        for k, t in enumerate(self.texts):
            x, y = t.x, h - t.y
            turn = f' transform="rotate(-90 {x:.2f} {y:.2f})"' if t.vertical else ""
            weight = ' font-weight="bold"' if t.bold else ""
            anchor = f' text-anchor="{t.anchor}"' if t.anchor != "start" else ""
            key = f' data-key="{escape(t.key, {chr(34): "&quot;"})}"' if t.key else ""
            items.append((t.z, base + k, f'<text x="{x:.2f}" y="{y:.2f}" font-family="{FONT}" font-size="{t.size:g}" '
                                         f'fill="{t.colour}"{weight}{anchor}{turn}{key}>{escape(t.text)}</text>'))
        items.sort(key=lambda item: (item[0], item[1]))
        out += [item[2] for item in items]
        out.append("</svg>")
        return "\n".join(out)

    # -- matplotlib --------------------------------------------------------------------

    def figure(self) -> Any:
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        from matplotlib.collections import LineCollection, PolyCollection
        from matplotlib.figure import Figure

        figure = Figure(figsize=(self.width / 72.0, self.height / 72.0), dpi=150)
        FigureCanvasAgg(figure)
        axes = figure.add_axes((0, 0, 1, 1))
        axes.set_axis_off()
        axes.set_xlim(0, self.width)
        axes.set_ylim(0, self.height)
        for s in self.shapes:
            axes.add_collection(PolyCollection([s.points], facecolors="none" if s.fill == "none" else s.fill,
                                               alpha=s.opacity if s.opacity < 1 else None,
                                               edgecolors="none" if s.edge == "none" else s.edge,
                                               linewidths=s.width, zorder=s.z))
        for ln in self.lines:
            style = (0, ln.dash) if ln.dash else "solid"
            # Line widths in points, as in the SVG: the figure is drawn at paper size.
            axes.add_collection(LineCollection([ln.points], colors=ln.colour, linewidths=ln.width,
                                               linestyles=[style], zorder=ln.z, capstyle="butt"))
        for t in self.texts:
            ha = {"start": "left", "middle": "center", "end": "right"}[t.anchor]
            axes.text(t.x, t.y, t.text, fontsize=t.size, color=t.colour, fontweight="bold" if t.bold else "normal",
                      rotation=90 if t.vertical else 0, rotation_mode="anchor", ha=ha, va="baseline",
                      zorder=t.z, family=FONT, gid=f"label-{t.key}" if t.key else None)
        return figure


def clip_segment(a: Point, b: Point, box: Tuple[float, float, float, float]) -> Optional[Tuple[Point, Point]]:
    """The part of the segment a-b inside the box (Liang-Barsky), or None."""
    (x0, y0), (x1, y1) = a, b
    dx, dy = x1 - x0, y1 - y0
    low, high = 0.0, 1.0
    for p, q in ((-dx, x0 - box[0]), (dx, box[2] - x0), (-dy, y0 - box[1]), (dy, box[3] - y0)):
        if p == 0:
            if q < 0:
                return None
            continue
        t = q / p
        if p < 0:
            low = max(low, t)
        else:
            high = min(high, t)
        if low > high:
            return None
    return (x0 + low * dx, y0 + low * dy), (x0 + high * dx, y0 + high * dy)


def clip_polygon(points: Sequence[Point], box: Tuple[float, float, float, float]) -> List[Point]:
    """The polygon cut to the box (Sutherland-Hodgman: exact for the convex box)."""
    result = list(points)
    for axis, limit, keep_above in ((0, box[0], True), (0, box[2], False), (1, box[1], True), (1, box[3], False)):
        if not result:
            break
        source, result = result, []

        def inside(p: Point) -> bool:
            return p[axis] >= limit if keep_above else p[axis] <= limit

        for k, current in enumerate(source):
            previous = source[k - 1]
            if inside(current) != inside(previous):
                t = (limit - previous[axis]) / (current[axis] - previous[axis])
                cut = (previous[0] + t * (current[0] - previous[0]), previous[1] + t * (current[1] - previous[1]))
                result.append(cut)
            if inside(current):
                result.append(current)
    return result


@dataclass
class SheetFigure:
    """One sheet of a drawing set: its title (for the report's contents) and the drawing,
    as a matplotlib Figure (`figure`, drawn on first use) or as SVG text (`svg()`)."""

    title: str
    drawing: Drawing
    _figure: Any = field(default=None, repr=False, compare=False)

    @property
    def figure(self) -> Any:
        if self._figure is None:
            self._figure = self.drawing.figure()
        return self._figure

    def svg(self) -> str:
        return self.drawing.svg()
