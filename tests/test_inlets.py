"""HEC-22 (3rd edition) chapter 4 inlets: the calculators against the manual's examples, US
and SI, and the project keys of the inlet data. The constants are the US ones with SI by
exact conversion, so SI answers may differ from the book's (SI coefficients) by up to 4 %."""

import json
import math
import random

import pytest
import rillwright

import rillwright_tools as rwt
from inlet_networks import street
from project_tool import INVALID, minimal, node, roundtrip, roundtrip_driver  # noqa: F401

GUTTER = dict(cross_slope=0.02, gutter_slope=0.01)


# (si, inputs, key, computed exactly, book, why they differ)
EXAMPLES = [
    # 4-1, uniform gutter: Q from T. The book's 0.057 m³/s / 2.0 ft³/s round the same equation.
    (False, dict(cross_slope=0.025, gutter_slope=0.01, spread=8.2), "q", 2.0347, 2.0),
    (True, dict(cross_slope=0.025, gutter_slope=0.01, spread=2.5), "q", 0.05766, 0.057),
    # 4-2, composite gutter W = 2 ft (0.6 m), a = 2 in (50 mm): Eo and Q from T.
    (False, dict(GUTTER, spread=8.2, gutter_width=2.0, depression=2.0), "eo", 0.7111, 0.71),
    (True, dict(GUTTER, spread=2.5, gutter_width=0.6, depression=50.0), "eo", 0.7032, 0.70),
    (False, dict(GUTTER, spread=8.2, gutter_width=2.0, depression=2.0), "q", 2.3003, 2.26),
    (True, dict(GUTTER, spread=2.5, gutter_width=0.6, depression=50.0), "q", 0.06432, 0.064),
]


@pytest.mark.parametrize("si, given, key, exact, book", EXAMPLES)
def test_gutter_examples_4_1_and_4_2(si, given, key, exact, book):
    got = rwt.gutter_flow(si=si, **given)
    assert got[key] == pytest.approx(exact, rel=2e-4)
    assert got[key] == pytest.approx(book, rel=0.04)  # the book reads Eo off Chart 2


@pytest.mark.parametrize("si, given", [(s, g) for s, g, *_ in EXAMPLES])
def test_gutter_spread_and_flow_invert_each_other(si, given):
    forward = rwt.gutter_flow(si=si, **given)
    back = rwt.gutter_flow(si=si, q=forward["q"], **{k: v for k, v in given.items() if k != "spread"})
    # The uniform section inverts Eq 4-2 with the manual's exponent 0.375 (not 1/2.67): 0.3 %.
    tolerance = 1e-9 if "depression" in given else 5e-3
    assert back["spread"] == pytest.approx(given["spread"], rel=tolerance)
    assert back["depth"] == pytest.approx(forward["depth"], rel=tolerance)


def test_example_4_7_curved_vane_grate_in_a_depressed_gutter():
    # The 2 ft × 2 ft curved-vane grate on the gutter of Example 4-2, Q = 2.26 ft³/s: Rf = 1
    # (V below the splash-over velocity), Rs about 0.1, Qi 1.68 ft³/s in the book.
    us = rwt.inlet_on_grade(q=2.26, length=2.0, grate="curved vane", grate_width=2.0, gutter_width=2.0,
                            depression=2.0, **GUTTER)
    assert us["rf"] == 1.0 and us["rs"] == pytest.approx(0.097, abs=0.002)
    assert us["intercepted"] == pytest.approx(1.68, abs=0.005)
    # SI with 0.6 m grate and Q = 0.06 m³/s: 0.0449 m³/s exactly converted; the book's SI
    # coefficients and chart readings give 0.044.
    si = rwt.inlet_on_grade(q=0.06, length=0.6, grate="curved vane", grate_width=0.6, gutter_width=0.6,
                            depression=50.0, si=True, **GUTTER)
    assert si["intercepted"] == pytest.approx(0.044, rel=0.03)
    assert si["intercepted"] + si["bypass"] == pytest.approx(0.06)


