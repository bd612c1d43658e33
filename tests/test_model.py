"""The model (rwt.open): one read of the network, its analysis as columns equal to the
module's rows, the same values on any number of threads, and every companion function
giving the same answer for a path, a text and a Model."""

import json
import math

import numpy as np
import pytest

import rillwright
import rillwright_tools as rwt
from rillwright_tools import _core

from conftest import SMALL_RWN


def forest(trees, pipes_per_tree, shapes=("circular", "box", "elliptical", "arch")):
    """A project of separate chains, each draining to its own outfall, with shapes mixed;
    `pipes_per_tree` is one count for every chain or a count per chain."""
    nodes, pipes = [], []
    for t in range(trees):
        length = pipes_per_tree if isinstance(pipes_per_tree, int) else pipes_per_tree[t]
        outfall = f"O{t}"
        nodes.append({"id": outfall, "kind": "outfall", "x": 1000.0 * t, "y": 0.0, "invert": 100.0, "rim": 108.0,
                      "area_ac": 0.0, "c": 0.0, "tc_inlet": 0.0})
        below = outfall
        for k in range(length):
            here = f"N{t}_{k}"
            nodes.append({"id": here, "kind": "inlet", "x": 1000.0 * t, "y": 100.0 * (k + 1),
                          "invert": 100.0 + 0.6 * (k + 1), "rim": 106.0 + 0.6 * (k + 1),
                          "area_ac": 0.3 + 0.1 * ((t + k) % 7), "c": 0.6, "tc_inlet": 10.0})
            shape = shapes[(t + k) % len(shapes)]
            pipe = {"id": f"P{t}_{k}", "from": here, "to": below, "length": 100.0,
                    "diameter": 1.0 + 0.25 * (k % 3), "n": 0.013, "shape": shape}
            if shape != "circular":
                pipe.update(rise_ft=pipe["diameter"], span_ft=1.5 * pipe["diameter"])
            pipes.append(pipe)
            below = here
    # Interleave the trees' records so that no tree is a run of consecutive records.
    nodes.sort(key=lambda n: n["id"][::-1])
    pipes.sort(key=lambda p: p["id"][::-1])
    return json.dumps({"name": "forest", "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0,
                       "junction_k": 0.5, "nodes": nodes, "pipes": pipes})


def as_rows(columns):
    """Columns back into the module's rows, NaN read as None where the module has None."""
    keys = list(columns)
    count = len(columns[keys[0]])
    return [{key: _value(columns[key][i]) for key in keys} for i in range(count)]


def _value(value):
    if isinstance(value, (np.bool_, bool)):
        return bool(value)
    if isinstance(value, np.floating):
        return None if math.isnan(value) else float(value)
    return value


@pytest.mark.parametrize("text, fmt", [(SMALL_RWN, "rwn"), (rillwright.demo_project_json(), "rwproj"),
                                       (forest(6, 5), "rwproj")])
def test_columns_hold_the_module_rows(text, fmt):
    expected = rillwright.analyze_rwn(text) if fmt == "rwn" else rillwright.analyze_project(text)
    model = rwt.open(text=text, format=fmt)
    result = model.analyse()
    assert result["name"] == expected["name"] == model.name
    for kind in ("pipes", "nodes"):
        assert list(result[kind]) == list(expected[kind][0])  # the module's keys, in its order
        assert as_rows(result[kind]) == expected[kind]
    assert model.analyse() is result  # computed once
    assert model.rows() == expected
    assert model.node_ids == [n["id"] for n in expected["nodes"]]
    assert model.pipe_ids == [p["id"] for p in expected["pipes"]]


@pytest.mark.parametrize("trees, per_tree", [(40, 6), (1, 60), (3, 1), (9, [1, 30, 2, 0, 12, 5, 5, 1, 9])])
def test_threads_give_the_same_bits(trees, per_tree):
    text = forest(trees, per_tree)
    model = rwt.open(text=text, format="rwproj")
    assert model.tree_count == trees
    one = _core.model_columns(model.core, 1)
    for threads in (2, 3, 8, None):
        assert _core.model_columns(model.core, threads) == one  # bytearrays compare byte for byte
        assert _core.model_rows(model.core, threads) == rillwright.analyze_project(text)


