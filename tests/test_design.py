"""rwt.design and `rillwright design`: minimal sizes, exact agreement with the analysis of
the sized network, idempotence, grade-line rounds, bad options, the sized .rwn text."""
import json
import math
import random

import pytest

import rillwright as rw
import rillwright_tools as rwt
from rillwright_tools import _core
from rillwright_tools.cli import main

CATALOGUE = {
    "circular": [12, 15, 18, 21, 24, 30, 36, 42, 48, 60, 72],
    "box": [[12, 18], [12, 24], [18, 24], [18, 36], [24, 36], [24, 48], [36, 48], [48, 48], [48, 72]],
    "elliptical": [[14, 23], [19, 30], [24, 38], [29, 45], [38, 60], [48, 76], [58, 91]],
    "arch": [[13.5, 22], [18, 28.5], [26.625, 43.75], [36, 58.5], [45, 73], [62, 102]],
}


def network(seed, shape, count=25):
    """A random tree project (node 0 the outfall), every pipe typed in at a tiny size; the
    last pipe, which drains to the outfall, runs adverse."""
    rng = random.Random(seed)
    nodes = [{"id": "O", "kind": "outfall", "x": 0, "y": 0, "invert": 100.0, "rim": 110.0, "area_ac": 0,
              "c": 0, "tc_inlet": 0}]
    pipes = []
    for i in range(1, count):
        down = rng.randrange(max(0, i - 4), i) if i < count - 1 else 0
        length = rng.uniform(100, 400)
        slope = rng.uniform(0.001, 0.03) if i < count - 1 else -0.001
        invert = nodes[down]["invert"] + slope * length
        nodes.append({"id": f"N{i}", "kind": rng.choice(["inlet", "junction"]), "x": i * 10.0, "y": rng.uniform(0, 99),
                      "invert": invert, "rim": invert + rng.uniform(4, 12), "area_ac": rng.uniform(0.1, 3),
                      "c": rng.uniform(0.3, 0.9), "tc_inlet": rng.uniform(5, 15)})
        pipes.append({"id": f"P{i}", "from": f"N{i}", "to": nodes[down]["id"], "length": length, "diameter": 0.5,
                      "n": 0.013, "shape": shape, "rise_ft": 0.5, "span_ft": 0.75})
    return {"name": "gen", "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0, "junction_k": 0.5,
            "nodes": nodes, "pipes": pipes}


def as_rwn(project):
    lines = ["IDF 120 10 0.8"]
    for n in project["nodes"]:
        tail = "" if n["kind"] == "outfall" else f" {n['area_ac']!r} {n['c']!r} {n['tc_inlet']!r}"
        lines.append(f"NODE {n['id']} {n['kind']} {n['x']!r} {n['y']!r} {n['invert']!r} {n['rim']!r}{tail}")
    lines += [f"PIPE {p['id']} {p['from']} {p['to']} {p['length']!r} {p['diameter']!r} 0.013" for p in project["pipes"]]
    return "\n".join(lines) + "\n"


CASES = [("circular", "rwn"), ("circular", "us"), ("box", "us"), ("elliptical", "us"), ("arch", "us"),
         ("elliptical", "si"), ("box", "si")]


def source(shape, form, seed):
    project = network(seed, shape)
    if form == "rwn":
        return as_rwn(project), "rwn"
    if form == "si":
        project.update(units="si", idf_a=120 * 25.4)
    return json.dumps(project), "rwproj"


def analyse(text, fmt):
    return rw.analyze_rwn(text) if fmt == "rwn" else rw.analyze_project(text)


def step_of(row, sizes):
    """The catalogue index of a designed pipe's size (sizes in inches)."""
    for k, size in enumerate(sizes):
        rise, span = (size, size) if isinstance(size, (int, float)) else size
        if math.isclose(row["rise"] * 12, rise, rel_tol=1e-9) and math.isclose(row["span"] * 12, span, rel_tol=1e-9):
            return k
    raise AssertionError(f"{row['id']}: size {row['rise']} ft is not in the catalogue")


