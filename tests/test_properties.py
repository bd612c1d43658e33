"""Properties of the module that must hold for every input, checked with hypothesis."""
import json
import math
import os

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import rillwright as rw

TOLERANCE = 1e-7  # the depth searches' absolute stop width

diameters = st.floats(0.05, 30.0)
roughness = st.floats(0.008, 0.06)
slopes = st.floats(1e-5, 0.3)
unit_flags = st.booleans()


# ---- Depth solvers ----------------------------------------------------------


@given(diameters, roughness, slopes, st.floats(1e-6, 1.0), unit_flags)
def test_normal_depth_carries_its_flow_within_the_tolerance(diameter, n, slope, fraction, si):
    q = fraction * rw.manning_capacity(diameter, n, slope, si=si)
    assume(q > 0.0)
    depth = rw.normal_depth(q, diameter, n, slope, si=si)
    assert depth is not None and 0.0 < depth < diameter
    # The flow rises with depth below the peak, so the flows one tolerance either
    # side bracket q (with a hair of rounding slack).
    assert rw.circular_flow(diameter, n, slope, depth - TOLERANCE, si=si) <= q * (1 + 1e-12)
    assert rw.circular_flow(diameter, n, slope, depth + TOLERANCE, si=si) >= q * (1 - 1e-12)


@given(diameters, roughness, slopes, st.floats(1.08, 1e6), unit_flags)
def test_flows_beyond_the_peak_have_no_normal_depth(diameter, n, slope, factor, si):
    q = factor * rw.manning_capacity(diameter, n, slope, si=si)
    assert rw.normal_depth(q, diameter, n, slope, si=si) is None


@given(st.floats(1e-12, 1e6), diameters, unit_flags)
def test_critical_depth_lies_in_its_bracket_and_divides_sub_from_supercritical(q, diameter, si):
    depth = rw.critical_depth(q, diameter, si=si)
    lo, hi = 1e-6 * diameter, 0.999 * diameter
    assert lo <= depth <= hi
    g = rw.G_SI if si else rw.G_US

    def supercritical(y):
        geometry = rw.circular_geometry(diameter, y)
        return geometry["top_width"] * q * q > g * geometry["area"] ** 3

    if lo + TOLERANCE < depth < hi - TOLERANCE:
        assert supercritical(depth - TOLERANCE)
        assert not supercritical(depth + TOLERANCE)


# ---- Network results --------------------------------------------------------


@st.composite
def tree_networks(draw):
    """A random branching network in .rwn text: every node drains to one with a
    smaller number, node 0 is the outfall."""
    count = draw(st.integers(1, 12))
    elevation = st.floats(-50.0, 500.0)
    lines = [f"IDF {draw(st.floats(20, 200))} {draw(st.floats(0, 30))} {draw(st.floats(0.3, 1.2))}"]
    if draw(st.booleans()):
        lines.append(f"TAILWATER {draw(elevation)}")
    rims = {}
    for i in range(count):
        invert = draw(elevation)
        rims[f"N{i}"] = invert + draw(st.floats(0.0, 20.0))
        if i == 0:
            lines.append(f"NODE N0 outfall {i} 0 {invert!r} {rims['N0']!r}")
        else:
            kind = draw(st.sampled_from(["inlet", "junction"]))
            lines.append(
                f"NODE N{i} {kind} {i} 0 {invert!r} {rims[f'N{i}']!r} {draw(st.floats(0, 50))!r} "
                f"{draw(st.floats(0, 1))!r}"
            )
            downstream = draw(st.integers(0, i - 1))
            lines.append(
                f"PIPE P{i} N{i} N{downstream} {draw(st.floats(1, 2000))!r} {draw(st.floats(0.25, 12))!r} "
                f"{draw(st.floats(0.009, 0.05))!r}"
            )
    order = draw(st.permutations(lines[1:]))
    return "\n".join(lines[:1] + list(order)), rims


@settings(max_examples=60, deadline=None)
@given(tree_networks())
def test_freeboard_is_rim_minus_grade_line(network):
    text, rims = network
    result = rw.analyze_rwn(text)
    assert sorted(node["id"] for node in result["nodes"]) == sorted(rims)
    for node in result["nodes"]:
        assert node["rim"] == rims[node["id"]]
        expected = node["rim"] - node["hgl"]
        assert node["freeboard"] == expected or (math.isnan(expected) and math.isnan(node["freeboard"]))


