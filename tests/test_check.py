"""Networks as they come from the field: adverse pipes carry the grade line upstream,
values that are not finite are refused by name, a flow that is not a number has no
depth, and `rwt.check` / `rillwright check` report what to know before trusting a result."""
import json
import math
from pathlib import Path

import pytest

import rillwright as rw
import rillwright_tools as rwt
from field_network import EXPECTED, HUGE, field_network
from rillwright_tools.cli import main
from rillwright_tools.inputs import Source, geometry
from rillwright_tools.drawing.profile import draw_profile, profile_path, profile_series

BASE = ["NODE A inlet 0 0 100 106 1 0.5", "NODE OUT outfall 100 0 99 105", "PIPE P1 A OUT 100 1.5 0.013"]


def rwn(*lines):
    return "\n".join(lines) + "\n"


def full_pipe_friction(q, diameter, n, length):
    area = math.pi * diameter * diameter * 0.25
    conveyance = 1.486 / n * area * (area / (math.pi * diameter)) ** (2.0 / 3.0)
    return (q / conveyance) * (q / conveyance) * length


# ---- Adverse pipes -----------------------------------------------------------

def test_adverse_pipe_with_flow_shows_the_flooding_upstream():
    result = rw.analyze_rwn(rwn("TAILWATER 110", "NODE A inlet 0 0 100 106 1 0.5", "NODE OUT outfall 100 0 100.5 106",
                                "PIPE P1 A OUT 100 1.5 0.013"))
    [pipe] = result["pipes"]
    a = {n["id"]: n for n in result["nodes"]}["A"]
    friction = full_pipe_friction(pipe["design_q"], 1.5, 0.013, 100)
    loss = 0.5 * pipe["velocity"] ** 2 / 64.4
    assert pipe["hgl_up"] == pytest.approx(110 + friction + loss, rel=1e-12)
    assert a["hgl"] == pipe["hgl_up"] and a["floods"] and a["freeboard"] < -4
    assert pipe["surcharged"] is False  # the reported flag keeps its rule for adverse pipes


@pytest.mark.parametrize("tailwater, level", [("TAILWATER 110", 110.0), ("", 100.0), ("TAILWATER 99", 100.0)])
def test_adverse_pipe_without_flow_holds_a_level_pool(tailwater, level):
    result = rw.analyze_rwn(rwn(tailwater, "NODE A inlet 0 0 100 106 0 0.5", "NODE OUT outfall 100 0 100.5 106",
                                "PIPE P1 A OUT 100 1.5 0.013"))
    # Water above the outlet invert backs up level, with no structure loss; a dry outfall
    # (its grade line its invert) puts no water in the pipe, which is dry at its own invert.
    assert result["pipes"][0]["hgl_up"] == level == result["nodes"][0]["hgl"]


def test_pipe_without_flow_carries_the_level_not_the_depth():
    # A falling dry pipe into a pool: the pool's level, not the level raised by the fall.
    result = rw.analyze_rwn(rwn("TAILWATER 104", "NODE A junction 0 0 101 105 0 0", "NODE O outfall 0 0 100 110",
                                "PIPE P A O 100 1 0.013"))
    assert result["pipes"][0]["hgl_up"] == 104.0 == result["nodes"][0]["hgl"]
    assert not result["nodes"][0]["floods"]


def dry_branch_project(method):
    # A dry branch climbing away from a pool: every structure above the pool stays at
    # the pool's level or at its own invert, whichever is higher, under every loss method.
    rises = [100.0, 101.0, 103.0, 106.0, 110.0]
    nodes = [{"id": f"N{k}", "kind": "junction", "x": 50.0 * k, "y": 0.0, "invert": inv, "rim": inv + 4.0,
              "area_ac": 0.0, "c": 0.0, "tc_inlet": 5.0} for k, inv in enumerate(rises[1:], 1)]
    nodes.append({"id": "OUT", "kind": "outfall", "x": 0.0, "y": 0.0, "invert": rises[0], "rim": 110.0,
                  "area_ac": 0.0, "c": 0.0, "tc_inlet": 5.0})
    pipes = [{"id": f"P{k}", "from": f"N{k}", "to": f"N{k - 1}" if k > 1 else "OUT", "length": 50.0,
              "diameter": 1.0, "n": 0.013} for k in range(1, len(rises))]
    project = {"name": "dry", "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "tailwater": 104.5, "min_tc": 5.0,
               "junction_k": 0.5, "bend_loss_coeff": 0.4, "nodes": nodes, "pipes": pipes}
    project.update(method)
    return json.dumps(project)


