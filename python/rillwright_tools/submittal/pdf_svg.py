"""Figures into the PDF. A sheet (a `Drawing` of the plan or a profile) is drawn with
fpdf2's own primitives, item by item at its true size, so that its scale bar stays true,
its text stays text in the report's font, and fills, dashes and turned text come out as
the SVG shows them (`draw`). Any other figure's SVG goes through fpdf2's SVG reader, which
differs from browsers in three places matplotlib's SVG meets:

* font sizes: matplotlib writes them in px, which in SVG are user units (here points);
  fpdf2 scales px by 0.75 as CSS does for page text, so the text would come out a quarter
  small. They are rewritten as plain user units.
* images (the raster backdrop, a rasterized colour bar): matplotlib places them with
  `transform="scale(1 -1) translate(0 -T)"`, which fpdf2 ignores, so they would be drawn
  upside down and off their place. They are flipped and placed without a transform.
* clip paths: fpdf2 clips to a `<rect>` but not to a `<path>`, and matplotlib writes a
  clip to a rectangle of data (the DXF backdrop's extent) as a path. A path that is an
  upright rectangle becomes that rectangle."""

from __future__ import annotations

import base64
import io
import math
import re
from typing import Any, Dict, Iterator, List, Sequence, Tuple

from .pdf_ops import PageRun

MM_PER_PT = 25.4 / 72.0
_NAMED = {"black": (0, 0, 0), "white": (255, 255, 255)}

_FONT_SIZE = re.compile(r"font-size:\s*([0-9.]+)px")
_IMAGE = re.compile(r"<image\b[^>]*>")
_FLIP = re.compile(r'transform="scale\(1 -1\) translate\(0 (-?[0-9.e+-]+)\)"\s*')
_ATTRIBUTE = r'(?<![\w:-]){}="(-?[0-9.e+-]+)"'
_DATA = re.compile(r'(xlink:href|href)="data:image/png;base64,([^"]+)"')
_NUMBER = r"(-?[0-9.]+(?:e[+-]?[0-9]+)?)"
_CLIP_RECTANGLE = re.compile(r'(<clipPath id="[^"]*">\s*)<path d="\s*M {0} {0}\s+L {0} {0}\s+L {0} {0}\s+L {0} {0}\s+z\s*"\s*/>'
                             .format(_NUMBER))


def drawable(svg: str) -> str:
    svg = _FONT_SIZE.sub(r"font-size: \1", svg)
    return _CLIP_RECTANGLE.sub(_clip_rectangle, _IMAGE.sub(_unflipped, svg))


def _clip_rectangle(match: "re.Match[str]") -> str:
    x = [float(match.group(k)) for k in (2, 4, 6, 8)]
    y = [float(match.group(k)) for k in (3, 5, 7, 9)]
    upright = ((x[0] == x[3] and x[1] == x[2] and y[0] == y[1] and y[2] == y[3])
               or (x[0] == x[1] and x[2] == x[3] and y[1] == y[2] and y[0] == y[3]))
    if not upright:
        return match.group(0)
    return (f'{match.group(1)}<rect x="{min(x)}" y="{min(y)}" width="{max(x) - min(x)}" '
            f'height="{max(y) - min(y)}"/>')


def _unflipped(match: "re.Match[str]") -> str:
    tag = match.group(0)
    flip = _FLIP.search(tag)
    data = _DATA.search(tag)
    y = re.search(_ATTRIBUTE.format("y"), tag)
    height = re.search(_ATTRIBUTE.format("height"), tag)
    if not (flip and data and y and height):
        return tag  # not matplotlib's flipped placement: leave it as it is
    # (x, y) -> (x, -(y + t)): the rows [y, y + h] land on [-(y + h) - t, -y - t], reversed.
    top = -(float(y.group(1)) + float(height.group(1))) - float(flip.group(1))
    from PIL import Image  # matplotlib's own dependency

    FLIP_TOP_BOTTOM = getattr(Image, "Transpose", Image).FLIP_TOP_BOTTOM  # Pillow before 9.1 has no Transpose

    picture = Image.open(io.BytesIO(base64.b64decode(data.group(2)))).transpose(FLIP_TOP_BOTTOM)
    out = io.BytesIO()
    picture.save(out, format="PNG")
    tag = _FLIP.sub("", tag)
    tag = re.sub(_ATTRIBUTE.format("y"), f'y="{top:.6g}"', tag, count=1)
    return _DATA.sub(lambda m: f'{m.group(1)}="data:image/png;base64,{base64.b64encode(out.getvalue()).decode()}"',
                     tag, count=1)


def _colour(name: str) -> Tuple[int, int, int]:
    if name.startswith("#") and len(name) == 7:
        return int(name[1:3], 16), int(name[3:5], 16), int(name[5:7], 16)
    try:
        return _NAMED[name]
    except KeyError:
        raise ValueError(f"drawing colour {name!r} is neither #rrggbb nor one of {sorted(_NAMED)}") from None