@pytest.mark.parametrize("si, q, length, lt, qi", [(False, 1.77, 9.8, 23.94, 1.08), (True, 0.05, 3.0, 7.29, 0.031)])
def test_example_4_9a_undepressed_curb_opening(si, q, length, lt, qi):
    got = rwt.inlet_on_grade(q=q, length=length, type="curb", si=si, **GUTTER)
    assert got["lt"] == pytest.approx(lt, abs=0.006 if not si else 0.002)
    assert got["intercepted"] == pytest.approx(qi, rel=0.01)
    assert got["efficiency"] == pytest.approx(1 - (1 - length / got["lt"]) ** 1.8)


@pytest.mark.parametrize("si", [False, True])
def test_example_4_11_grate_in_a_sag_with_half_its_width_clogged(si):
    # The P-50x100 grate, 2 ft × 3.3 ft (0.6 m × 1.0 m), Sx = 0.05, taking Q = 6.7 ft³/s
    # (0.19 m³/s): held to Eqs 4-26/4-27 at the depth found, the smaller of the two governing.
    ft = 0.3048 if si else 1.0
    q, width, length = (0.19, 0.6, 1.0) if si else (6.7, 2.0, 3.3)
    clean = rwt.inlet_in_sag(q=q, cross_slope=0.05, length=length, grate="P-50x100", grate_width=width, si=si)
    half = rwt.inlet_in_sag(q=q, cross_slope=0.05, length=length, grate="P-50x100", grate_width=width,
                            clogging=0.5, si=si)
    assert half["depth"] > clean["depth"]
    mean = half["depth"] / ft - (width / ft) / 2 * 0.05
    weir = 3.0 * (2 * 0.5 * width / ft + length / ft) * mean ** 1.5 * ft ** 3
    orifice = 0.67 * 0.5 * width * length / ft ** 2 * 0.8 * math.sqrt(2 * 32.16 * mean) * ft ** 3
    assert half["weir_q"] == pytest.approx(weir) and half["orifice_q"] == pytest.approx(orifice)
    assert min(weir, orifice) == pytest.approx(q, rel=1e-9)
    assert half["spread"] == pytest.approx(half["depth"] / 0.05)


@pytest.mark.parametrize("kind, extra", [("curb", {}), ("slotted", {}), ("combination", {"grate_width": 2.0}),
                                         ("grate", {"grate_width": 2.0})])
def test_sag_depth_passes_the_flow_and_grows_with_it(kind, extra):
    depths = [rwt.inlet_in_sag(q=q, cross_slope=0.02, length=5.0, type=kind, depression=2.0, **extra)["depth"]
              for q in (1.0, 4.0, 12.0)]
    assert depths == sorted(depths) and depths[0] > 0


@pytest.mark.parametrize("q", [0.5, 2.0, 6.0])
def test_sweeper_combination_catches_at_least_its_grate(q):
    grate = rwt.inlet_on_grade(q=q, length=2.0, grate_width=2.0, **GUTTER)
    sweeper = rwt.inlet_on_grade(q=q, length=2.0, grate_width=2.0, type="combination", curb_length=5.0, **GUTTER)
    assert grate["intercepted"] <= sweeper["intercepted"] <= q
    assert sweeper["curb_intercepted"] + sweeper["grate_intercepted"] == pytest.approx(sweeper["intercepted"])


@pytest.mark.parametrize("call, message", [
    (lambda: rwt.gutter_flow(cross_slope=0.02, gutter_slope=0.01), "exactly one of q and spread"),
    (lambda: rwt.inlet_on_grade(q=1, length=2, grate="P-40", **GUTTER), "grate must be one of"),
    (lambda: rwt.inlet_on_grade(q=1, length=2, **GUTTER), "grate_width greater than 0"),
    (lambda: rwt.inlet_in_sag(q=1, cross_slope=0.02, length=2, grate_width=2, clogging=1.0), "clogging"),
])
def test_calculator_arguments_are_checked(call, message):
    with pytest.raises(ValueError, match=message):
        call()


CALCULATOR_INLETS = [dict(type="grate", grate_width=2.0), dict(type="curb"), dict(type="slotted"),
                     dict(type="combination", grate_width=2.0, curb_length=4.0)]


