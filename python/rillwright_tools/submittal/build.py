"""The report's content, section by section, as plain data both writers lay out: the
numbers are the analysis's (and the design's), formatted by the table module's columns
in the project's unit system."""

from __future__ import annotations

import datetime
import hashlib
import json
import os
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

import rillwright

from .. import _core
from ..check import SEVERITIES, pipe_marks, result_findings
from ..inputs import Geometry, InputError, Source, analyze, geometry, records
from ..drawing.profile import head_paths, profile_series, profile_title
from .. import tables as T
from ..alongside import alongside
from .content import Content, Figure, Section, Table, table
from .review import findings_by_kind, review_first

REPORT_HINT = 'the report needs its libraries: pip install "rillwright[report]"'
Progress = Callable[[str], None]


def _project(source: Source) -> Dict[str, Any]:
    if source.kind != "project":
        return {}
    project = json.loads(source.text)
    return project if isinstance(project, dict) else {}


def _texts(value: Any) -> str:
    return "" if value is None else str(value).strip()


def file_digest(source: Source) -> Tuple[str, str]:
    """(name, SHA-256) of the input: of the file's bytes when it is a file, else of the text."""
    if os.path.isfile(source.label):
        with open(source.label, "rb") as handle:
            return os.path.basename(source.label), hashlib.sha256(handle.read()).hexdigest()
    return source.label, hashlib.sha256(source.text.encode("utf-8")).hexdigest()


def title_section(source: Source, original: Source, name: str, si: bool) -> Section:
    project = _project(original)
    info = project.get("report") if isinstance(project.get("report"), dict) else {}
    pairs = [["Project", name]]
    for key, label in (("location", "Location"), ("prepared_for", "Prepared for"),
                       ("project_number", "Project number"), ("engineer", "Engineer"), ("firm", "Firm"),
                       ("jurisdiction", "Jurisdiction")):
        if _texts(info.get(key)):
            pairs.append([label, _texts(info[key])])
    file_name, digest = file_digest(original)
    pairs += [["Input file", file_name], ["SHA-256", digest], ["rillwright", rillwright.__version__],
              ["Date", datetime.date.today().isoformat()],
              ["Unit system", "SI (m, m³/s, ha, mm/hr)" if si else "US customary (ft, cfs, ac, in/hr)"]]
    section = Section("Title block", "title-block", pairs=pairs)
    revisions = [r for r in info.get("revision") or [] if isinstance(r, dict)]
    if revisions:
        section.tables.append(table("Revisions", "revisions", revisions,
                                    (T.text("Date", "date"), T.text("Description", "description"))))
    seal = info.get("seal")
    if isinstance(seal, dict):
        section.seal = [[label, _texts(seal.get(key))] for key, label in
                        (("name", "Engineer of record"), ("licence_number", "Licence number"), ("state", "State"))]
    return section


def _imported(project: Dict[str, Any]) -> Dict[str, Any]:
    marker = project.get("imported")
    return marker if isinstance(marker, dict) else {}


def _storm(settings: Dict[str, Any], project: Dict[str, Any], si: bool) -> str:
    if settings.get("intensity") is not None:
        rain = f"a fixed rainfall intensity of {T.INTENSITY.format(si)(settings['intensity'])} {T.INTENSITY.unit(si)}"
    else:
        a = settings["idf_a"] * (T.INTENSITY.to_si if si else 1.0)
        rain = (f"the IDF curve i = {a:.6g} / (t + {settings['idf_b']:g})^{settings['idf_c']:g} "
                f"(i in {T.INTENSITY.unit(si)}, t in min)")
        if project:
            period = project.get("design_return_period_years", 10.0)
            curves = project.get("idf_curves") or []
            rain += (f" of the {period:g}-year storm" + (" from the project's IDF table" if curves else ""))
    if _imported(project).get("design_storm") == "placeholder":
        rain += (f" (placeholder from import: the {_imported(project).get('from', 'imported')} file carried no "
                 "design storm, so this is not a design criterion until the engineer sets one)")
    return rain


