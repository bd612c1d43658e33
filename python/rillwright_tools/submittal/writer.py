"""The one path from a network to its written report, for `rwt.report` and `rillwright report`."""

from __future__ import annotations

import os
from typing import Any, Dict, Optional, Union

from ..inputs import Source, resolve
from ..alongside import alongside
from .build import Content, Progress, build


def report(source: Union[str, "os.PathLike[str]", None] = None, html: Optional[Union[str, "os.PathLike[str]"]] = None,
           pdf: Optional[Union[str, "os.PathLike[str]"]] = None, *, text: Optional[str] = None,
           format: Optional[str] = None, design: Optional[Dict[str, Any]] = None, service: bool = False,
           progress: Optional[Progress] = None) -> Content:
    """Writes the design report of the network as a self-contained HTML file (`html`) and/or
    a PDF (`pdf`): title block, method, what to review first, drainage areas, pipes,
    structures, grade and energy lines, inlets, design, level of service, plan sheets and
    profiles. `design` (the options of `rwt.design`) reports the designed network; `service`
    adds the level of service. Returns the report's content."""
    return write_report(resolve(source, text=text, format=format), html, pdf, design=design, service=service,
                        progress=progress)


def write_report(source: Source, html: Optional[Union[str, "os.PathLike[str]"]],
                 pdf: Optional[Union[str, "os.PathLike[str]"]], *, design: Optional[Dict[str, Any]] = None,
                 service: bool = False, progress: Optional[Progress] = None) -> Content:
    """The one path of `rwt.report` and `rillwright report`."""
    if source.model is None:  # read once into the core: tables, check and drawings share one analysis
        from ..model import open as open_model

        source = open_model(source).source
    content = build(source, design=design, service=service, progress=progress)
    write_files(content, html, pdf, progress)
    return content


def write_files(content: Content, html: Optional[Union[str, "os.PathLike[str]"]],
                pdf: Optional[Union[str, "os.PathLike[str]"]], progress: Optional[Progress] = None) -> None:
    """The content as HTML and/or PDF; with both, the HTML beside the PDF where a second core is free."""
    from .html import write_html
    from .pdf import write_pdf

    if html is None and pdf is None:
        return
    if pdf is None:
        write_html(content, os.fspath(html))
        return
    if html is None:
        write_pdf(content, os.fspath(pdf), progress)
        return
    with alongside(lambda: write_html(content, os.fspath(html))) as html_written:
        write_pdf(content, os.fspath(pdf), progress)
        html_written()
