"""A node's inlet as SWMM 5.2 street, inlet and inlet-usage fields, and back.

Units: street widths, inlet lengths and widths, curb opening heights, the local depression
width and also the gutter depressions a and aLocal in ft (m); Sx and %Clogged in percent,
Vsplash in ft/s (m/s), Aopen a fraction. The input-format notes give a and aLocal in in (mm),
but SWMM 5.2 itself takes them in the length unit: a = 2 on a 2 ft gutter carrying 1.75 cfs
gives a spread of 0.66 ft and a depth of 0.67 ft (a 2 ft deep gutter), a = 0.1667 gives 5.1 ft
and 0.27 ft, near HEC-22's 6.8 ft and 0.30 ft for a 2 in depression; aLocal likewise. We write
what the engine reads, so depressions and the curb opening height go in -> ft (mm -> m).
"""

from __future__ import annotations

from typing import Any, Dict, List, Optional, Tuple

GRATE_NAMES = {"P-50": "P_BAR-50", "P-50x100": "P_BAR-50X100", "P-30": "P_BAR-30", "curved vane": "CURVED_VANE",
               "45 tilt bar": "TILT_BAR-45", "30 tilt bar": "TILT_BAR-30", "reticuline": "RETICULINE",
               "generic": "GENERIC"}
GRATE_OF = {swmm: ours for ours, swmm in GRATE_NAMES.items()}
FT = 0.3048

InletLine = Tuple[str, ...]  # kind and its fields as SWMM tokens, without the inlet name
Street = Tuple[float, ...]   # Tcrown Hcurb Sx(%) nRoad a W Sides
Usage = Tuple[float, float, float, float, float, str]  # Number %Clogged Qmax aLocal wLocal Placement


def feet(si: bool) -> float:
    """One foot in the project's length unit."""
    return FT if si else 1.0


def inches_per_length(si: bool) -> float:
    """Small units (in or mm) in one length unit (ft or m)."""
    return 1000.0 if si else 12.0


def inlet_type(inlet: Dict[str, Any]) -> str:
    return inlet.get("type") or ("grate" if inlet.get("grate_width_ft", 0.0) > 0 else "curb")


def street_slope(inlet: Dict[str, Any]) -> float:
    """The slope the street conduit is written at: the gutter slope, or a gentle 0.5 % where
    a sag inlet has none (the analysis does not use a sag inlet's gutter slope)."""
    slope = inlet.get("gutter_slope", 0.0)
    return slope if slope > 0 else 0.005


def swmm_fields(inlet: Dict[str, Any], si: bool) -> Tuple[Street, Tuple[InletLine, ...], Usage]:
    """(street, inlet lines, usage) of a project inlet, defaults filled as the analysis fills them."""
    unit, small = feet(si), inches_per_length(si)
    kind = inlet_type(inlet)
    width = inlet.get("gutter_width_ft", 2.0 * unit)
    height = inlet.get("opening_height_in", 0.5 * unit * small) / small
    street = (max(20.0 * unit, 3.0 * width), max(0.5 * unit, height), inlet.get("cross_slope", 0.02) * 100.0,
              inlet.get("gutter_n", 0.016), inlet.get("depression_in", 0.0) / small, width,
              float(inlet.get("sides", 1)))
    length = inlet.get("length_ft", 0.0)
    grate = inlet.get("grate", "P-50")
    grate_line: InletLine = ("GRATE", str(length), str(inlet.get("grate_width_ft", 0.0)), GRATE_NAMES[grate])
    if grate == "generic":
        grate_line += (str(inlet.get("open_area_ratio", 0.0)), str(inlet.get("splash_velocity", 0.0)))
    lines: Tuple[InletLine, ...]
    if kind == "grate":
        lines = (grate_line,)
    elif kind == "curb":
        lines = (("CURB", str(length), str(height)),)
    elif kind == "combination":
        # SWMM's curb opening of a combination inlet spans the grate and any sweeper ahead of it.
        lines = (grate_line, ("CURB", str(length + inlet.get("curb_length_ft", 0.0)), str(height)))
    else:
        slot = inlet.get("grate_width_ft", 0.0) or 1.75 / 12.0 * unit  # the analysis' narrowest slot
        lines = (("SLOTTED", str(length), str(slot)),)
    usage: Usage = (1.0, inlet.get("clogging", 0.0) * 100.0, 0.0, inlet.get("local_depression_in", 0.0) / small,
                    inlet.get("local_depression_width_ft", 0.0), "ON_SAG" if inlet.get("sag") else "ON_GRADE")
    return street, lines, usage