def _n_values(records_pipes: List[Dict[str, Any]]) -> str:
    counts: Dict[float, int] = {}
    for pipe in records_pipes:
        counts[pipe["n"]] = counts.get(pipe["n"], 0) + 1
    if len(counts) == 1:
        return f"n = {next(iter(counts)):g} for every pipe"
    return "n = " + ", ".join(f"{n:g} ({k} pipes)" for n, k in sorted(counts.items()))


def _loss_method(settings: Dict[str, Any], si: bool) -> str:
    factor = settings.get("structure_loss_factor", 1.0)
    scaled = f", every loss times {factor:g}" if factor != 1.0 else ""
    if settings.get("energy_structure_loss"):
        return ("the HEC-22 (2009) energy-level method at every structure (initial energy level, then the "
                f"benching, angle and plunging corrections of each structure){scaled}")
    if settings.get("hec22_structure_loss"):
        diameter = T.HEIGHT.format(si)(settings["access_hole_diam_ft"])
        return (f"the HEC-22 access-hole method (access-hole diameter {diameter} {T.HEIGHT.unit(si)}, "
                f"coefficients by flow depth, angle and plunge){scaled}")
    return (f"a junction loss of K = {settings['junction_k']:g} times the outlet pipe's velocity head, plus a "
            f"bend loss coefficient of {settings['bend_loss_coeff']:g}{scaled}")


def method_section(source: Source, network: Dict[str, Any], project: Dict[str, Any], si: bool,
                   design: Optional[Dict[str, Any]], inlet_aware: bool) -> Section:
    settings = network["settings"]
    ff = settings.get("frequency_factor", 1.0)
    min_tc = f"{settings['min_tc']:g} min"
    elevation = T.ELEVATION.unit(si)
    paragraphs = [
        "Design flows by the rational method, Q = C·i·A, with C·A accumulated down the network"
        + (f" and every C raised by the frequency factor {ff:g} (capped at 1.0)" if ff != 1.0 else "")
        + ". C and the drainage area of each structure are the project's (catchments are merged into the inlet "
          "they drain to); the time of concentration at a structure is its longest route of inlet time plus "
          f"pipe travel times, at least {min_tc}.",
        f"Rainfall from {_storm(settings, project, si)}, evaluated at each pipe's time of concentration.",
        f"Pipe capacity, normal and critical depth by Manning's equation with {_n_values(network['pipes'])}; "
        f"slopes below {settings['min_slope']:g} are taken at that minimum.",
        "Hydraulic grade line walked upstream from the outfalls: a standard-step water surface in part-full "
        f"pipes, full-pipe friction in surcharged ones; structure losses by {_loss_method(settings, si)}.",
        ("Tailwater: free outlet (the grade line starts at the outfall invert, or at critical depth where "
         "a pipe enters at it)." if settings.get("tailwater") is None else
         f"Tailwater: {T.ELEVATION.format(si)(settings['tailwater'])} {elevation} at every outfall, as the project "
         "sets it."),
    ]
    if inlet_aware:
        paragraphs.append("Inlets: HEC-22 gutter flow and inlet interception on grade and in sag; each structure "
                          "takes into the pipes what its inlet intercepts, and bypass flows on to the inlet named "
                          "by bypass_to. The pipe flows in this report are those the inlets catch, so they differ "
                          "from an analysis without the inlet pass (rillwright run).")
    if design is not None:
        paragraphs.append("Design: " + design_criteria_text(design, si))
    return Section("Method", "method", paragraphs=paragraphs)


# Design options in words: (label, unit measure or None, default text).
DESIGN_OPTIONS: Dict[str, Tuple[str, Optional[T.Measure], str]] = {
    "catalogue": ("sizes from the catalogue", None, "the built-in catalogue"),
    "max_fill": ("design flow at most this fraction of the just-full capacity", None, "1"),
    "min_size": ("smallest rise (in)", None, "none"),
    "min_velocity": ("least velocity at design flow", T.VELOCITY, "none"),
    "max_velocity": ("greatest velocity at design flow", T.VELOCITY, "none"),
    "min_cover": ("least cover at either pipe end", T.HEIGHT, "none"),
    "min_freeboard": ("least freeboard at every structure", T.HEIGHT, "none"),
    "fixed": ("pipes that keep their given size", None, "none"),
    "profile": ("inverts and slopes designed with the sizes", None, "no"),
    "match": ("matching rule at structures", None, "crown"),
    "min_drop": ("least invert drop across a structure", T.HEIGHT, "0.1 ft"),
    "max_drop": ("greatest invert drop across a structure", T.HEIGHT, "none"),
    "min_slope": ("least pipe slope", None, "the project's minimum slope"),
    "max_slope": ("greatest pipe slope", None, "none"),
    "min_full_velocity": ("least full-pipe velocity", T.VELOCITY, "none"),
    "max_depth": ("greatest structure depth", T.HEIGHT, "none"),
    "fixed_inverts": ("structures that keep their given invert", None, "none"),
    "objective": ("objective of the profile design", None, "shallowest"),
    "invert_step": ("invert grid of the least-cost design", T.HEIGHT, "0.01 in the project's length unit"),
    "cost": ("cost model", None, "the default prices"),
}


