"""The HEC-22 (2009) energy-level method at one structure, for checking by hand what a
project analysed with "structure_loss_method": "hec22_energy" gives at each structure.
The arithmetic is the core's: the grade-line pass runs the same function."""

from __future__ import annotations

import json
from typing import Dict, Iterable, List, Optional, Tuple

from . import _core
from .arguments import not_negative as _not_negative, number as _number, positive as _positive

BENCHINGS = ("flat", "depressed", "half", "full", "improved")

RESULT_KEYS = ("ei", "di", "eai_outlet", "eai_submerged", "eai_unsubmerged", "eai", "cb", "c_theta", "cp",
               "ha", "ea", "egl")


def _inflows(inflows: Iterable[Tuple[float, float, float]]) -> List[float]:
    flat: List[float] = []
    for k, inflow in enumerate(inflows):
        try:
            q, invert, angle = inflow
        except (TypeError, ValueError):
            raise ValueError(f"inflows[{k}] must be a (q, invert, angle_deg) triple") from None
        angle = _number(f"inflows[{k}] angle_deg", angle)
        if not 0.0 <= angle <= 180.0:
            raise ValueError(f"inflows[{k}] angle_deg must lie between 0 and 180, not {angle!r}")
        flat += [_not_negative(f"inflows[{k}] q", q), _number(f"inflows[{k}] invert", invert), angle]
    return flat


def hec22_energy_structure(*, outflow_q: float, outflow_rise: float, outflow_full_area: float,
                           outflow_velocity: float, outflow_hgl: float, outflow_invert: float,
                           outflow_critical_depth: float, inflows: Iterable[Tuple[float, float, float]] = (),
                           surface_q: float = 0.0, surface_elevation: Optional[float] = None,
                           benching: str = "flat") -> Dict[str, float]:
    """The energy level of one structure by the HEC-22 (2009) energy method, US units (ft,
    cfs, ft/s). The outflow pipe leaves the structure: its design flow, rise, full area,
    velocity, grade line and invert at the structure, and critical depth. `inflows` are the
    pipes entering it, each `(q, invert, angle_deg)` with its outlet invert and the angle
    between inflow and outflow (180 for a straight run); `surface_q` falls in from
    `surface_elevation` (the rim) and always plunges. `benching` is "flat", "depressed",
    "half", "full" or "improved".

    Returns every intermediate value: ei, di, eai_outlet, eai_submerged, eai_unsubmerged, eai,
    cb, c_theta, cp, ha, ea (energies above the outflow invert, ft; di, cb, c_theta, cp are
    ratios) and egl, the structure's energy level (ft). Raises ValueError for a bad argument."""
    if not isinstance(benching, str):
        raise TypeError(f"benching must be a str, not {type(benching).__name__}")
    if benching not in BENCHINGS:
        raise ValueError(f"benching must be one of {', '.join(BENCHINGS)}, not {benching!r}")
    surface = _not_negative("surface_q", surface_q)
    if surface_elevation is None:
        if surface > 0.0:
            raise ValueError("surface_elevation is needed when surface_q is greater than 0")
        elevation = 0.0
    else:
        elevation = _number("surface_elevation", surface_elevation)
    text = _core.hec22_energy_structure(
        _not_negative("outflow_q", outflow_q),
        _positive("outflow_rise", outflow_rise),
        _positive("outflow_full_area", outflow_full_area),
        _not_negative("outflow_velocity", outflow_velocity),
        _number("outflow_hgl", outflow_hgl),
        _number("outflow_invert", outflow_invert),
        _not_negative("outflow_critical_depth", outflow_critical_depth),
        _inflows(inflows),
        surface,
        elevation,
        benching,
    )
    result: Dict[str, float] = json.loads(text)
    return result
