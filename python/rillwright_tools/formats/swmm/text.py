"""SWMM 5 input text as sections of tokenised lines, and field readers whose messages
name the section and line."""

from __future__ import annotations

import math
from typing import Dict, Iterator, List, Optional, Tuple

Line = Tuple[int, List[str]]


# Title lines that carry what SWMM has no field for, written and read back by rillwright.
SETTINGS_PREFIX = "rillwright-settings "
KEPT_SETTINGS = ("idf_a", "idf_b", "idf_c", "min_tc", "junction_k", "bend_loss_coeff", "hec22_structure_loss",
                 "access_hole_diam_ft", "design_return_period_years", "p2_rainfall_in", "min_slope", "idf_curves",
                 "spread_limit_ft")

INLET_PREFIX = "rillwright-inlet "


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
