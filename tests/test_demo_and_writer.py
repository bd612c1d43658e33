"""The built-in demo project and the project JSON writer."""

import json
import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import rillwright as rw
from project_tool import analyze, minimal, node, pipe, roundtrip, roundtrip_driver  # noqa: F401

# ---- Demo -----------------------------------------------------------------------


def test_demo_text_layout():
    text = rw.demo_project_json()
    assert len(text.encode()) == 3136
    assert len(text.split("\n")) == 166
    assert text.startswith('{\n  "name": "Demo Trunk Line",\n  "idf_a": 60.0,\n  "idf_b": 10.0,\n')
    assert text.endswith('  "report": {\n    "project_number": "",\n    "engineer": "",\n    "firm": "",\n'
                         '    "jurisdiction": ""\n  },\n  "format_version": 1\n}')
    assert '\n  "idf_curves": [],\n' in text
    assert "invert_up" not in text and "invert_dn" not in text
    assert text.count('\n      "bypass_to": null,\n') == 4
    assert '\n      "inlet_node_id": "N1"\n' in text
    assert '\n        [\n          -40.0,\n          80.0\n        ],\n' in text


def test_demo_reads_back_equal_and_writes_identically(roundtrip):
    # The driver checks both: the text reads back to an equal project, and
    # writing that project again gives the same bytes.
    text = roundtrip.demo()
    assert text == rw.demo_project_json()
    assert roundtrip.write(text) == text


def test_demo_content():
    demo = json.loads(rw.demo_project_json())
    assert [(n["id"], n["kind"], n["x"], n["invert"], n["rim"], n["area_ac"], n["c"], n["tc_inlet"])
            for n in demo["nodes"]] == [
        ("N1", "inlet", 0.0, 104.0, 110.0, 1.0, 0.7, 12.0),
        ("N2", "inlet", 300.0, 102.5, 108.5, 1.0, 0.7, 10.0),
        ("N3", "junction", 550.0, 101.2, 107.0, 0.5, 0.8, 8.0),
        ("OUT", "outfall", 730.0, 100.0, 106.0, 0.0, 0.0, 0.0),
    ]
    assert [(p["id"], p["from"], p["to"], p["length"], p["diameter"], p["n"], p["shape"]) for p in demo["pipes"]] == [
        ("P1", "N1", "N2", 300.0, 1.25, 0.013, "circular"),
        ("P2", "N2", "N3", 250.0, 1.5, 0.013, "circular"),
        ("P3", "N3", "OUT", 180.0, 1.75, 0.013, "circular"),
    ]
    assert demo["catchments"] == [{"id": "C1", "vertices": [[-40.0, 80.0], [40.0, 80.0], [0.0, 140.0]], "c": 0.7,
                                   "flow_length_ft": 100.0, "slope": 0.01, "inlet_node_id": "N1"}]
    assert (demo["tailwater"], demo["access_hole_diam_ft"], demo["units"]) == (100.5, 4.0, "us_customary")


def test_demo_analyses_as_one_chain():
    result = rw.analyze_project(rw.demo_project_json())
    assert result["name"] == "Demo Trunk Line"
    assert [(p["from"], p["to"]) for p in result["pipes"]] == [("N1", "N2"), ("N2", "N3"), ("N3", "OUT")]
    # The catchment's 0.05509641873278237 acres joined N1 (c 0.7 merged to 0.6999999999999998).
    assert result["pipes"][0]["total_ca"] == 0.6999999999999998 * 1.0550964187327825
    assert result["nodes"][-1]["hgl"] == 100.5


def test_demo_is_fresh_on_every_call():
    assert rw.demo_project_json() == rw.demo_project_json()


# ---- Writer -----------------------------------------------------------------------


def written(roundtrip, **changes):
    return roundtrip.write(minimal(**changes))


def test_pipe_inverts_are_written_only_when_present(roundtrip):
    text = written(roundtrip, nodes=[node("A")], pipes=[pipe("P", "A", "A", invert_up=101.0)])
    assert '      "span_ft": 0.0,\n      "invert_up": 101.0\n    }' in text
    assert "invert_dn" not in text
    text = written(roundtrip, nodes=[node("A")], pipes=[pipe("P", "A", "A", invert_dn=-2.5)])
    assert '      "span_ft": 0.0,\n      "invert_dn": -2.5\n    }' in text


def test_empty_lists_are_written_on_their_key_line(roundtrip):
    text = written(roundtrip)
    for key in ("nodes", "pipes", "catchments", "idf_curves"):
        assert '\n  "%s": [],\n' % key in text