def _option_value(value: Any, measure: Optional[T.Measure], si: bool) -> str:
    if isinstance(value, bool):
        return "yes" if value else "no"
    if measure is not None and isinstance(value, (int, float)):
        return f"{measure.format(si)(float(value))} {measure.unit(si)}"
    if isinstance(value, list):
        return ", ".join(map(str, value)) or "none"
    if isinstance(value, dict):
        return json.dumps(value)
    return f"{value:g}" if isinstance(value, float) else str(value)


def design_criteria(design: Dict[str, Any], si: bool) -> List[List[str]]:
    rows = []
    for key, (label, measure, default) in DESIGN_OPTIONS.items():
        given = key in design and design[key] is not None
        value = _option_value(design[key], measure, si) if given else f"{default} (default)"
        rows.append([f"{label[0].upper()}{label[1:]} ({key})", value])
    return rows


def design_criteria_text(design: Dict[str, Any], si: bool) -> str:
    chosen = [f"{DESIGN_OPTIONS[k][0]} {_option_value(v, DESIGN_OPTIONS[k][1], si)}"
              for k, v in design.items() if k in DESIGN_OPTIONS and v is not None]
    least_cost = design.get("objective") == "cost"
    return (("sizes and inverts chosen together as the least-cost design whose inverts lie on the grid and "
             "that meets every rule (exact for the design flows)" if least_cost else
             "every pipe sized from the catalogue as the smallest that carries its design flow")
            + ("; " + "; ".join(chosen) if chosen else "") + " (the full list with defaults is in the Design section).")


def pipe_rows(result: Dict[str, Any], shape: Geometry, network: Dict[str, Any], si: bool) -> List[Dict[str, Any]]:
    marks = pipe_marks(shape, result)
    rows = []
    for row, pipe, record, mark in zip(result["pipes"], shape.pipes, network["pipes"], marks):
        up, down = shape.nodes.get(pipe.from_node), shape.nodes.get(pipe.to_node)
        rows.append(dict(
            row, shape=pipe.shape, size=T.size_text(pipe.rise, record["span"], pipe.shape, si), length=pipe.length,
            n=record["n"], invert_up=pipe.invert_up, invert_dn=pipe.invert_dn,
            cover_up=None if up is None else up.rim - (pipe.invert_up + pipe.rise),
            cover_dn=None if down is None else down.rim - (pipe.invert_dn + pipe.rise), flags=mark))
    return rows


def structure_rows(result: Dict[str, Any], shape: Geometry, si: bool,
                   energy: Dict[str, Dict[str, Any]]) -> List[Dict[str, Any]]:
    entering: Dict[str, List[Any]] = {}
    leaving: Dict[str, Any] = {}
    for pipe in shape.pipes:
        entering.setdefault(pipe.to_node, []).append(pipe)
        leaving.setdefault(pipe.from_node, pipe)
    elevation = T.ELEVATION.format(si)
    rows = []
    for row in result["nodes"]:
        node = shape.nodes[row["id"]]
        ins = entering.get(row["id"], [])
        out = leaving.get(row["id"])
        lowest = min([node.invert] + [p.invert_dn for p in ins] + ([out.invert_up] if out else []))
        rows.append(dict(row, kind=node.kind, invert=node.invert,
                         inverts_in=", ".join(f"{p.id} {elevation(p.invert_dn)}" for p in ins) or "-",
                         invert_out=None if out is None else out.invert_up, depth=node.rim - lowest,
                         egl=energy.get(row["id"], {}).get("egl"), flags="FLOODED" if row["floods"] else ""))
    return rows


