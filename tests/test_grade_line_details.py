"""The grade-line details: the pass's own grade line with its velocity heads, energy
line and structure losses, checked against the module and against hand computations."""

import json
import math
import pathlib

import pytest

import rillwright as rw
from rillwright_tools.grade_line import grade_line_details, with_energy
from rillwright_tools.inputs import Source, demo_source

from project_tool import minimal, node, pipe

INLETS = pathlib.Path(__file__).resolve().parent.parent / "docs" / "inlets-example.rwproj"


def source(project):
    return Source(label="<test>", kind="project", text=json.dumps(project))


def run(project):
    return grade_line_details(source(project)), rw.analyze_project(json.dumps(project))


def chain(area=1.0, tailwater=None, **settings):
    """A -> B -> OUT, straight, 1.5 ft pipes."""
    nodes = [dict(node("A", invert=101.0, rim=110.0, area_ac=area), x=0.0),
             dict(node("B", kind="junction", invert=100.5, rim=110.0, area_ac=area), x=100.0),
             dict(node("OUT", kind="outfall", invert=100.0, rim=110.0, area_ac=0.0), x=200.0)]
    project = minimal(nodes=nodes, pipes=[pipe("P1", "A", "B"), pipe("P2", "B", "OUT")], **settings)
    if tailwater is not None:
        project["tailwater"] = tailwater
    return project


@pytest.mark.parametrize("settings", [{}, {"hec22_structure_loss": True}, {"structure_loss_method": "hec22_energy"},
                                      {"tailwater": 103.0}, {"area": 20.0}],
                         ids=["junction", "access hole", "energy level", "drowned", "surcharged"])
def test_hgl_is_the_analysis_own(settings):
    details, result = run(chain(**settings))
    assert [n["hgl"] for n in details["nodes"]] == [n["hgl"] for n in result["nodes"]]
    assert [p["id"] for p in details["pipes"]] == [p["id"] for p in result["pipes"]]
    for row, more in zip(with_energy(result, details)["pipes"], details["pipes"]):
        assert row["egl_up"] - more["velocity_head_up"] == row["hgl_up"]


@pytest.mark.parametrize("make", [demo_source, lambda: Source("inlets", "project", INLETS.read_text())],
                         ids=["demo", "inlets"])
def test_inlet_aware_details_are_of_the_inlet_pass(make):
    import rillwright_tools as rwt

    src = make()
    details = grade_line_details(src, inlet_aware=True)
    assert [n["hgl"] for n in details["nodes"]] == [n["hgl"] for n in rwt.inlets(text=src.text, format="rwproj")["nodes"]]


def segment_area(diameter, depth):
    theta = 2.0 * math.acos(1.0 - 2.0 * depth / diameter)
    return diameter * diameter / 8.0 * (theta - math.sin(theta))


@pytest.mark.parametrize("tailwater, area, full", [(104.0, 20.0, True), (101.0, 1.0, False)],
                         ids=["full", "part full"])
def test_energy_line_is_grade_line_plus_velocity_head(tailwater, area, full):
    details, result = run(chain(area=area, tailwater=tailwater))
    p2, d2 = result["pipes"][1], details["pipes"][1]
    depth = p2["hgl_dn"] - 100.0
    assert (depth >= 1.5) is full
    flow_area = math.pi * 1.5 ** 2 / 4.0 if full else segment_area(1.5, depth)
    head = (p2["design_q"] / flow_area) ** 2 / 64.4
    assert d2["egl_dn"] - p2["hgl_dn"] == pytest.approx(head, rel=1e-6)


def test_junction_loss_is_k_times_velocity_head():
    details, result = run(chain(junction_k=0.7))
    b = details["nodes"][1]
    v = result["pipes"][1]["velocity"]
    assert b["method"] == "junction" and b["coefficients"]["k"] == 0.7
    assert b["structure_loss"] == pytest.approx(0.7 * v * v / 64.4, rel=1e-12)
    assert details["pipes"][1]["structure_loss"] == b["structure_loss"]
    assert details["nodes"][2]["velocity_head"] is None  # the outfall



@pytest.mark.parametrize("inlet_aware", [False, True])
def test_a_models_details_come_from_the_pass_of_its_analysis(inlet_aware):
    import rillwright_tools as rwt

    text = INLETS.read_text()
    model = rwt.open(text=text, format="rwproj")
    details = model.grade_line_details(inlet_aware)  # asked first: its pass is the analysis, cached
    assert details == grade_line_details(Source("<text>", "project", text), inlet_aware=inlet_aware)
    if inlet_aware:  # the inlet pass as a separate run gives it
        assert model.inlet_pass() == rwt.open(text=text, format="rwproj").inlet_pass()
    else:
        assert model.rows() == rw.analyze_project(text)
