"""Street inlets through SWMM 5.2 [STREETS], [INLETS] and [INLET_USAGE]."""

import json
import re
from pathlib import Path

import pytest

import rillwright_tools as rwt
from inlet_networks import street
from test_swmm import run_engine

EXAMPLE = Path(__file__).resolve().parents[1] / "docs" / "inlets-example.rwproj"
STREET_LOOP = Path(__file__).resolve().parent / "data" / "swmm_streets" / "street_inlets_loop.inp"


def generated(seed, sag, si):
    """A street network with every inlet type: slotted drains and a generic grate added."""
    project = street(seed=seed, sag=sag)
    a1, b2 = (next(n for n in project["nodes"] if n["id"] == k) for k in ("A1", "B2"))
    a1["inlet"].update(type="slotted", grate_width_ft=0.0, length_ft=12.5)
    b2["inlet"].update(type="grate", grate="generic", grate_width_ft=1.5, open_area_ratio=0.6, splash_velocity=5.5,
                       local_depression_in=1.0, local_depression_width_ft=4.0 / 3.0, opening_height_in=5.0)
    if not sag:  # a bypass straight to the outfall
        next(n for n in project["nodes"] if n["id"] == "A3")["bypass_to"] = "OUT"
    if si:
        project.update(units="si", idf_a=120 * 25.4)
    return json.dumps(project)


@pytest.mark.parametrize("text", [EXAMPLE.read_text(), generated(1, True, False), generated(2, False, False),
                                  generated(3, True, True)], ids=["example", "us-sag", "us-grade", "si-sag"])
def test_round_trip_keeps_inlets_and_their_analysis(tmp_path, text):
    model = rwt.write_swmm(text=text, format="rwproj")
    back, report = rwt.read_swmm(model)
    before, after = json.loads(text), json.loads(back)
    after_nodes = {n["id"]: n for n in after["nodes"]}
    assert set(after_nodes) == {n["id"] for n in before["nodes"]}  # no street node becomes a structure
    for node in before["nodes"]:
        assert after_nodes[node["id"]].get("inlet") == node.get("inlet"), node["id"]
        assert after_nodes[node["id"]].get("bypass_to") == node.get("bypass_to"), node["id"]
    assert {kind for kind, _, _ in report.approximated} <= {"street node", "street conduit"}
    assert not report.dropped
    old, new = (rwt.inlets(text=t, format="rwproj")["inlets"] for t in (text, back))
    assert [row["id"] for row in new] == [row["id"] for row in old]
    for a, b in zip(old, new):
        for key, value in a.items():
            assert b[key] == (pytest.approx(value, rel=1e-7, abs=1e-9) if isinstance(value, float) else value)
    # SWMM runs the streets: every inlet node's own runoff enters the street and what the
    # inlets capture reaches the pipes, with the continuity of a sound model.
    continuity, flows = run_engine(tmp_path, model)
    assert abs(continuity) < 1.0  # 0.07 to 0.5 % here; a gutter depression in the wrong unit gave 16 to 500 %
    assert all(flows[f"{n['id']}_gutter"] >= 0 for n in before["nodes"] if "inlet" in n)
    # SWMM's own HEC-22 inlets capture the same share as the analysis, each inlet within 10 points.
    summary = (tmp_path / "model.rpt").read_text().split("Street Flow Summary")[1].split("Link Flow Summary")[0]
    captured = {t[0][:-len("_gutter")]: float(t[7]) / 100.0 for t in map(str.split, summary.splitlines())
                if len(t) > 7 and t[0].endswith("_gutter")}
    assert captured.keys() == {row["id"] for row in old}
    for row in old:
        assert captured[row["id"]] == pytest.approx(row["efficiency"], abs=0.1), row["id"]


SNIPPET = """[TITLE]
Hand-written streets
[OPTIONS]
FLOW_UNITS CFS
LINK_OFFSETS ELEVATION
[JUNCTIONS]
J1 90 6
J2 88 6
J3 86 6
S1 96 1
S2 94 1
S3 92 1
[OUTFALLS]
OUT 85 FREE
S4 91 FREE
[CONDUITS]
P1 J1 J2 200 0.013 * * 0
P2 J2 J3 200 0.013 * * 0
P3 J3 OUT 100 0.013 * * 0
G1 S1 S2 200 0.016 96 94 0
G2 S2 S3 200 0.016 94 93 0
G3 S3 S4 100 0.016 92 91.5 0
[XSECTIONS]
P1 CIRCULAR 1.5
P2 CIRCULAR 1.5
P3 CIRCULAR 2
G1 STREET Main
G2 STREET Main
G3 STREET Side
[STREETS]
Main 20 0.5 2 0.016 0.25 2 1
Side 16 0.5 3 0.015
[INLETS]
Combo GRATE 2 2 P_BAR-50X100
Combo CURB 5 0.5 INCLINED
Pair SLOTTED 10 0.15
Curve CUSTOM RatingCurve
[INLET_USAGE]
G1 Combo J1 2 20 4 0.25 2 ON_GRADE
G2 Pair J2 1 0 0 0 0
G3 Curve J3
[SUBCATCHMENTS]
A1 none S1 1.0 50 100 1
"""