def test_absent_optionals_are_null(roundtrip):
    text = written(roundtrip, nodes=[node("A")],
                   catchments=[{"id": "C", "vertices": [], "c": 0, "flow_length_ft": 0, "slope": 0}])
    for line in ('  "tailwater": null,', '  "background": null,', '  "background_dxf": null,',
                 '      "bypass_to": null,', '      "inlet_node_id": null'):
        assert "\n" + line + "\n" in text
    assert '      "vertices": [],\n' in text


def test_records_are_written_with_all_keys_in_order(roundtrip):
    project = minimal(
        background={"opacity": 0.3, "width": 10, "origin_y": 2, "origin_x": 1, "path": "map.png"},
        background_dxf={"max_y": 4, "path": "site.dxf", "min_x": 1, "min_y": 2, "max_x": 3},
        idf_curves=[{"c": 0.7, "b": 12, "a": 80, "rp_years": 25}],
        report={"jurisdiction": "J", "firm": "F"},
        tailwater=99,
        units="si",
        format_version=7,
    )
    text = roundtrip.write(project)
    assert ('  "background": {\n    "path": "map.png",\n    "origin_x": 1.0,\n    "origin_y": 2.0,\n'
            '    "width": 10.0,\n    "opacity": 0.3\n  },\n') in text
    assert ('  "background_dxf": {\n    "path": "site.dxf",\n    "min_x": 1.0,\n    "min_y": 2.0,\n'
            '    "max_x": 3.0,\n    "max_y": 4.0,\n    "opacity": 0.45\n  },\n') in text
    assert '  "idf_curves": [\n    {\n      "rp_years": 25,\n      "a": 80.0,\n      "b": 12.0,\n' in text
    assert '  "tailwater": 99.0,\n' in text
    assert '  "units": "si",\n' in text
    assert '    "engineer": "",\n    "firm": "F",\n    "jurisdiction": "J"\n  },\n  "format_version": 7\n}' in text


def test_text_escapes(roundtrip):
    name = 'tab\there "quoted" back\\slash \b\f\n\r \x01\x1f\x7f \u00e9\u20ac\U0001F600 /'
    text = written(roundtrip, name=name)
    assert ('  "name": "tab\\there \\"quoted\\" back\\\\slash \\b\\f\\n\\r \\u0001\\u001f\x7f '
            '\u00e9\u20ac\U0001F600 /",\n') in text
    assert json.loads(text)["name"] == name


@pytest.mark.parametrize(
    "value, text",
    [
        (0.0, "0.0"),
        (-0.0, "-0.0"),
        (100.0, "100.0"),
        (-40.0, "-40.0"),
        (0.001, "0.001"),
        (1e-5, "0.00001"),
        (9.5e-6, "9.5e-6"),
        (123456.789, "123456.789"),
        (1e15, "1000000000000000.0"),
        (1e16, "1e16"),
        (2.5e-300, "2.5e-300"),
        (1.7976931348623157e308, "1.7976931348623157e308"),
        (5e-324, "5e-324"),
        (0.30000000000000004, "0.30000000000000004"),
    ],
)
def test_number_forms(roundtrip, value, text):
    assert '  "p2_rainfall_in": %s,\n' % text in written(roundtrip, p2_rainfall_in=value)


def test_non_finite_numbers_are_written_null(roundtrip):
    text = roundtrip.nonfinite()
    for line in ('  "idf_a": null,', '  "idf_b": null,', '  "tailwater": null,', '    "opacity": null'):
        assert "\n" + line + "\n" in text


@settings(max_examples=50, deadline=None)
@given(st.lists(st.floats(allow_nan=False, allow_infinity=False), min_size=1, max_size=40))
def test_numbers_are_shortest_and_read_back(roundtrip, values):
    curves = [{"rp_years": 1, "a": value, "b": 0, "c": 0} for value in values]
    text = written(roundtrip, idf_curves=curves)
    numbers = [line.split(": ", 1)[1].rstrip(",") for line in text.split("\n") if line.startswith('      "a": ')]

    def digits(number):
        return number.lower().split("e")[0].replace("-", "").replace(".", "").strip("0")

    assert len(numbers) == len(values)
    for value, number in zip(values, numbers):
        assert float(number) == value and math.copysign(1, float(number)) == math.copysign(1, value)
        assert len(digits(number)) == len(digits(repr(value)))
