"""The energy-level structure loss: the calculator against the method's steps written out
plainly, projects analysed with the method against the calculator at every structure,
the entering pipes' outlet faces, and the two project keys (reading, writing, and no
change at all without them)."""

import json
import math

import pytest

import rillwright as rw
import rillwright_tools as rwt
from project_tool import minimal, node, pipe, reader_error, roundtrip, roundtrip_driver  # noqa: F401
from rillwright_tools.inputs import records, resolve

ENERGY = {"structure_loss_method": "hec22_energy"}
BENCHING = {"flat": (-0.05, -0.05), "depressed": (0.0, 0.0), "half": (-0.05, -0.85), "full": (-0.25, -0.93),
            "improved": (-0.60, -0.98)}  # submerged, unsubmerged


def reference(outflow_q, outflow_rise, outflow_full_area, outflow_velocity, outflow_hgl, outflow_invert,
              outflow_critical_depth, inflows=(), surface_q=0.0, surface_elevation=None, benching="flat"):
    """The method's steps, straight from their statement."""
    q, do, z_a = outflow_q, outflow_rise, outflow_invert
    hv = outflow_velocity**2 / (2 * 32.2)
    ei = outflow_hgl + hv - z_a
    y = outflow_hgl - z_a
    r = dict(ei=ei, eai_outlet=ei + 0.2 * hv if y >= do or y >= outflow_critical_depth else 0.0,
             di=q / (outflow_full_area * math.sqrt(32.2 * do)), cb=0.0, c_theta=0.0, cp=0.0, ha=0.0, ea=ei)
    r.update(eai_submerged=do * r["di"]**2, eai_unsubmerged=1.6 * do * r["di"]**0.67)
    eai = r["eai"] = max(r["eai_outlet"], r["eai_submerged"], r["eai_unsubmerged"])
    if eai > ei and q > 0:
        sub, unsub = BENCHING[benching]
        ratio = eai / do
        r["cb"] = unsub if ratio <= 1 else sub if ratio >= 2.5 else unsub + (sub - unsub) * (ratio - 1) / 1.5
        straight = [(qj, angle) for qj, inv, angle in inflows if inv - z_a <= eai]
        plunging = [(qj, inv - z_a) for qj, inv, _ in inflows if inv - z_a > eai]
        plunging += [(surface_q, surface_elevation - z_a)] if surface_q else []
        q_straight = sum(qj for qj, _ in straight)
        if q_straight > 0:
            theta_w = sum(qj * angle for qj, angle in straight) / q_straight
            r["c_theta"] = 4.5 * q_straight / q * math.cos(math.radians(theta_w / 2))
        r["cp"] = sum(qk * (min(zk, 10 * do) - eai) / do for qk, zk in plunging) / q
        r["ha"] = max(0.0, (r["cb"] + r["c_theta"] + r["cp"]) * (eai - ei))
        r["ea"] = max(eai + r["ha"], ei)
    r["egl"] = r["ea"] + z_a
    return r


def structure(**changes):
    """A 1.5 ft outflow at invert 100 with an angled inflow and a drop inflow."""
    values = dict(outflow_q=12.0, outflow_rise=1.5, outflow_full_area=math.pi * 1.5**2 / 4, outflow_velocity=6.8,
                  outflow_hgl=101.0, outflow_invert=100.0, outflow_critical_depth=1.3,
                  inflows=[(5.0, 100.3, 90.0), (3.0, 103.5, 180.0)], surface_q=4.0, surface_elevation=108.0)
    values.update(changes)
    return values


CASES = {  # name: (changes, the branch it must take)
    "full outflow": ({"outflow_hgl": 101.6}, lambda r, hv: r["eai_outlet"] == r["ei"] + 0.2 * hv),
    "part full outflow": ({"outflow_hgl": 101.4}, lambda r, hv: r["eai_outlet"] == r["ei"] + 0.2 * hv),
    "supercritical outflow": ({}, lambda r, hv: r["eai_outlet"] == 0.0 and r["eai"] > r["ei"]),
    "drop inflow plunges": ({}, lambda r, hv: r["cp"] > 0.0),
    "both inflows plunge": ({"inflows": [(5.0, 104.0, 90.0), (3.0, 103.5, 180.0)]}, lambda r, hv: r["c_theta"] == 0),
    "rim below the energy level": ({"outflow_q": 30.0, "surface_elevation": 101.0}, lambda r, hv: r["cp"] < 0.0),
    "Eai at or below Ei": ({"outflow_q": 2.0, "outflow_hgl": 100.3, "outflow_critical_depth": 0.5},
                           lambda r, hv: r["ea"] == r["ei"] and r["cb"] == r["ha"] == 0.0),
    "no flow": ({"outflow_q": 0.0, "surface_q": 0.0, "inflows": []}, lambda r, hv: r["ea"] == r["ei"]),
}


