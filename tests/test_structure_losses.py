"""Structure losses charged to the node at a pipe's upstream end: junction plus
bend, and the access-hole (HEC-22) method, seen through analyze_project."""

import math

import pytest

from project_tool import analyze, minimal, node, pipe


def placed(node_id, x, y, **fields):
    made = node(node_id, **fields)
    made.update(x=float(x), y=float(y))
    return made


def trunk(outlet_diameter=1.0, inflow=True, turn=True, tailwater=None, area=0.2, **settings):
    """K -> J -> I, turning 90 degrees at J when `turn`; losses are read on pipe JI."""
    nodes = [
        placed("J", 0, 0, kind="junction", invert=100.5, rim=120.0, area_ac=area, c=0.8),
        placed("I", 100, 0, kind="outfall", invert=100.0, rim=120.0),
    ]
    pipes = [pipe("JI", "J", "I", length=100.0, diameter=outlet_diameter)]
    if inflow:
        nodes.insert(0, placed("K", 0 if turn else -100, 100 if turn else 0, invert=101.0, rim=120.0, area_ac=0.1))
        pipes.insert(0, pipe("KJ", "K", "J", length=100.0, diameter=0.5))
    project = minimal(nodes=nodes, pipes=pipes, **settings)
    if tailwater is not None:
        project["tailwater"] = tailwater
    return project


def outlet_pipe(project):
    return next(p for p in analyze(project)["pipes"] if p["id"] == "JI")


def lossless(project):
    return dict(project, junction_k=0.0, bend_loss_coeff=0.0, hec22_structure_loss=False)


@pytest.mark.parametrize(
    "tailwater, area, surcharged", [(None, 0.2, False), (110.0, 0.2, False), (None, 3.0, True)],
    ids=["part full", "drowned outlet", "surcharged"],
)
def test_junction_loss_is_velocity_head_times_k(tailwater, area, surcharged):
    project = trunk(inflow=False, tailwater=tailwater, area=area)
    with_loss, without = outlet_pipe(project), outlet_pipe(lossless(project))
    assert with_loss["surcharged"] is surcharged
    v = with_loss["velocity"]
    assert with_loss["hgl_up"] - without["hgl_up"] == pytest.approx(v * v * 0.5 / 64.4, rel=1e-9)


@pytest.mark.parametrize("turn, factor", [(True, 0.2), (False, 0.0)], ids=["right angle", "straight"])
def test_bend_loss_measured_at_the_downstream_node(turn, factor):
    # The bend is the deflection at J between KJ and JI; it is charged to K.
    project = trunk(turn=turn, junction_k=0.0, bend_loss_coeff=0.4)
    pipes = {p["id"]: p for p in analyze(project)["pipes"]}
    base = {p["id"]: p for p in analyze(lossless(project))["pipes"]}
    v = pipes["KJ"]["velocity"]
    assert pipes["KJ"]["hgl_up"] - base["KJ"]["hgl_up"] == pytest.approx(v * v * factor / 64.4, abs=1e-12)
    assert pipes["JI"]["hgl_up"] == base["JI"]["hgl_up"]  # I is an outfall: no pipe leaves it


def test_bend_loss_with_coincident_nodes_is_zero():
    project = trunk(junction_k=0.0, bend_loss_coeff=0.4)
    for n in project["nodes"]:
        n.update(x=0.0, y=0.0)
    assert analyze(project)["pipes"] == analyze(lossless(project))["pipes"]


def hec22_loss(hgl_before, invert_up, velocity, outlet, inflow, cos_theta, hole=4.0):
    ratio = hole / outlet
    depth = max(hgl_before - invert_up, 0.0) / outlet
    sin_theta = math.sqrt(1.0 - cos_theta * cos_theta)
    initial = 1.4 * ratio**0.15 * sin_theta + 0.1 * ratio * (1.0 - sin_theta)
    deep = depth >= 3.2
    depth_correction = 1.0 if deep else min(max(0.5 * depth**0.6, 0.0), 1.0)
    diameter_correction = (outlet / inflow) ** 3 if deep and inflow > 0 else 1.0
    return diameter_correction * initial * depth_correction * (velocity * velocity) / 64.4


@pytest.mark.parametrize(
    "inflow, tailwater, cos_theta, deep",
    [
        (False, None, 1.0, False),   # no inflow pipe: sin 0, K0 = 0.1 b / Do
        (True, None, 0.0, False),    # right-angle inflow, shallow: no diameter correction
        (True, 110.0, 0.0, True),    # drowned: full depth correction and (Do / Di)^3
        (False, 110.0, 1.0, True),   # drowned without inflow pipe
    ],
)
def test_access_hole_method(inflow, tailwater, cos_theta, deep):
    project = trunk(inflow=inflow, tailwater=tailwater, hec22_structure_loss=True, junction_k=0.9,
                    bend_loss_coeff=0.7, access_hole_diam_ft=4.0)
    with_loss, without = outlet_pipe(project), outlet_pipe(lossless(project))
    depth_ratio = (without["hgl_up"] - 100.5) / 1.0
    assert (depth_ratio >= 3.2) == deep
    expected = hec22_loss(without["hgl_up"], 100.5, with_loss["velocity"], 1.0, 0.5 if inflow else 0.0, cos_theta)
    assert with_loss["hgl_up"] - without["hgl_up"] == pytest.approx(expected, rel=1e-9)
    if deep and inflow:
        assert expected > 8 * 1.4 * 4.0**0.15 * with_loss["velocity"] ** 2 / 64.4 * 0.999


def test_access_hole_diameter_default_is_four_feet():
    explicit = trunk(hec22_structure_loss=True, access_hole_diam_ft=4.0)
    default = trunk(hec22_structure_loss=True, access_hole_diam_ft=0.0)
    assert analyze(explicit)["pipes"] == analyze(default)["pipes"]