@pytest.mark.parametrize("inlet", CALCULATOR_INLETS, ids=lambda i: i["type"])
@pytest.mark.parametrize("clogging", [0.25, 0.6])
def test_clogging_on_grade_takes_its_share_of_the_capture(inlet, clogging):
    clean = rwt.inlet_on_grade(q=2.0, length=3.0, **GUTTER, **inlet)
    clogged = rwt.inlet_on_grade(q=2.0, length=3.0, clogging=clogging, **GUTTER, **inlet)
    assert clogged["intercepted"] == pytest.approx((1 - clogging) * clean["intercepted"], rel=1e-12)
    assert clogged["bypass"] == pytest.approx(2.0 - clogged["intercepted"], rel=1e-12)
    assert clogged["spread"] == clean["spread"]  # the approach gutter is the same


@pytest.mark.parametrize("call", [
    lambda: rwt.gutter_flow(cross_slope=0.02, gutter_slope=1e308, q=1e-9),
    lambda: rwt.gutter_flow(cross_slope=0.02, gutter_slope=0.01, q=1e300, depression=2.0),
    lambda: rwt.gutter_flow(cross_slope=1e-300, gutter_slope=0.01, q=1.0),
    lambda: rwt.gutter_flow(cross_slope=0.02, gutter_slope=0.01, spread=1e300),
    lambda: rwt.gutter_flow(cross_slope=0.02, gutter_slope=0.01, q=1.0, n=1e-300),
    lambda: rwt.inlet_on_grade(q=1e-9, gutter_slope=1e308, cross_slope=0.02, type="curb", length=10.0),
    lambda: rwt.inlet_on_grade(q=1.0, length=1e308, grate_width=2.0, **GUTTER),
    lambda: rwt.inlet_in_sag(q=1e300, cross_slope=0.02, type="curb", length=10.0),
    lambda: rwt.inlet_in_sag(q=1.0, cross_slope=0.02, type="curb", length=1e308),
], ids=["steep", "huge-q-composite", "flat-cross", "huge-spread", "tiny-n", "grade-steep", "long-grate",
        "sag-huge-q", "sag-long"])
def test_calculators_refuse_results_outside_their_equations(call):
    with pytest.raises(ValueError, match="outside the range where the HEC-22 equations hold"):
        call()


@pytest.mark.parametrize("seed", range(3))
def test_ordinary_results_satisfy_their_own_equations(seed):
    rng = random.Random(seed)
    for _ in range(30):
        gutter = dict(cross_slope=rng.uniform(0.01, 0.08), gutter_slope=rng.uniform(0.001, 0.1))
        if rng.random() < 0.5:
            gutter.update(depression=rng.uniform(0.5, 3.0), gutter_width=rng.uniform(1.0, 3.0))
        q = 10 ** rng.uniform(-3, 2)
        spread = rwt.gutter_flow(q=q, **gutter)["spread"]
        assert rwt.gutter_flow(spread=spread, **gutter)["q"] == pytest.approx(q, rel=0.05)
        # In a sag, also the small flows a depressed gutter passes below the cross slope.
        inlet = rng.choice(CALCULATOR_INLETS)
        sag = rwt.inlet_in_sag(q=q, length=rng.uniform(2, 10), **{k: v for k, v in gutter.items() if k != "gutter_slope"},
                               **inlet)
        assert sag["depth"] >= gutter.get("depression", 0.0) / 12 and sag["depth"] > 0.0


def node_with(inlet):
    project = minimal(nodes=[node("N1")])
    project["nodes"][0]["inlet"] = dict({"length_ft": 3.0, "gutter_slope": 0.01, "sag": False}, **inlet)
    return json.dumps(project)


@pytest.mark.parametrize("inlet, message", [
    ({"clogging": 1.0}, "inlet `clogging` must lie in [0, 1), not 1"),
    ({"type": "drain"}, "inlet `type` must be one of grate, curb, combination, slotted, not `drain`"),
    ({"grate": "p-50"}, "inlet `grate` must be one of P-50"),
    ({"length_ft": -1.0}, "inlet `length_ft` must not be negative, not -1"),
    ({"gutter_n": 0}, "inlet `gutter_n` must be greater than 0"),
    ({"sides": 3}, "inlet `sides` must be 1 or 2, not 3"),
])
def test_bad_inlet_data_is_a_reader_error_naming_node_and_key(inlet, message):
    with pytest.raises(ValueError) as error:
        rillwright.analyze_project(node_with(inlet))
    node = json.loads(node_with({}))["nodes"][0]["id"]
    assert str(error.value).startswith(INVALID + f"node `{node}`: ") and message in str(error.value)


