"""SWMM 5 input text as sections of tokenised lines, and field readers whose messages
name the section and line."""

from __future__ import annotations

import math
import re
from typing import Dict, Iterator, List, Optional, Tuple

Line = Tuple[int, List[str]]


# Title lines that carry what SWMM has no field for, written and read back by rillwright.
SETTINGS_PREFIX = "rillwright-settings "
KEPT_SETTINGS = ("idf_a", "idf_b", "idf_c", "min_tc", "junction_k", "bend_loss_coeff", "hec22_structure_loss",
                 "access_hole_diam_ft", "design_return_period_years", "p2_rainfall_in", "min_slope", "idf_curves",
                 "spread_limit_ft")

INLET_PREFIX = "rillwright-inlet "

# An authority code for a coordinate system in free text, such as "init=EPSG:2817".
EPSG_IN_TEXT = re.compile(r"\b(EPSG|ESRI)\s*[:=]?\s*(\d{4,6})\b", re.IGNORECASE)

# A subcatchment's runoff coefficient as the export writes it: %impervious on the scale
# C = 0.2 + 0.7 x %impervious / 100 (clamped to 0..100, as SWMM requires), and a tag
# "c=<C>" wherever that scale does not give C back exactly. The import takes the tag's C
# while the %impervious is still the one written for it.
EXPORT_C_PERVIOUS = 0.2
EXPORT_C_IMPERVIOUS = 0.9
C_TAG = "c="
OUTLINE_TAG = "outline"  # a catchment outline whose area no structure counts
TAG_SEPARATOR = ","


def tag_parts(tag: str) -> List[str]:
    return [part for part in tag.split(TAG_SEPARATOR) if part]


def impervious_text(c: float) -> str:
    """%impervious of a runoff coefficient, as the export writes it."""
    share = (c - EXPORT_C_PERVIOUS) / (EXPORT_C_IMPERVIOUS - EXPORT_C_PERVIOUS) * 100.0
    return format(min(max(share, 0.0), 100.0), ".10g")


def c_of_impervious(impervious: float, c_pervious: float = EXPORT_C_PERVIOUS,
                    c_impervious: float = EXPORT_C_IMPERVIOUS) -> float:
    return c_pervious + (c_impervious - c_pervious) * impervious / 100.0


def split_sections(text: str) -> Dict[str, List[Line]]:
    """{SECTION: [(line number, tokens)]}: comments dropped, names upper-cased, quoted
    tokens kept whole; a section given twice continues where it left off."""
    sections: Dict[str, List[Line]] = {}
    current: Optional[List[Line]] = None
    for number, raw in enumerate(text.lstrip("\ufeff").splitlines(), 1):
        if current is not None and current is sections.get("TITLE") and not raw.lstrip().startswith(("[", ";")):
            if raw.strip():
                current.append((number, [raw.strip()]))  # title lines are free text
            continue
        tokens = tokenize(raw)
        if not tokens:
            continue
        if tokens[0].startswith("["):
            name = tokens[0].strip("[]").upper()
            current = sections.setdefault(name, [])
        elif current is not None:
            current.append((number, tokens))
    return sections


def tokenize(line: str) -> List[str]:
    tokens: List[str] = []
    token, quoted, have = [], False, False
    for char in line:
        if quoted:
            if char == '"':
                quoted = False
            else:
                token.append(char)
        elif char == '"':
            quoted = have = True
        elif char == ";":
            break
        elif char.isspace():
            if have:
                tokens.append("".join(token))
            token, have = [], False
        else:
            token.append(char)
            have = True
    if have:
        tokens.append("".join(token))
    return tokens


class Section:
    """Reads the fields of one section's lines with messages naming section and line."""

    def __init__(self, name: str, lines: List[Line]):
        self.name, self.lines = name, lines

    def rows(self, minimum: int) -> Iterator[Line]:
        for number, tokens in self.lines:
            if len(tokens) < minimum:
                raise ValueError(f"[{self.name}] line {number}: expected at least {minimum} fields, "
                                 f"found {len(tokens)}")
            yield number, tokens

    def number(self, number: int, tokens: List[str], index: int, what: str, default: Optional[float] = None) -> float:
        if index >= len(tokens):
            if default is None:
                raise ValueError(f"[{self.name}] line {number}: missing {what}")
            return default
        try:
            value = float(tokens[index])
        except ValueError:
            raise ValueError(f"[{self.name}] line {number}: {what} is not a number: {tokens[index]!r}") from None
        if not math.isfinite(value):
            raise ValueError(f"[{self.name}] line {number}: {what} is not finite: {tokens[index]!r}")
        return value


