"""The report's content, section by section, as plain data both writers lay out: each
section is a function of the rows it shows."""

from __future__ import annotations

import datetime
import io
import json
import os
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Sequence, Union

import rillwright

from ..check import SEVERITIES, findings
from ..inputs import InputError, Source, analyze, geometry, records, resolve
from ..drawing.profile import profile_path, profile_series, profile_title
from ..tables import NODE_COLUMNS, PIPE_COLUMNS, Column, summary

REPORT_HINT = 'the report needs its libraries: pip install "rillwright[report]"'


@dataclass
class Table:
    title: str
    headings: List[str]
    units: List[str]
    numeric: List[bool]
    rows: List[List[str]]


@dataclass
class Figure:
    title: str
    svg: str  # standalone SVG text


@dataclass
class Content:
    title: str
    title_block: List[List[str]]  # [label, value]
    criteria: List[List[str]]
    summary: List[str]
    findings: Dict[str, List[str]]
    figures: List[Figure] = field(default_factory=list)
    tables: List[Table] = field(default_factory=list)


def table(title: str, rows: Sequence[Dict[str, Any]], columns: Sequence[Column]) -> Table:
    """Rows at the precision of the printed tables."""
    return Table(title, [c[0] for c in columns], [c[1] for c in columns], [c[4] for c in columns],
                 [[fmt(row.get(key)) for _, _, key, fmt, _ in columns] for row in rows])


def _svg(figure: Any) -> str:
    import matplotlib

    out = io.StringIO()
    # Text stays text (in the report's embedded font): under half the size of glyph outlines,
    # searchable in the HTML, and set by the PDF's own font.
    with matplotlib.rc_context({"svg.fonttype": "none"}):
        figure.savefig(out, format="svg", bbox_inches="tight", pad_inches=0.1)
    return out.getvalue()


def title_block(source: Source, result: Dict[str, Any]) -> List[List[str]]:
    project = json.loads(source.text) if source.kind == "project" else {}
    info = project.get("report") if isinstance(project.get("report"), dict) else {}
    block = [["Project", result.get("name") or os.path.basename(source.label)]]
    for key, label in (("project_number", "Project number"), ("engineer", "Engineer"), ("firm", "Firm"),
                       ("jurisdiction", "Jurisdiction")):
        if info.get(key):
            block.append([label, str(info[key])])
    units = "SI (results in US customary units)" if project.get("units") == "si" else "US customary"
    block += [["Date", datetime.date.today().isoformat()], ["rillwright", rillwright.__version__],
              ["Unit system", units]]
    return block


def criteria(source: Source, design: Optional[Dict[str, Any]]) -> List[List[str]]:
    settings = records(source)["settings"]
    project = json.loads(source.text) if source.kind == "project" else {}
    if settings.get("intensity") is not None:
        rain = f"fixed intensity {settings['intensity']:g} in/hr"
    else:
        rain = (f"IDF i = {settings['idf_a']:g} / (t + {settings['idf_b']:g})^{settings['idf_c']:g} in/hr")
        if project:
            rain += f", return period {project.get('design_return_period_years', 10):g} yr"
    tailwater = settings.get("tailwater")
    method = ("energy level (HEC-22, 2009)" if settings.get("energy_structure_loss")
              else "access hole (HEC-22)" if settings.get("hec22_structure_loss")
              else f"junction K {settings['junction_k']:g} + bend {settings['bend_loss_coeff']:g}")
    rows = [["Rainfall", rain], ["Minimum time of concentration", f"{settings['min_tc']:g} min"],
            ["Minimum slope", f"{settings['min_slope']:g} ft/ft"],
            ["Tailwater", "free outlet" if tailwater is None else f"{tailwater:.2f} ft"],
            ["Structure losses", method]]
    for key, value in (design or {}).items():
        rows.append([f"Design option {key}", json.dumps(value)])
    return rows


def findings_by_severity(found: List[Dict[str, Any]]) -> Dict[str, List[str]]:
    return {severity: [f["message"] for f in found if f["severity"] == severity] for severity in SEVERITIES}


def report_paths(shape: Any, min_pipes: int = 4) -> List[List[Any]]:
    """Every outfall's longest path, then every other branch of at least `min_pipes` pipes
    down to where it joins a path already drawn."""
    downstream: Dict[str, Any] = {}
    fed = set()
    for pipe in shape.pipes:
        downstream.setdefault(pipe.from_node, pipe)
        fed.add(pipe.to_node)
    heads = [n for n in dict.fromkeys([p.from_node for p in shape.pipes]) if n not in fed]
    paths = [profile_path(shape, head) for head in heads]
    order = sorted(range(len(paths)), key=lambda k: -sum(p.length for p in paths[k]))
    covered: set = set()
    chosen = []
    for k in order:
        path = []
        for pipe in paths[k]:
            path.append(pipe)
            if pipe.to_node in covered:
                break
        first_to_outfall = not covered.intersection(p.to_node for p in paths[k])
        if first_to_outfall or len(path) >= min_pipes:
            chosen.append(path)
            covered.update(p.from_node for p in path)
            covered.update(p.to_node for p in path)
    return chosen


