"""rwt.design(profile=True): inverts and slopes chosen with the sizes. Every rule held on
generated networks of every shape, US and SI, each matching rule; each upstream invert the
highest allowed; the chosen size the shallowest; the written project analysing to the design;
idempotence; bad options."""
import json
import math
import random

import pytest

import rillwright as rw
import rillwright_tools as rwt

CATALOGUE = {
    "circular": [12, 15, 18, 21, 24, 30, 36, 42, 48, 60, 72],
    "box": [[12, 18], [12, 24], [18, 24], [18, 36], [24, 36], [24, 48], [36, 48], [48, 48], [48, 72]],
    "elliptical": [[14, 23], [19, 30], [24, 38], [29, 45], [38, 60], [48, 76], [58, 91]],
    "arch": [[13.5, 22], [18, 28.5], [26.625, 43.75], [36, 58.5], [45, 73], [62, 102]],
}
FRACTION = {"crown": 1.0, "0.8": 0.8, "invert": 0.0}


def ground_network(seed, shape, ground, count=16, si=False):
    """A random tree (node 0 the outfall) on falling or rising ground, with inverts that
    the profile design ignores; the outfall sits low so every line can reach it."""
    rng = random.Random(seed)
    nodes = [{"id": "OUT", "kind": "outfall", "x": 0, "y": 0, "invert": 80.0, "rim": 100.0, "area_ac": 0,
              "c": 0, "tc_inlet": 0}]
    pipes = []
    for i in range(1, count):
        down = rng.randrange(max(0, i - 4), i)
        length = rng.uniform(60, 200)
        fall = rng.uniform(0.0, 0.02) * length * (1 if ground == "falling" else -1)
        rim = nodes[down]["rim"] + fall
        nodes.append({"id": f"N{i}", "kind": rng.choice(["inlet", "junction"]), "x": 10.0 * i, "y": 0,
                      "invert": rim - 6, "rim": rim, "area_ac": rng.uniform(0.1, 1.5), "c": 0.7, "tc_inlet": 8.0})
        pipes.append({"id": f"P{i}", "from": f"N{i}", "to": nodes[down]["id"], "length": length,
                      "diameter": 1.0, "n": 0.013, "shape": shape, "rise_ft": 1.0, "span_ft": 1.5})
    project = {"name": "ground", "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0, "junction_k": 0.5,
               "nodes": nodes, "pipes": pipes}
    if si:
        project.update(units="si", idf_a=120 * 25.4)
    return project


def as_rwn(project):
    lines = ["IDF 120 10 0.8"]
    for n in project["nodes"]:
        tail = "" if n["kind"] == "outfall" else f" {n['area_ac']!r} {n['c']!r} {n['tc_inlet']!r}"
        lines.append(f"NODE {n['id']} {n['kind']} {n['x']!r} {n['y']!r} {n['invert']!r} {n['rim']!r}{tail}")
    lines += [f"PIPE {p['id']} {p['from']} {p['to']} {p['length']!r} 1.0 0.013" for p in project["pipes"]]
    return "\n".join(lines) + "\n"


CASES = [("circular", "rwn"), ("circular", "us"), ("box", "us"), ("elliptical", "si"), ("arch", "us"),
         ("circular", "si")]


def source(shape, form, seed, ground):
    project = ground_network(seed, shape, ground, si=form == "si")
    return (as_rwn(project), "rwn") if form == "rwn" else (json.dumps(project), "rwproj")


def named(result, kind, pipe_id):
    return any(v["kind"] == kind and v["id"] == pipe_id for v in result["violations"])


def ends(text, fmt):
    """Pipe id -> (from, to) and node id -> rim, in ft as the analysis reads them."""
    analysis = rw.analyze_rwn(text) if fmt == "rwn" else rw.analyze_project(text)
    return {p["id"]: (p["from"], p["to"]) for p in analysis["pipes"]}, {n["id"]: n["rim"] for n in analysis["nodes"]}


OPTIONS = dict(min_cover=3.0, min_drop=0.1, min_slope=0.002, max_slope=0.05, min_full_velocity=2.5)