# Sections the import reads; PUMPS, ORIFICES, WEIRS and OUTLETS are read to name each
# element it drops.
READ_SECTIONS = frozenset({
    "TITLE", "OPTIONS", "TAGS", "JUNCTIONS", "OUTFALLS", "DIVIDERS", "STORAGE", "CONDUITS", "XSECTIONS", "PUMPS",
    "ORIFICES", "WEIRS", "OUTLETS", "SUBCATCHMENTS", "POLYGONS", "COORDINATES", "STREETS", "INLETS", "INLET_USAGE"})

_DESIGN_STORM = "the design storm is the project's IDF curve"
_RATIONAL = "the design flows come from the rational method on each structure's area"
_NO_PLACE = "a gravity pipe design has no place for it"
_DISPLAY = "display and reporting options, not read"

# What the import does with each section it does not read: named once in the report.
UNUSED_SECTIONS: Dict[str, str] = {
    "LOSSES": "entry, exit and average loss coefficients of conduits not read; the project's structure-loss "
              "settings (junction_k or its loss method) charge the losses at each structure",
    "DWF": f"dry-weather inflows not read; {_RATIONAL}",
    "INFLOWS": f"external inflows not read; {_RATIONAL}",
    "RDII": f"rainfall-dependent infiltration/inflow not read; {_RATIONAL}",
    "HYDROGRAPHS": f"unit hydrographs not read; {_RATIONAL}",
    "VERTICES": "the bends of links not read; each pipe runs straight between its structures",
    "SUBAREAS": "subcatchment roughness and depression storage not read; runoff is C x i x A",
    "INFILTRATION": "infiltration parameters not read; runoff is C x i x A",
    "RAINGAGES": f"rain gauges not read; {_DESIGN_STORM}",
    "TIMESERIES": f"time series not read; {_DESIGN_STORM}",
    "PATTERNS": f"time patterns not read; {_RATIONAL}",
    "EVAPORATION": f"evaporation not read; {_NO_PLACE}",
    "TEMPERATURE": f"temperature data not read; {_NO_PLACE}",
    "ADJUSTMENTS": f"climate adjustments not read; {_DESIGN_STORM}",
    "CURVES": "curves not read (storage, pump, rating and divider curves: those elements are read as plain "
              "junctions or dropped)",
    "CONTROLS": f"control rules not read; {_NO_PLACE}",
    "TRANSECTS": "transects not read (irregular conduits are dropped)",
    "AQUIFERS": f"groundwater not read; {_NO_PLACE}",
    "GROUNDWATER": f"groundwater not read; {_NO_PLACE}",
    "GWF": f"groundwater flow equations not read; {_NO_PLACE}",
    "SNOWPACKS": f"snow not read; {_NO_PLACE}",
    "POLLUTANTS": f"water quality not read; {_NO_PLACE}",
    "LANDUSES": f"water quality not read; {_NO_PLACE}",
    "COVERAGES": f"water quality not read; {_NO_PLACE}",
    "LOADINGS": f"water quality not read; {_NO_PLACE}",
    "BUILDUP": f"water quality not read; {_NO_PLACE}",
    "WASHOFF": f"water quality not read; {_NO_PLACE}",
    "TREATMENT": f"water quality not read; {_NO_PLACE}",
    "LID_CONTROLS": f"low-impact development controls not read; {_NO_PLACE}",
    "LID_USAGE": f"low-impact development controls not read; {_NO_PLACE}",
    "EVENTS": f"simulation events not read; {_NO_PLACE}",
    "FILES": f"interface files not read; {_NO_PLACE}",
    "REPORT": _DISPLAY,
    "MAP": _DISPLAY,
    "SYMBOLS": _DISPLAY,
    "LABELS": _DISPLAY,
    "BACKDROP": _DISPLAY,
    "PROFILES": _DISPLAY,
}


def unused_section_notes(sections: Dict[str, List[Line]]) -> List[str]:
    """One line for each section that holds lines the import does not read: the known ones
    in the order above, then the others by name (the same report for any layout)."""
    notes = []
    known = list(UNUSED_SECTIONS)
    for name in sorted(sections, key=lambda n: (known.index(n) if n in known else len(known), n)):
        lines = sections[name]
        if name in READ_SECTIONS or not lines:
            continue
        what = UNUSED_SECTIONS.get(name, "not a section this import knows; not read")
        notes.append(f"[{name}] ({len(lines)} line{'s' if len(lines) != 1 else ''}): {what}")
    return notes
