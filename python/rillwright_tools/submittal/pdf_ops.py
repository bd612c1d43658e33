"""Page operators written in runs. A sheet or a long table places its lines and texts by the
thousand in a few styles; fpdf2 writes each with a call of its own. Here they are made as
fpdf2's polyline() and text() make them, kept, and written to the page together before
anything else draws on it (flush): the same page contents, a fraction of the calls."""
from __future__ import annotations

from typing import Any, List, Sequence, Tuple


class PageRun:
    def __init__(self, document: Any) -> None:
        self.document = document
        self.parts: List[str] = []

    def flush(self) -> None:
        if self.parts:
            self.document._out("\n".join(self.parts))
            self.parts.clear()

    def polyline(self, points: Sequence[Tuple[float, float]]) -> None:
        """A stroked polyline, as polyline(points, style="D") writes it."""
        d = self.document
        k, h = d.k, d.h
        moves = [f"{x * k:.2f} {(h - y) * k:.2f} l" for x, y in points]
        moves[0] = moves[0][:-1] + "m"
        self.parts.append("\n".join(moves) + "\n S")

    def text(self, x: float, y: float, text: str) -> None:
        """The text as text(x, y, text) writes it; where text() would write more than the
        text (the font, the first time on a page; underlines; a text mode), by text()."""
        from fpdf.enums import TextMode

        d = self.document
        if (not d.current_font_is_set_on_page or d.text_mode != TextMode.FILL or d.underline or d.strikethrough
                or d._record_text_quad_points or not d.font_family):
            self.flush()
            d.text(x, y, text)
            return
        part = f"BT {x * d.k:.2f} {(d.h - y) * d.k:.2f} Td {d.current_font.encode_text(d.normalize_text(text))} ET"
        if d.fill_color != d.text_color:
            part = f"q {d.text_color.serialize().lower()} {part} Q"
        self.parts.append(part)