def written(inches, form):
    return inches * 254.0 / 10000.0 if form == "si" else inches / 12


@pytest.mark.parametrize("max_fill", [1.0, 0.8])
@pytest.mark.parametrize("shape, form", CASES)
def test_sizes_are_minimal_and_the_sized_network_analyses_to_the_design(shape, form, max_fill):
    text, fmt = source(shape, form, seed=hash((shape, form)) % 1000)
    result = rwt.design(text=text, format=fmt, catalogue=CATALOGUE, max_fill=max_fill)
    analysis = analyse(result["sized"], fmt)

    # Consistency: the analysis of the sized network repeats the design bit for bit.
    for designed, analysed in zip(result["pipes"], analysis["pipes"]):
        for key in ("design_q", "capacity", "pct_full", "velocity"):
            assert designed[key] == analysed[key] or (math.isnan(designed[key]) and math.isnan(analysed[key]))
    assert [n["hgl"] for n in result["nodes"]] == [n["hgl"] for n in analysis["nodes"]]
    assert [n["freeboard"] for n in result["nodes"]] == [n["freeboard"] for n in analysis["nodes"]]

    # Minimality: one step smaller fails the criterion with the pipe's flow and slope. A
    # pipe's capacity depends on its own size only, so all of them are checked at once.
    sizes = CATALOGUE[shape]
    smaller = json.loads(text) if fmt == "rwproj" else None
    rwn_lines = result["sized"].splitlines() if fmt == "rwn" else None
    checked = []
    for k, row in enumerate(result["pipes"]):
        assert row["design_q"] <= max_fill * row["capacity"] or row["governed_by"] == "no size fits"
        if row["governed_by"] != "capacity" or step_of(row, sizes) == 0:
            continue
        step = step_of(row, sizes)
        size = sizes[step - 1]
        rise, span = (size, size) if shape == "circular" else size
        if fmt == "rwn":
            index = next(i for i, line in enumerate(rwn_lines) if line.startswith(f"PIPE {row['id']} "))
            parts = rwn_lines[index].split()
            parts[5] = repr(written(rise, form))
            rwn_lines[index] = " ".join(parts)
        else:
            pipe = smaller["pipes"][k]
            pipe.update(diameter=written(rise, form), rise_ft=written(rise, form), span_ft=written(span, form))
        checked.append(k)
    assert len(checked) >= 5
    one_smaller = analyse("\n".join(rwn_lines) if fmt == "rwn" else json.dumps(smaller), fmt)
    for k in checked:
        assert result["pipes"][k]["design_q"] > max_fill * one_smaller["pipes"][k]["capacity"]

    # Flat and adverse pipes, which no size makes carry their flow, keep their given size
    # with a violation that says what to do.
    flat = [row for row, a in zip(result["pipes"], analysis["pipes"]) if a["slope"] <= 0.0]
    assert flat and all(row["governed_by"] == "no size fits" and row["rise"] == row["given_rise"] for row in flat)
    messages = {v["id"]: v["message"] for v in result["violations"] if v["kind"] == "size"}
    assert all("fix its inverts or use profile design" in messages[row["id"]] for row in flat)

    # Idempotence: sizing the sized network changes nothing.
    again = rwt.design(text=result["sized"], format=fmt, catalogue=CATALOGUE, max_fill=max_fill)
    assert again["sized"] == result["sized"]
    assert [(p["rise"], p["span"], p["governed_by"]) for p in again["pipes"]] == \
        [(p["rise"], p["span"], p["governed_by"]) for p in result["pipes"]]