@pytest.mark.parametrize("method", [{}, {"hec22_structure_loss": True}, {"structure_loss_method": "hec22_energy"}])
def test_dry_branch_climbing_above_a_pool_stands_level(method):
    result = rw.analyze_project(dry_branch_project(method))
    hgl = {n["id"]: n["hgl"] for n in result["nodes"]}
    assert hgl == {"N1": 104.5, "N2": 104.5, "N3": 106.0, "N4": 110.0, "OUT": 104.5}
    assert not any(n["floods"] for n in result["nodes"])


# ---- Values that are not finite ------------------------------------------------

# (refused line, the same line with a number, what the refusal names), in the order of refusal.
REFUSED = [
    ("TAILWATER nan", "TAILWATER 101", "the tailwater is"),
    ("NODE A inlet 0 0 100 106 inf 0.5", "NODE A inlet 0 0 100 106 1 0.5", "node 'A' has an area that is"),
    ("NODE B inlet 0 0 nan 106 1 0.5", "NODE B inlet 0 0 100 106 1 0.5", "node 'B' has an invert that is"),
    ("PIPE P1 A OUT 100 1.5 nan", "PIPE P1 A OUT 100 1.5 0.013", "pipe 'P1' has a roughness that is"),
]


def test_refusals_come_after_the_topology_then_settings_nodes_pipes():
    def text(mended):
        line = {bad: (good if k < mended else bad) for k, (bad, good, _) in enumerate(REFUSED)}
        # Pipes first and settings last in the file: the order of refusal is not the file's.
        return rwn(line[REFUSED[3][0]], line[REFUSED[1][0]], line[REFUSED[2][0]], "NODE OUT outfall 100 0 99 105",
                   line[REFUSED[0][0]])

    messages = [f["message"] for f in rwt.check(text=text(0), format="rwn") if f["code"] == "rejected-value"]
    assert messages == [named + " not a finite number" for _, _, named in REFUSED]
    for mended, (_, _, named) in enumerate(REFUSED):
        with pytest.raises(ValueError, match=f"^analysis failed: {named} not a finite number$"):
            rw.analyze_rwn(text(mended))
    with pytest.raises(ValueError, match="^analysis failed: pipe references unknown node 'X'$"):
        rw.analyze_rwn(text(0) + "PIPE P9 X OUT 1 1 0.013\n")


def test_negative_values_stay_accepted():
    result = rw.analyze_rwn(rwn("NODE A inlet -5 0 100 106 -1 -0.5", "NODE OUT outfall 100 0 99 105",
                                "PIPE P1 A OUT 100 1.5 -0.013", "JUNCTIONK -1"))
    assert result["pipes"][0]["design_q"] > 0  # (-1 ac) x (-0.5)


# ---- A flow that is not a number ---------------------------------------------------

@pytest.mark.parametrize("si", [False, True])
def test_nan_flow_or_slope_has_no_normal_depth_and_a_nan_critical_depth(si):
    assert rw.normal_depth(math.nan, 1.0, 0.013, 0.01, si=si) is None
    assert rw.normal_depth(0.0, 1.0, 0.013, math.nan, si=si) is None
    assert rw.normal_depth(2.0, 1.0, 0.013, math.nan, si=si) is None
    assert math.isnan(rw.critical_depth(math.nan, 1.0, si=si))
    assert rw.normal_depth(0.0, 1.0, 0.013, 0.01, si=si) == 0.0  # unchanged for numbers


# ---- The check report ----------------------------------------------------------------

def findings_of(*lines):
    return rwt.check(text=rwn(*lines), format="rwn")


def test_a_sound_network_has_no_findings():
    assert findings_of(*BASE) == []


