"""The report as a PDF laid out with fpdf2: a bookmark for every section, plan sheet and
profile (its sheets under it), a table of contents, tables with their headings repeated on
every page, each drawing sheet at its true size drawn with fpdf2's own lines, shapes and
text (pdf_svg.draw), a header and a numbered footer.

Tables are laid out row by row with column widths computed once per table and text
placed with `text()`: fpdf2's own table measures and wraps every cell, which for the
thousands of rows of a large network takes most of the report's time."""

from __future__ import annotations

import io
import math
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

from ..inputs import InputError
from .build import REPORT_HINT, Content, Figure, Section, Table
from .fonts import FAMILY as FONT, font_files
from .pdf_ops import PageRun
from .pdf_svg import MM_PER_PT, draw, drawable

BLUE = (31, 78, 156)
HEADING_FILL = (232, 238, 248)
STRIPE_FILL = (246, 246, 246)
PAD = 1.2  # mm of space either side of a cell's text
FIT = 1e-6  # mm: a text as wide as its column (to rounding) fits it
LINE = 1.18  # line height over font size
TABLE_SIZES = (8.0, 7.0, 6.5, 6.0, 5.5, 5.0)  # font sizes tried, largest first, until a table fits the page
PROFILE_PREFIX = "Profile: "


class _Widths:
    """Text widths (mm) by character at one font and size, so that a row is measured by a
    sum instead of a call per cell (fpdf2 places text without kerning, so the sum is exact)."""

    def __init__(self, document: Any, style: str, size: float) -> None:
        self.document = document
        self.known: Dict[str, float] = {}
        self.font = (style, size)

    def _measure(self, c: str) -> float:
        document = self.document
        before = (document.font_style, document.font_size_pt)
        document.set_font(FONT, *self.font)
        width = document.get_string_width(c)
        document.set_font(FONT, *before)
        return float(width)

    def __call__(self, text: str) -> float:
        known = self.known
        total = 0.0
        for c in text:
            w = known.get(c)
            if w is None:
                w = known[c] = self._measure(c)
            total += w
        return total


def _document(title: str) -> Any:
    try:
        from fpdf import FPDF
    except ImportError:
        raise InputError(REPORT_HINT) from None

    class Report(FPDF):  # type: ignore[misc]
        section_title = ""

        def header(self) -> None:
            self.set_font(FONT, "", 8)
            self.set_text_color(90)
            self.cell(self.epw / 2, 5, f"{title}: design report", align="L")
            self.cell(self.epw / 2, 5, self.section_title, align="R")
            self.ln(HEADER_ROOM)
            self.set_text_color(0)

        def footer(self) -> None:
            self.set_y(-10)
            self.set_font(FONT, "", 8)
            self.cell(0, 5, f"page {self.page_no()} of {{nb}}", align="C")

    document = Report(orientation="landscape", unit="mm", format="letter")
    for style, path in font_files().items():
        document.add_font(FONT, style, str(path))
    document.set_margins(10, 10, 10)
    document.set_auto_page_break(True, margin=13)
    document.set_title(f"{title}: design report")
    document.set_creator("rillwright")
    return document


def _bottom(document: Any) -> float:
    return document.h - document.b_margin


def _heading(document: Any, text: str, size: float = 13, bookmark: Optional[int] = None) -> None:
    if document.get_y() + 16 > _bottom(document):
        document.add_page()
    if bookmark is not None:
        document.start_section(text, level=bookmark)
    document.set_font(FONT, "B", size)
    document.set_text_color(*BLUE)
    document.cell(0, size * 0.55, text, new_x="LMARGIN", new_y="NEXT")
    document.set_text_color(0)
    document.set_font(FONT, "", 9)
    document.ln(1)


def _paragraph(document: Any, text: str, size: float = 9) -> None:
    document.set_font(FONT, "", size)
    document.multi_cell(0, size * 0.45, text, new_x="LMARGIN", new_y="NEXT")
    document.ln(1.2)


def _pairs(document: Any, rows: Sequence[Sequence[str]], width: float = 190) -> None:
    document.set_font(FONT, "", 9)
    for label, value in rows:
        y = document.get_y()
        document.set_font(FONT, "B", 9)
        document.multi_cell(55, 4.6, label, new_x="RIGHT", new_y="TOP")
        document.set_font(FONT, "", 9)
        document.multi_cell(width - 55, 4.6, value, new_x="LMARGIN", new_y="NEXT")
        document.line(document.l_margin, document.get_y(), document.l_margin + width, document.get_y())
        if document.get_y() < y:  # a page break inside the pair
            continue
    document.ln(3)