SMALL = """\
# Four inlets to one outfall, every pipe typed in at 12 in.
IDF 120 10 0.8

NODE N1  inlet    0   0   106.0 112.0  2.5 0.7
NODE N2  inlet    300 0   104.5 110.5  3.0 0.6
NODE N3  inlet    300 250 105.0 110.0  1.8 0.8
NODE N4  junction 600 0   103.0 108.0  0.5 0.9
NODE OUT outfall  900 0   101.5 106.0
{tailwater}
PIPE P1 N1 N2  300 1.0 0.013   # main line
PIPE P2 N2 N4  300 1.0 0.013
pipe  P3 N3 N4  390 1.00 0.013   # branch, spelled its own way
PIPE P4 N4 OUT 300 1.0 0.013
"""


def test_sized_rwn_changes_only_the_diameters_of_resized_pipes():
    text = SMALL.format(tailwater="")
    result = rwt.design(text=text, format="rwn", fixed=["P2"])
    changed = [(old, new) for old, new in zip(text.splitlines(), result["sized"].splitlines()) if old != new]
    assert len(result["sized"].splitlines()) == len(text.splitlines())
    assert [old.split()[1] for old, _ in changed] == ["P1", "P3", "P4"]
    for old, new in changed:
        a, b = old.split(), new.split()
        assert a[:5] + a[6:] == b[:5] + b[6:] and old.replace(a[5], b[5], 1) == new
    assert [p["governed_by"] for p in result["pipes"]] == ["capacity", "fixed", "capacity", "capacity"]
    assert [(v["kind"], v["id"]) for v in result["violations"]] == [("size", "P2")]
    assert "kept at its given size, its 37.5" in result["violations"][0]["message"]


def test_bounds_govern_and_uncatalogued_shapes_stay():
    text = SMALL.format(tailwater="")
    result = rwt.design(text=text, format="rwn", min_size=33, catalogue={"circular": CATALOGUE["circular"]})
    assert [p["governed_by"] for p in result["pipes"]] == ["minimum size", "capacity", "minimum size", "capacity"]
    # P3 carries its flow at 24 in, but the 3 ft arch P2 enters its upstream node.
    project = json.loads(rw.demo_project_json())
    project["pipes"][0]["diameter"] = 5.0
    project["pipes"][1].update(shape="arch", rise_ft=3.0, span_ft=4.0)
    result = rwt.design(text=json.dumps(project), format="rwproj", fixed=["P1"],
                        catalogue={"circular": [12, 15, 18, 24, 36, 48, 60, 72]})
    assert [p["governed_by"] for p in result["pipes"]] == ["fixed", "no size fits", "no smaller downstream"]
    assert [v["kind"] for v in result["violations"]] == ["size"]
    assert "no arch sizes" in result["violations"][0]["message"]
    assert result["pipes"][2]["rise"] == 3.0


def test_freeboard_rounds_fix_a_structure_and_report_one_they_cannot():
    text = SMALL.format(tailwater="")
    plain = rwt.design(text=text, format="rwn")
    short = [n["id"] for n in plain["nodes"] if n["id"] != "OUT" and n["freeboard"] < 3.0]
    assert short and plain["rounds"] == 0
    fixed = rwt.design(text=text, format="rwn", min_freeboard=3.0)
    assert fixed["rounds"] >= 1 and fixed["violations"] == []
    assert all(n["freeboard"] >= 3.0 for n in fixed["nodes"] if n["id"] != "OUT")
    assert "freeboard" in {p["governed_by"] for p in fixed["pipes"]}
    assert all(b["rise"] >= a["rise"] for a, b in zip(plain["pipes"], fixed["pipes"]))  # sizes only grow

    # A tailwater above every rim and every crown leaves all short whatever the sizes.
    drowned = rwt.design(text=SMALL.format(tailwater="TAILWATER 120"), format="rwn", min_freeboard=3.0,
                         catalogue={"circular": CATALOGUE["circular"]})
    assert all(v["kind"] == "freeboard" and "water level at 'OUT' (120 ft)" in v["message"]
               for v in drowned["violations"])
    assert {v["id"] for v in drowned["violations"]} == {"N1", "N2", "N3", "N4"}
    stuck = rwt.design(text=text, format="rwn", min_freeboard=3.0, fixed=["P1", "P2", "P3", "P4"])
    as_given = rw.analyze_rwn(text)["nodes"]
    short_ones = [v for v in stuck["violations"] if v["kind"] == "freeboard"]
    assert {v["id"] for v in short_ones} == {n["id"] for n in as_given[:4] if n["freeboard"] < 3.0}
    assert all("fixed or at its largest" in v["message"] for v in short_ones)