def test_inlet_keys_round_trip_and_stay_out_when_absent(roundtrip):  # noqa: F811
    keys = {"type": "combination", "grate": "generic", "splash_velocity": 4.5, "open_area_ratio": 0.5,
            "gutter_n": 0.015, "gutter_width_ft": 2.5, "depression_in": 2.0, "local_depression_in": 1.0,
            "local_depression_width_ft": 3.0, "opening_height_in": 5.0, "curb_length_ft": 4.0, "clogging": 0.25,
            "spread_limit_ft": 8.0, "sides": 2}
    written = json.loads(roundtrip.write(node_with(keys)))
    assert written["nodes"][0]["inlet"] == dict({"length_ft": 3.0, "gutter_slope": 0.01, "sag": False,
                                                  "grate_width_ft": 0.0, "cross_slope": 0.0}, **keys)
    plain = roundtrip.write(node_with({}))
    assert "type" not in plain and "spread_limit_ft" not in plain and "sides" not in plain
    project = json.loads(node_with({}))
    project["spread_limit_ft"] = 6.0
    assert json.loads(roundtrip.write(json.dumps(project)))["spread_limit_ft"] == 6.0


# ---- The inlet pass ---------------------------------------------------------------------

def run_pass(project):
    return rwt.inlets(text=json.dumps(project), format="rwproj")


def one_inlet(**inlet):
    project = minimal(nodes=[node("N1", area_ac=2.0, c=0.8), node("OUT", kind="outfall")],
                      pipes=[{"id": "P1", "from": "N1", "to": "OUT", "length": 100.0, "diameter": 1.5, "n": 0.013}])
    project["nodes"][0]["inlet"] = dict({"sag": False, "cross_slope": 0.02}, **inlet)
    return project


@pytest.mark.parametrize("sag", [False, True])
@pytest.mark.parametrize("kind", ["grate", "curb"])
def test_a_two_sided_street_is_two_gutters_on_half_the_flow(sag, kind):
    inlet = dict(length_ft=3.0, gutter_slope=0.01, sag=sag, type=kind, grate_width_ft=2.0 if kind == "grate" else 0.0)
    one, two = (run_pass(one_inlet(**inlet, **extra))["inlets"][0] for extra in ({}, {"sides": 2}))
    assert two["gutter_q"] == one["gutter_q"]
    half = dict(q=one["gutter_q"] / 2, cross_slope=0.02, length=3.0, type=kind, grate_width=inlet["grate_width_ft"])
    side = rwt.inlet_in_sag(**half) if sag else rwt.inlet_on_grade(gutter_slope=0.01, **half)
    assert two["spread"] == pytest.approx(side["spread"], rel=1e-12) and two["spread"] < one["spread"]
    if not sag:
        assert two["intercepted"] == pytest.approx(2 * side["intercepted"], rel=1e-12)
        assert two["bypass"] == pytest.approx(2 * side["bypass"], rel=1e-12)


def test_what_an_inlet_object_needs():
    # The stored object names length, gutter slope and sag; length 0 is no inlet model, and
    # a sag inlet needs no gutter slope, while one on grade does.
    with pytest.raises(ValueError, match="missing field `length_ft`"):
        run_pass(one_inlet(gutter_slope=0.01))
    assert run_pass(one_inlet(length_ft=0.0, gutter_slope=0.01))["inlets"] == []
    assert run_pass(one_inlet(length_ft=3.0, gutter_slope=0.0, sag=True, type="curb"))["inlets"][0]["efficiency"] == 1.0
    with pytest.raises(ValueError, match="an inlet model needs `gutter_slope` greater than 0 on grade"):
        run_pass(one_inlet(length_ft=3.0, gutter_slope=0.0, type="curb"))
    with pytest.raises(ValueError, match="inlet `N1`: .* outside the range where the HEC-22 equations hold"):
        run_pass(one_inlet(length_ft=3.0, type="curb", gutter_slope=1e308))


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("sag", [True, False])
def test_intercepted_plus_bypass_leaving_is_the_inlets_own_flow(seed, sag):
    rows = run_pass(street(seed, sag=sag))["inlets"]
    leaving = sum(r["bypass"] for r in rows if r["bypass_to"] is None)
    assert sum(r["intercepted"] for r in rows) + leaving == pytest.approx(sum(r["own_q"] for r in rows), rel=1e-12)
    assert all(r["gutter_q"] == pytest.approx(r["own_q"] + r["carryover_in"]) for r in rows)