def grade_line_rows(result: Dict[str, Any], shape: Geometry, details: Optional[Dict[str, Any]],
                    settings: Dict[str, Any]) -> List[Dict[str, Any]]:
    """Per structure: the loss method and coefficients the core charged, the outgoing pipe's
    velocity head, the loss, and the grade and energy lines downstream (the outgoing pipe's
    upstream end) and upstream (the highest of the entering pipes' downstream ends)."""
    leaving: Dict[str, int] = {}
    entering: Dict[str, List[int]] = {}
    for k, pipe in enumerate(shape.pipes):
        leaving.setdefault(pipe.from_node, k)
        entering.setdefault(pipe.to_node, []).append(k)
    pipe_details = (details or {}).get("pipes") or [{} for _ in result["pipes"]]
    nodes = {n["id"]: n for n in (details or {}).get("nodes", [])}
    default_method = ("HEC-22 energy" if settings.get("energy_structure_loss") else
                      "HEC-22 access hole" if settings.get("hec22_structure_loss") else "junction + bend")

    def highest(values: List[Any]) -> Any:
        numbers = [v for v in values if isinstance(v, float) and v == v]
        return max(numbers) if numbers else None

    rows = []
    for row in result["nodes"]:
        k = leaving.get(row["id"])
        out = None if k is None else result["pipes"][k]
        ins = entering.get(row["id"], [])
        node = nodes.get(row["id"], {})
        coefficients = node.get("coefficients")
        if coefficients is None and not details and out is not None:
            coefficients = {} if settings.get("energy_structure_loss") or settings.get("hec22_structure_loss") else \
                {"K": settings["junction_k"], "bend": settings["bend_loss_coeff"]}
        rows.append({
            "id": row["id"], "method": node.get("method", default_method if out else
                                           "outfall" if shape.nodes[row["id"]].kind == "outfall" else "no outlet pipe"),
            "coefficients": ", ".join(f"{name} {value:.3g}" for name, value in (coefficients or {}).items()) or "-",
            "outlet": "-" if out is None else out["id"], "velocity_head": node.get("velocity_head"),
            "structure_loss": node.get("structure_loss"),
            "outlet_hgl": None if out is None else out["hgl_up"],
            "outlet_egl": None if k is None else pipe_details[k].get("egl_up"),
            "inlet_hgl": highest([result["pipes"][j]["hgl_dn"] for j in ins]),
            "inlet_egl": highest([pipe_details[j].get("egl_dn") for j in ins])})
    return rows


def drainage_rows(network: Dict[str, Any], result: Dict[str, Any],
                  inlet_rows: List[Dict[str, Any]]) -> List[Dict[str, Any]]:
    """Each structure's own drainage area and its own flow: Q = C·i·A at its own time of
    concentration (inlet time, at least the minimum), by the module's IDF and rational
    formulas; with the inlet pass, its own gutter flow as the pass computed it."""
    settings = network["settings"]
    ff = settings.get("frequency_factor", 1.0)
    own = {r["id"]: r["own_q"] for r in inlet_rows}
    rows = []
    for node in network["nodes"]:
        if node["kind"] == "outfall" or not node["area"] > 0.0:
            continue
        tc = max(node["tc_inlet"], settings["min_tc"])
        fixed = settings.get("intensity")
        i = fixed if fixed is not None else rillwright.intensity(settings["idf_a"], settings["idf_b"],
                                                                  settings["idf_c"], tc)
        c = min(node["c"] * ff, 1.0)  # the analysis's cap of the raised coefficient
        rows.append({"id": node["id"], "area_ac": node["area"], "c": node["c"], "ca": c * node["area"],
                     "tc_inlet": node["tc_inlet"], "tc": tc, "intensity": i,
                     "own_q": own.get(node["id"], rillwright.rational_q(c, i, node["area"]))})
    return rows


