"""SWMM 5 import and export: real models, the round trip, and runs in the SWMM 5 engine."""

import json
import math
import re

import pytest

import rillwright
import rillwright_tools as rwt
from rillwright_tools import inputs
from rillwright_tools.cli import main
from rillwright_tools.formats.swmm.read import split_sections

from interchange_networks import SHAPES, SWMM_MODELS, generated

NOT_PIPES = ("PUMPS", "ORIFICES", "WEIRS", "OUTLETS")


def source_of(project_text):
    return inputs.resolve(text=project_text, format="rwproj")


@pytest.mark.parametrize("model", SWMM_MODELS, ids=lambda p: p.name)
def test_real_models_import_analyse_and_account_for_every_element(model):
    project_text, report = rwt.read_swmm(model)
    result = rillwright.analyze_project(project_text)
    project = json.loads(project_text)
    sections = split_sections(model.read_text())
    named = {kind: {tokens[0] for _, tokens in sections.get(kind, [])} for kind in ("CONDUITS", *NOT_PIPES)}
    dropped = {name for _, name, _ in report.dropped}
    # Every conduit is a pipe or is listed; every pump, orifice, weir and outlet is listed.
    assert {p["id"] for p in project["pipes"]} | (named["CONDUITS"] & dropped) == named["CONDUITS"]
    for kind in NOT_PIPES:
        assert named[kind] <= dropped
    assert len(result["pipes"]) == len(project["pipes"]) > 0
    for line in report.lines():
        assert re.match(r"(dropped|approximated) \w+ \S+: |note: ", line)


def test_shapes_barrels_offsets_rims_and_units_of_an_elevation_model():
    text = """[OPTIONS]\nFLOW_UNITS LPS\nLINK_OFFSETS ELEVATION\n[JUNCTIONS]\nA 10 2\nB 9 0\n[OUTFALLS]\nO 8 FIXED 8.5\n
[CONDUITS]\nC1 A B 50 0.013 * 9.2\nC2 B O 40 0.015 9 *\nC3 A O 20 0.013 10 8\n[XSECTIONS]\n
C1 EGG 1.2 0 0 0 1\nC2 RECT_CLOSED 1 2 0 0 2\nC3 IRREGULAR T1\n[PUMPS]\nPU1 A O * ON 0 0\n"""
    project_text, report = rwt.read_swmm(text)
    project = json.loads(project_text)
    pipes = {p["id"]: p for p in project["pipes"]}
    assert project["units"] == "si" and project["tailwater"] == 8.5
    assert pipes["C1"]["diameter"] == pytest.approx(math.sqrt(4 * 0.5105 * 1.2 ** 2 / math.pi))
    assert pipes["C1"]["invert_dn"] == 9.2 and "invert_up" not in pipes["C1"]
    assert (pipes["C2"]["shape"], pipes["C2"]["rise_ft"], pipes["C2"]["span_ft"]) == \
        ("box", pytest.approx(math.sqrt(2)), pytest.approx(2 * math.sqrt(2)))
    rims = {n["id"]: n["rim"] for n in project["nodes"]}  # depth 0: the highest crown
    assert rims == {"A": 12.0, "B": pytest.approx(9 + math.sqrt(2)), "O": pytest.approx(8 + math.sqrt(2))}
    assert {(k, n) for k, n, _ in report.dropped} == {("conduit", "C3"), ("pump", "PU1")}
    assert {n for _, n, _ in report.approximated} == {"C1", "C2", "B"}


def test_layout_variations_read_the_same():
    model = SWMM_MODELS[0].read_text()
    blocks = re.split(r"(?m)^(?=\[)", model)
    shuffled = "".join(reversed(blocks)).replace(" ", "\t").replace("[JUNCTIONS]", "[junctions] ;; note")
    (text, report), (expected, expected_report) = rwt.read_swmm(shuffled.replace("\n", "\r\n")), rwt.read_swmm(model)
    assert report == expected_report
    assert {**json.loads(text), "name": ""} == {**json.loads(expected), "name": ""}  # the title is free text


@pytest.mark.parametrize("section, message", [
    ("[JUNCTIONS]\nJ1 ten 3", r"\[JUNCTIONS\] line 3: elevation is not a number: 'ten'"),
    ("[CONDUITS]\nC1 A B", r"\[CONDUITS\] line 3: expected at least 7 fields, found 3"),
    ("[JUNCTIONS]\nA 1\n[CONDUITS]\nC1 A B 1 0.01 0 0", r"\[CONDUITS\] line 5: conduit 'C1' names unknown node 'B'"),
    ("[OPTIONS]\nFLOW_UNITS ACRE", r"unknown FLOW_UNITS 'ACRE'"),
])
def test_malformed_lines_name_section_and_line(section, message):
    with pytest.raises(ValueError, match=message):
        rwt.read_swmm(";; model\n" + section + "\n")


