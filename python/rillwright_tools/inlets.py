"""HEC-22 (3rd edition, chapter 4) pavement-drainage calculators for checking by hand:
gutter flow, an inlet on grade, an inlet in a sag. US units by default (ft, ft³/s, ft/s,
depressions and opening heights in inches); `si=True` takes and gives m, m³/s, m/s and mm.
The arithmetic is the core's, with the US constants; SI is converted exactly on the way in
and out, so SI answers can differ from the book's SI coefficients by up to 4 %."""

from __future__ import annotations

import json
import os
from typing import Any, Dict, List, Optional, Tuple, Union, cast

from . import _core
from .arguments import number as _number, not_negative as _not_negative, positive as _positive
from .inputs import Source, raise_with_loops, resolve

TYPES = _core.INLET_TYPES  # "grate", "curb", "combination", "slotted": the core's table
GRATES = ("P-50", "P-50x100", "P-30", "curved vane", "45 tilt bar", "30 tilt bar", "reticuline", "generic")

FT = 0.3048  # m per ft, exact
_LENGTH_KEYS = ("spread", "depth", "lt")
_FLOW_KEYS = ("q", "qw", "qs", "intercepted", "bypass", "curb_intercepted", "grate_intercepted", "weir_q",
              "orifice_q")


def _units(si: bool):
    """(length unit, small unit) per ft: m and mm with si, else ft and in."""
    return (FT, 1000.0 * FT) if si else (1.0, 12.0)


def _gutter(cross_slope, gutter_slope, n, gutter_width, depression, si):
    length, small = _units(si)
    if gutter_width is None:
        gutter_width = 2.0 * length  # 2 ft, the usual depressed-gutter width
    return (_positive("cross_slope", cross_slope), _positive("gutter_slope", gutter_slope), _positive("n", n),
            _positive("gutter_width", gutter_width) / length, _not_negative("depression", depression) / small)


def _out(result: Dict[str, Optional[float]], si: bool) -> Dict[str, Optional[float]]:
    if not si:
        return result
    scale = {"area": FT * FT, "velocity": FT, "splash_velocity": FT}
    scale.update({k: FT for k in _LENGTH_KEYS})
    scale.update({k: FT ** 3 for k in _FLOW_KEYS})
    return {k: (v * scale[k] if isinstance(v, float) and k in scale else v) for k, v in result.items()}


def gutter_flow(*, cross_slope: float, gutter_slope: float, n: float = 0.016, gutter_width: Optional[float] = None,
                depression: float = 0.0, q: Optional[float] = None, spread: Optional[float] = None,
                si: bool = False) -> Dict[str, Optional[float]]:
    """Gutter flow by HEC-22 Eqs 4-2 to 4-6: give `q` to get the spread, or `spread` to get
    the flow. A `depression` (in; mm with si) makes a composite section of width
    `gutter_width` (ft; m). Returns q, spread, depth (at the curb), area, velocity, sw
    (gutter slope), eo (share of the flow within gutter_width), qw, qs, w_over_t. Raises
    ValueError where the inputs lie outside the range Eq 4-2 holds for: a spread that does
    not carry the given flow (within 5 %, the manual's inverted exponent), or a value that
    is not finite."""
    if (q is None) == (spread is None):
        raise ValueError("give exactly one of q and spread")
    gutter = _gutter(cross_slope, gutter_slope, n, gutter_width, depression, si)
    if q is not None:
        flow, by_spread = _not_negative("q", q) / (FT ** 3 if si else 1.0), None
    else:
        flow, by_spread = None, _not_negative("spread", spread) / (FT if si else 1.0)
    return _out(json.loads(_core.gutter_flow(*gutter, flow, by_spread)), si)


def _inlet_args(q, cross_slope, gutter_slope, n, gutter_width, depression, type, grate, length, grate_width,
                curb_length, opening_height, local_depression, local_depression_width, splash_velocity,
                open_area_ratio, clogging, si):
    for name, value, choices in (("type", type, TYPES), ("grate", grate, GRATES)):
        if not isinstance(value, str):
            raise TypeError(f"{name} must be a str, not {type_name(value)}")
        if value not in choices:
            raise ValueError(f"{name} must be one of {', '.join(choices)}, not {value!r}")
    length_unit, small_unit = _units(si)
    if grate == "generic":
        if splash_velocity is None or open_area_ratio is None:
            raise ValueError("a generic grate needs splash_velocity and open_area_ratio")
        splash = _not_negative("splash_velocity", splash_velocity) / length_unit
        ratio = _number("open_area_ratio", open_area_ratio)
        if not 0.0 < ratio <= 1.0:
            raise ValueError(f"open_area_ratio must lie in (0, 1], not {ratio!r}")
    else:
        splash, ratio = 0.0, 0.0
    clog = _number("clogging", clogging)
    if not 0.0 <= clog < 1.0:
        raise ValueError(f"clogging must lie in [0, 1), not {clog!r}")
    width = _not_negative("grate_width", grate_width) / length_unit
    if type in ("grate", "combination") and width <= 0.0:
        raise ValueError(f"a {type} inlet needs grate_width greater than 0")
    if type == "slotted" and width <= 0.0:
        width = 1.75 / 12.0  # the narrowest slot the curb-opening equations hold for
    local_width = _not_negative("local_depression_width", local_depression_width) / length_unit
    local = _not_negative("local_depression", local_depression) / small_unit
    if local > 0.0 and local_width <= 0.0:
        raise ValueError("a local_depression needs local_depression_width greater than 0")
    sx, sl, nn, w, a = _gutter(cross_slope, gutter_slope, n, gutter_width, depression, si)
    return (sx, sl, nn, w, a, _not_negative("q", q) / (FT ** 3 if si else 1.0), type, grate, splash, ratio,
            _positive("length", length) / length_unit, width,
            _not_negative("curb_length", curb_length) / length_unit,
            _positive("opening_height", opening_height) / small_unit, local,
            local_width, clog)