def inlet_table_rows(inlet_rows: List[Dict[str, Any]], project: Dict[str, Any], si: bool) -> List[Dict[str, Any]]:
    by_id = {n.get("id"): n for n in project.get("nodes", []) if isinstance(n, dict)}
    length = T.HEIGHT.format(si)
    rows = []
    for row in inlet_rows:
        inlet = (by_id.get(row["id"]) or {}).get("inlet") or {}
        size = f"L {length(inlet.get('length_ft'))}"
        if inlet.get("grate_width_ft"):
            size += f" × W {length(inlet['grate_width_ft'])}"
        size += f" {T.HEIGHT.unit(si)}" + (f", {inlet['grate']}" if inlet.get("grate") else "")
        rows.append(dict(row, size=size, placement="on grade" if row["on_grade"] else "sag",
                         gutter_slope=inlet.get("gutter_slope"), cross_slope=inlet.get("cross_slope")))
    return rows


def _grade_line_module() -> Any:
    try:
        from .. import grade_line  # the core's energy-line details, where this build has them
    except ImportError:
        return None
    return grade_line


def _plan_figures(source: Source, result: Dict[str, Any]) -> List[Figure]:
    """The key map, then every plan sheet, each from its own drawing (text stays text)."""
    from ..drawing.sheets import plan_sheets

    sheets = plan_sheets(source, result, title="Plan")
    if len(sheets) == 2:  # one sheet: its key map would show nothing more
        sheets = sheets[1:]
    return [Figure(sheet.title, sheet.svg(), sheet.drawing) for sheet in sheets]


def _profile_figures(series: Any) -> List[Figure]:
    """The profile's sheets ("Profile: N1 to OUT (sheet 2 of 3)"), each from its own drawing."""
    from ..drawing.profile import profile_sheets

    group = profile_title(series, "Profile")
    return [Figure(sheet.title, sheet.svg(), sheet.drawing, group) for sheet in profile_sheets(series, "Profile")]


def report_paths(shape: Any, min_pipes: int = 4, shown: Optional[set] = None) -> List[List[Any]]:
    """Every outfall's longest path, then every other branch of at least `min_pipes` pipes,
    or with a pipe of `shown` on it (the adverse ones: a reviewer looks for them in a
    profile), down to where it joins a path already drawn."""
    paths = head_paths(shape)
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
        if first_to_outfall or len(path) >= min_pipes or any(p.id in (shown or ()) for p in path):
            chosen.append(path)
            covered.update(p.from_node for p in path)
            covered.update(p.to_node for p in path)
    return chosen


def _findings(source: Source, shape: Geometry, result: Dict[str, Any],
              inlet_warnings: List[Dict[str, str]]) -> List[Dict[str, Any]]:
    """`check`'s findings from the analysis already made (the inlet pass's warnings included),
    so that the report analyses the network once."""
    found = json.loads(_core.network_findings(source.core, source.format))
    found += result_findings(shape, result)
    found += [{"severity": "warning", "code": "inlet_" + w["code"], "ids": [w["id"]], "message": w["message"]}
              for w in inlet_warnings]
    order = {severity: k for k, severity in enumerate(SEVERITIES)}
    return sorted(found, key=lambda f: order[f["severity"]])