def round_trip(project_text):
    exported = rwt.write_swmm(text=project_text, format="rwproj")
    back, _ = rwt.read_swmm(exported)
    return inputs.records(source_of(project_text)), inputs.records(source_of(back)), back


@pytest.mark.parametrize("project_text", [rillwright.demo_project_json(), generated(60), generated(40, 5, "si")],
                         ids=["demo", "generated", "generated-si"])
def test_export_then_import_gives_back_the_network(project_text):
    before, after, back = round_trip(project_text)
    assert {p["shape"] for p in before["pipes"]} <= set(SHAPES)
    # Settings, inlet times and areas come back too: the analysis is the same.
    for old, new in zip(rillwright.analyze_project(project_text)["pipes"], rillwright.analyze_project(back)["pipes"]):
        assert (new["design_q"], new["hgl_up"]) == pytest.approx((old["design_q"], old["hgl_up"]), rel=1e-8)
    close = dict(rel=1e-8, abs=1e-7)
    for old, new in zip(before["nodes"], after["nodes"]):
        assert (new["id"], new["kind"] == "outfall") == (old["id"], old["kind"] == "outfall")
        for key in ("x", "y", "invert", "rim", "area", "c", "tc_inlet"):
            assert new[key] == pytest.approx(old[key], **close), (old["id"], key)
    assert len(before["nodes"]) == len(after["nodes"])
    assert len(before["pipes"]) == len(after["pipes"])
    for old, new in zip(before["pipes"], after["pipes"]):
        assert (new["id"], new["from"], new["to"], new["shape"]) == (old["id"], old["from"], old["to"], old["shape"])
        for key in ("length", "n", "rise", "span"):
            assert new[key] == pytest.approx(old[key], **close)
        for key, end in (("invert_up", "from"), ("invert_dn", "to")):
            resolved = [p[key] if p[key] is not None else next(n["invert"] for n in nodes if n["id"] == p[end])
                        for p, nodes in ((old, before["nodes"]), (new, after["nodes"]))]
            assert resolved[1] == pytest.approx(resolved[0], **close)


def run_engine(tmp_path, model_text):
    solver = pytest.importorskip("swmm.toolkit.solver")
    from swmm.toolkit import output, shared_enum

    inp, rpt, out = (tmp_path / f"model.{ext}" for ext in ("inp", "rpt", "out"))
    inp.write_text(model_text)
    solver.swmm_run(str(inp), str(rpt), str(out))  # raises on any engine error
    report = rpt.read_text()
    routing = report[report.index("Flow Routing Continuity"):]
    continuity = float(re.search(r"Continuity Error \(%\) \.+\s+(-?[\d.]+)", routing).group(1))
    handle = output.init()
    output.open(handle, str(out))
    try:
        last = output.get_times(handle, shared_enum.Time.NUM_PERIODS) - 1
        flows = output.get_link_attribute(handle, last, shared_enum.LinkAttribute.FLOW_RATE)
        names = [output.get_elem_name(handle, shared_enum.ElementType.LINK, i) for i in range(len(flows))]
    finally:
        output.close(handle)
    return continuity, dict(zip(names, flows))


@pytest.mark.parametrize("project_text", [rillwright.demo_project_json(), generated(100)], ids=["demo", "generated-100"])
def test_exported_model_runs_in_the_engine_and_carries_the_inflows(tmp_path, project_text):
    model = rwt.write_swmm(text=project_text, format="rwproj")
    continuity, flows = run_engine(tmp_path, model)
    assert abs(continuity) < 1.0
    inflow = {m.group(1): float(m.group(2)) for m in re.finditer(r"(?m)^(\S+) FLOW (\S+)$", model)}
    network = inputs.records(source_of(project_text))
    upstream = {}  # the sum of the constant inflows that reach each node, in a tree
    feeding = {}
    for pipe in network["pipes"]:
        feeding.setdefault(pipe["to"], []).append(pipe["from"])

    def total(node):
        if node not in upstream:
            upstream[node] = inflow.get(node, 0.0) + sum(total(u) for u in feeding.get(node, []))
        return upstream[node]

    assert len(inflow) == sum(1 for n in network["nodes"] if n["area"] > 0)
    for pipe in network["pipes"]:
        assert flows[pipe["id"]] == pytest.approx(total(pipe["from"]), rel=0.02), pipe["id"]


