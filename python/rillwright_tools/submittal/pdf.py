"""The report as a PDF laid out with fpdf2: tables with their headings repeated on every
page, figures drawn as vector paths from their SVG, a header and numbered footer."""

from __future__ import annotations

import io
from typing import Any

from ..inputs import InputError
from .build import REPORT_HINT, Content, Table
from .fonts import FAMILY as FONT, font_files
from .pdf_svg import drawable


def _document(title: str) -> Any:
    try:
        from fpdf import FPDF
    except ImportError:
        raise InputError(REPORT_HINT) from None

    class Report(FPDF):  # type: ignore[misc]
        def header(self) -> None:
            self.set_font(FONT, "", 8)
            self.set_text_color(90)
            self.cell(0, 5, f"{title}: design report", align="L")
            self.ln(8)
            self.set_text_color(0)

        def footer(self) -> None:
            self.set_y(-12)
            self.set_font(FONT, "", 8)
            self.cell(0, 5, f"page {self.page_no()} of {{nb}}", align="C")

    document = Report(orientation="landscape", unit="mm", format="letter")
    for style, path in font_files().items():
        document.add_font(FONT, style, str(path))
    document.set_auto_page_break(True, margin=15)
    document.set_title(f"{title}: design report")
    document.set_creator("rillwright")
    return document


def _heading(document: Any, text: str, size: float = 13) -> None:
    document.set_font(FONT, "B", size)
    document.set_text_color(31, 78, 156)
    document.cell(0, 8, text, new_x="LMARGIN", new_y="NEXT")
    document.set_text_color(0)
    document.set_font(FONT, "", 9)


def _pairs(document: Any, rows: Any) -> None:
    with document.table(col_widths=(60, 150), width=210, align="L", first_row_as_headings=False,
                        line_height=5) as table:
        for label, value in rows:
            row = table.row()
            row.cell(label)
            row.cell(value)
    document.ln(3)


def _table(document: Any, table: Table) -> None:
    document.add_page()
    _heading(document, table.title)
    document.set_font(FONT, "", 6.5 if len(table.headings) > 10 else 8)
    widths = [max(len(h), len(u), *(len(r[i]) for r in table.rows[:200]), 2) + 1
              for i, (h, u) in enumerate(zip(table.headings, table.units))]
    aligns = ["RIGHT" if n else "LEFT" for n in table.numeric]
    with document.table(col_widths=widths, text_align=aligns, repeat_headings=1, num_heading_rows=2,
                        line_height=3.6, width=min(document.epw, 4.2 * sum(widths)), align="L",
                        headings_style=_heading_style()) as grid:
        grid.row(table.headings)
        grid.row(table.units)
        for cells in table.rows:
            grid.row(cells)


def _heading_style() -> Any:
    from fpdf.fonts import FontFace

    return FontFace(emphasis="BOLD", fill_color=(232, 238, 248))


def write_pdf(content: Content, path: str, progress: Any = None) -> None:
    import logging

    logging.getLogger("fpdf.svg").setLevel(logging.ERROR)  # matplotlib's <metadata> is not drawn: fine
    document = _document(content.title)
    document.add_page()
    document.set_font(FONT, "B", 18)
    document.cell(0, 12, f"{content.title}: design report", new_x="LMARGIN", new_y="NEXT")
    document.set_font(FONT, "", 9)
    _pairs(document, content.title_block)
    _heading(document, "Design criteria")
    _pairs(document, content.criteria)
    _heading(document, "Summary")
    for line in content.summary:
        document.cell(0, 5, f"• {line}", new_x="LMARGIN", new_y="NEXT")
    for severity, messages in content.findings.items():
        if messages:
            _heading(document, f"{severity.capitalize()}s ({len(messages)})", 10)
            for message in messages:
                document.multi_cell(0, 4.5, f"• {message}", new_x="LMARGIN", new_y="NEXT")
    tick = progress or (lambda text: None)
    for k, figure in enumerate(content.figures):
        tick(f"PDF: figure {k + 1} of {len(content.figures)}")
        document.add_page()
        _heading(document, figure.title)
        room = document.h - document.b_margin - document.get_y() - 2  # the rest of this page
        document.image(io.BytesIO(drawable(figure.svg).encode("utf-8")), x=document.l_margin, w=document.epw,
                       h=room, keep_aspect_ratio=True)
    for table in content.tables:
        tick(f"PDF: {table.title.lower()} table")
        _table(document, table)
    try:
        document.output(path)
    except OSError as error:
        raise InputError(f"cannot write {path}: {error.strerror or error}") from None