def build(source: Source, *, design: Optional[Dict[str, Any]] = None, service: bool = False,
          progress: Optional[Progress] = None) -> Content:
    import importlib.util

    if importlib.util.find_spec("matplotlib") is None:  # its font measures the drawings' labels
        raise InputError(REPORT_HINT)
    from ..design import design as run_design

    tick = progress or (lambda text: None)
    original = source
    designed = None
    if design is not None:
        tick("design")
        designed = run_design(text=source.text, format=source.format, **design)
        source = Source(source.label, source.kind, designed["sized"])
    project = _project(source)
    network = records(source)
    shape = geometry(source)
    si = shape.si
    inlet_rows: List[Dict[str, Any]] = []
    inlet_warnings: List[Dict[str, str]] = []
    tick("analysis")
    grade_line = _grade_line_module()
    inlet_aware = has_inlets(source)
    # The details first: from a model, their pass is the analysis, cached for what follows.
    details = grade_line.grade_line_details(source, inlet_aware=inlet_aware) if grade_line else None
    if inlet_aware:
        # Pipes carry what the inlets catch: the inlet-aware analysis is the one reported.
        from ..inlets import inlet_pass

        result, inlet_warnings = inlet_pass(source)
        inlet_rows = result.pop("inlets")
        result["name"] = project.get("name", "")
    else:
        result = analyze(source)
    drawn = grade_line.with_energy(result, details) if grade_line else result
    energy = {n["id"]: n for n in (details or {}).get("nodes", [])}
    name = (result.get("name") or _project(original).get("name") or
            ("Unnamed network" if source.label.startswith("<") else os.path.basename(source.label)))
    tick("check")
    found = _findings(source, shape, result, inlet_warnings)

    sections = [title_section(source, original, name, si),
                method_section(source, network, _project(original), si, design, bool(inlet_rows))]
    review = Section("Review first", "review-first")
    review.tables.append(review_first(result, shape, si, _imported(_project(original))))
    review.tables.append(findings_by_kind(found, si))
    sections.append(review)

    tick("tables")
    settings = network["settings"]
    areas = drainage_rows(network, result, inlet_rows)
    sections.append(Section("Drainage areas", "drainage-areas-section", tables=[table(
        "Drainage areas", "drainage-areas", areas, T.drainage_area_columns(si),
        "C·A is the area times C raised by the frequency factor (at most 1.0); Tc and i are the area's own "
        "(its inlet time, at least the minimum), the pipe table gives the accumulated ones.")]))
    note = ("Pipe flows are those the inlets catch (the inlet-aware analysis)." if inlet_rows else "")
    sections.append(Section("Pipes", "pipes-section", tables=[table(
        "Pipes", "pipes", pipe_rows(result, shape, network, si), T.report_pipe_columns(si),
        ("Flags as rillwright run prints them: SURCHARGED (reported surcharged), PRESSURIZED (grade line above "
         "the crown of a pipe not reported surcharged), ADVERSE (slope against the flow). " + note).strip())]))
    sections.append(Section("Structure schedule", "structures-section", tables=[table(
        "Structure schedule", "structures", structure_rows(result, shape, si, energy), T.structure_columns(si),
        "Depth from the rim to the lowest invert at the structure; freeboard is rim minus grade line.")]))
    sections.append(Section("Grade and energy lines", "grade-line-section", tables=[table(
        "Grade and energy lines", "grade-line", grade_line_rows(result, shape, details, settings),
        T.grade_line_columns(si),
        "Per structure: the outgoing pipe's velocity head, the structure loss the core charged, and the grade "
        "and energy lines downstream (at the outgoing pipe's upper end) and upstream (the highest of the "
        "entering pipes' lower ends)."
        + ("" if details else " This build has no energy-line details: EGL, velocity head and loss are not given."))]))
    if inlet_rows:
        sections.append(Section("Inlets and spread", "inlets-section", tables=[table(
            "Inlets and spread", "inlets", inlet_table_rows(inlet_rows, project, si), T.inlet_columns(si, full=True),
            "HEC-22 inlet pass; the pipe flows of this report are those the inlets catch.")]))
    if designed is not None:
        sections.append(design_section(designed, design or {}, si))
    if service:
        tick("level of service")
        sections.append(service_section(source, si))

    drawings = Section("Plan and profiles", "drawings")
    from ..drawing.profile import ADVERSE_SLOPE

    adverse = {row["id"] for row in result["pipes"] if row.get("slope") is not None and row["slope"] < ADVERSE_SLOPE}
    every_series = []
    for k, path in enumerate(report_paths(shape, shown=adverse)):
        series = profile_series(path, shape, drawn)
        series.dead_end = series.dead_end and k == 0
        every_series.append(series)
    # The profiles are drawn beside the plan where a second core is free.
    with alongside(lambda: _all_profile_figures(every_series)) as profiles:
        tick("plan")
        try:
            drawings.figures += _plan_figures(source, drawn)
        except ValueError as error:  # no plan coordinates: the report goes on without a plan
            drawings.paragraphs.append(f"No plan view: {error}")
        tick(f"{len(every_series)} profiles")
        drawings.figures += profiles()
    sections.append(drawings)
    return Content(name, sections, si)


def _all_profile_figures(every_series: Sequence[Any]) -> List[Figure]:
    return [figure for series in every_series for figure in _profile_figures(series)]


def _amount(value: Any) -> str:
    """A cost in the cost model's own currency (none is named), to the whole unit."""
    return "-" if value is None else f"{value:,.0f}"