@pytest.mark.parametrize("lines, severity, code, ids", [
    (BASE + ["PIPE P2 A NOWHERE 10 1 0.013"], "error", "unknown-node", ["P2", "NOWHERE"]),
    (BASE + ["NODE A junction 0 0 100 106 0 0"], "warning", "duplicate-node", ["A"]),
    (BASE + ["PIPE P1 A OUT 100 1.5 0.013"], "warning", "duplicate-pipe", ["P1"]),
    (BASE + ["NODE D junction 0 0 100 106 0 0", "PIPE P2 A D 100 1.5 0.013"], "warning", "dead-end", ["D"]),
    (BASE + ["NODE B outfall 0 0 90 106", "PIPE P2 A B 100 1.5 0.013"], "warning", "several-outlets",
     ["A", "P1", "P2"]),
    (BASE + ["PIPE R1 A OUT 100 1.0 0.013"], "warning", "parallel-pipes", ["P1", "R1"]),
    (BASE[:1] + ["NODE OUT outfall 100 0 101 105", BASE[2]], "warning", "adverse", ["P1"]),
    (BASE[:2] + ["PIPE P1 A OUT 0 1.5 0.013"], "warning", "zero-length", ["P1"]),
    (["NODE A inlet 0 0 99 106 1 0.5"] + BASE[1:], "warning", "flat", ["P1"]),
    (["NODE A inlet 0 0 100 101.4 1 0.5"] + BASE[1:], "warning", "crown-above-rim", ["P1", "A"]),
    (["NODE U inlet 0 0 101 107 1 0.5", "PIPE P0 U A 100 2.0 0.013"] + BASE, "warning", "smaller-downstream",
     ["P1", "P0"]),
    (["NODE A inlet 0 0 100 106 150 0.5", "NODE B inlet 0 0 100 106 60 0.5", "NODE OUT outfall 100 0 99 105",
      "PIPE P1 A OUT 100 9 0.013", "PIPE P2 B OUT 100 9 0.013"], "warning", "large-area", ["OUT"]),
    (["NODE A inlet 0 0 100 106 3 0.9"] + BASE[1:], "warning", "overloaded", ["P1"]),
    (["NODE A inlet 0 0 100 106 20 0.9", "NODE OUT outfall 100 0 40 105", "PIPE P1 A OUT 100 1.5 0.013"],
     "warning", "fast", ["P1"]),
    (BASE + ["TAILWATER 100.8"], "warning", "pressurized", ["P1"]),
    (["NODE A inlet 0 0 100 106 0.1 0.5", BASE[1], "PIPE P1 A OUT 1000 1.5 0.013"], "note", "slow", ["P1"]),
])
def test_each_kind_of_finding(lines, severity, code, ids):
    found = findings_of(*lines)
    assert {"severity": severity, "code": code, "ids": ids} in [
        {k: f[k] for k in ("severity", "code", "ids")} for f in found]
    assert all("\n" not in f["message"] and f["message"] for f in found)


def test_every_loop_is_reported_with_its_pipes_in_flow_order():
    found = findings_of("NODE A junction 0 0 1 2 0 0", "NODE B junction 0 0 1 2 0 0", "NODE C junction 0 0 1 2 0 0",
                        "NODE D junction 0 0 1 2 0 0", "PIPE P1 A B 1 1 0.013", "PIPE P2 B C 1 1 0.013",
                        "PIPE P3 C A 1 1 0.013", "PIPE P4 D D 1 1 0.013", "PIPE P5 C D 1 1 0.013")
    loops = [f for f in found if f["code"] == "cycle"]
    assert [f["ids"] for f in loops] == [["A", "P1", "B", "P2", "C", "P3"], ["D", "P4"]]
    assert loops[0]["message"] == "loop: P1 A->B, P2 B->C, P3 C->A; the analysis is for trees (networks without loops)"
    assert [f["severity"] for f in found] == sorted((f["severity"] for f in found), key=["error", "warning",
                                                                                          "note"].index)


def test_flat_pipes_name_the_minimum_slope_they_are_analysed_at():
    for setting, shown in (("", "0.001"), ("MINSLOPE 0.0025", "0.0025")):
        found = findings_of(setting, "NODE A inlet 0 0 99.0000001 106 1 0.5", *BASE[1:])
        assert [f["message"] for f in found if f["code"] == "flat"] == [
            f"pipe 'P1' is flat (slope 1e-09 ft/ft); it is analysed at the minimum slope {shown}"]
    # 2e-6 ft/ft is a slope the analysis uses as it is: not flat.
    assert not [f for f in findings_of("NODE A inlet 0 0 99.0002 106 1 0.5", *BASE[1:]) if f["code"] == "flat"]


@pytest.mark.parametrize("change, code, text", [
    (("nodes", 0, "kind", "Junction"), "unknown-kind", "node 'N1' has kind 'Junction', which is read as an inlet"),
    (("pipes", 0, "shape", "Box"), "unknown-shape", "pipe 'P1' has shape 'Box', which is read as circular"),
    (("pipes", 0, "shape", "box"), "shape-without-size", "pipe 'P1' is box without a positive rise_ft and span_ft"),
])
def test_texts_read_as_the_fallback_are_named(change, code, text):
    project = json.loads(rw.demo_project_json())
    listing, index, key, value = change
    project[listing][index][key] = value
    found = [f for f in rwt.check(text=json.dumps(project), format="rwproj") if f["code"] == code]
    assert len(found) == 1 and found[0]["message"].startswith(text)
    assert not [f for f in rwt.check(text=rw.demo_project_json(), format="rwproj") if f["code"] == code]