@pytest.mark.parametrize("changes, branch", CASES.values(), ids=CASES.keys())
def test_calculator_follows_each_step(changes, branch):
    values = structure(**changes)
    got = rwt.hec22_energy_structure(**values)
    assert got == pytest.approx(reference(**values), rel=1e-12, abs=1e-12)
    assert branch(got, values["outflow_velocity"]**2 / 64.4)


def test_plunge_height_is_capped_at_ten_rises():
    with pytest.raises(TypeError):
        rwt.hec22_energy_structure(12.0, 1.5)  # the arguments are keyword-only
    at = {h: rwt.hec22_energy_structure(**structure(inflows=[(3.0, 100.0 + h * 1.5, 180.0)])) for h in (5, 10, 40)}
    assert at[40] == at[10] != at[5]


@pytest.mark.parametrize("benching", BENCHING)
@pytest.mark.parametrize("q, region", [(5.0, "shallow"), (9.0, "between"), (30.0, "deep")])
def test_benching_at_both_ends_and_between(benching, q, region):
    got = rwt.hec22_energy_structure(**structure(outflow_q=q, outflow_hgl=100.5, outflow_velocity=3.0,
                                                  benching=benching))
    ratio, (sub, unsub) = got["eai"] / 1.5, BENCHING[benching]
    assert region == ("shallow" if ratio <= 1 else "deep" if ratio >= 2.5 else "between")
    expected = {"shallow": unsub, "deep": sub}.get(region, unsub + (sub - unsub) * (ratio - 1) / 1.5)
    assert got["cb"] == pytest.approx(expected, rel=1e-12, abs=1e-15)


@pytest.mark.parametrize("changes, message", [
    ({"outflow_rise": -1.5}, "outflow_rise must be greater than 0"),
    ({"benching": "steep"}, "benching must be one of flat, depressed, half, full, improved"),
    ({"outflow_hgl": math.nan}, "outflow_hgl must be finite"),
    ({"outflow_velocity": math.inf}, "outflow_velocity must be finite"),
    ({"outflow_q": -1.0}, "outflow_q must not be negative"),
    ({"inflows": [(1.0, 100.0)]}, r"inflows\[0\] must be a \(q, invert, angle_deg\) triple"),
    ({"inflows": [(1.0, 100.0, 270.0)]}, r"inflows\[0\] angle_deg must lie between 0 and 180"),
    ({"surface_elevation": None}, "surface_elevation is needed when surface_q is greater than 0"),
])
def test_calculator_refuses_bad_arguments(changes, message):
    with pytest.raises(ValueError, match=message):
        rwt.hec22_energy_structure(**structure(**changes))


# ---- Projects analysed with the method ----------------------------------------

def placed(node_id, x, y, **fields):
    made = node(node_id, **fields)
    made.update(x=float(x), y=float(y))
    return made


def branching(scale, tailwater, benching):
    """Three inflows into B (one at a right angle, one straight, one dropping in from 2.5 ft
    up), two outflows from B, and a structure F further down."""
    nodes = [placed("A", 0, 100, invert=106.0, rim=112.0, area_ac=0.3 * scale, c=0.7),
             placed("C", -100, 0, invert=105.6, rim=112.0, area_ac=0.45 * scale, c=0.7),
             placed("E", -70, 70, invert=108.0, rim=114.0, area_ac=0.15 * scale, c=0.7),
             placed("B", 0, 0, kind="junction", invert=105.0, rim=111.0, area_ac=0.075 * scale, c=0.8,
                    benching=benching),
             placed("F", 150, 0, kind="junction", invert=104.0, rim=110.0, area_ac=0.15 * scale, c=0.7),
             placed("G", 0, -150, kind="outfall", invert=103.5, rim=110.0),
             placed("O", 300, 0, kind="outfall", invert=102.0, rim=108.0)]
    pipes = [pipe("AB", "A", "B", diameter=1.0), pipe("CB", "C", "B", diameter=1.25),
             pipe("EB", "E", "B", length=99.0, diameter=1.0, invert_dn=107.5),
             pipe("BF", "B", "F", length=150.0), pipe("BG", "B", "G", length=150.0, diameter=1.25),
             pipe("FO", "F", "O", length=150.0, diameter=1.75)]
    return minimal(nodes=nodes, pipes=pipes, tailwater=tailwater, **ENERGY)


