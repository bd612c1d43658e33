"""How drawings write values, in the project's unit system: the analysis works in feet,
cubic feet per second and inches; SI projects read metres, millimetres and m³/s, and
nothing else, on every drawing. The drawing scales live here too, the same for the plan
sheets, the profiles and the CAD drawings."""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Sequence

from ..units import M_PER_FT

CFS_TO_CMS = M_PER_FT ** 3
US_SCALES = (20, 30, 40, 50, 100, 200, 500)  # 1 in = N ft, the engineer's scale
SI_SCALES = (200, 250, 500, 1000, 2000, 2500, 5000)  # 1:N
# Finer still, for the detail sheets that enlarge a congested piece of plan.
US_DETAIL_SCALES = (10, 5)
SI_DETAIL_SCALES = (100, 50)
# A profile is one long strip, so its horizontal scale takes the engineer's steps between
# too (the divisions of the 10-60 scale and their multiples; the metric ruler's 1:750,
# 1:1250, 1:1500): a profile that fits one sheet then fills most of its width.
US_PROFILE_SCALES = (20, 30, 40, 50, 60, 80, 100, 150, 200, 300, 400, 500)
SI_PROFILE_SCALES = (200, 250, 500, 750, 1000, 1250, 1500, 2000, 2500, 5000)
PT_PER_IN = 72.0


@dataclass(frozen=True)
class Units:
    si: bool = False

    @property
    def length_unit(self) -> str:
        return "m" if self.si else "ft"

    def length(self, feet: float) -> float:
        """A length or elevation in feet as the drawing's unit."""
        return feet * M_PER_FT if self.si else feet

    def elevation_text(self, feet: float) -> str:
        return "?" if not math.isfinite(feet) else f"{self.length(feet):,.2f}"

    def length_text(self, feet: float) -> str:
        if not math.isfinite(feet):
            return "?"
        return f"{self.length(feet):,.1f} m" if self.si else f"{feet:,.0f} ft"

    def flow_text(self, cfs: float) -> str:
        if not math.isfinite(cfs):
            return "?"
        return f"{cfs * CFS_TO_CMS:,.3f} m³/s" if self.si else f"{cfs:,.2f} cfs"

    def flow_value(self, cfs: float) -> str:
        if not math.isfinite(cfs):
            return "?"
        return f"{cfs * CFS_TO_CMS:,.3f}" if self.si else f"{cfs:,.2f}"

    @property
    def flow_unit(self) -> str:
        return "m³/s" if self.si else "cfs"

    def size_text(self, shape: str, rise: float, span: float = math.nan) -> str:
        """"18 in" for a circular pipe, "24 x 36 in" (rise x span) for the other shapes; mm in SI."""
        def one(feet: float) -> str:
            return f"{round(feet * 304.8):d}" if self.si else f"{round(feet * 12.0):d}"
        unit = "mm" if self.si else "in"
        if not math.isfinite(rise):
            return f"? {unit}"
        if shape == "circular" or not math.isfinite(span):
            return f"{one(rise)} {unit}"
        return f"{one(rise)} x {one(span)} {unit}"

    def station_text(self, feet: float, places: int = 2) -> str:
        """Stationing: 12+50.00 (100 ft) in US units, 1+250.00 (1 km) in SI."""
        if not math.isfinite(feet):
            return "?"
        whole, unit = (3, 1000.0) if self.si else (2, 100.0)
        value = round(self.length(feet), places)
        major = math.floor(value / unit + 1e-9)
        rest = max(value - unit * major, 0.0)
        width = whole + (places + 1 if places else 0)
        return f"{major:d}+{rest:0{width}.{places}f}"

    @property
    def scales(self) -> Sequence[int]:
        return SI_SCALES if self.si else US_SCALES

    @property
    def detail_scales(self) -> Sequence[int]:
        """The plan's scales and the finer ones of the detail sheets, coarsest first."""
        return sorted(set(self.scales) | set(SI_DETAIL_SCALES if self.si else US_DETAIL_SCALES), reverse=True)

    @property
    def profile_scales(self) -> Sequence[int]:
        return SI_PROFILE_SCALES if self.si else US_PROFILE_SCALES

    def scale_text(self, scale: int) -> str:
        return f"1:{scale:,}" if self.si else f"1 in = {scale} ft"

    def feet_per_point(self, scale: int) -> float:
        """Ground feet per paper point at a scale of the list."""
        if self.si:
            return scale * (0.0254 / PT_PER_IN) / M_PER_FT  # 1:N: one paper metre is N ground metres
        return scale / PT_PER_IN


def nice_step(target: float) -> float:
    """The 1, 2 or 5 times a power of ten nearest below `target` (at least its tenth)."""
    if not (math.isfinite(target) and target > 0):
        return 1.0
    power = 10 ** math.floor(math.log10(target))
    return max(step * power for step in (1, 2, 5) if step * power <= target)
