"""Full-flow areas of the SWMM 5 cross-sections that have no counterpart among the four
pipe shapes; the import replaces such a section by a circle of the same full area."""

from __future__ import annotations

import math
from typing import Optional, Sequence

# Full area / (full height)^2 of SWMM's tabulated closed shapes.
TABLE_SHAPES = {"EGG": 0.5105, "HORSESHOE": 0.8293, "GOTHIC": 0.6554, "CATENARY": 0.70277,
                "SEMIELLIPTICAL": 0.785, "BASKETHANDLE": 0.7862, "SEMICIRCULAR": 1.2697}


def full_area(kind: str, geom: Sequence[float]) -> Optional[float]:
    """Full-flow area of a SWMM section that has no counterpart here; None for an unknown shape."""
    y, w, g3, g4 = geom
    if kind in TABLE_SHAPES:
        return TABLE_SHAPES[kind] * y * y
    if kind in ("RECT_OPEN",):
        return y * w
    if kind == "TRAPEZOIDAL":
        return y * (w + 0.5 * (g3 + g4) * y)
    if kind == "TRIANGULAR":
        return 0.5 * y * w
    if kind == "PARABOLIC":
        return 2.0 / 3.0 * y * w
    if kind == "POWER":
        return y * w * g3 / (g3 + 1.0) if g3 > 0 else y * w
    if kind == "RECT_TRIANGULAR":
        return w * (y - g3) + 0.5 * w * g3
    if kind in ("RECT_ROUND", "MODBASKETHANDLE"):
        radius = g3 if g3 >= w / 2 else w / 2
        theta = 2.0 * math.asin(min(1.0, w / (2.0 * radius))) if radius > 0 else 0.0
        rise = radius - math.sqrt(max(radius * radius - w * w / 4.0, 0.0))
        return w * (y - rise) + radius * radius / 2.0 * (theta - math.sin(theta))
    if kind == "FILLED_CIRCULAR":
        radius = y / 2.0
        filled = min(max(w, 0.0), y)
        theta = 2.0 * math.acos(1.0 - filled / radius) if radius > 0 else 0.0
        return math.pi * radius * radius - radius * radius / 2.0 * (theta - math.sin(theta))
    return None