def test_hand_written_streets_import_with_their_keys_and_report():
    project, report = rwt.read_swmm(SNIPPET)
    nodes = {n["id"]: n for n in json.loads(project)["nodes"]}
    assert set(nodes) == {"J1", "J2", "J3", "OUT"}
    # Two combination inlets in series: one 4 ft grate with a 6 ft sweeper, the clogging,
    # the local depression and the depressed gutter of street Main (0.25 ft = 3 in, in the
    # length unit as SWMM reads them); slope 2 ft in 200 ft.
    assert nodes["J1"]["inlet"] == {"type": "combination", "sag": False, "gutter_slope": 0.01, "length_ft": 4.0,
                                    "grate_width_ft": 2.0, "grate": "P-50x100", "opening_height_in": 6.0,
                                    "curb_length_ft": 6.0, "cross_slope": 0.02, "gutter_n": 0.016,
                                    "depression_in": 3.0, "gutter_width_ft": 2.0, "clogging": 0.2,
                                    "local_depression_in": 3.0, "local_depression_width_ft": 2.0}
    assert nodes["J1"]["bypass_to"] == "J2"
    # AUTOMATIC: G2 leads on to G3, so on grade; its bypass reaches J3, whose CUSTOM inlet
    # is dropped, so J3 takes all that reaches it as a plain node does.
    assert nodes["J2"]["inlet"]["type"] == "slotted" and nodes["J2"]["inlet"]["sag"] is False
    assert nodes["J2"]["inlet"]["gutter_slope"] == pytest.approx(0.005)
    assert "inlet" not in nodes["J3"] and nodes["J2"]["bypass_to"] == "J3"
    assert nodes["J1"]["area_ac"] == 1.0  # runoff onto the street goes to the inlet that sees it first
    lines = report.lines()
    for expected in ("dropped inlet usage G3: CUSTOM inlet: a capture curve has no HEC-22 equations",
                     "approximated inlet J1: 2 inlets in series read as one 2 times as long",
                     "approximated inlet J1: capture limit Qmax 4 not modelled",
                     "approximated inlet J1: INCLINED throat read as the HEC-22 curb opening (throat angle not modelled)",
                     "approximated inlet J2: AUTOMATIC placement read as on grade",
                     "approximated street node S4: part of the street, not a structure",
                     "approximated street conduit G2: street gutter: read into inlet data, not a pipe",
                     "approximated subcatchment A1: runoff onto street node S1 given to the inlet node J1"):
        assert expected in lines
    assert rwt.inlets(text=project, format="rwproj")["inlets"]  # the analysis takes what was read


@pytest.mark.parametrize("change, message", [
    (("Pair SLOTTED 10 0.15", "Pair SLOTTED ten 0.15"), "[INLETS] line 36: inlet 'Pair' length is not a number"),
    (("Combo GRATE 2 2 P_BAR-50X100", "Combo GRATE 2 2 P_BAR-99"), "inlet 'Combo' has unknown grate type 'P_BAR-99'"),
    (("G2 Pair J2 1", "G2 Pair J9 1"), "[INLET_USAGE] line 40: unknown node 'J9'"),
    (("G2 Pair J2 1", "P1 Pair J2 1"), "[INLET_USAGE] line 40: conduit 'P1' is not a street conduit"),
    (("G2 Pair J2 1 0", "G2 Pair J2 1 100"), "line 40: conduit 'G2': %Clogged 100 must lie in [0, 100)"),
], ids=["number", "grate", "node", "not-street", "clogged"])
def test_bad_inlet_lines_are_errors_naming_line_and_element(change, message):
    with pytest.raises(ValueError) as error:
        rwt.read_swmm(SNIPPET.replace(*change))
    assert message in str(error.value)