def dashes(points: Sequence[Tuple[float, float]], pattern: Sequence[float]) -> Iterator[List[Tuple[float, float]]]:
    """The pieces a dash pattern (on, off, on, off, ... in the points' unit) leaves drawn
    of a polyline, each a polyline of its own; the pattern runs on across the corners."""
    if not pattern or sum(pattern) <= 0:
        yield list(points)
        return
    cycle = list(pattern) if len(pattern) % 2 == 0 else list(pattern) * 2  # SVG repeats an odd list
    k, left, on = 0, cycle[0], True
    piece: List[Tuple[float, float]] = [points[0]]
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        length = math.hypot(x1 - x0, y1 - y0)
        done = 0.0
        while length - done > left:
            done += left
            t = done / length
            cut = (x0 + t * (x1 - x0), y0 + t * (y1 - y0))
            if on:
                piece.append(cut)
                if len(piece) >= 2:
                    yield piece
            piece = [cut]
            k = (k + 1) % len(cycle)
            left, on = cycle[k], not on
        left -= length - done
        if on:
            piece.append((x1, y1))
        else:
            piece = [(x1, y1)]
    if on and len(piece) >= 2:
        yield piece


def draw(document: Any, drawing: Any, x: float, y: float, font: str) -> None:
    """The drawing (points, origin lower left) with its upper left corner at (x, y) mm of the
    page, at its own size: items in the order the SVG stacks them (by z, then as added)."""
    h = drawing.height

    def page(points: Sequence[Tuple[float, float]]) -> List[Tuple[float, float]]:
        return [(x + px * MM_PER_PT, y + (h - py) * MM_PER_PT) for px, py in points]

    items: List[Tuple[float, int, str, Any]] = [(s.z, k, "shape", s) for k, s in enumerate(drawing.shapes)]
    base = len(items)
    items += [(ln.z, base + k, "line", ln) for k, ln in enumerate(drawing.lines)]
    base = len(items)
    items += [(t.z, base + k, "text", t) for k, t in enumerate(drawing.texts)]
    items.sort(key=lambda item: (item[0], item[1]))
    pen = _Pen(document, font)
    from fpdf.enums import StrokeJoinStyle

    run = PageRun(document)
    with document.local_context(stroke_join_style=StrokeJoinStyle.ROUND):
        for _, _, kind, item in items:
            if kind == "line":
                if pen.changes(item.colour, item.width):
                    run.flush()
                    pen.draw(item.colour, item.width)
                for piece in (dashes(item.points, item.dash) if item.dash else (item.points,)):
                    run.polyline(page(piece))
            elif kind == "text":
                _text(document, run, pen, item, x + item.x * MM_PER_PT, y + (h - item.y) * MM_PER_PT)
            else:
                run.flush()
                _shape(document, pen, item, page(item.points))
        run.flush()


class _Pen:
    """The colours, line width and font last set while drawing a sheet, so that each is set
    only when it changes (a sheet has thousands of items in a few styles)."""

    def __init__(self, document: Any, font: str) -> None:
        self.document, self.font = document, font
        self.state: Dict[str, Any] = {}
        self.widths: Dict[Tuple[str, bool, float], float] = {}

    def _changed(self, key: str, value: Any) -> bool:
        if self.state.get(key) == value:
            return False
        self.state[key] = value
        return True

    def changes(self, colour: str, width: float) -> bool:
        """Whether draw(colour, width) would set anything."""
        return self.state.get("draw") != colour or self.state.get("width") != width

    def draw(self, colour: str, width: float) -> None:
        if self._changed("draw", colour):
            self.document.set_draw_color(*_colour(colour))
        if self._changed("width", width):
            self.document.set_line_width(width * MM_PER_PT)

    def fill(self, colour: str) -> None:
        if self._changed("fill", colour):
            self.document.set_fill_color(*_colour(colour))

    def writes(self, colour: str, bold: bool, size: float) -> bool:
        """Whether write(colour, bold, size) would set anything."""
        return self.state.get("font") != (bold, size) or self.state.get("text") != colour

    def write(self, colour: str, bold: bool, size: float) -> None:
        if self._changed("font", (bold, size)):
            self.document.set_font(self.font, "B" if bold else "", size)
        if self._changed("text", colour):
            self.document.set_text_color(*_colour(colour))

    def width_of(self, text: str, bold: bool, size: float) -> float:
        key = (text, bold, size)
        width = self.widths.get(key)
        if width is None:
            width = self.widths[key] = self.document.get_string_width(text)
        return width


def _shape(document: Any, pen: _Pen, shape: Any, points: List[Tuple[float, float]]) -> None:
    filled = shape.fill != "none"
    edged = shape.edge != "none" and shape.width > 0
    if not (filled or edged):
        return
    if filled:
        pen.fill(shape.fill)
    if edged:
        pen.draw(shape.edge, shape.width)
    style = "DF" if filled and edged else "F" if filled else "D"
    if filled and shape.opacity < 1:
        with document.local_context(fill_opacity=shape.opacity):
            document.polygon(points, style=style)
    else:
        document.polygon(points, style=style)


def _text(document: Any, run: PageRun, pen: _Pen, text: Any, x: float, y: float) -> None:
    if pen.writes(text.colour, text.bold, text.size):
        run.flush()
        pen.write(text.colour, text.bold, text.size)
    shift = 0.0
    if text.anchor != "start":
        width = pen.width_of(text.text, text.bold, text.size)
        shift = width if text.anchor == "end" else width / 2
    if text.vertical:  # a quarter turn anticlockwise about its anchor, as the SVG turns it
        run.flush()
        with document.rotation(90, x, y):
            document.text(x - shift, y, text.text)
    else:
        run.text(x - shift, y, text.text)
