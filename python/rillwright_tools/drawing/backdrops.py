"""The backdrops of a plan view: the project's `background` raster image placed at its
origin and width, and its `background_dxf` drawing cut to its extent, both in plan
coordinates (the project's length unit) and behind the network. A backdrop that cannot
be drawn costs one warning line, never the drawing."""

from __future__ import annotations

import math
import os
import sys
from pathlib import Path
from typing import Any, Callable, Dict, List, Optional

Warn = Callable[[str], None]
DXF_COLOUR = "#5a5a5a"
# Curves become polylines with at most this fraction of the extent's diagonal as their sag.
CURVE_SAG = 1e-3


def stderr_warning(message: str) -> None:
    sys.stderr.write(f"rillwright: warning: {message}\n")


def backdrop_path(text: str, base: Optional[Path]) -> Path:
    """A relative backdrop path is read beside the project file (the working directory
    for a project given as text)."""
    path = Path(text).expanduser()
    return path if path.is_absolute() or base is None else base / path


def base_of(label: str) -> Optional[Path]:
    """The directory a project's relative backdrop paths start from."""
    if label in ("demo", "<text>"):
        return None
    return Path(os.path.dirname(os.path.abspath(label)))


def _number(record: Dict[str, Any], key: str) -> float:
    value = record.get(key)
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
        raise ValueError(f"`{key}` is not a finite number")
    return float(value)


def _opacity(record: Dict[str, Any], default: float) -> float:
    value = record.get("opacity", default)
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value):
        return default
    return min(max(float(value), 0.0), 1.0)


def draw_backdrops(axes: Any, project: Dict[str, Any], base: Optional[Path], warn: Warn = stderr_warning) -> List[Any]:
    """Draws what the project has of both backdrops onto `axes`; returns the artists drawn."""
    drawn: List[Any] = []
    image = project.get("background")
    if isinstance(image, dict):
        artist = _guarded(lambda: draw_image(axes, image, base), "background image", image, warn)
        if artist is not None:
            drawn.append(artist)
    drawing = project.get("background_dxf")
    if isinstance(drawing, dict):
        artist = _guarded(lambda: draw_dxf(axes, drawing, base), "background drawing", drawing, warn)
        if artist is not None:
            drawn.append(artist)
    return drawn


def _guarded(draw: Callable[[], Any], what: str, record: Dict[str, Any], warn: Warn) -> Any:
    try:
        return draw()
    except ImportError:
        warn(f'{what} {record.get("path")!s} skipped: reading it needs ezdxf: pip install "rillwright[report]"')
        return None
    except Exception as error:  # any unreadable file or bad placement: skip the backdrop, keep the plan
        reason = " ".join(str(error).split()) or type(error).__name__
        warn(f"{what} {record.get('path')!s} skipped: {reason}")
        return None


def draw_image(axes: Any, record: Dict[str, Any], base: Optional[Path]) -> Any:
    """The raster with its lower-left corner at (origin_x, origin_y), `width` plan units
    wide and as high as its pixels' aspect makes it."""
    from matplotlib.image import imread

    path = backdrop_path(str(record.get("path", "")), base)
    x0, y0, width = _number(record, "origin_x"), _number(record, "origin_y"), _number(record, "width")
    if width <= 0:
        raise ValueError("`width` must be greater than 0")
    try:
        pixels = imread(str(path))
    except OSError as error:
        raise ValueError(error.strerror or str(error)) from None
    rows, columns = pixels.shape[:2]
    height = width * rows / columns
    return axes.imshow(pixels, extent=(x0, x0 + width, y0, y0 + height), origin="upper",
                       alpha=_opacity(record, 1.0), zorder=0, interpolation="bilinear", gid="backdrop-image")


def dxf_polylines(path: Path, sag: float) -> List[List[tuple]]:
    """Every drawable model-space entity of the DXF file as a list of (x, y) points:
    lines, polylines, circles, arcs, ellipses and splines (curves flattened)."""
    import ezdxf
    from ezdxf import path as dxf_path

    try:
        document = ezdxf.readfile(str(path))
    except OSError as error:
        raise ValueError(error.strerror or str(error)) from None
    except ezdxf.DXFError as error:
        raise ValueError(f"not a readable DXF file ({error})") from None
    lines = []
    for entity in document.modelspace():
        if entity.dxftype() not in ("LINE", "LWPOLYLINE", "POLYLINE", "CIRCLE", "ARC", "ELLIPSE", "SPLINE"):
            continue
        try:
            points = [(v.x, v.y) for v in dxf_path.make_path(entity).flattening(sag)]
        except (TypeError, ValueError, ezdxf.DXFError):
            continue  # a degenerate entity (a 3D mesh polyline, a zero radius) draws nothing
        if len(points) >= 2:
            lines.append(points)
    return lines


def draw_dxf(axes: Any, record: Dict[str, Any], base: Optional[Path]) -> Any:
    """The drawing in plan coordinates, cut to its extent."""
    from matplotlib.collections import LineCollection
    from matplotlib.patches import PathPatch
    from matplotlib.path import Path as PlotPath

    path = backdrop_path(str(record.get("path", "")), base)
    x0, y0 = _number(record, "min_x"), _number(record, "min_y")
    x1, y1 = _number(record, "max_x"), _number(record, "max_y")
    if not (x1 > x0 and y1 > y0):
        raise ValueError("the extent is empty (max_x must exceed min_x, max_y min_y)")
    lines = dxf_polylines(path, CURVE_SAG * math.hypot(x1 - x0, y1 - y0))
    collection = LineCollection(lines, colors=DXF_COLOUR, linewidths=0.6, alpha=_opacity(record, 0.45),
                                zorder=0.5, gid="backdrop-dxf")
    axes.add_collection(collection, autolim=False)
    # A path rather than a Rectangle: matplotlib would take a Rectangle for the clip box and
    # let the lines run outside the axes.
    frame = PlotPath([(x0, y0), (x1, y0), (x1, y1), (x0, y1), (x0, y0)], closed=True)
    collection.set_clip_path(PathPatch(frame, transform=axes.transData))
    return collection