# ---- Independence of calls --------------------------------------------------

FLOATS = st.floats(allow_nan=True, allow_infinity=True)
NETWORK = "NODE A inlet 0 0 10 12 1 0.5\nNODE B outfall 100 0 9 11\nPIPE P A B 100 1.5 0.013\n"

CALLS = st.one_of(
    st.tuples(st.just("intensity"), st.tuples(FLOATS, FLOATS, FLOATS, FLOATS)),
    st.tuples(st.just("rational_q"), st.tuples(FLOATS, FLOATS, FLOATS)),
    st.tuples(st.just("manning_capacity"), st.tuples(diameters, roughness, FLOATS)),
    st.tuples(st.just("circular_flow"), st.tuples(diameters, roughness, FLOATS, FLOATS)),
    st.tuples(st.just("normal_depth"), st.tuples(FLOATS, diameters, roughness, slopes)),
    st.tuples(st.just("critical_depth"), st.tuples(FLOATS, diameters)),
    st.tuples(st.just("circular_geometry"), st.tuples(diameters, FLOATS)),
    st.tuples(st.just("analyze_rwn"), st.sampled_from([(NETWORK,), ("NODE X pond 0 0 1 2",), ("PIPE P A Z 1 1 1",)])),
)


def outcome(name, args):
    """What a call gives, as a comparable value (NaN made equal to itself)."""
    try:
        return json.dumps(getattr(rw, name)(*args), sort_keys=False, allow_nan=True)
    except (ValueError, TypeError) as error:
        return f"{type(error).__name__}: {error}"


@settings(max_examples=50, deadline=None)
@given(st.lists(CALLS, min_size=1, max_size=8), st.randoms(use_true_random=False))
def test_results_do_not_depend_on_the_order_of_calls(calls, random):
    first = [outcome(name, args) for name, args in calls]
    order = list(range(len(calls)))
    random.shuffle(order)
    again = {i: outcome(*calls[i]) for i in order}
    assert [again[i] for i in range(len(calls))] == first


# ---- Any text ---------------------------------------------------------------

RWN_PIECES = ["NODE", "PIPE", "IDF", "inlet", "outfall", "junction", "#", "\n", "\r\n", " ", "1e400", "nan", "-0", "A"]
JSON_PIECES = ['{"name":', '"nodes":', '"pipes":', "[", "]", "{", "}", ",", ":", "null", "1e999", '"\\ud800"', "\x00"]


def texts(pieces):
    """Arbitrary text, lone surrogates included, mixed with fragments of the format."""
    piece = st.one_of(st.text(), st.sampled_from(pieces), st.characters(min_codepoint=0xD800, max_codepoint=0xDFFF))
    return st.one_of(st.text(), st.lists(piece, max_size=30).map("".join))


def analyse_any_text(function, text, allowed):
    try:
        result = function(text)
    except allowed:
        return
    assert set(result) == {"name", "pipes", "nodes"}


@settings(max_examples=300)
@given(texts(RWN_PIECES))
def test_any_text_gives_a_result_or_a_value_or_encoding_error_rwn(text):
    analyse_any_text(rw.analyze_rwn, text, (ValueError, UnicodeEncodeError))


@settings(max_examples=300)
@given(st.one_of(texts(JSON_PIECES), st.just(rw.demo_project_json()).map(lambda t: t.replace("N1", "N\ud8001"))))
def test_any_text_gives_a_result_or_a_value_or_encoding_error_project(text):
    analyse_any_text(rw.analyze_project, text, (ValueError, UnicodeEncodeError))


@settings(max_examples=200, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(texts(["/", ".", "..", "\x00", "demo.rwproj", "/etc/", "/nonexistent/"]))
def test_any_path_gives_a_result_or_a_value_encoding_or_os_error(tmp_path, monkeypatch, text):
    # Relative paths resolve inside an empty directory holding one project file.
    monkeypatch.chdir(tmp_path)
    (tmp_path / "demo.rwproj").write_text(rw.demo_project_json(), encoding="utf-8")
    assume(not text.startswith(("/dev", "/proc", "/sys")))
    analyse_any_text(rw.analyze_file, text, (ValueError, UnicodeEncodeError, OSError))
