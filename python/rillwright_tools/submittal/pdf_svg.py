"""matplotlib's SVG made drawable by fpdf2's SVG reader, which differs from browsers in two
places the report's figures meet:

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
import re

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