@pytest.mark.parametrize("shape", ["circular", "arch"])
def test_rounds_part_by_part_size_as_rounds_on_the_whole_network(shape):
    """Separate trees go through their grade-line rounds one by one; the result must be
    that of the plain rounds on the whole network, byte for byte."""
    forest = {"nodes": [], "pipes": []}
    for seed in range(4):
        tree = network(seed, shape, count=15 + 5 * seed)
        rename = {n["id"]: f"T{seed}{n['id']}" for n in tree["nodes"]}
        forest["nodes"] += [dict(n, id=rename[n["id"]]) for n in tree["nodes"]]
        forest["pipes"] += [dict(p, id=f"T{seed}{p['id']}", **{"from": rename[p["from"]], "to": rename[p["to"]]})
                            for p in tree["pipes"]]
    text = json.dumps(dict(network(0, shape), **forest))
    args = (text, "rwproj", None, 1.0, None, True, None, None, None, 4.0, [])
    by_part = _core.design(*args)
    assert json.loads(by_part)["rounds"] > 0
    assert by_part == _core.design(*args, whole_network=True)


def full_capacity(diameter, n, slope):
    area = math.pi * diameter * diameter / 4
    return 1.486 / n * area * (diameter / 4) ** (2.0 / 3.0) * math.sqrt(slope)


@pytest.mark.parametrize("setting, b_invert", [("", 100.5), ("MINSLOPE 0", 100.0)])  # adverse; flat, credited nothing
def test_a_pipe_no_size_can_make_carry_keeps_its_size_and_pushes_none_downstream(setting, b_invert):
    text = "\n".join(["IDF 120 10 0.8", setting, "NODE A inlet 0 0 100 108 6 0.9",
                      f"NODE B junction 100 0 {b_invert} 108 0.1 0.5", "NODE C junction 200 0 99 107 0.1 0.5",
                      "NODE OUT outfall 300 0 98 106", "PIPE P1 A B 100 1.5 0.013", "PIPE P2 B C 100 1 0.013",
                      "PIPE P3 C OUT 100 1 0.013"]) + "\n"
    result = rwt.design(text=text, format="rwn", catalogue=CATALOGUE)
    rows = {row["id"]: row for row in result["pipes"]}
    assert rows["P1"]["rise"] == 1.5 and rows["P1"]["governed_by"] == "no size fits"
    [violation] = result["violations"]
    assert violation["id"] == "P1" and violation["message"].endswith("fix its inverts or use profile design")
    # Below it, each pipe is the smallest circle whose full capacity carries its own flow.
    slopes = {"P2": (b_invert - 99) / 100, "P3": 0.01}
    for pipe, slope in slopes.items():
        fits = [d for d in CATALOGUE["circular"] if full_capacity(d / 12, 0.013, slope) >= rows[pipe]["design_q"]]
        assert rows[pipe]["rise"] * 12 == fits[0] < CATALOGUE["circular"][-1]
    assert "PIPE P1 A B 100 1.5 0.013" in result["sized"]