def from_swmm(lines: Tuple[InletLine, ...], street: Optional[Street], usage: Usage, slope: float, sag: bool,
              si: bool, notes: List[str]) -> Optional[Dict[str, Any]]:
    """The project inlet of SWMM fields, or None when it has no HEC-22 counterpart (the
    reason is in `notes`); `notes` also collects the approximations. `sag` is the placement
    as resolved by the caller."""
    unit, small = feet(si), inches_per_length(si)
    kinds = tuple(line[0] for line in lines)
    by_kind = {line[0]: line for line in lines}
    if "CUSTOM" in kinds:
        notes.append("CUSTOM inlet: a capture curve has no HEC-22 equations")
        return None
    shapes = {("GRATE",): "grate", ("CURB",): "curb", ("GRATE", "CURB"): "combination", ("CURB", "GRATE"): "combination",
              ("SLOTTED",): "slotted", ("DROP_GRATE",): "grate", ("DROP_CURB",): "curb"}
    kind = shapes.get(kinds)
    if kind is None:
        notes.append(f"inlet of {' + '.join(kinds)} has no counterpart")
        return None
    if kinds[0].startswith("DROP_"):
        notes.append(f"{kinds[0]} (an inlet in a ditch or median) read as a {kind} inlet in a sag")
        sag = True
    inlet: Dict[str, Any] = {"type": kind, "sag": sag, "gutter_slope": slope}
    grate = by_kind.get("GRATE") or by_kind.get("DROP_GRATE")
    curb = by_kind.get("CURB") or by_kind.get("DROP_CURB")
    if grate is not None:
        inlet["length_ft"], inlet["grate_width_ft"] = float(grate[1]), float(grate[2])
        inlet["grate"] = GRATE_OF[grate[3]]
        if inlet["grate"] == "generic":
            inlet["open_area_ratio"], inlet["splash_velocity"] = float(grate[4]), float(grate[5])
    if curb is not None:
        inlet["opening_height_in"] = float(curb[2]) * small
        if len(curb) > 3 and curb[3] != "HORIZONTAL":
            notes.append(f"{curb[3]} throat read as the HEC-22 curb opening (throat angle not modelled)")
        if grate is None:
            inlet["length_ft"], inlet["grate_width_ft"] = float(curb[1]), 0.0
        else:
            extra = float(curb[1]) - inlet["length_ft"]
            if extra < 0:
                notes.append("curb opening shorter than the grate read as one as long as the grate")
            inlet["curb_length_ft"] = max(extra, 0.0)
    if kind == "slotted":
        inlet["length_ft"], inlet["grate_width_ft"] = float(lines[0][1]), float(lines[0][2])
    if street is not None:
        inlet.update({"cross_slope": street[2] / 100.0, "gutter_n": street[3]})
        depression, width = street[4], street[5]
        if depression > 0 and not width > 0:
            notes.append(f"gutter depression a = {depression:g} over a width W = {width:g}: no depressed gutter")
        if depression > 0 and width > 0:
            inlet.update({"depression_in": depression * small, "gutter_width_ft": width})
        else:  # SWMM ignores W when a is 0: the uniform section
            inlet["depression_in"] = 0.0
        if len(street) > 6 and street[6] == 2:
            inlet["sides"] = 2  # an inlet in each gutter, each on half the flow
    count, clogged, qmax, local, local_width, _ = usage
    if count != 1:
        notes.append(f"{count:g} inlets in series read as one {count:g} times as long")
        inlet["length_ft"] *= count
        if "curb_length_ft" in inlet:
            inlet["curb_length_ft"] *= count
    if qmax > 0:
        notes.append(f"capture limit Qmax {qmax:g} not modelled")
    if not 0 <= clogged < 100:
        raise ValueError(f"%Clogged {clogged:g} must lie in [0, 100)")
    inlet.update({"clogging": clogged / 100.0, "local_depression_in": local * small,
                  "local_depression_width_ft": local_width})
    return inlet


def agrees(a: Any, b: Any) -> bool:
    """Equal, numbers within what ten significant digits in the model text keep."""
    if isinstance(a, (int, float)) and isinstance(b, (int, float)) and not isinstance(a, bool):
        return abs(a - b) <= 1e-5 * max(abs(a), abs(b)) + 1e-9
    return a == b