def test_each_inflow_is_the_structures_own_runoff_at_its_intensity():
    project_text = rillwright.demo_project_json()
    result = rillwright.analyze_project(project_text)
    model = rwt.write_swmm(text=project_text, format="rwproj")
    inflow = {m.group(1): float(m.group(2)) for m in re.finditer(r"(?m)^(\S+) FLOW (\S+)$", model)}
    # Along a single line, own runoff = design flow minus the design flow of the pipe above
    # scaled to this pipe's intensity.
    pipes = result["pipes"]
    assert inflow["N1"] == pytest.approx(pipes[0]["design_q"], rel=1e-9)
    for above, below in zip(pipes, pipes[1:]):
        own = (below["total_ca"] - above["total_ca"]) * below["intensity"]
        assert inflow[below["from"]] == pytest.approx(own, rel=1e-9)


def test_convert_command_both_ways(tmp_path, capsys):
    project = tmp_path / "net.rwproj"
    assert main(["convert", str(SWMM_MODELS[0]), "-o", str(project)]) == 0
    printed = capsys.readouterr().out
    assert printed.startswith(f"{project}: ")
    model = tmp_path / "back.inp"
    assert main(["convert", str(project), "-o", str(model)]) == 0
    assert json.loads(rwt.read_swmm(model)[0])["pipes"] == json.loads(project.read_text())["pipes"]
    assert main(["convert", str(tmp_path / "missing.inp"), "-o", str(project)]) == 1
    assert "rillwright: error:" in capsys.readouterr().err


@pytest.mark.parametrize("offsets, up, down", [("ELEVATION", "0", "*"), ("DEPTH", "-2", "0")],
                         ids=["elevation 0", "negative depth"])
def test_an_end_below_its_node_is_set_at_the_invert_and_reported(offsets, up, down):
    text = (f"[OPTIONS]\nLINK_OFFSETS {offsets}\n[JUNCTIONS]\nA 830 9\n[OUTFALLS]\nO 829 FREE\n"
            f"[CONDUITS]\nC1 A O 100 0.013 {up} {down}\n[XSECTIONS]\nC1 CIRCULAR 1 0 0 0 1\n")
    project_text, report = rwt.read_swmm(text)
    pipe = json.loads(project_text)["pipes"][0]
    assert "invert_up" not in pipe and "invert_dn" not in pipe  # both ends at their nodes
    result = rillwright.analyze_project(project_text)["pipes"][0]
    assert result["slope"] == pytest.approx(0.01)
    (kind, name, why), = report.approximated
    assert (kind, name) == ("conduit", "C1") and "upstream end" in why and f" {up} " in why and "830" in why


@pytest.mark.parametrize("model", SWMM_MODELS, ids=lambda p: p.name)
def test_every_section_is_read_or_named_once(model):
    _, report = rwt.read_swmm(model)
    from rillwright_tools.formats.swmm.text import READ_SECTIONS

    named = [note.split("]")[0][1:] for note in report.notes if note.startswith("[")]
    present = {name for name, lines in split_sections(model.read_text()).items() if lines}
    assert sorted(named) == sorted(present - READ_SECTIONS)


@pytest.mark.parametrize("settings", [{}, {"hec22_structure_loss": True}, {"structure_loss_method": "hec22_energy"}],
                         ids=["junction", "access hole", "energy level"])
def test_losses_carry_each_structure_loss_at_the_design_flow(settings):
    from rillwright_tools.grade_line import grade_line_details

    project_text = json.dumps({**json.loads(generated(30)), **settings})
    model = rwt.write_swmm(text=project_text, format="rwproj")
    losses = {t[0]: float(t[1]) for _, t in split_sections(model)["LOSSES"]}
    details = grade_line_details(source_of(project_text))["pipes"]
    assert losses and set(losses) <= {p["id"] for p in details}
    for pipe in details:
        assert losses.get(pipe["id"], 0.0) * pipe["velocity_head_up"] == pytest.approx(pipe["structure_loss"],
                                                                                        rel=1e-9, abs=1e-12)
    back, report = rwt.read_swmm(model)
    assert sum(note.startswith("[LOSSES]") for note in report.notes) == 1
    assert json.loads(back)["junction_k"] == json.loads(project_text)["junction_k"]