@pytest.mark.parametrize("text, fmt, message", [
    ("PIPE\n", "rwn", r"^cannot parse \.rwn: line 1"),
    ("{", "rwproj", r"^invalid project JSON: "),
])
def test_unreadable_networks_are_refused_with_the_module_message(text, fmt, message):
    with pytest.raises(ValueError, match=message):
        rwt.open(text=text, format=fmt)


def test_analysis_errors_wait_for_the_analysis():
    text = SMALL_RWN + "PIPE P2 A NOWHERE 100 1.5 0.013\n"
    model = rwt.open(text=text, format="rwn")  # read, and its findings can still be asked for
    with pytest.raises(ValueError) as module:
        rillwright.analyze_rwn(text)
    for analyse in (model.analyse, model.rows):
        with pytest.raises(ValueError, match="^" + str(module.value).replace(".", r"\.") + "$"):
            analyse()
    assert [f["code"] for f in model.check()] == [f["code"] for f in rwt.check(text=text, format="rwn")]


@pytest.mark.parametrize("threads, error", [(0, ValueError), (-1, ValueError), ("2", TypeError), (True, TypeError)])
def test_bad_thread_counts_are_refused(threads, error):
    with pytest.raises(error, match="threads"):
        rwt.open(text=SMALL_RWN, format="rwn").analyse(threads)


# ------------------------------------------------------------------ path, text and Model alike
def _without_model(result):
    return {k: v for k, v in result.items() if k != "model"}


CALLS = {
    "check": lambda s: rwt.check(**s),
    "design": lambda s: _without_model(rwt.design(**s)),
    "inlets": lambda s: rwt.inlets(**s),
    "level_of_service": lambda s: rwt.level_of_service(**s, max_analyses=40, executor=_inline()),
    "sweep": lambda s: rwt.sweep(**s, multipliers=[0.5, 2.0], executor=_inline()),
    "to_geojson": lambda s: rwt.to_geojson(**s, plan_coordinates=True),
    "write_swmm": lambda s: [line for line in rwt.write_swmm(**s).splitlines() if "Exported by" not in line],
    "write_landxml": lambda s: rwt.write_landxml(**s)[0],
}


def _inline():
    from rillwright_tools.executors import InlineExecutor

    return InlineExecutor()


@pytest.mark.parametrize("name", list(CALLS))
def test_path_text_and_model_give_the_same_result(tmp_path, demo_text, name):
    path = tmp_path / "demo.rwproj"
    path.write_text(demo_text, encoding="utf-8")
    call = CALLS[name]
    by_path = call({"source": path})
    assert call({"text": demo_text, "format": "rwproj"}) == by_path
    assert call({"source": rwt.open(path)}) == by_path
    assert call({"source": rwt.open(text=demo_text, format="rwproj")}) == by_path


def test_methods_and_files_match_the_free_functions(tmp_path, demo_text):
    model = rwt.open(text=demo_text, format="rwproj")
    assert model.check() == rwt.check(model)
    designed = model.design()
    assert designed["model"].rows() == rillwright.analyze_project(designed["sized"])
    for extension in (".inp", ".rwproj"):
        model.to(tmp_path / f"out{extension}")
    assert (tmp_path / "out.inp").read_text(encoding="utf-8") == rwt.write_swmm(model)
    assert rwt.open(tmp_path / "out.rwproj").rows() == model.rows()
    again = rwt.open(tmp_path / "out.inp")  # read back through the SWMM importer
    assert again.import_report is not None and len(again.rows()["pipes"]) == len(model.rows()["pipes"])


def _with_an_inlet(demo_text):
    project = json.loads(demo_text)
    project["nodes"][0]["inlet"] = {"length_ft": 3.0, "gutter_slope": 0.01, "sag": False, "cross_slope": 0.02,
                                    "grate_width_ft": 2.0}
    return json.dumps(project)


# The report of a network without inlet data runs no inlet pass; with inlet data the inlet
# pass's analysis is the one reported.
@pytest.mark.parametrize("network, suffix", [("rwn", ".rwn"), ("without inlets", ".rwproj"),
                                             ("with an inlet", ".rwproj")])