@pytest.mark.parametrize("seed", range(3))
def test_inlets_capturing_everything_give_the_modules_pipes(seed):
    project = street(seed, capture_all=True)
    got, module = run_pass(project), rillwright.analyze_project(json.dumps(project))
    assert all(r["bypass"] == 0.0 for r in got["inlets"])
    for mine, theirs in zip(got["pipes"], module["pipes"]):
        assert mine["design_q"] == pytest.approx(theirs["design_q"], rel=1e-12)
        assert mine["hgl_up"] == pytest.approx(theirs["hgl_up"], rel=1e-12)


@pytest.mark.parametrize("seed", range(3))
def test_the_sheet_does_not_depend_on_the_order_of_nodes(seed):
    project = street(seed)
    shuffled = dict(project, nodes=random.Random(seed).sample(project["nodes"], len(project["nodes"])))
    by_id = lambda rows: sorted(rows, key=lambda r: r["id"])  # noqa: E731
    assert by_id(run_pass(shuffled)["inlets"]) == by_id(run_pass(project)["inlets"])


@pytest.mark.parametrize("change, message", [
    ({"S": {"bypass_to": "A1"}, "A1": {"bypass_to": "A2"}}, "bypass_to loop: "),
    ({"A1": {"bypass_to": "Z9"}}, "node `A1`: bypass_to names unknown node `Z9`"),
])
def test_bypass_loops_and_unknown_targets_are_named(change, message):
    project = street(0)
    for node in project["nodes"]:
        node.update(change.get(node["id"], {}))
    with pytest.raises(ValueError, match=message) as error:
        run_pass(project)
    if "loop" in message:  # the loop, closed on the node it starts from
        ids = str(error.value).split(": ")[1].split(" -> ")
        assert ids[0] == ids[-1] and {"A1", "A2", "A3", "S"} <= set(ids)


def test_bypass_to_a_node_without_an_inlet_model_enters_there_whole():
    project = street(0, inlets_per_side=1, sag=False)
    for node in project["nodes"]:
        if node["id"] == "A1":
            node["bypass_to"] = "B1"
            node["inlet"]["length_ft"] = 1.0
        if node["id"] == "B1":
            node["inlet"]["length_ft"] = 0.0
    got = run_pass(project)
    a1 = next(r for r in got["inlets"] if r["id"] == "A1")
    assert a1["bypass"] > 0 and a1["bypass_to"] == "B1" and [r["id"] for r in got["inlets"]] == ["A1"]
    # B1 takes its own runoff and A1's bypass, as the C·A of that flow at its own inlet time.
    nodes = {n["id"]: n for n in project["nodes"]}
    rain = {k: 120.0 / (max(nodes[k]["tc_inlet"], 5.0) + 15.0) ** 0.8 for k in ("A1", "B1")}
    b1 = nodes["B1"]["c"] * nodes["B1"]["area_ac"] * rain["B1"] + a1["bypass"]
    assert got["pipes"][-1]["total_ca"] == pytest.approx(a1["intercepted"] / rain["A1"] + b1 / rain["B1"], rel=1e-12)


def test_inlets_command_prints_the_sheet_and_check_warns(tmp_path, capsys):
    from rillwright_tools.cli import main

    project = street(1)
    project["nodes"][0]["bypass_to"] = None  # A1's bypass now leaves the network
    path = tmp_path / "street.rwproj"
    path.write_text(json.dumps(project), encoding="utf-8")
    assert main(["inlets", str(path), "--csv", str(tmp_path / "out")]) == 0
    out = capsys.readouterr().out
    assert "Carry-over" in out and "-> A2" not in out and "cfs of bypass leaves the network" in out
    assert (tmp_path / "out" / "inlets.csv").read_text().startswith("id,type,on_grade,own_q")
    codes = {f["code"] for f in rwt.check(str(path))}
    assert {"inlet_spread", "inlet_bypass_leaves"} <= codes