def test_checks_are_reported_not_forced():
    result = rwt.design(text=SMALL.format(tailwater=""), format="rwn", min_velocity=6.0, max_velocity=8.0,
                        min_cover=4.0)
    plain = rwt.design(text=SMALL.format(tailwater=""), format="rwn")
    assert result["pipes"] == plain["pipes"]
    kinds = {(v["kind"], v["id"]) for v in result["violations"]}
    assert {("velocity", p["id"]) for p in plain["pipes"] if not 6.0 <= p["velocity"] <= 8.0} == \
        {k for k in kinds if k[0] == "velocity"}
    assert ("cover", "P4") in kinds  # 42 in under a 4.5 ft deep outfall


@pytest.mark.parametrize("options, message", [
    ({"catalogue": {"egg": [12]}}, "unknown catalogue shape 'egg'"),
    ({"catalogue": {"circular": []}}, "catalogue 'circular' has no sizes"),
    ({"catalogue": {"circular": [12, 18, 15]}}, "not sorted by full area: size 3 (15 in) comes after 18 in"),
    ({"catalogue": {"box": [[24, 36], [24, 36]]}}, "lists 24 x 36 in twice"),
    ({"catalogue": {"box": [24, 36]}}, "catalogue 'box' size 1 must be a [rise, span] pair"),
    ({"catalogue": {"circular": [12, -15]}}, "size 2 must be positive and finite"),
    ({"min_size": -1}, "min_size must be a number of 0 or more, not -1"),
    ({"min_freeboard": math.nan}, "min_freeboard must be a number of 0 or more"),
    ({"max_fill": 0}, "max_fill must be above 0 and at most 1, not 0"),
    ({"min_velocity": 5, "max_velocity": 3}, "min_velocity 5 is above max_velocity 3"),
    ({"fixed": ["P9"]}, "fixed pipe 'P9' is not in the network"),
])
def test_bad_options_are_value_errors_and_exit_2(tmp_path, capsys, options, message):
    text = SMALL.format(tailwater="")
    with pytest.raises(ValueError, match=message.replace("[", r"\[").replace("(", r"\(").replace(")", r"\)")):
        rwt.design(text=text, format="rwn", **options)
    path = tmp_path / "net.rwn"
    path.write_text(text, encoding="utf-8")
    args = ["design", str(path)]
    if "catalogue" in options:
        (tmp_path / "cat.json").write_text(json.dumps(options["catalogue"]), encoding="utf-8")
        args += ["--catalogue", str(tmp_path / "cat.json")]
    for key, value in options.items():
        if key != "catalogue":
            args += [f"--{key.replace('_', '-')}", ",".join(value) if key == "fixed" else str(value)]
    assert main(args) == 2
    out, err = capsys.readouterr()
    assert out == "" and err.count("\n") == 1 and err.startswith("rillwright: error: ") and message in err
    assert not (tmp_path / "net.sized.rwn").exists()


def test_wrong_types_are_type_errors():
    text = SMALL.format(tailwater="")
    for options in ({"catalogue": [12]}, {"catalogue": {"circular": ["12"]}}, {"fixed": "P1"},
                    {"no_smaller_downstream": 1}, {"max_fill": "1"}):
        with pytest.raises(TypeError):
            rwt.design(text=text, format="rwn", **options)


def test_command_prints_the_table_writes_the_sized_file_and_exits_by_violations(tmp_path, capsys):
    path = tmp_path / "net.rwn"
    path.write_text(SMALL.format(tailwater=""), encoding="utf-8")
    assert main(["design", str(path), "--csv", str(tmp_path / "csv")]) == 0
    out, _ = capsys.readouterr()
    assert "P1    circular  12 -> 27" in out and "No violations." in out
    sized = (tmp_path / "net.sized.rwn").read_text(encoding="utf-8")
    assert sized == rwt.design(path)["sized"]
    assert (tmp_path / "csv" / "pipes.csv").read_text().startswith("id,shape,given_rise")
    assert main(["design", str(path), "-o", str(tmp_path / "out.rwn"), "--max-velocity", "7"]) == 1
    out, _ = capsys.readouterr()
    assert "Violations (2)" in out and "velocity" in out