def test_runoff_coefficients_and_design_flows_survive_the_round_trip():
    project = json.loads(rillwright.demo_project_json())
    project["nodes"][0]["c"], project["nodes"][1]["c"] = 0.95, 0.1
    project["catchments"][0]["c"] = 0.3  # unlike its node's C: the rest of the node keeps the node's
    # An outline that names no node counts nowhere, and must not add its area on the way back.
    project["catchments"].append(dict(project["catchments"][0], id="LOOSE", inlet_node_id=None, c=0.95))
    text = json.dumps(project)
    back, report = rwt.read_swmm(rwt.write_swmm(text=text, format="rwproj"))
    assert not report.approximated and not report.dropped
    catchments = {c["id"]: c["c"] for c in json.loads(back)["catchments"]}
    assert catchments == {"C1": 0.3, "LOOSE": 0.95}
    for old, new in zip(*(rillwright.analyze_project(t)["pipes"] for t in (text, back))):
        assert new["design_q"] == pytest.approx(old["design_q"], rel=1e-9)


def test_a_named_coordinate_system_is_kept_with_its_extent():
    pyproj = pytest.importorskip("pyproj")
    model = next(m for m in SWMM_MODELS if m.name == "model_state_plane.inp")
    project_text, report = rwt.read_swmm(model)
    project = json.loads(project_text)
    assert project["crs"] == "EPSG:2817"
    transform = pyproj.Transformer.from_crs("EPSG:2817", "EPSG:4326", always_xy=True)
    lon, lat = transform.transform([n["x"] for n in project["nodes"]], [n["y"] for n in project["nodes"]])
    note, = [n for n in report.notes if n.startswith("coordinate system")]
    assert f"longitude {min(lon):.5f} to {max(lon):.5f}, latitude {min(lat):.5f} to {max(lat):.5f}" in note
    assert json.loads(rwt.read_swmm(rwt.write_swmm(text=project_text, format="rwproj"))[0])["crs"] == "EPSG:2817"


def test_without_pyproj_the_report_says_the_extent_needs_it(monkeypatch):
    from rillwright_tools.formats import crs

    def missing():
        raise ImportError(crs.INSTALL_HINT)

    monkeypatch.setattr(crs, "_pyproj", missing)
    project_text, report = rwt.read_swmm(next(m for m in SWMM_MODELS if m.name == "model_state_plane.inp"))
    assert json.loads(project_text)["crs"] == "EPSG:2817"
    assert any(n.startswith("coordinate system EPSG:2817 taken from the title") and "needs pyproj" in n
               for n in report.notes)


def test_convert_writes_a_looped_model_and_nothing_for_a_failure(tmp_path, capsys):
    loop = tmp_path / "loop.inp"
    loop.write_text("[JUNCTIONS]\nJ4 100 6\nJ5 99 6\n[OUTFALLS]\nO 98 FREE\n[CONDUITS]\nC4 J4 J5 100 0.013 0 0\n"
                    "P5 J5 J4 100 0.013 0 0\nP6 J5 O 100 0.013 0 0\n[XSECTIONS]\nC4 CIRCULAR 1 0 0 0 1\n"
                    "P5 CIRCULAR 1 0 0 0 1\nP6 CIRCULAR 1 0 0 0 1\n")
    out = tmp_path / "loop.rwproj"
    assert main(["convert", str(loop), "-o", str(out)]) == 0
    assert len(json.loads(out.read_text())["pipes"]) == 3
    assert "the analysis cannot run" in capsys.readouterr().out
    broken = tmp_path / "broken.inp"
    broken.write_text(loop.read_text().replace("J5 99 6", "J5 ninety 6"))
    out.write_text("older")
    assert main(["convert", str(broken), "-o", str(out)]) == 1
    assert out.read_text() == "older" and sorted(p.name for p in tmp_path.iterdir()) == [
        "broken.inp", "loop.inp", "loop.rwproj"]


def test_a_prj_beside_the_model_names_its_coordinate_system(tmp_path):
    pyproj = pytest.importorskip("pyproj")
    model = tmp_path / "plan.inp"
    model.write_text("[JUNCTIONS]\nA 10 3\n[OUTFALLS]\nO 9 FREE\n[CONDUITS]\nC1 A O 100 0.013 0 0\n"
                     "[XSECTIONS]\nC1 CIRCULAR 1 0 0 0 1\n[COORDINATES]\nA 6500000 1850000\nO 6500100 1850000\n")
    wkt = pyproj.CRS.from_epsg(2229).to_wkt()
    (tmp_path / "plan.prj").write_text(wkt)
    project_text, report = rwt.read_swmm(model)
    assert json.loads(project_text)["crs"] == wkt
    note, = [n for n in report.notes if n.startswith("coordinate system")]
    assert note.startswith("coordinate system EPSG:2229 taken from plan.prj") and "longitude -118." in note
