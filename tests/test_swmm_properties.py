"""SWMM export and import on random projects and on mutated model files: a project comes
back with every structure, pipe, size, invert, inlet key and C, or the report names what
changed; a damaged file raises ValueError, never another error."""

import json
import pathlib
import re

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import rillwright_tools as rwt
from rillwright_tools import inputs
from rillwright_tools.formats.swmm.text import split_sections

from interchange_networks import SWMM_MODELS

ROOT = pathlib.Path(__file__).resolve().parent.parent
SIZES = (1.0, 1.25, 1.5, 2.0, 3.0)
INLETS = (
    {"type": "grate", "grate": "P-50", "length_ft": 3.0, "grate_width_ft": 2.0, "gutter_slope": 0.01,
     "cross_slope": 0.02, "sag": False},
    {"type": "curb", "length_ft": 5.0, "grate_width_ft": 0.0, "gutter_slope": 0.02, "cross_slope": 0.03,
     "sag": False},
)


@st.composite
def projects(draw):
    count = draw(st.integers(2, 9))
    ids = draw(st.lists(st.from_regex(r"[A-Za-z][A-Za-z0-9_\-]{0,5}", fullmatch=True), min_size=count,
                        max_size=count, unique_by=str.upper))
    nodes, pipes = [], []
    for k, node_id in enumerate(ids):
        parent = draw(st.integers(0, k - 1)) if k else None
        base = 100.0 if parent is None else nodes[parent]["invert"]
        invert = base + (draw(st.floats(0.05, 3.0)) if k else 0.0)
        area = draw(st.sampled_from([0.0, 0.3, 1.7])) if k else 0.0
        node = {"id": node_id, "kind": "outfall" if k == 0 else "junction", "x": 100.0 * k,
                "y": draw(st.floats(-500, 500)), "invert": invert, "rim": invert + draw(st.floats(3.0, 12.0)),
                "area_ac": area, "c": draw(st.floats(0.05, 1.0)) if area else 0.0, "tc_inlet": 10.0}
        if k and area and draw(st.integers(0, 3)) == 0:
            node["inlet"] = dict(draw(st.sampled_from(INLETS)))
        nodes.append(node)
        if parent is not None:
            size = draw(st.sampled_from(SIZES))
            pipe = {"id": f"P_{node_id}", "from": node_id, "to": ids[parent], "length": draw(st.floats(20, 400)),
                    "diameter": size, "n": 0.013}
            shape = draw(st.sampled_from(["circular", "box", "elliptical", "arch"]))
            if shape != "circular":
                pipe.update(shape=shape, rise_ft=size, span_ft=size * draw(st.sampled_from([1.0, 1.5, 2.0])))
            if draw(st.booleans()):
                pipe["invert_up"] = invert + draw(st.floats(0.0, 1.0))
            pipes.append(pipe)
    project = {"name": "random", "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0, "junction_k": 0.5,
               "nodes": nodes, "pipes": pipes}
    if draw(st.integers(0, 4)) == 0:  # the same numbers as metres, hectares and mm/hr
        project.update(units="si", idf_a=120.0 * 25.4)
    return project


def resolved_inverts(network):
    nodes = {n["id"]: n for n in network["nodes"]}
    return {p["id"]: (p["invert_up"] if p["invert_up"] is not None else nodes[p["from"]]["invert"],
                      p["invert_dn"] if p["invert_dn"] is not None else nodes[p["to"]]["invert"])
            for p in network["pipes"]}


def close(a, b):
    return abs(a - b) <= 1e-7 * max(1.0, abs(a))


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(projects())
def test_random_projects_come_back_or_the_report_says_what_changed(project):
    text = json.dumps(project)
    back, report = rwt.read_swmm(rwt.write_swmm(text=text, format="rwproj"))
    named = {name for _, name, _ in report.dropped + report.approximated}
    named |= set(re.findall(r"[\w\-]+", " ".join(n for n in report.notes if not n.startswith("["))))
    before, after = (inputs.records(inputs.resolve(text=t, format="rwproj")) for t in (text, back))
    nodes_after = {n["id"]: n for n in after["nodes"]}
    kept = {n["id"]: n for n in json.loads(back)["nodes"]}
    for node in before["nodes"]:
        other = nodes_after.get(node["id"])
        same = other is not None and (other["kind"] == "outfall") == (node["kind"] == "outfall") and all(
            close(node[key], other[key]) for key in ("invert", "rim", "area", "c"))
        given_inlet = next(n for n in project["nodes"] if n["id"] == node["id"]).get("inlet")
        same = same and kept[node["id"]].get("inlet") == given_inlet
        assert same or node["id"] in named, node["id"]
    pipes_after = {p["id"]: p for p in after["pipes"]}
    inverts_before, inverts_after = resolved_inverts(before), resolved_inverts(after)
    for pipe in before["pipes"]:
        other = pipes_after.get(pipe["id"])
        same = other is not None and (other["from"], other["to"], other["shape"]) == (
            pipe["from"], pipe["to"], pipe["shape"]) and all(
            close(pipe[key], other[key]) for key in ("rise", "span", "length", "n")) and all(
            close(a, b) for a, b in zip(inverts_before[pipe["id"]], inverts_after[pipe["id"]]))
        assert same or pipe["id"] in named, pipe["id"]


def corpus():
    texts = [path.read_text() for path in SWMM_MODELS]
    texts.append(rwt.write_swmm(ROOT / "docs" / "inlets-example.rwproj"))
    return [text.splitlines() for text in texts]


CORPUS = corpus()
JUNK = ["", "0", "-1", "-0", "nan", "inf", "1e308", "-1e308", "*", "x", '"', '"a b"', "[", ";", "[JUNCTIONS]",
        "CIRCULAR", "STREET", "GRATE", "ON_SAG", "YES", "2", "\ufeff", "\x00"]


@settings(max_examples=300, deadline=None)
@given(st.integers(0, len(CORPUS) - 1), st.lists(st.tuples(st.integers(0, 10 ** 6), st.integers(0, 3),
                                                           st.sampled_from(JUNK)), min_size=1, max_size=6))
def test_mutated_models_raise_only_value_error(which, mutations):
    lines = list(CORPUS[which])
    for where, how, junk in mutations:
        row = where % len(lines)
        tokens = lines[row].split()
        if how == 0:
            del lines[row]
        elif how == 1 and tokens:
            tokens[where % len(tokens)] = junk
            lines[row] = " ".join(tokens)
        elif how == 2:
            lines.insert(row, junk)
        else:
            lines[row] = " ".join(tokens[: where % (len(tokens) + 1)])
        if not lines:
            lines = [""]
    text = "\n".join(lines) + "\n"
    try:
        project_text, _ = rwt.read_swmm(text)
    except ValueError:
        return
    inputs.records(inputs.resolve(text=project_text, format="rwproj"))  # what it writes, the reader takes