def test_edited_swmm_fields_win_over_the_carried_line():
    model = rwt.write_swmm(EXAMPLE)
    design = next(line for line in model.splitlines() if line.startswith("inlet") and " CURB " in line)
    name, kind, length, height = design.split()[:4]
    edited = model.replace(design, f"{name} {kind} {float(length) * 2!r} {height}")
    project, report = rwt.read_swmm(edited)
    nodes = {n["id"]: n for n in json.loads(project)["nodes"]}
    assert nodes["B1"]["inlet"]["length_ft"] == 10.0
    assert nodes["B1"]["inlet"]["local_depression_in"] == 2.0
    assert "approximated inlet B1: SWMM's length_ft differ from the rillwright line: SWMM's used" in report.lines()
    carrier = next(line for line in model.splitlines() if line.startswith("rillwright-inlet "))
    project, report = rwt.read_swmm(model.replace(carrier, carrier[:-5]))
    assert any("unreadable rillwright-inlet line was ignored" in line for line in report.lines())
    assert sum("inlet" in n for n in json.loads(project)["nodes"]) == sum("inlet" in n for n in nodes.values())


def street_capture(tmp_path):
    """{street conduit: the share SWMM's inlets captured} from the engine's report."""
    summary = (tmp_path / "model.rpt").read_text().split("Street Flow Summary")[1].split("Link Flow Summary")[0]
    return {t[0]: float(t[7]) / 100.0 for t in map(str.split, summary.splitlines()) if len(t) > 7 and t[0][-7:] == "_gutter"}


def test_undepressed_two_sided_clogged_streets_import_and_run_as_in_swmm(tmp_path):
    # a = 0 and W = 0: the uniform section (no gutter_width_ft); Sides 2 and the on-grade
    # clogging carried; the loop of C4 and P5 does not stop the streets.
    project, report = rwt.read_swmm(STREET_LOOP.read_text())
    nodes = {n["id"]: n for n in json.loads(project)["nodes"]}
    combo, curb = nodes["J1"]["inlet"], nodes["J2"]["inlet"]
    assert combo["type"] == "combination" and combo["clogging"] == 0.25 and "sides" not in combo
    assert curb["sides"] == 2
    assert all(i["depression_in"] == 0.0 and "gutter_width_ft" not in i for i in (combo, curb))
    assert not report.dropped
    assert "note: [STREETS]: Tcrown, Hcurb, Tback, Sback and nBack not used" in "\n".join(report.lines())
    # The same streets in a tree (P5 to the outfall): SWMM's own inlets on the exported model
    # capture what the inlet pass does, the clogging and the second gutter included.
    tree = re.sub(r"\nP5 .*", "\nP5 J5 OUT 100 0.013 0 0 0 0", STREET_LOOP.read_text(), count=1)
    tree = re.sub(r"\nP6 .*", "", tree)
    project = rwt.read_swmm(tree)[0]
    sheet = {row["id"]: row for row in rwt.inlets(text=project, format="rwproj")["inlets"]}
    model = rwt.write_swmm(text=project, format="rwproj")
    continuity, _ = run_engine(tmp_path, model)
    assert abs(continuity) < 1.0
    captured = street_capture(tmp_path)
    for node_id, row in sheet.items():
        assert captured[f"{node_id}_gutter"] == pytest.approx(row["efficiency"], abs=0.01), node_id
    back = {n["id"]: n for n in json.loads(rwt.read_swmm(model)[0])["nodes"]}
    assert {k: back[k].get("inlet") for k in sheet} == {k: nodes[k]["inlet"] for k in sheet}


@pytest.mark.parametrize("change, reason", [
    (("HalfStreet       20       0.5      4        0.016", "HalfStreet 20 0.5 4 0"),
     "inlet ComboInlet at node J1: node `J1`: inlet `gutter_n` must be greater than 0, not 0"),
    (("HalfStreet       20       0.5      4 ", "HalfStreet 20 0.5 0 "),
     "inlet ComboInlet at node J1: node `J1`: an inlet model needs `cross_slope` greater than 0"),
], ids=["n", "cross-slope"])
def test_an_inlet_the_project_would_refuse_is_dropped_with_its_reason(change, reason):
    project, report = rwt.read_swmm(STREET_LOOP.read_text().replace(*change))
    assert ("inlet usage", "G1", reason) in report.dropped
    assert "inlet" not in next(n for n in json.loads(project)["nodes"] if n["id"] == "J1")
    assert rwt.check(text=project, format="rwproj")  # the project reads


def test_a_depression_over_no_width_is_read_as_none():
    text = STREET_LOOP.read_text().replace("0.016    0        0        1", "0.016    0.2      0        1")
    project, report = rwt.read_swmm(text)
    inlet = next(n for n in json.loads(project)["nodes"] if n["id"] == "J1")["inlet"]
    assert inlet["depression_in"] == 0.0 and "gutter_width_ft" not in inlet
    assert ("inlet", "J1", "gutter depression a = 0.2 over a width W = 0: no depressed gutter") in report.approximated
