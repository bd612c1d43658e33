"""Level of service, scenario sweeps and where they run: crossings against a fine scan,
scenarios against the module's own analyses, executors against each other."""

import concurrent.futures
import csv
import importlib.util
import json
import math
import os
import random

import pytest

import rillwright

import rillwright_tools as rwt
from rillwright_tools import _core
from rillwright_tools.executors import InlineExecutor
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


def fine_scan(text, fmt, top, step=1.002, bottom=0.005):
    """The first multiplier of a fine geometric scan at which each condition holds, in the
    order nodes (flooding), pipes (surcharged), pipes (grade line above the crown)."""
    network = json.loads(_core.network_records(text, fmt))
    invert = {n["id"]: n["invert"] for n in network["nodes"]}
    crowns = [(invert[p["from"]] + p["rise"], invert[p["to"]] + p["rise"]) for p in network["pipes"]]
    multipliers, m = [0.0], bottom
    while m < top:
        multipliers.append(m)
        m *= step
    first = None
    for m in multipliers + [top]:
        result = _core.analyze(text, fmt, m)
        flags = [n["floods"] for n in result["nodes"]] + [p["surcharged"] for p in result["pipes"]]
        flags += [any(h is not None and h > c for h, c in zip((p["hgl_up"], p["hgl_dn"]), crown))
                  for p, crown in zip(result["pipes"], crowns)]
        first = first or [None] * len(flags)
        first = [f if f is not None or not holds else m for f, holds in zip(first, flags)]
    return network, first


def reported(network, result):
    it = iter(result["nodes"])
    values = [None if n["kind"] == "outfall" else next(it)["flood_multiplier"] for n in network["nodes"]]
    return (values + [p["surcharge_multiplier"] for p in result["pipes"]]
            + [p["pressurized_multiplier"] for p in result["pipes"]])


@pytest.mark.parametrize("text, fmt", [(DEMO, "rwproj")] + [(generated(8, seed), "rwn") for seed in range(3)]
                         + [(generated(20, seed), "rwn") for seed in range(4)])
def test_crossings_agree_with_a_fine_scan(text, fmt):
    top = 5.0
    result = rwt.level_of_service(text=text, format=fmt, max_multiplier=top, executor=INLINE)
    assert result["analyses"] <= 100
    network, scan = fine_scan(text, fmt, top)
    ours = reported(network, result)
    outfalls = [n["kind"] == "outfall" for n in network["nodes"]] + [False] * (2 * len(network["pipes"]))
    checked = [(a, b) for a, b, outfall in zip(ours, scan, outfalls) if not outfall]
    assert any(b for _, b in checked)
    for ours_value, scan_value in checked:
        if ours_value is None or scan_value is None or scan_value == 0.0:
            assert ours_value == scan_value
        else:
            assert abs(ours_value - scan_value) <= 0.01 * scan_value


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
    # A tailwater above a rim floods that structure with no rain at all.
    drowned = rwt.level_of_service(text=FLOODING_RWN.format(tailwater=101.5, area=20), format="rwn", executor=INLINE)
    assert drowned["nodes"][0]["flood_multiplier"] == 0.0


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
    (lambda: rwt.sweep(text=DEMO, format="rwproj", multipliers=[math.nan]), "multipliers must be finite"),
])
def test_bad_scenarios_are_value_errors(call, error):
    with pytest.raises(ValueError, match=error):
        call()


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
    listed = [line.split()[0] for line in out.splitlines()[6:]]
    assert listed == [n["id"] for n in ranked]
    with open(tmp_path / "out" / "service_nodes.csv", encoding="utf-8") as handle:
        rows = list(csv.DictReader(handle))
    assert [r["id"] for r in rows] == ["A", "B", "J"] and float(rows[0]["freeboard"]) == result["nodes"][0]["freeboard"]
    assert cli(capsys, "service", path, "--max-multiplier", "0")[0] == 2
    drawn = cli(capsys, "service", path, "--workers", "1", "--plan", tmp_path / "plan.png")
    if importlib.util.find_spec("rillwright_tools.plan") is None:
        assert drawn == (1, "", "rillwright: error: the plan view is not available in this installation\n")
    else:
        assert drawn[0] == 0 and (tmp_path / "plan.png").stat().st_size > 0


@pytest.mark.skipif(bool(os.environ.get("RILLWRIGHT_SANITIZE")), reason="Dask under the sanitizer is too slow")
def test_a_dask_cluster_gives_the_local_results(tmp_path, capsys):
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
            level = rwt.level_of_service(paths[1], executor=client.get_executor())
    assert remote == local and local[1][0] == 0
    assert level == rwt.level_of_service(paths[1], executor=INLINE)


def test_the_kept_lists_of_pipes_below_are_the_walked_ones():
    """The pipes a condition depends on are kept per node along chains; a walk from the
    structure gives the same lists."""
    text = generated(60, 3)
    kept = _core.service_pipes_below(text, "rwn")
    assert kept == _core.service_pipes_below(text, "rwn", walked=True)
    assert any(len(pipes) > 10 for pipes in kept)
