"""The report as one self-contained HTML file: styles inline, figures inline as SVG."""

from __future__ import annotations

import re
from dataclasses import asdict

from ..inputs import InputError
from .build import REPORT_HINT, Content
from .fonts import font_face_css

_PROLOGUE = re.compile(r"^.*?(?=<svg)", re.S)  # the XML declaration and DOCTYPE


def render_html(content: Content) -> str:
    try:
        from jinja2 import Environment, PackageLoader, select_autoescape
    except ImportError:
        raise InputError(REPORT_HINT) from None
    environment = Environment(loader=PackageLoader("rillwright_tools.submittal", "templates"),
                              autoescape=select_autoescape(["html", "j2"]))
    figures = [{"title": f.title, "svg": _PROLOGUE.sub("", f.svg, count=1)} for f in content.figures]
    template = environment.get_template("report.html.j2")
    return template.render(content=asdict(content), figures=figures, fonts=font_face_css())


def write_html(content: Content, path: str) -> None:
    try:
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(render_html(content))
    except OSError as error:
        raise InputError(f"cannot write {path}: {error.strerror or error}") from None