def test_a_crown_flush_with_the_rim_or_at_an_outfall_is_not_above_it():
    found = findings_of("NODE A inlet 0 0 100 101.5 1 0.5", "NODE OUT outfall 100 0 99 99", BASE[2])
    assert not [f for f in found if f["code"] == "crown-above-rim"]


def test_catchments_folded_into_their_node_on_import_are_not_lost():
    model = (Path(__file__).parent / "data" / "swmm" / "Example1.inp").read_text()
    project, _ = rwt.read_swmm(model)
    assert json.loads(project)["catchments"]  # outlines kept, runoff on the nodes
    assert not [f for f in rwt.check(text=project, format="rwproj") if f["code"] == "catchment-without-inlet"]
    edited = json.loads(project)
    edited["catchments"][0]["drains_to"] = "GONE"  # its node was deleted: the runoff is lost
    found = [f for f in rwt.check(text=json.dumps(edited), format="rwproj") if f["code"] == "catchment-without-inlet"]
    assert [f["ids"] for f in found] == [[edited["catchments"][0]["id"]]]


def test_catchments_without_a_known_inlet_are_reported():
    project = json.loads(rw.demo_project_json())
    extra = dict(project["catchments"][0], id="C2", inlet_node_id="N9")
    project["catchments"] += [extra, dict(extra, id="C3", inlet_node_id=None)]
    found = [f for f in rwt.check(text=json.dumps(project), format="rwproj") if f["code"] == "catchment-without-inlet"]
    assert [f["ids"] for f in found] == [["C2", "N9"], ["C3"]]


def test_check_command_groups_findings_and_exits_1_on_errors(tmp_path, capsys):
    path = tmp_path / "loop.rwn"
    path.write_text(rwn(*BASE, "PIPE P2 OUT A 10 1 0.013", "PIPE P3 A GONE 10 1 0.013"), encoding="utf-8")
    assert main(["check", str(path)]) == 1
    out = capsys.readouterr().out.splitlines()
    assert out[:4] == [str(path), "", "Errors (2)",
                       "  pipe 'P3' names downstream node 'GONE', which does not exist  [unknown-node]"]
    assert out[-1].startswith("2 errors, ")


# ---- A 200-pipe network from the field ------------------------------------------------

@pytest.fixture(scope="module")
def field(tmp_path_factory):
    path = tmp_path_factory.mktemp("field") / "field.rwn"
    path.write_text(field_network(), encoding="utf-8")
    return Source(str(path), "rwn", path.read_text(encoding="utf-8"))


def test_field_network_findings(field):
    found = rwt.check(field.label)
    assert not [f for f in found if f["severity"] == "error"]
    for code, ids in EXPECTED.items():
        assert [f["ids"] for f in found if f["code"] == code] == ids, code
    overloaded = {f["ids"][0] for f in found if f["code"] == "overloaded"}
    assert {f"T{k}" for k in range(HUGE + 1, 69)} <= overloaded
    # The run's table marks what check reports as pressurized and adverse.
    lines = run_lines(field.label)
    rows = {line.split()[0]: line for line in lines[lines.index("Pipes") + 4:lines.index("Nodes") - 1]}
    assert all("PRESSURIZED" in rows[f["ids"][0]] for f in found if f["code"] == "pressurized")
    assert all("ADVERSE" in rows[f["ids"][0]] for f in found if f["code"] == "adverse")


def run_lines(path):
    import io
    from contextlib import redirect_stdout
    out = io.StringIO()
    with redirect_stdout(out):
        assert main(["run", path]) == 0
    return out.getvalue().splitlines()


@pytest.mark.parametrize("start, last, dead_end, adverse", [
    (None, "OUT", False, []), ("L4N0", "DEAD4", True, []), ("L6N0", "OUT", False, ["L6P2"])])
def test_field_network_profiles(field, tmp_path, start, last, dead_end, adverse):
    shape = geometry(field)
    series = profile_series(profile_path(shape, start), shape, rw.analyze_rwn(field.text))
    assert (series.node_ids[-1], series.dead_end) == (last, dead_end)
    assert [p.id for p, flag in zip(series.pipes, series.adverse) if flag] == adverse
    draw_profile(series, "field", str(tmp_path / "profile.png"))
    assert (tmp_path / "profile.png").stat().st_size > 10000
