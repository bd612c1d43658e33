"""The report as one self-contained HTML file: styles inline, figures inline as SVG, and
the subset of the font that the page uses."""

from __future__ import annotations

import re
from dataclasses import asdict

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
    data = asdict(content)
    for section in data["sections"]:
        for figure in section["figures"]:
            figure["svg"] = _PROLOGUE.sub("", figure["svg"], count=1)
    page = environment.get_template("report.html.j2").render(content=data, fonts=_FONT_RULES)
    # Every character of the page (markup included: a superset of the text) is in the subset.
    return page.replace(_FONT_RULES, font_face_css(set(page)), 1)


def write_html(content: Content, path: str) -> None:
    try:
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(render_html(content))
    except OSError as error:
        raise InputError(f"cannot write {path}: {error.strerror or error}") from None