def cosine(u, w):
    length_u, length_w = math.sqrt(u[0] * u[0] + u[1] * u[1]), math.sqrt(w[0] * w[0] + w[1] * w[1])
    if length_u == 0.0 or length_w == 0.0:
        return 1.0
    return min(max((u[0] * w[0] + u[1] * w[1]) / (length_u * length_w), -1.0), 1.0)


def calculator_at_structures(project, result):
    """{structure id: [calculator result per pipe leaving it]}, the calculator fed from the
    analysis result and the network records (circular pipes)."""
    network = records(resolve(text=json.dumps(project), format="rwproj"))
    nodes = {n["id"]: n for n in network["nodes"]}
    benching = {n["id"]: n.get("benching", "flat") for n in project["nodes"]}
    links = [(rec, res, nodes[rec["from"]]["invert"] if rec["invert_up"] is None else rec["invert_up"],
              nodes[rec["to"]]["invert"] if rec["invert_dn"] is None else rec["invert_dn"])
             for rec, res in zip(network["pipes"], result["pipes"])]
    found = {}
    for rec, res, invert_up, _ in links:
        j, i = nodes[rec["from"]], nodes[rec["to"]]
        inflows = []
        for rec_k, res_k, _, invert_dn in links:
            if rec_k["to"] == j["id"]:
                k = nodes[rec_k["from"]]
                c = cosine((j["x"] - k["x"], j["y"] - k["y"]), (i["x"] - j["x"], i["y"] - j["y"]))
                inflows.append((res_k["design_q"], invert_dn, 180.0 - math.acos(c) * (180.0 / math.pi)))
        found.setdefault(j["id"], []).append(rwt.hec22_energy_structure(
            outflow_q=res["design_q"], outflow_rise=rec["rise"], outflow_full_area=math.pi * rec["rise"]**2 * 0.25,
            outflow_velocity=res["velocity"], outflow_hgl=res["hgl_up"], outflow_invert=invert_up,
            outflow_critical_depth=res["critical_depth"], inflows=inflows,
            surface_q=max(res["design_q"] - sum(q for q, _, _ in inflows), 0.0), surface_elevation=j["rim"],
            benching=benching[j["id"]]))
    return found


def demo_with(**changes):
    project = json.loads(rw.demo_project_json())
    project.update(changes)
    return project


def test_every_structure_is_at_the_calculators_level():
    seen = set()
    demo = demo_with(**ENERGY)
    demo["nodes"][1]["benching"] = "full"
    for project in [demo, branching(1, None, "half"), branching(2, None, "full"), branching(2, 106.5, "improved")]:
        result = rw.analyze_project(json.dumps(project))
        hgl = {n["id"]: n["hgl"] for n in result["nodes"]}
        for structure_id, outflows in calculator_at_structures(project, result).items():
            assert hgl[structure_id] == max(r["egl"] for r in outflows), structure_id  # bit for bit
            seen |= {name for name, holds in [
                ("supercritical", any(r["eai_outlet"] == 0 for r in outflows)),
                ("outlet control", any(r["eai_outlet"] > 0 for r in outflows)),
                ("Eai <= Ei", any(r["eai"] <= r["ei"] for r in outflows)),
                ("angled and plunging", any(r["c_theta"] > 0.1 and r["cp"] > 0 for r in outflows)),
                ("several outflows", len({r["egl"] for r in outflows}) > 1)] if holds}
        for p in result["pipes"]:
            assert p["hgl_dn"] == hgl[p["to"]]
    assert len(seen) == 5, seen


