"""The level of service's core reduction and plan: a sample against the analysis it
reduces, a sample of some trees against the whole network's, and bad input."""

import json
import math
import struct

import pytest

import rillwright

from rillwright_tools import _core
from test_service import FLOODING_RWN, TOLERANCE, generated, shaped, two_trees, with_curves

DEMO = with_curves(rillwright.demo_project_json(), [(2, 80.0), (100, 190.0)])


def reduced(text, fmt, multiplier, period):
    """The conditions' margins and flags, straight from the analysis' result dicts."""
    result = _core.analyze(text, fmt, multiplier, period)
    network = json.loads(_core.network_records(text, fmt))
    invert = {n["id"]: n["invert"] for n in network["nodes"]}
    margins = [n["hgl"] - r["rim"] for n, r in zip(result["nodes"], network["nodes"])]
    flags = [n["floods"] for n in result["nodes"]]
    capacities = _core.max_capacities(text, fmt)
    margins += [p["design_q"] - c for p, c in zip(result["pipes"], capacities)]
    flags += [p["surcharged"] for p in result["pipes"]]
    for pipe, record in zip(result["pipes"], network["pipes"]):
        ends = [(pipe["hgl_up"], record["invert_up"], record["from"]), (pipe["hgl_dn"], record["invert_dn"], record["to"])]
        above = max(-math.inf if h is None else h - ((own if own is not None else invert[node]) + record["rise"])
                    for h, own, node in ends)
        margins.append(above)
        flags.append(above > 0.0)
    return margins, bytes(flags)


@pytest.mark.parametrize("text, fmt, period", [(DEMO, "rwproj", None), (DEMO, "rwproj", 100.0),
                                               (generated(20, 1), "rwn", None),
                                               (FLOODING_RWN.format(tailwater=101.5, area=20), "rwn", None)])
@pytest.mark.parametrize("multiplier", [0.0, 0.7, 3.0])
def test_a_sample_is_the_reduced_analysis(text, fmt, period, multiplier):
    plan, _ = _core.service_plan(text, fmt, 10.0, TOLERANCE)
    sample = _core.scenario_sample(text, fmt, multiplier, period)
    assert _core.service_sample_parts(plan, sample) == reduced(text, fmt, multiplier, period)


@pytest.mark.parametrize("trees", [[0], [1], [1, 0]])
def test_a_sample_of_some_trees_is_the_whole_samples_part(trees):
    text = two_trees(shaped("si", True))
    plan, _ = _core.service_plan(text, "rwproj", 10.0, TOLERANCE)
    node_trees, pipe_trees = _core.service_trees(plan)
    of = node_trees + pipe_trees + pipe_trees
    whole = _core.scenario_sample(text, "rwproj", 2.5)
    margins, held = _core.service_sample_parts(plan, whole)
    count = sum(t in trees for t in of)
    part = _core.scenario_sample(text, "rwproj", 2.5, None, trees)
    assert part == struct.pack(f"{count}d", *(m for m, t in zip(margins, of) if t in trees)) + bytes(
        h for h, t in zip(held, of) if t in trees)


def test_samples_of_another_network_are_refused():
    plan, batch = _core.service_plan(DEMO, "rwproj", 10.0, TOLERANCE)
    foreign = _core.scenario_sample(generated(8, 0), "rwn", 1.0)
    with pytest.raises(ValueError, match="does not belong to this network"):
        _core.service_round(plan, [foreign] * len(batch), 100)
    with pytest.raises(ValueError, match="one sample for every analysis"):
        _core.service_round(plan, [], 100)
    with pytest.raises(ValueError, match="analysis failed|unknown"):
        _core.scenario_sample(FLOODING_RWN.format(tailwater=98.5, area=1).replace("PIPE PJ J OUT", "PIPE PJ J X"),
                              "rwn", 1.0)