def _seal(document: Any, lines: Sequence[Sequence[str]]) -> None:
    """The engineer's seal: name, licence and state, and a box to stamp and sign."""
    if document.get_y() + 60 > _bottom(document):
        document.add_page()
    top = document.get_y()
    _pairs(document, [*lines, ["Signature", ""], ["Date signed", ""]], width=120)
    x = document.l_margin + 135
    document.rect(x, top, 70, 55)
    document.set_font(FONT, "", 7)
    document.set_text_color(110)
    document.text(x + 2, top + 53, "seal and signature")
    document.set_text_color(0)
    document.set_y(max(document.get_y(), top + 58))


def _wrap(text: str, width: float, measure: Callable[[str], float]) -> List[str]:
    """Lines of at most `width`, broken after spaces (a word longer than a line is cut)."""
    if measure(text) <= width:
        return [text]
    lines, current = [], ""
    for word in text.split(" "):
        trial = f"{current} {word}" if current else word
        if measure(trial) <= width:
            current = trial
            continue
        if current:
            lines.append(current)
        while measure(word) > width and len(word) > 1:
            cut = max(1, int(len(word) * width / measure(word)))
            lines.append(word[:cut])
            word = word[cut:]
        current = word
    lines.append(current)
    return lines


def _fit(document: Any, table: Table) -> Tuple[float, List[float]]:
    """The largest font size at which the table fits the page width, and its column widths:
    each column as wide as its widest cell, text columns narrowed (to wrap) when needed."""
    # Widths grow in proportion to the font size (fpdf2 sums the glyphs' advances): every
    # cell is measured once, at the first size.
    reference = TABLE_SIZES[0]
    bold, plain = _Widths(document, "B", reference), _Widths(document, "", reference)
    widest_at_reference, word_at_reference = [], []
    for k, (heading, unit) in enumerate(zip(table.headings, table.units)):
        cells = {row[k] for row in table.rows}
        widest_at_reference.append(max([bold(heading), plain(unit), *(plain(text) for text in cells)]))
        words = {word for text in cells for word in text.split(" ")} | set(heading.split(" "))
        word_at_reference.append(max([plain(word) for word in words] + [0.0]))
    for size in TABLE_SIZES:
        natural = [widest * size / reference + 2 * PAD for widest in widest_at_reference]
        room = document.epw
        if sum(natural) <= room:
            return size, natural
        fixed = sum(w for w, numeric in zip(natural, table.numeric) if numeric)
        texts = sorted(w for w, numeric in zip(natural, table.numeric) if not numeric)
        floor = 18.0  # mm: narrower text columns wrap into too many lines
        if fixed + floor * len(texts) > room and size != TABLE_SIZES[-1]:
            continue
        cap = _water_level(texts, room - fixed, floor)
        widths = [w if numeric else min(w, cap) for w, numeric in zip(natural, table.numeric)]
        cuts_words = any(w < word * size / reference + 2 * PAD
                         for w, word, numeric in zip(widths, word_at_reference, table.numeric) if not numeric)
        if cuts_words and size != TABLE_SIZES[-1]:
            continue  # a smaller size, before a word is cut in two
        return size, widths
    raise AssertionError("unreachable")


def _water_level(widths: List[float], room: float, floor: float) -> float:
    """The cap C with sum(min(w, C)) = room over the sorted widths (at least `floor`)."""
    left = room
    for k, w in enumerate(widths):
        share = left / (len(widths) - k)
        if w > share:
            return max(share, floor)
        left -= w
    return max(widths[-1] if widths else floor, floor)