@pytest.mark.parametrize("match", ["crown", "0.8", "invert"])
@pytest.mark.parametrize("ground", ["falling", "rising"])
@pytest.mark.parametrize("shape, form", CASES)
def test_every_rule_holds_and_every_upstream_invert_is_the_highest_allowed(shape, form, ground, match):
    text, fmt = source(shape, form, hash((shape, form, ground)) % 997, ground)
    result = rwt.design(text=text, format=fmt, catalogue=CATALOGUE, profile=True, match=match, **OPTIONS)
    pipe_ends, rims = ends(text, fmt)
    rows = {row["id"]: row for row in result["pipes"]}
    entering = {}
    for row in result["pipes"]:
        entering.setdefault(pipe_ends[row["id"]][1], []).append(row)
    m, cover = FRACTION[match], OPTIONS["min_cover"]
    for row in result["pipes"]:
        up, dn, rise = row["invert_up"], row["invert_dn"], row["rise"]
        start, end = pipe_ends[row["id"]]
        assert row["cover_up"] == rims[start] - (up + rise) and row["cover_dn"] == rims[end] - (dn + rise)
        assert min(row["cover_up"], row["cover_dn"]) >= cover or named(result, "cover", row["id"])
        assert OPTIONS["min_slope"] <= row["slope"] <= OPTIONS["max_slope"] or named(result, "slope", row["id"])
        assert row["design_q"] <= row["capacity"] or row["governed_by"] == "no size fits"
        rules = [lambda u: rims[start] - (u + rise) >= cover]
        for before in entering.get(start, []):
            rules.append(lambda u, b=before: u <= b["invert_dn"] + m * b["rise"] - m * rise)
            rules.append(lambda u, b=before: u <= b["invert_dn"] - OPTIONS["min_drop"])
        assert all(rule(up) for rule in rules) or named(result, "match", row["id"]) or named(result, "drop", row["id"])
        # Raised by 0.01 ft, it breaks a rule: the cover, a match, a drop, or (lowered) the maximum slope.
        if row["slope_governed_by"] == "maximum slope":
            length = (up - dn) / row["slope"]
            assert (up + 0.01 - dn) / length > OPTIONS["max_slope"]
        else:
            assert not all(rule(up + 0.01) for rule in rules)
    for node in result["nodes"]:
        at = [rows[r["id"]]["invert_dn"] for r in entering.get(node["id"], [])]
        leaving = [r["invert_up"] for r in result["pipes"] if pipe_ends[r["id"]][0] == node["id"]]
        if node["id"] != "OUT":
            assert node["invert"] == min(at + leaving)
        assert node["drop"] == max([0.0] + [a - node["invert"] for a in at])


@pytest.mark.parametrize("ground", ["falling", "rising"])
@pytest.mark.parametrize("form", ["rwn", "us", "si"])
def test_the_chosen_size_has_the_highest_downstream_invert(form, ground):
    """Against the straightforward computation of every circular size's downstream invert:
    the upstream invert from the cover and the entering pipes, the steepest of the cover
    slope, min_slope and the capacity slope."""
    text, fmt = source("circular", form, 7 if ground == "falling" else 8, ground)
    result = rwt.design(text=text, format=fmt, catalogue=CATALOGUE, profile=True, min_slope=0.002)
    pipe_ends, rims = ends(text, fmt)
    by_id = {row["id"]: row for row in result["pipes"]}
    for row in result["pipes"]:
        start, end = pipe_ends[row["id"]]
        before = [by_id[p] for p, (_, to) in pipe_ends.items() if to == start]
        length = (row["invert_up"] - row["invert_dn"]) / row["slope"]
        best = -math.inf
        for size in CATALOGUE["circular"]:
            d = size / 12 if fmt != "rwproj" or form != "si" else size * 254 / 10000 * 3.280839895013123
            if any(d < b["rise"] for b in before):
                continue  # no smaller downstream
            up = min([rims[start] - 3.0 - d] + [min(b["invert_dn"] + b["rise"] - d, b["invert_dn"] - 0.1) for b in before])
            needed = (row["design_q"] / rw.manning_capacity(d, 0.013, 1.0)) ** 2
            best = max(best, min(rims[end] - 3.0 - d, up - max(needed, 0.002) * length))
        assert row["invert_dn"] >= best - 1e-9