def test_a_report_reads_and_analyses_the_network_once(tmp_path, monkeypatch, small_rwn, demo_text, network, suffix):
    pytest.importorskip("matplotlib")
    pytest.importorskip("jinja2")
    calls = {"parses": 0, "analyses": 0}
    takes_text = {"network_records", "network_findings", "design", "analyze", "max_capacities", "scenario_sample",
                  "service_plan", "inlets"}
    analyses = {"model_rows", "model_columns", "analyze", "inlets", "scenario_sample", "grade_line_details"}

    def counted(name, function):
        def call(*args, **kwargs):
            given = args[0] if args else next(iter(kwargs.values()), None)
            calls["parses"] += name == "model_open" or (name in takes_text and isinstance(given, str))
            calls["analyses"] += name in analyses
            return function(*args, **kwargs)
        return call

    for name in takes_text | analyses | {"model_open"}:
        monkeypatch.setattr(_core, name, counted(name, getattr(_core, name)))
    for name in ("analyze_rwn", "analyze_project"):
        monkeypatch.setattr(rillwright, name, counted(name, getattr(rillwright, name)))
        takes_text.add(name)
        analyses.add(name)
    text = {"rwn": small_rwn, "without inlets": demo_text, "with an inlet": _with_an_inlet(demo_text)}[network]
    path = tmp_path / f"net{suffix}"
    path.write_text(text, encoding="utf-8")
    rwt.open(path).report(html=tmp_path / "net.html")
    assert calls == {"parses": 1, "analyses": 1}
    calls.update(parses=0, analyses=0)
    rwt.report(path, html=tmp_path / "net.html")  # the free function (and the command) read it into a model too
    assert calls == {"parses": 1, "analyses": 1}
    calls.update(parses=0, analyses=0)
    rwt.check(path)  # the network's analysis, and the inlet pass's only where there is an inlet
    assert calls == {"parses": 1, "analyses": 1 + (network == "with an inlet")}
    if suffix == ".rwproj":
        assert len(rwt.inlets(path)["inlets"]) == (network == "with an inlet")


# ------------------------------------------------------------------ the core's name tables
@pytest.mark.parametrize("shape", _core.SHAPES)
def test_each_shape_the_core_names_is_read_and_has_a_swmm_spelling(shape):
    from rillwright_tools.formats.swmm.write import SWMM_SHAPES

    model = rwt.open(text=forest(1, 1, shapes=(shape,)), format="rwproj")
    assert [p["shape"] for p in model.records()["pipes"]] == [shape]
    assert shape in SWMM_SHAPES and set(SWMM_SHAPES) == set(_core.SHAPES)
    assert {n["kind"] for n in model.records()["nodes"]} == {"inlet", "outfall"} < set(_core.NODE_KINDS)


# ------------------------------------------------------------------ a loop named by every entry point
def _with_a_loop():
    project = json.loads(forest(1, 3))
    project["pipes"].append({"id": "BACK", "from": "N0_0", "to": "N0_2", "length": 100.0, "diameter": 1.0,
                             "n": 0.013})
    return json.dumps(project)


LOOPED = {
    "analyse": lambda t: rwt.open(text=t, format="rwproj").analyse(),
    "rows": lambda t: rwt.open(text=t, format="rwproj").rows(),
    "design": lambda t: rwt.design(text=t, format="rwproj"),
    "model design": lambda t: rwt.open(text=t, format="rwproj").design(),
    "inlets": lambda t: rwt.inlets(text=t, format="rwproj"),
    "level_of_service": lambda t: rwt.level_of_service(text=t, format="rwproj", executor=_inline()),
    "sweep": lambda t: rwt.sweep(text=t, format="rwproj", executor=_inline()),
}


@pytest.mark.parametrize("name", list(LOOPED))
def test_every_entry_point_names_the_pipes_of_a_loop(name):
    text = _with_a_loop()
    with pytest.raises(ValueError, match="^analysis failed: network contains a cycle$"):
        rillwright.analyze_project(text)  # the module's own message stays bare
    with pytest.raises(ValueError, match="^analysis failed: network contains a cycle through pipes ") as error:
        LOOPED[name](text)
    assert set(str(error.value).split(" through pipes ")[1].split(", ")) == {"P0_1", "P0_2", "BACK"}
