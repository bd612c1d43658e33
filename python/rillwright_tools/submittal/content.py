"""The report's content as plain data: sections of pairs, paragraphs, tables and figures,
which the HTML and the PDF writer lay out alike."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Sequence

from .. import tables as T


@dataclass
class Table:
    title: str
    id: str  # the HTML table's id
    headings: List[str]
    units: List[str]
    keys: List[str]  # the result field each column shows (the HTML heading's data-key)
    numeric: List[bool]
    rows: List[List[str]]
    note: str = ""


@dataclass
class Figure:
    title: str  # also its PDF bookmark: "Plan sheet 3 of 12", "Profile: N1 to OUT (sheet 2 of 3)"
    svg: str  # standalone SVG text
    drawing: Any = field(default=None, repr=False, compare=False)  # the sheet's Drawing, which the PDF draws
    group: str = ""  # the drawing it is a sheet of ("Profile: N1 to OUT"), for the PDF's bookmarks


@dataclass
class Section:
    title: str
    anchor: str
    pairs: List[List[str]] = field(default_factory=list)  # [label, value]
    paragraphs: List[str] = field(default_factory=list)
    tables: List[Table] = field(default_factory=list)
    figures: List[Figure] = field(default_factory=list)
    seal: Optional[List[List[str]]] = None  # the seal block's lines, with a box to stamp and sign


@dataclass
class Content:
    title: str
    sections: List[Section]
    si: bool = False

    @property
    def tables(self) -> List[Table]:
        return [t for s in self.sections for t in s.tables]

    @property
    def figures(self) -> List[Figure]:
        return [f for s in self.sections for f in s.figures]

    def section(self, title: str) -> Optional[Section]:
        return next((s for s in self.sections if s.title == title), None)


def table(title: str, anchor: str, rows: Sequence[Dict[str, Any]], columns: Sequence[T.Column], note: str = "") -> Table:
    """Rows at the precision of the printed tables."""
    formats = [(key, fmt) for _, _, key, fmt, _ in columns]
    return Table(title, anchor, [c[0] for c in columns], [c[1] for c in columns], [c[2] for c in columns],
                 [c[4] for c in columns], [[fmt(row.get(key)) for key, fmt in formats] for row in rows], note)
