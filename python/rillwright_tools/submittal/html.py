"""The report as one self-contained HTML file: styles inline, figures inline as SVG, and
the subset of the font that the page uses."""

from __future__ import annotations

import re
from dataclasses import fields

from ..inputs import InputError
from .build import REPORT_HINT, Content
from .fonts import font_face_css

_PROLOGUE = re.compile(r"^.*?(?=<svg)", re.S)  # the XML declaration and DOCTYPE
_FONT_RULES = "/*font-face*/"


def render_html(content: Content) -> str:
    try:
        from jinja2 import Environment, PackageLoader, select_autoescape
    except ImportError:
        raise InputError(REPORT_HINT) from None
    environment = Environment(loader=PackageLoader("rillwright_tools.submittal", "templates"),
                              autoescape=select_autoescape(["html", "j2"]))
    # Sections as shallow dicts (a figure's Drawing stays out of the page's data).
    data = {"title": content.title, "sections": []}
    for section in content.sections:
        entry = {f.name: getattr(section, f.name) for f in fields(section)}
        entry["figures"] = [{"title": f.title, "svg": _PROLOGUE.sub("", f.svg, count=1)} for f in section.figures]
        data["sections"].append(entry)
    page = environment.get_template("report.html.j2").render(content=data, fonts=_FONT_RULES)
    # Every character of the page (markup included: a superset of the text) is in the subset.
    return page.replace(_FONT_RULES, font_face_css(set(page)), 1)


def write_html(content: Content, path: str) -> None:
    try:
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(render_html(content))
    except OSError as error:
        raise InputError(f"cannot write {path}: {error.strerror or error}") from None