COST_COLUMN: T.Column = ("Cost", "", "cost", _amount, True)
OBJECTIVES = {"cost": "least cost (exact on the invert grid for the design flows)",
              "shallowest": "shallowest trench, pipe by pipe from upstream"}


def cost_rows(cost: Dict[str, Any]) -> List[Dict[str, Any]]:
    """The design's cost in parts and its total, and beside a least-cost design the
    shallowest-first design's total with the saving."""
    rows = [{"part": label, "cost": cost.get(key)} for key, label in
            (("pipes", "Pipes (length x price)"), ("excavation", "Trench excavation"),
             ("structures", "Structures (each and by depth)"), ("total", "Total"))]
    shallowest = cost.get("shallowest_total")
    if shallowest is not None and cost.get("objective") == "cost":
        saving = (f", saving {100 * (shallowest - cost['total']) / shallowest:.1f} %" if shallowest > 0 else "")
        rows.append({"part": f"Shallowest-first design of the same network{saving}", "cost": shallowest})
    return rows


def design_section(designed: Dict[str, Any], options: Dict[str, Any], si: bool) -> Section:
    rows = [dict(r, size=T._size_change(r, si)) for r in designed["pipes"]]
    profile = bool(rows) and "invert_up" in rows[0]
    cost = designed.get("cost")
    columns = tuple(T.design_columns(si, profile)) + ((COST_COLUMN,) if cost else ())
    changed = sum(1 for r in rows if "->" in r["size"])
    section = Section("Design", "design-section", pairs=design_criteria(options, si))
    section.tables.append(table("Designed pipes", "design", rows, columns,
                                f"{changed} of {len(rows)} pipes resized (given -> chosen)."))
    if cost:
        objective = cost.get("objective", "shallowest")
        rounds = designed.get("rounds")
        note = (f"Objective: {OBJECTIVES.get(objective, objective)}. Costs in the cost model's currency and "
                f"{'per m and m³' if si else 'per ft and ft³'} prices, given or the defaults; a pipe costs its length "
                "times its price plus its trench excavation, a structure that is not an outfall its price each "
                "plus its price by depth.")
        if rounds:
            note += (f" Design and analysis ran {rounds} round{'s' if rounds != 1 else ''}"
                     + ("" if cost.get("flows_repeat", True) else ", the flows still changing at the last") + ".")
        section.tables.append(table("Design cost", "design-cost", cost_rows(cost),
                                    (T.text("Part", "part"), COST_COLUMN), note))
    violations = designed["violations"]
    if violations:
        section.tables.append(table("Design violations", "design-violations", violations,
                                    (T.text("Kind", "kind"), T.text("Id", "id"), T.text("Message", "message"))))
    else:
        section.paragraphs.append("Design violations: none.")
    return section


def service_section(source: Source, si: bool) -> Section:
    from ..service import level_of_service

    served = level_of_service(source)
    never = float("inf")
    nodes = sorted(served["nodes"], key=lambda n: never if n["flood_multiplier"] is None else n["flood_multiplier"])
    pipes = sorted(served["pipes"],
                   key=lambda p: never if p["surcharge_multiplier"] is None else p["surcharge_multiplier"])
    section = Section("Level of service", "level-of-service-section", paragraphs=[
        "The storm at which each structure floods and each pipe surcharges, as a multiple of the design storm: "
        "the search brackets each level (low–high), least margin first; the return period where the project's "
        "IDF table gives one."])
    section.tables.append(table("Level of service: structures", "level-of-service",
                                [T.service_brackets(n, ("flood_multiplier",)) for n in nodes], T.service_columns(si)))
    section.tables.append(table("Level of service: pipes", "level-of-service-pipes",
                                [T.service_brackets(p, ("surcharge_multiplier", "pressurized_multiplier"))
                                 for p in pipes], T.pipe_service_columns()))
    return section


def has_inlets(source: Source) -> bool:
    if source.kind != "project":
        return False
    nodes = _project(source).get("nodes", [])
    return any(isinstance(n.get("inlet"), dict) and (n["inlet"].get("length_ft") or n["inlet"].get("sag"))
               for n in nodes if isinstance(n, dict))