def type_name(value: object) -> str:
    return type(value).__name__


def inlet_on_grade(*, q: float, cross_slope: float, gutter_slope: float, length: float, type: str = "grate",
                   grate: str = "P-50", grate_width: float = 0.0, n: float = 0.016, gutter_width: Optional[float] = None,
                   depression: float = 0.0, curb_length: float = 0.0, opening_height: float = 6.0,
                   local_depression: float = 0.0, local_depression_width: float = 0.0,
                   splash_velocity: Optional[float] = None, open_area_ratio: Optional[float] = None,
                   clogging: float = 0.0, si: bool = False) -> Dict[str, Optional[float]]:
    """One inlet on grade by HEC-22 Eqs 4-16 to 4-25 for the gutter flow `q`. Returns the
    approach gutter's values (spread, depth, velocity, ...), eo, splash_velocity, rf, rs
    (grates), lt, se (curb openings and slots), curb_intercepted and grate_intercepted (a
    combination inlet with `curb_length` of sweeper), efficiency, intercepted and bypass;
    None where a value does not apply. `clogging` takes that share of the capture away, as
    SWMM 5.2 does on grade. Raises ValueError where the inputs lie outside the range the
    equations hold for (a result that does not give back its own flow, or is not finite)."""
    args = _inlet_args(q, cross_slope, gutter_slope, n, gutter_width, depression, type, grate, length, grate_width,
                       curb_length, opening_height, local_depression, local_depression_width, splash_velocity,
                       open_area_ratio, clogging, si)
    return _out(json.loads(_core.inlet_on_grade(*args)), si)


def inlet_in_sag(*, q: float, cross_slope: float, length: float, type: str = "grate", grate: str = "P-50",
                 grate_width: float = 0.0, clogging: float = 0.0, n: float = 0.016, gutter_width: Optional[float] = None,
                 depression: float = 0.0, curb_length: float = 0.0, opening_height: float = 6.0,
                 local_depression: float = 0.0, local_depression_width: float = 0.0,
                 open_area_ratio: Optional[float] = None, si: bool = False) -> Dict[str, object]:
    """The ponded depth (at the curb) and spread at which a sag inlet passes `q`, by HEC-22
    Eqs 4-26 to 4-35, with the weir and orifice capacities at that depth and the governing
    regime. Grates: the smaller of weir and orifice; curb openings: weir up to d = h,
    orifice from 1.4 h, linear between; `clogging` is the share of grate width lost. Raises
    ValueError where the inputs lie outside the range the equations hold for."""
    args = _inlet_args(q, cross_slope, 0.01, n, gutter_width, depression, type, grate, length, grate_width,
                       curb_length, opening_height, local_depression, local_depression_width,
                       0.0 if open_area_ratio is not None else None, open_area_ratio, clogging, si)
    return _out(json.loads(_core.inlet_in_sag(*args)), si)


INLET_KEYS = ("id", "type", "on_grade", "own_q", "carryover_in", "gutter_q", "spread", "depth", "w_over_t", "eo",
              "velocity", "splash_velocity", "rf", "rs", "lt", "efficiency", "intercepted", "bypass", "bypass_to",
              "spread_limit", "spread_ok")


def inlet_pass(source: Source) -> Tuple[Dict[str, Any], List[Dict[str, str]]]:
    """The pass of a resolved project source: ({"inlets", "pipes", "nodes"}, warnings)."""
    if source.format != "rwproj":
        raise ValueError("the inlet pass needs a project (.rwproj); .rwn text has no inlets")
    if source.model is not None:
        return cast(Tuple[Dict[str, Any], List[Dict[str, str]]], source.model.inlet_pass())
    try:
        text, result = _core.inlets(source.text, source.format)
    except ValueError as error:
        raise_with_loops(error, source.text, source.format)
    sheet = json.loads(text)
    return {"inlets": sheet["inlets"], "pipes": result["pipes"], "nodes": result["nodes"]}, sheet["warnings"]


def inlets(source: Union[str, "os.PathLike[str]", None] = None, *, text: Optional[str] = None,
           format: Optional[str] = None) -> Dict[str, Any]:
    """The HEC-22 inlet pass of a project (US customary units, like the analysis): each
    inlet (a node whose inlet has a length) on its own rational flow plus the bypass sent to
    it, in bypass order, and the pipe analysis in which each inlet node contributes what it
    intercepts. Returns {"inlets": [rows with INLET_KEYS], "pipes": [...], "nodes": [...]}
    with the module's pipe and node rows. Raises ValueError for a bypass_to loop or unknown
    node, or a project that cannot be read."""
    return inlet_pass(resolve(source, text=text, format=format))[0]