def _table(document: Any, table: Table, heading: Optional[str]) -> None:
    """Rows placed with text() at widths computed once; the heading and unit rows again at
    the top of every page the table runs onto."""
    if heading is not None:
        _heading(document, heading, 11, bookmark=1)
    size, widths = _fit(document, table)
    document.set_font(FONT, "", size)
    measure = _Widths(document, "", size)
    line = size * LINE * 0.3528  # pt to mm
    units = any(table.units)
    xs = [document.l_margin]
    for w in widths:
        xs.append(xs[-1] + w)
    total = xs[-1] - xs[0]
    ascent = line * 0.78
    bold = _Widths(document, "B", size)

    run = PageRun(document)  # each stretch of cell texts written at once, before anything else is drawn

    def headings() -> None:
        rows = [(table.headings, "B")] + ([(table.units, "")] if units else [])
        document.set_fill_color(*HEADING_FILL)
        height = line * len(rows) + 0.6
        document.rect(xs[0], document.get_y(), total, height, style="F")
        y = document.get_y() + 0.3
        for texts, style in rows:
            document.set_font(FONT, style, size)
            width_of = bold if style else measure
            for k, text in enumerate(texts):
                if text:
                    x = xs[k + 1] - PAD - width_of(text) if table.numeric[k] else xs[k] + PAD
                    run.text(x, y + ascent, text)
            run.flush()
            y += line
        document.set_font(FONT, "", size)
        document.set_y(y + 0.3)
        document.line(xs[0], document.get_y(), xs[-1], document.get_y())

    if document.get_y() + 3 * line + 4 > _bottom(document):
        document.add_page()
    headings()
    bottom = _bottom(document)
    document.set_fill_color(*STRIPE_FILL)
    for index, cells in enumerate(table.rows):
        wrapped = None
        for k, text in enumerate(cells):
            if not table.numeric[k] and measure(text) > widths[k] - 2 * PAD + FIT:
                wrapped = [_wrap(t, widths[j] - 2 * PAD + FIT, measure) for j, t in enumerate(cells)]
                break
        height = line * (max(len(lines) for lines in wrapped) if wrapped else 1)
        y = document.get_y()
        if y + height > bottom:
            run.flush()
            document.add_page()
            headings()
            document.set_fill_color(*STRIPE_FILL)
            y = document.get_y()
        if index % 2:
            run.flush()
            document.rect(xs[0], y, total, height, style="F")
        for k, text in enumerate(cells):
            if not text:
                continue
            for n, part in enumerate(wrapped[k] if wrapped else (text,)):
                x = xs[k + 1] - PAD - measure(part) if table.numeric[k] else xs[k] + PAD
                run.text(x, y + ascent + n * line, part)
        document.set_y(y + height)
    run.flush()
    document.line(xs[0], document.get_y(), xs[-1], document.get_y())
    document.ln(1.5)
    if table.note:
        _paragraph(document, table.note, 7.5)
    document.ln(2)


def _figure(document: Any, figure: Figure, first_of_group: bool) -> None:
    if figure.drawing is None or document.get_y() + figure.drawing.height * MM_PER_PT > _bottom(document):
        document.add_page()
    if figure.drawing is not None:
        # A sheet: drawn at its true size (its scale bar is true), its own title on it.
        if figure.group and figure.group != figure.title:
            if first_of_group:
                document.start_section(figure.group, level=1)
            document.start_section(figure.title, level=2)
        else:
            document.start_section(figure.title, level=1)
        width = figure.drawing.width * MM_PER_PT
        top = document.get_y()
        draw(document, figure.drawing, document.l_margin + max(0.0, (document.epw - width) / 2), top, FONT)
        document.set_y(top + figure.drawing.height * MM_PER_PT)
        return
    document.start_section(figure.title, level=1)
    document.set_font(FONT, "B", 11)
    document.cell(0, 6, figure.title, new_x="LMARGIN", new_y="NEXT")
    document.set_font(FONT, "", 9)
    document.set_fill_color(0)  # fpdf2 fills SVG text that names no colour with the current fill
    room = _bottom(document) - document.get_y() - 1  # the rest of this page
    document.image(io.BytesIO(drawable(figure.svg).encode("utf-8")), x=document.l_margin, w=document.epw,
                   h=room, keep_aspect_ratio=True)