@pytest.mark.parametrize("shape, form", CASES)
def test_the_written_project_analyses_to_the_design_and_designs_to_itself(shape, form):
    text, fmt = source(shape, form, 11, "falling")
    result = rwt.design(text=text, format=fmt, catalogue=CATALOGUE, profile=True, min_freeboard=0.5, **OPTIONS)
    analysis = rw.analyze_project(result["sized"])
    for designed, analysed in zip(result["pipes"], analysis["pipes"]):
        for key in ("design_q", "capacity", "pct_full", "velocity", "slope"):
            assert designed[key] == analysed[key], (designed["id"], key)
    assert [n["hgl"] for n in result["nodes"]] == [n["hgl"] for n in analysis["nodes"]]
    again = rwt.design(text=result["sized"], format="rwproj", catalogue=CATALOGUE, profile=True, min_freeboard=0.5,
                       **OPTIONS)
    assert again["sized"] == result["sized"]
    assert [{k: v for k, v in r.items() if not k.startswith("given")} for r in again["pipes"]] == \
        [{k: v for k, v in r.items() if not k.startswith("given")} for r in result["pipes"]]
    # Its slopes satisfy every rule already: the plain design keeps its sizes.
    plain = rwt.design(text=result["sized"], format="rwproj", catalogue=CATALOGUE)
    assert [(r["rise"], r["span"]) for r in plain["pipes"]] == [(r["rise"], r["span"]) for r in result["pipes"]]


