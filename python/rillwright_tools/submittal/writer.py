"""The one path from a network to its written report, for `rwt.report` and `rillwright report`."""

from __future__ import annotations

import os
from typing import Any, Dict, Optional, Union

from ..inputs import Source, resolve
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
    if html is not None:
        from .html import write_html

        if progress:
            progress("HTML")
        write_html(content, os.fspath(html))
    if pdf is not None:
        from .pdf import write_pdf

        write_pdf(content, os.fspath(pdf), progress)
    return content