def trunk(k_invert_up, k_invert_dn, tailwater):
    """K -> J -> I in a straight line; J's energy level sets where KJ starts, on a slope mild
    enough for KJ's grade line at K to show it."""
    nodes = [placed("K", -100, 0, invert=k_invert_up, rim=120.0, area_ac=0.2),
             placed("J", 0, 0, kind="junction", invert=100.5, rim=120.0, area_ac=0.07),
             placed("I", 100, 0, kind="outfall", invert=100.0, rim=120.0)]
    pipes = [pipe("KJ", "K", "J", diameter=1.0, invert_dn=k_invert_dn), pipe("JI", "J", "I", diameter=1.0)]
    return minimal(nodes=nodes, pipes=pipes, tailwater=tailwater, **ENERGY)


@pytest.mark.parametrize("k_invert_up, k_invert_dn, tailwater, face", [
    (100.7, 100.5, None, "part full"), (100.7, 100.5, 103.0, "full"), (104.0, 103.0, None, "plunging")])
def test_entering_pipe_starts_from_its_outlet_face(k_invert_up, k_invert_dn, tailwater, face):
    project = trunk(k_invert_up, k_invert_dn, tailwater)
    result = rw.analyze_project(json.dumps(project))
    kj = result["pipes"][0]
    egl = result["nodes"][1]["hgl"]
    depth = min(egl - k_invert_dn, 1.0)
    assert face == ("plunging" if egl <= k_invert_dn else "full" if depth >= 1.0 else "part full")
    if face == "plunging":
        level = k_invert_dn
    else:
        area = math.pi * 0.25 if face == "full" else rw.circular_geometry(1.0, depth)["area"]
        hv = (kj["design_q"] / area)**2 / 64.4
        level = egl + 0.4 * hv - hv
    # The same pipe draining to an outfall held at that level is solved identically.
    alone = dict(project, nodes=project["nodes"][:1] + [dict(project["nodes"][1], kind="outfall")],
                 pipes=project["pipes"][:1], tailwater=level)
    alone_result = rw.analyze_project(json.dumps(alone))
    assert alone_result["pipes"][0]["hgl_up"] == kj["hgl_up"]
    assert alone_result["nodes"][0]["hgl"] == result["nodes"][0]["hgl"]
    assert kj["hgl_dn"] == egl


# ---- The project keys -------------------------------------------------------

@pytest.mark.parametrize("hec22", [False, True])
@pytest.mark.parametrize("method", [None, "", "HEC22_ENERGY", "hec22_energy "])
def test_without_the_method_results_are_unchanged(hec22, method):
    project = demo_with(hec22_structure_loss=hec22)
    expected = rw.analyze_project(json.dumps(project))
    if method is not None:
        project["structure_loss_method"] = method
    for n in project["nodes"]:
        n["benching"] = "improved"
    assert rw.analyze_project(json.dumps(project)) == expected
    assert rw.analyze_project(json.dumps(demo_with(**ENERGY))) != expected


@pytest.mark.parametrize("text, message", [
    ('{"nodes": [{"benching": "steep"}]}',
     "unknown variant `steep`, expected one of `flat`, `depressed`, `half`, `full`, `improved` at line 1 column 31"),
    ('{"nodes": [{"benching": 1}]}', 'expected `"` at line 1 column 25'),
    ('{"nodes": [{"benching": "flat", "benching": "half"}]}', "duplicate field `benching` at line 1 column 42"),
    ('{"structure_loss_method": 1}', "invalid type: integer `1`, expected a string at line 1 column 27"),
])
def test_reader_messages(text, message):
    assert reader_error(text).startswith(message)


def test_writer_keeps_the_keys_only_when_set(roundtrip):
    project = trunk(100.7, 100.5, None)
    project["nodes"][0]["benching"] = "half"
    project["nodes"][1]["benching"] = "flat"
    text = roundtrip.write(project)  # the driver also checks that it reads back equal
    assert text.endswith('"format_version": 1,\n  "structure_loss_method": "hec22_energy"\n}')
    assert text.count('"benching"') == 1 and '"diameter_ft": 4.0,\n      "benching": "half"\n    }' in text
    assert rw.analyze_project(text) == rw.analyze_project(json.dumps(project))
    assert roundtrip.write(demo_with()) == rw.demo_project_json()