def test_max_slope_lowers_the_pipe_with_a_drop_and_the_outfall_reports_a_line_below_it():
    node = dict(x=0, y=0, invert=0, area_ac=1.0, c=0.7, tc_inlet=0, kind="inlet")
    project = {"name": "steep", "nodes": [
        dict(node, id="A", rim=130.0), dict(node, id="B", rim=110.0),
        dict(node, id="OUT", kind="outfall", invert=104.0, rim=106.0, area_ac=0, c=0)],
        "pipes": [{"id": "P1", "from": "A", "to": "B", "length": 200.0, "diameter": 1, "n": 0.013},
                  {"id": "P2", "from": "B", "to": "OUT", "length": 100.0, "diameter": 1, "n": 0.013}],
        "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0, "junction_k": 0.5}
    result = rwt.design(text=json.dumps(project), format="rwproj", profile=True, max_slope=0.05)
    p1, p2 = result["pipes"]
    assert p1["slope_governed_by"] == "maximum slope" and p1["cover_up"] > 3.0 and result["nodes"][0]["drop"] == 0
    assert p1["slope"] <= 0.05 and p1["cover_dn"] >= 3.0
    below = [v["message"] for v in result["violations"] if v["kind"] == "invert"]
    assert below == [f"pipe 'P2': the line reaches OUT at {round(p2['invert_dn'], 2):g} ft, "
                     f"{round(104.0 - p2['invert_dn'], 2):g} ft below its invert"]


def test_a_fixed_structure_keeps_its_invert():
    text, fmt = source("circular", "us", 3, "falling")
    result = rwt.design(text=text, format=fmt, profile=True, fixed_inverts=["N1"])
    given = json.loads(text)["nodes"][1]["invert"]
    assert result["nodes"][1]["invert"] == given
    assert all(r["invert_up"] == given for r in result["pipes"] if r["id"] == "P1")


@pytest.mark.parametrize("options, message", [
    ({"min_cover": -1.0}, "min_cover must be a number of 0 or more"),
    ({"min_drop": -0.1}, "min_drop must be a number of 0 or more"),
    ({"min_slope": 0.02, "max_slope": 0.01}, "min_slope 0.02 is above max_slope 0.01"),
    ({"match": "soffit"}, "unknown matching rule 'soffit'"),
    ({"fixed_inverts": ["NOPE"]}, "fixed structure 'NOPE' is not in the network"),
])
def test_bad_options_are_value_errors(options, message):
    text, fmt = source("circular", "us", 1, "falling")
    with pytest.raises(ValueError, match=message):
        rwt.design(text=text, format=fmt, profile=True, **options)


def test_the_command_prints_the_profile_and_rejects_a_bad_option_in_one_line(tmp_path, capsys):
    from rillwright_tools.cli import main

    path = tmp_path / "net.rwn"
    path.write_text(source("circular", "rwn", 5, "falling")[0])
    assert main(["design", str(path), "--profile", "--match", "0.8", "--min-slope", "0.002"]) in (0, 1)
    out = capsys.readouterr().out
    assert "Inv up" in out and "Cover dn" in out and (tmp_path / "net.sized.rwproj").exists()
    assert main(["design", str(path), "--profile", "--fixed-inverts", "NOPE"]) == 2
    assert capsys.readouterr().err.count("\n") == 1
    # "none" lifts a default limit: the cliff's fast pipes are then not named.
    path.write_text(line_network([300.0, 200.0, 100.0, 90.0], area=2.0))
    assert main(["design", str(path), "--profile"]) == 1 and "above the maximum 20 ft/s" in capsys.readouterr().out
    main(["design", str(path), "--profile", "--max-velocity", "none", "--max-depth", "None", "--min-slope", "none"])
    assert "ft/s is above" not in capsys.readouterr().out
    with pytest.raises(SystemExit):
        main(["design", str(path), "--profile", "--max-depth", "deep"])


def test_depth_and_drop_are_reported_not_forced():
    """The README's street: A2 takes a 2.07 ft drop from T1; every pipe lies over 1 ft deep."""
    from pathlib import Path

    path = Path(__file__).parent / "data" / "profile_street.rwn"
    plain = rwt.design(path, profile=True, min_slope=0.002)
    result = rwt.design(path, profile=True, min_slope=0.002, max_drop=1.0, max_depth=1.0)
    assert [(r["invert_up"], r["invert_dn"]) for r in result["pipes"]] == \
        [(r["invert_up"], r["invert_dn"]) for r in plain["pipes"]]
    drops = {v["id"] for v in result["violations"] if v["kind"] == "drop"}
    assert drops == {n["id"] for n in result["nodes"] if n["drop"] > 1.0} >= {"A2"}
    assert {v["id"] for v in result["violations"] if v["kind"] == "depth"} == {p["id"] for p in result["pipes"]}


@pytest.mark.parametrize("line, message", [("INTENSITY 4", "a fixed INTENSITY"), ("", "node 'N1''s inlet time")])
def test_a_rwn_network_a_project_cannot_hold_is_refused(line, message):
    text = source("circular", "rwn", 2, "falling")[0] + line + "\n"
    if not line:
        text = text.replace(" 8.0\n", " 0\n", 1)
    with pytest.raises(ValueError, match=message):
        rwt.design(text=text, format="rwn", profile=True)


# ---- Default limits, non-finite flows, duplicated ids -------------------------------

def line_network(rims, minslope="", area=1.0):
    """Inlets N1.. down to OUT 100 ft apart, on the given rims (the last is OUT's)."""
    lines = ["IDF 120 10 0.8", minslope]
    for k, rim in enumerate(rims[:-1], 1):
        lines.append(f"NODE N{k} inlet {100 * k} 0 0 {rim!r} {area!r} 0.7 8")
    lines.append(f"NODE OUT outfall {100 * len(rims)} 0 {rims[-1] - 40!r} {rims[-1]!r}")
    lines += [f"PIPE P{k} N{k} {f'N{k + 1}' if k + 1 < len(rims) else 'OUT'} 100 1 0.013" for k in range(1, len(rims))]
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("rims, minslope, option, kind", [
    ([100.0, 100.0, 100.0, 100.0], "", "min_slope", "slope"),           # flat street: laid at 0.001
    ([100.0, 100.0, 100.0, 100.0], "MINSLOPE 0.004", "min_slope", "slope"),  # the network's own min_slope
    ([100.0, 125.0, 150.0, 150.0], "", "max_depth", "depth"),           # climbing ground: deep trenches
    ([300.0, 200.0, 100.0, 90.0], "", "max_velocity", "velocity"),      # a cliff: fast water
])
def test_the_profile_holds_its_default_limits_or_names_the_pipe(rims, minslope, option, kind):
    # Small flows, which a flat pipe would carry; on the cliff, enough to run fast.
    text = line_network(rims, minslope, area=2.0 if kind == "velocity" else 0.05)
    result = rwt.design(text=text, format="rwn", profile=True)
    unlimited = rwt.design(text=text, format="rwn", profile=True, **{option: None})
    rim = dict(zip([f"N{k}" for k in range(1, len(rims))] + ["OUT"], rims))
    pipe_ends, _ = ends(text, "rwn")
    least = float(minslope.split()[1]) if minslope else 0.001
    for row in result["pipes"]:
        start, end = pipe_ends[row["id"]]
        depth = max(rim[start] - row["invert_up"], rim[end] - row["invert_dn"])
        assert (row["slope"] >= least and depth <= 20.0 and row["velocity"] <= 20.0) or named(result, kind, row["id"])
        if depth > 20.0:
            assert any(v["id"] == row["id"] and f"{depth:.2f}".rstrip("0") in v["message"] and "maximum 20 ft" in
                       v["message"] for v in result["violations"] if v["kind"] == "depth")
    # The limit set to None: not held (flat pipes), or no longer named.
    if option == "min_slope":
        assert all(row["slope"] >= least for row in result["pipes"])
        assert any(row["slope"] < least for row in unlimited["pipes"])
    else:
        assert any(v["kind"] == kind for v in result["violations"])
        assert not any(v["kind"] == kind for v in unlimited["violations"])


@pytest.mark.parametrize("seed", [3, 6])
@pytest.mark.parametrize("ground", ["falling", "rising"])
def test_a_design_is_unchanged_by_the_default_limits_exactly_when_it_meets_them(seed, ground):
    text, fmt = source("circular", "us", seed, ground)
    plain = rwt.design(text=text, format=fmt, profile=True, min_slope=None, max_depth=None, max_velocity=None)
    pipe_ends, rims = ends(text, fmt)
    meets = all(row["slope"] >= 0.001 and row["velocity"] <= 20.0 and
                max(rims[pipe_ends[row["id"]][0]] - row["invert_up"], rims[pipe_ends[row["id"]][1]] - row["invert_dn"])
                <= 20.0 for row in plain["pipes"])
    assert (rwt.design(text=text, format=fmt, profile=True) == plain) == meets


@pytest.mark.parametrize("area", [1e308, 1e300])
def test_a_flow_that_is_not_finite_is_named_and_writes_only_finite_inverts(area):
    text = line_network([110.0, 109.0, 108.0], area=area)
    result = rwt.design(text=text, format="rwn", profile=True)
    sized = json.loads(result["sized"])
    assert all(math.isfinite(p["invert_up"]) and math.isfinite(p["invert_dn"]) for p in sized["pipes"])
    assert all(math.isfinite(n["invert"]) for n in sized["nodes"])
    assert {v["id"] for v in result["violations"] if v["kind"] == "value"} == {"P1", "P2"}
    assert {v["id"] for v in result["violations"]} == {"P1", "P2"}  # nothing else said of them


@pytest.mark.parametrize("profile", [False, True])
def test_a_structure_id_given_twice_is_refused_by_name(profile):
    text = line_network([110.0, 109.0, 108.0]).replace("NODE N2 ", "NODE N1 ")
    with pytest.raises(ValueError, match="structure id 'N1' is used twice") as info:
        rwt.design(text=text, format="rwn", profile=profile)
    assert not isinstance(info.value, rwt.DesignOptionError)