def build(source: Source, *, design: Optional[Dict[str, Any]] = None, service: bool = False,
          progress: Any = None) -> Content:
    try:
        from matplotlib.figure import Figure as _MplFigure  # noqa: F401
    except ImportError:
        raise InputError(REPORT_HINT) from None
    from ..design import design as run_design
    from ..drawing.plan import plan_figure
    from ..drawing.profile import profile_figure
    from ..tables import csv_value  # noqa: F401

    tick = progress or (lambda text: None)
    designed = None
    if design is not None:
        designed = run_design(text=source.text, format=source.format, **design)
        source = Source(source.label, source.kind, designed["sized"])
    inlet_rows: List[Dict[str, Any]] = []
    if designed is None and has_inlets(source):
        # Pipes carry what the inlets catch: the inlet-aware analysis is the one reported.
        from ..inlets import inlets

        result = inlets(text=source.text, format=source.format)
        inlet_rows = result.pop("inlets")
        result["name"] = json.loads(source.text).get("name", "")
    else:
        result = analyze(source)
    found = findings(source, result)
    content = Content(result.get("name") or os.path.basename(source.label), title_block(source, result),
                      criteria(source, design), summary(result).split("; "), findings_by_severity(found))
    tick("plan")
    try:
        content.figures.append(Figure("Plan", _svg(plan_figure(source, result, title="Plan"))))
    except ValueError as error:  # no plan coordinates: the report goes on without a plan
        content.summary.append(f"no plan view: {error}")
    shape = geometry(source)
    paths = report_paths(shape)
    for k, path in enumerate(paths):
        tick(f"profile {k + 1} of {len(paths)}")
        series = profile_series(path, shape, result)
        series.dead_end = series.dead_end and k == 0
        content.figures.append(Figure(profile_title(series, "Profile"), _svg(profile_figure(series, "Profile"))))
    tick("tables")
    content.tables.append(table("Pipes", result["pipes"], PIPE_COLUMNS))
    content.tables.append(table("Structures", result["nodes"], NODE_COLUMNS))
    if inlet_rows:
        content.tables.append(table("Inlets", inlet_rows, INLET_COLUMNS))
    if designed is not None:
        from ..commands.design import COLUMNS as DESIGN_COLUMNS, _size_change

        content.tables.append(table("Design choices", [dict(r, size=_size_change(r)) for r in designed["pipes"]],
                                    DESIGN_COLUMNS))
        content.tables.append(table("Design violations", designed["violations"],
                                    (("Kind", "", "kind", str, False), ("Id", "", "id", str, False),
                                     ("Message", "", "message", str, False))))
    if service:
        from ..service import level_of_service

        tick("level of service")
        served = level_of_service(source)
        content.tables.append(table("Level of service", served["nodes"], SERVICE_COLUMNS))
    return content


def _two(value: Any) -> str:
    return "-" if value is None else f"{value:.2f}"


INLET_COLUMNS: Sequence[Column] = tuple(
    (key.replace("_", " "), "", key, _two if key not in ("id", "type", "bypass_to") else (lambda v: "-" if v is None else str(v)),
     key not in ("id", "type", "bypass_to"))
    for key in ("id", "type", "gutter_q", "spread", "depth", "efficiency", "intercepted", "bypass", "bypass_to"))

SERVICE_COLUMNS: Sequence[Column] = (
    ("Structure", "", "id", str, False),
    ("Floods at", "x design", "flood_multiplier", lambda v: "never" if v is None else f"{v:.2f}", True),
    ("Floods at", "return period", "flood_return_period", lambda v: "-" if v is None else f"{v} yr", True),
    ("Freeboard", "ft", "freeboard", _two, True),
)


def report(source: Union[str, "os.PathLike[str]", None] = None, html: Optional[Union[str, "os.PathLike[str]"]] = None,
           pdf: Optional[Union[str, "os.PathLike[str]"]] = None, *, text: Optional[str] = None,
           format: Optional[str] = None, design: Optional[Dict[str, Any]] = None, service: bool = False,
           progress: Any = None) -> Content:
    """Writes the design report of the network as a self-contained HTML file (`html`) and/or
    a PDF (`pdf`): title block, design criteria, summary and findings, plan, profiles and
    tables. `design` (the options of `rwt.design`) reports the designed network; `service`
    adds the level-of-service table. Returns the report's content."""
    content = build(resolve(source, text=text, format=format), design=design, service=service, progress=progress)
    if html is not None:
        from .html import write_html

        write_html(content, os.fspath(html))
    if pdf is not None:
        from .pdf import write_pdf

        write_pdf(content, os.fspath(pdf), progress)
    return content


def has_inlets(source: Source) -> bool:
    if source.kind != "project":
        return False
    nodes = json.loads(source.text).get("nodes", [])
    return any(isinstance(n.get("inlet"), dict) and (n["inlet"].get("length_ft") or n["inlet"].get("sag"))
               for n in nodes if isinstance(n, dict))
