"""Level of service, scenario sweeps and where they run: crossings against a fine scan,
scenarios against the module's own analyses, executors against each other."""

import concurrent.futures
import csv
import importlib.util
import io
import json
import math
import os
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import rillwright

import rillwright_tools as rwt
from rillwright_tools import _core, executors, service
from rillwright_tools.commands.service import progress_line
from rillwright_tools.executors import InlineExecutor
import interchange_networks
from test_cli import cli

DEMO = rillwright.demo_project_json()
INLINE = InlineExecutor()


def generated(pipes, seed):
    """A random dendritic network whose pipes run from comfortable to undersized."""
    rng = random.Random(seed)
    lines = ["IDF 120 10 0.8"]
    inverts = [100.0]
    lines.append("NODE N0 outfall 0 0 100 108")
    for i in range(1, pipes + 1):
        parent = rng.randrange(max(0, i - 4), i)
        length, slope = rng.uniform(150, 400), rng.uniform(0.003, 0.03)
        inverts.append(inverts[parent] + length * slope)
        lines.append(f"NODE N{i} inlet 0 0 {inverts[i]:.3f} {inverts[i] + rng.uniform(4, 9):.3f} "
                     f"{rng.uniform(0.3, 2.5):.2f} 0.6")
        lines.append(f"PIPE P{i} N{i} N{parent} {length:.1f} {rng.choice([1.0, 1.25, 1.5, 2.0])} 0.013")
    return "\n".join(lines) + "\n"


def flags(text, fmt, multiplier, trees=None):
    """Whether each condition holds, straight from the analysis' result dicts, in the order
    nodes (flooding), pipes (surcharged), pipes (grade line above the crown at either end)."""
    result = _core.analyze(text, fmt, multiplier, None, trees)
    network = json.loads(_core.network_records(text, fmt))
    invert = {n["id"]: n["invert"] for n in network["nodes"]}
    held = [n["floods"] for n in result["nodes"]] + [p["surcharged"] for p in result["pipes"]]
    for pipe, record in zip(result["pipes"], network["pipes"]):
        ends = [(pipe["hgl_up"], record["invert_up"], record["from"]), (pipe["hgl_dn"], record["invert_dn"], record["to"])]
        held.append(any(h is not None and h > (own if own is not None else invert[node]) + record["rise"]
                        for h, own, node in ends))
    return held


def brackets(network, result):
    """(low, high) of every condition in flags' order; outfalls (no row) as None."""
    rows = iter(result["nodes"])
    out = [None if n["kind"] == "outfall" else (lambda r: (r["flood_multiplier_low"], r["flood_multiplier"]))(next(rows))
           for n in network["nodes"]]
    for kind in ("surcharge", "pressurized"):
        out += [(p[kind + "_multiplier_low"], p[kind + "_multiplier"]) for p in result["pipes"]]
    return out