def _contents(document: Any, outline: List[Any]) -> None:
    """The table of contents: every section and plan sheet, and the profiles as one line
    with their pages (each has its own bookmark)."""
    document.set_x(document.l_margin)  # drawn at the end, wherever the last page left off
    document.set_font(FONT, "B", 14)
    document.set_text_color(*BLUE)
    document.cell(0, 9, "Contents", new_x="LMARGIN", new_y="NEXT")
    document.set_text_color(0)
    document.set_x(document.l_margin)
    profiles = [entry for entry in outline if entry.name.startswith(PROFILE_PREFIX) and entry.level == 1]
    lines = []
    for entry in outline:
        if entry.name.startswith(PROFILE_PREFIX):
            if profiles and entry is profiles[0]:
                last = max(e.page_number for e in outline if e.name.startswith(PROFILE_PREFIX))
                lines.append((1, f"Profiles ({len(profiles)}, one bookmark each, "
                                 f"to page {last})", entry.page_number, entry))
            continue
        lines.append((entry.level, entry.name, entry.page_number, entry))
    size, _ = _contents_layout(document, len(lines))
    document.set_font(FONT, "", size)
    height = size * CONTENTS_LINE
    for level, name, page, entry in lines:
        if document.will_page_break(height):
            # The next reserved page already has its running header (drawn when it was
            # reserved): the lines go on below it.
            document.add_page()
            document.set_y(document.t_margin + HEADER_ROOM)
        document.set_x(document.l_margin + 6 * level)
        link = document.add_link(page=page)
        document.cell(document.epw - 30 - 6 * level, height, name, link=link)
        document.cell(30, height, str(page), align="R", new_x="LMARGIN", new_y="NEXT", link=link)


CONTENTS_SIZES = (9.0, 6.5)  # pt: the larger where the contents fit one page
CONTENTS_LINE = 0.48  # mm of line per pt of font
HEADER_ROOM = 7.0  # mm the running header takes below the top margin
CONTENTS_HEADING = 9.0  # mm, the "Contents" line


def _contents_layout(document: Any, lines: int) -> Tuple[float, int]:
    """The contents' font size and the pages it takes, as fpdf2 breaks them: a line goes on
    while it ends above the page-break line."""
    top = document.t_margin + HEADER_ROOM
    room = document.h - document.b_margin - top
    for size in CONTENTS_SIZES:
        height = size * CONTENTS_LINE
        first = int((room - CONTENTS_HEADING) / height + 1e-9)
        if lines <= first or size == CONTENTS_SIZES[-1]:
            break
    if lines <= first:
        return size, 1
    return size, 1 + math.ceil((lines - first) / int(room / height + 1e-9))


def _contents_lines(content: Content) -> int:
    """The contents' lines: a bookmark each, the profiles (and their sheets) one line."""
    lines = 0
    profiles = False
    for section in content.sections:
        lines += 1 + sum(1 for t in section.tables if t.title != section.title)
        for figure in section.figures:
            if figure.title.startswith(PROFILE_PREFIX) or figure.group.startswith(PROFILE_PREFIX):
                profiles = True
            else:
                lines += 1
    return lines + profiles


def _section(document: Any, section: Section, tick: Callable[[str], None]) -> None:
    document.section_title = section.title
    big = any(len(t.rows) > 25 for t in section.tables) or section.figures
    if big or document.get_y() + 40 > _bottom(document):
        document.add_page()
    _heading(document, section.title, bookmark=0)
    if section.pairs:
        _pairs(document, section.pairs)
    for paragraph in section.paragraphs:
        _paragraph(document, paragraph)
    for table in section.tables:
        tick(f"PDF: {table.title.lower()}")
        _table(document, table, None if table.title == section.title else table.title)
    if section.seal:
        _seal(document, section.seal)
    for k, figure in enumerate(section.figures):
        tick(f"PDF: figure {k + 1} of {len(section.figures)}")
        _figure(document, figure, k == 0 or figure.group != section.figures[k - 1].group)


def write_pdf(content: Content, path: str, progress: Optional[Callable[[str], None]] = None) -> None:
    import logging

    logging.getLogger("fpdf.svg").setLevel(logging.ERROR)  # matplotlib's <metadata> is not drawn: fine
    tick = progress or (lambda text: None)
    document = _document(content.title)
    document.add_page()
    document.set_font(FONT, "B", 18)
    document.cell(0, 11, f"{content.title}: design report", new_x="LMARGIN", new_y="NEXT")
    sections = list(content.sections)
    if sections and sections[0].anchor == "title-block":
        first = sections.pop(0)
        document.start_section(first.title, level=0)
        _pairs(document, first.pairs)
        for table in first.tables:
            _table(document, table, table.title)
        if first.seal:
            _seal(document, first.seal)
    document.add_page()
    _, pages = _contents_layout(document, _contents_lines(content))
    document.insert_toc_placeholder(_contents, pages=pages)
    for section in sections:
        _section(document, section, tick)
    try:
        document.output(path)
    except OSError as error:
        raise InputError(f"cannot write {path}: {error.strerror or error}") from None