def two_trees(text):
    """The project twice over, the copy's ids primed and its areas larger: two trees that
    never meet."""
    project = json.loads(text)
    for key in ("nodes", "pipes"):
        project[key] += [dict(e, id=e["id"] + "'") for e in project[key]]
    for node in project["nodes"][len(project["nodes"]) // 2:]:
        node["area_ac"] *= 1.7
    for pipe in project["pipes"][len(project["pipes"]) // 2:]:
        pipe["from"], pipe["to"] = pipe["from"] + "'", pipe["to"] + "'"
    return json.dumps(project)


TOLERANCE = 0.05


def shaped(units, curves):
    text = interchange_networks.generated(12, seed=5, units=units)
    if units == "si":  # sections and rainfall in metres and millimetres, about as large as in US units
        project = json.loads(text)
        project["idf_a"] *= 25.4
        for pipe in project["pipes"]:
            for key in ("diameter", "rise_ft", "span_ft"):
                if key in pipe:
                    pipe[key] = round(pipe[key] * 0.3048, 4)
        text = json.dumps(project)
    return with_curves(text, [(2, 80.0), (10, 120.0), (100, 190.0)]) if curves else text


def check_brackets(text, fmt, result, top=10.0, closed=True):
    """Every bracket by two analyses: the condition holds at hi and not at lo (nor at any
    grid multiplier below lo); a closed search leaves them one tolerance wide."""
    network = json.loads(_core.network_records(text, fmt))
    found = brackets(network, result)
    _, grid = _core.service_plan(text, fmt, top, TOLERANCE)
    held = {m: flags(text, fmt, m) for m in sorted({m for b in found if b and b[1] is not None for m in b} | set(grid))}
    for j, bracket in enumerate(found):
        if bracket is None:
            continue
        low, high = bracket
        if high is None:
            assert low is None and not any(held[m][j] for m in grid)
            continue
        assert held[high][j] and (high == 0.0 or not held[low][j]) and low <= high
        assert not any(held[m][j] for m in grid if m < low)
        if low == 0.0:
            assert high <= top / 1000 or high == 1.0
        elif closed:
            assert high <= (1 + TOLERANCE) * low
    return found, grid


@pytest.mark.parametrize("case", ["demo", "rwn8-0", "rwn8-1", "rwn20", "us", "si", "us-curves", "si-curves",
                                  "two-trees"])
def test_every_bracket_is_checked_by_two_analyses(case):
    text, fmt = {"demo": (DEMO, "rwproj"), "rwn8-0": (generated(8, 0), "rwn"), "rwn8-1": (generated(8, 1), "rwn"),
                 "rwn20": (generated(20, 2), "rwn"), "us": (shaped("us_customary", False), "rwproj"),
                 "si": (shaped("si", False), "rwproj"), "us-curves": (shaped("us_customary", True), "rwproj"),
                 "si-curves": (shaped("si", True), "rwproj"),
                 "two-trees": (two_trees(shaped("us_customary", False)), "rwproj")}[case]
    result = rwt.level_of_service(text=text, format=fmt, tolerance=TOLERANCE, executor=INLINE)
    found, grid = check_brackets(text, fmt, result)
    assert any(b and b[1] is not None for b in found)
    # No tailwater and no pipe climbing downstream: with no rain nothing floods.
    assert all(node["flood_multiplier"] != 0.0 for node in result["nodes"])
    # Never more than a plain scan of the lattice, with 0, 1 and the return periods.
    assert result["analyses"] <= math.ceil(math.log(1000) / math.log1p(TOLERANCE)) + 3 + 3


def test_a_limit_stops_the_search_with_honest_brackets():
    text = generated(20, 2)
    full = rwt.level_of_service(text=text, format="rwn", tolerance=TOLERANCE, executor=INLINE)
    seen = []
    cut = rwt.level_of_service(text=text, format="rwn", tolerance=TOLERANCE, max_analyses=40, executor=INLINE,
                               progress=lambda used, still_open: seen.append((used, still_open)))
    assert cut["analyses"] == 40 < full["analyses"] and seen[0][0] == 30 and seen[-1][1] > 0
    check_brackets(text, "rwn", cut, closed=False)


def test_separate_trees_are_analysed_on_their_own_bit_for_bit():
    text = two_trees(shaped("us_customary", False))
    plan, _ = _core.service_plan(text, "rwproj", 10.0, TOLERANCE)
    node_trees, pipe_trees = _core.service_trees(plan)
    assert sorted(set(node_trees)) == [0, 1] and pipe_trees == sorted(pipe_trees)
    for m in (0.0, 1.0, 3.7):
        whole = _core.analyze(text, "rwproj", m)
        for tree in (0, 1):
            part = _core.analyze(text, "rwproj", m, None, [tree])
            for key, trees in (("nodes", node_trees), ("pipes", pipe_trees)):
                assert part[key] == [row for row, t in zip(whole[key], trees) if t == tree]
    # Rounds run only the trees whose brackets take their multiplier.
    result = rwt.level_of_service(text=text, format="rwproj", tolerance=TOLERANCE, executor=INLINE)
    assert result["pipe_analyses"] < result["analyses"] * len(pipe_trees)


FLOODING_RWN = """\
IDF 120 10 0.8
TAILWATER {tailwater}
NODE A   inlet    0   0 100.0 101.0 {area} 0.9
NODE B   inlet    0  50 100.5 108.0 0.5 0.5 5
NODE J   junction 100 0 99.0 106.0 0.2 0.5
NODE OUT outfall  200 0 98.0 104.0
PIPE PA A J 100 0.5 0.013
PIPE PB B J 150 1.0 0.013
PIPE PJ J OUT 100 2.0 0.013
"""


def test_flooding_at_the_design_storm_and_with_no_rain():
    text = FLOODING_RWN.format(tailwater=98.5, area=20)
    design = {n["id"]: n for n in rillwright.analyze_rwn(text)["nodes"]}
    result = rwt.level_of_service(text=text, format="rwn", executor=INLINE)
    assert [n["id"] for n in result["nodes"]] == ["A", "B", "J"]
    for node in result["nodes"]:
        assert node["freeboard"] == design[node["id"]]["freeboard"]
        if design[node["id"]]["floods"]:
            assert 0.0 < node["flood_multiplier"] <= 1.0
    assert any(design[n]["floods"] for n in design)

    dry = rwt.level_of_service(text=FLOODING_RWN.format(tailwater=98.5, area=0).replace(" 0.5 0.5 5", " 0 0.5 5")
                               .replace("0.2 0.5", "0 0.5"), format="rwn", executor=INLINE)
    assert all(n["flood_multiplier"] is None for n in dry["nodes"])
    assert all(p["surcharge_multiplier"] is None for p in dry["pipes"])
    # Nothing beyond max_multiplier counts, not even the design storm.
    low = rwt.level_of_service(text=text, format="rwn", max_multiplier=0.2, tolerance=TOLERANCE, executor=INLINE)
    assert all(r["flood_multiplier"] is None or r["flood_multiplier"] <= 0.2 for r in low["nodes"])
    assert any(r["flood_multiplier"] is None for r in low["nodes"])
    # A tailwater above a rim floods that structure with no rain at all.
    drowned = rwt.level_of_service(text=FLOODING_RWN.format(tailwater=101.5, area=20), format="rwn", executor=INLINE)
    assert drowned["nodes"][0]["flood_multiplier"] == 0.0


@st.composite
def climbing_trees(draw):
    """A small tree without tailwater whose structures sit at any level, so that many pipes
    climb (dry, an outlet invert at or above the water of their downstream structure)."""
    count = draw(st.integers(1, 6))
    level = st.floats(95.0, 115.0, allow_nan=False)
    lines = ["IDF 120 10 0.8", f"NODE N0 outfall 0 0 {draw(level)!r} 120"]
    for i in range(1, count + 1):
        invert, depth = draw(level), draw(st.floats(0.5, 6.0))
        lines.append(f"NODE N{i} inlet {10 * i} 0 {invert!r} {invert + depth!r} {draw(st.floats(0.0, 5.0))!r} 0.7")
        lines.append(f"PIPE P{i} N{i} N{draw(st.integers(0, i - 1))} 100 {draw(st.sampled_from([1.0, 2.0]))} 0.013")
    return "\n".join(lines) + "\n"


@settings(max_examples=25, deadline=None)
@given(climbing_trees())
def test_without_rain_nothing_floods(text):
    assert not any(n["floods"] for n in _core.analyze(text, "rwn", 0.0)["nodes"])
    result = rwt.level_of_service(text=text, format="rwn", max_analyses=30, executor=INLINE)
    assert all(node["flood_multiplier"] != 0.0 for node in result["nodes"])


@pytest.mark.parametrize("multiplier", [0.0, 0.5, 1.0, 2.5])
@pytest.mark.parametrize("fixed", [False, True])
def test_the_multiplier_scales_the_rainfall(multiplier, fixed):
    """The scaled scenario is the module's analysis of the network with the IDF coefficient
    a (or the fixed intensity) multiplied, everything else recomputed."""
    base = FLOODING_RWN.format(tailwater=98.5, area=20)
    if fixed:
        base = base.replace("IDF 120 10 0.8", "INTENSITY 6.5")
    scaled = base.replace("IDF 120 ", f"IDF {120 * multiplier!r} ").replace("INTENSITY 6.5",
                                                                          f"INTENSITY {6.5 * multiplier!r}")
    assert _core.analyze(base, "rwn", multiplier) == rillwright.analyze_rwn(scaled)
    assert _core.analyze(DEMO, "rwproj") == rillwright.analyze_project(DEMO)


def with_curves(project_text, curves):
    project = json.loads(project_text)
    project["idf_curves"] = [{"rp_years": rp, "a": a, "b": 10.0, "c": 0.8} for rp, a in curves]
    return json.dumps(project)


@pytest.mark.parametrize("curves", [[], [(2, 80.0), (10, 120.0), (100, 190.0)]])
def test_the_sweep_reproduces_each_return_period(curves):
    text = with_curves(DEMO, curves)
    periods = [2, 10, 25, 100]
    rows = rwt.sweep(text=text, format="rwproj", return_periods=periods, multipliers=[1.0, 1.2], executor=INLINE)
    assert all(list(row) == list(rwt.service.SWEEP_KEYS) for row in rows)
    for period in periods:
        project = json.loads(text)
        project["design_return_period_years"] = period
        expected = rillwright.analyze_project(json.dumps(project))
        mine = [row for row in rows if row["scenario"] == f"T{period} x1"]
        pipes = [{k: row[k] for k in expected["pipes"][0]} for row in mine if row["element"] == "pipe"]
        nodes = [{k: row[k] for k in expected["nodes"][0]} for row in mine if row["element"] == "node"]
        assert (pipes, nodes) == (expected["pipes"], expected["nodes"])
        assert all(row["return_period"] == period and row["multiplier"] == 1.0 for row in mine)
    assert len(rows) == len(periods) * 2 * (3 + 4)


def test_return_periods_of_the_tabulated_curves():
    text = with_curves(DEMO.replace('"rim": 110.0', '"rim": 106.5'), [(2, 60.0), (10, 120.0), (100, 260.0)])
    result = rwt.level_of_service(text=text, format="rwproj", executor=INLINE)
    by_period = {}
    for period in (2, 10, 100):
        project = json.loads(text)
        project["design_return_period_years"] = period
        by_period[period] = rillwright.analyze_project(json.dumps(project))
    for i, node in enumerate(result["nodes"]):
        expected = next((t for t in (2, 10, 100) if by_period[t]["nodes"][i]["floods"]), None)
        assert node["flood_return_period"] == expected
    for i, pipe in enumerate(result["pipes"]):
        expected = next((t for t in (2, 10, 100) if by_period[t]["pipes"][i]["surcharged"]), None)
        assert pipe["surcharge_return_period"] == expected
    assert any(n["flood_return_period"] for n in result["nodes"])
    assert rwt.level_of_service(text=FLOODING_RWN.format(tailwater=98.5, area=1), format="rwn",
                                executor=INLINE)["nodes"][0]["flood_return_period"] is None


@pytest.mark.parametrize("call, error", [
    (lambda: _core.analyze("NODE A outfall 0 0 1 2\n", "rwn", 1.0, 10), "a return period needs a project"),
    (lambda: _core.analyze(DEMO, "rwproj", -1.0), "multiplier must be a finite number"),
    (lambda: rwt.level_of_service(text=DEMO, format="rwproj", max_multiplier=0), "max_multiplier must be"),
    (lambda: rwt.level_of_service(text=DEMO, format="rwproj", tolerance=math.inf), "tolerance must be a finite"),
    (lambda: rwt.level_of_service(text=DEMO, format="rwproj", tolerance=0.0), "tolerance must be a finite"),
    (lambda: rwt.level_of_service(text=DEMO, format="rwproj", tolerance=1e-9), "tolerance must be at least"),
    (lambda: rwt.level_of_service(text=DEMO, format="rwproj", max_analyses=0), "max_analyses must be at least 1"),
    (lambda: rwt.level_of_service(text=DEMO, format="rwproj", max_analyses=10), "max_analyses must be at least 30"),
    (lambda: rwt.sweep(text=DEMO, format="rwproj", multipliers=[math.nan]), "multipliers must be finite"),
])
def test_bad_scenarios_are_value_errors(call, error):
    with pytest.raises(ValueError, match=error):
        call()


@pytest.mark.parametrize("keyword, value", [("tolerance", "0.01"), ("tolerance", True), ("max_analyses", 50.0),
                                            ("max_analyses", True)])
def test_arguments_of_the_wrong_type_are_type_errors(keyword, value):
    with pytest.raises(TypeError, match=keyword):
        rwt.level_of_service(text=DEMO, format="rwproj", executor=INLINE, **{keyword: value})


def test_results_do_not_depend_on_the_executor():
    text = generated(10, 7)
    inline = rwt.level_of_service(text=text, format="rwn", executor=INLINE)
    with concurrent.futures.ProcessPoolExecutor(max_workers=2) as pool:
        assert rwt.level_of_service(text=text, format="rwn", executor=pool) == inline
        assert rwt.sweep(text=text, format="rwn", multipliers=[0.5, 2], executor=pool) == \
            rwt.sweep(text=text, format="rwn", multipliers=[0.5, 2], executor=INLINE)


def test_the_service_command(tmp_path, capsys):
    path = tmp_path / "flooding.rwn"
    path.write_text(FLOODING_RWN.format(tailwater=98.5, area=20), encoding="utf-8")
    code, out, err = cli(capsys, "service", path, "--workers", "1", "--csv", tmp_path / "out")
    assert (code, err) == (0, "")
    result = rwt.level_of_service(path, executor=INLINE)
    ranked = sorted(result["nodes"], key=lambda n: (math.inf if n["flood_multiplier"] is None
                                                    else n["flood_multiplier"], n["freeboard"]))
    listed = [line.split()[:2] for line in out.splitlines()[6:]]
    assert [name for name, _ in listed] == [n["id"] for n in ranked]
    for (_, shown), node in zip(listed, ranked):  # "0.239–0.241": both ends, told apart
        low, high = shown.split("\u2013")
        assert low != high and float(high) == pytest.approx(node["flood_multiplier"], rel=0.01)
    with open(tmp_path / "out" / "service_nodes.csv", encoding="utf-8") as handle:
        rows = list(csv.DictReader(handle))
    assert [r["id"] for r in rows] == ["A", "B", "J"] and float(rows[0]["freeboard"]) == result["nodes"][0]["freeboard"]
    assert [(float(r["flood_multiplier_low"]), float(r["flood_multiplier"])) for r in rows] == \
        [(n["flood_multiplier_low"], n["flood_multiplier"]) for n in result["nodes"]]
    code, out, err = cli(capsys, "service", path, "--workers", "1", "--tolerance", "0.05", "--max-analyses", "31")
    assert (code, err) == (0, "") and "31 analyses" in out
    assert cli(capsys, "service", path, "--tolerance", "0")[0] == 2
    shown = io.StringIO()
    line = progress_line(shown)
    line(30, 12)
    line(41, 0)
    assert shown.getvalue().split("\r")[1:] == ["round 1: 30 analyses, 12 brackets open   ",
                                                "round 2: 41 analyses, 0 brackets open   "]
    assert cli(capsys, "service", path, "--max-multiplier", "0")[0] == 2
    drawn = cli(capsys, "service", path, "--workers", "1", "--plan", tmp_path / "plan.png")
    if importlib.util.find_spec("rillwright_tools.drawing.plan") is None:
        assert drawn == (1, "", "rillwright: error: the plan view is not available in this installation\n")
    else:
        assert drawn[0] == 0 and (tmp_path / "plan.png").stat().st_size > 0


@pytest.mark.skipif(bool(os.environ.get("RILLWRIGHT_SANITIZE")), reason="Dask under the sanitizer is too slow")
def test_a_dask_cluster_gives_the_local_results(tmp_path, capsys, monkeypatch):
    distributed = pytest.importorskip("distributed")
    paths = []
    for index, text in enumerate([DEMO, with_curves(DEMO, [(10, 150.0)])]):
        paths.append(tmp_path / f"p{index}.rwproj")
        paths[-1].write_text(text, encoding="utf-8")
    local = [cli(capsys, "batch", *paths, "--workers", "1"), cli(capsys, "service", paths[1], "--workers", "1")]
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False, host="127.0.0.1",
                                  protocol="tcp://", dashboard_address=None) as cluster:
        address = cluster.scheduler_address
        assert address.startswith("tcp://127.0.0.1:")
        remote = [cli(capsys, "batch", *paths, "--scheduler", address),
                  cli(capsys, "service", paths[1], "--scheduler", address)]
        with distributed.Client(address) as client:
            parses = []  # the worker runs in this process: its parses can be counted
            monkeypatch.setattr(executors, "_LOADED", {})  # the command above left this network parsed
            parse = service._parse
            monkeypatch.setattr(service, "_parse", lambda network: parses.append(1) or parse(network))
            run_all = service.run_all

            def by_key(pool, task, calls):  # each task carries the scattered network's key, not its text
                assert all(isinstance(call[0][1], distributed.Future) for call in calls)
                return run_all(pool, task, calls)
            monkeypatch.setattr(service, "run_all", by_key)
            level = rwt.level_of_service(paths[1], executor=client.get_executor())
            assert len(parses) == 1  # the network went to the worker once, and was parsed once
            monkeypatch.undo()
    assert remote == local and local[1][0] == 0
    assert level == rwt.level_of_service(paths[1], executor=INLINE)
