"""Reading .rwproj JSON: every message with its position, defaults, lenience."""

import json
import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import rillwright as rw
from project_tool import INVALID, analyze, minimal, node, pipe, reader_error, roundtrip, roundtrip_driver  # noqa: F401

MINIMAL_TEXT = json.dumps(minimal())


# ---- Messages and positions -------------------------------------------------
# The column is that of the last character read when the error was found: the
# offending character itself, the last character of a bad scalar, the closing
# brace of a record that lacks a key, or the end of the text.

SYNTAX = [
    ("", "EOF while parsing a value at line 1 column 0"),
    ("  \n ", "EOF while parsing a value at line 2 column 1"),
    ('{"nodes": [', "EOF while parsing a list at line 1 column 11"),
    ('{"name": "t"', "EOF while parsing an object at line 1 column 12"),
    ('{"name": "t', "EOF while parsing a string at line 1 column 11"),
    ('{"name":', "EOF while parsing a value at line 1 column 8"),
    ('{"x": [1,', "EOF while parsing a value at line 1 column 9"),
    ('{"name" "t"}', "expected `:` at line 1 column 9"),
    ('{"x": [1 2]}', "expected `,` or `]` at line 1 column 10"),
    ('{"x": 1 2}', "expected `,` or `}` at line 1 column 9"),
    ('{"x": nul}', "expected ident at line 1 column 10"),
    ('{"x": tru', "EOF while parsing a value at line 1 column 9"),
    ('{"x": ]}', "expected value at line 1 column 7"),
    ('{"units": 1}', 'expected `"` at line 1 column 11'),
    ('{"units": null}', 'expected `"` at line 1 column 11'),
    ('{"x": "\\q"}', "invalid escape at line 1 column 9"),
    ('{"x": "\\uzz"}', "invalid escape at line 1 column 10"),
    ('{"x": "\\u00', "EOF while parsing a string at line 1 column 11"),
    ('{"x": 1.x}', "invalid number at line 1 column 9"),
    ('{"x": -}', "invalid number at line 1 column 8"),
    ('{"x": 012}', "invalid number at line 1 column 8"),
    ('{"x": 1e+}', "invalid number at line 1 column 10"),
    ('{"x": 1.', "EOF while parsing a value at line 1 column 8"),
    ('{"idf_a": 1e999}', "number out of range at line 1 column 15"),
    ('{"idf_a": -2e308}', "number out of range at line 1 column 16"),
    ('{"x": "a\x01"}', "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 9"),
    # A raw line feed is the last character read: the position is just after it.
    ('{"x": "a\nb"}', "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"),
    ("{x: 1}", "key must be a string at line 1 column 2"),
    ('{"x": 1, 2: 3}', "key must be a string at line 1 column 10"),
    ('{"x": "\\udc00"}', "lone leading surrogate in hex escape at line 1 column 13"),
    ('{"x": "\\ud800\\u0041"}', "lone leading surrogate in hex escape at line 1 column 19"),
    ('{"x": "\\ud800x"}', "unexpected end of hex escape at line 1 column 14"),
    ('{"x": "\\ud800\\n"}', "unexpected end of hex escape at line 1 column 15"),
    ('{"x": 1,}', "trailing comma at line 1 column 9"),
    ('{"x": [1,]}', "trailing comma at line 1 column 10"),
    ("{\n\t\"x\": [\r\n  1 x", "expected `,` or `]` at line 3 column 5"),
]


@pytest.mark.parametrize("text, message", SYNTAX)
def test_syntax_messages(text, message):
    assert reader_error(text) == message


def test_trailing_characters_after_the_project():
    assert reader_error(MINIMAL_TEXT + " \n x") == "trailing characters at line 2 column 2"


SCHEMA = [
    ('{"nodes": [], "nodes": []}', "duplicate field `nodes` at line 1 column 21"),
    ('{"tailwater": null, "tailwater": 1}', "duplicate field `tailwater` at line 1 column 31"),
    ('{"units": "SI"}', "unknown variant `SI`, expected `us_customary` or `si` at line 1 column 14"),
    ('{"bend_loss_coeff": null}', "invalid type: null, expected f64 at line 1 column 24"),
    ('{"name": 60}', "invalid type: integer `60`, expected a string at line 1 column 11"),
    ('{"idf_curves": [{"rp_years": 10.0}]}',
     "invalid type: floating point `10.0`, expected u32 at line 1 column 33"),
    ('{"format_version": 1e2}', "invalid type: floating point `100.0`, expected u32 at line 1 column 22"),
    ('{"idf_a": "abc"}', 'invalid type: string "abc", expected f64 at line 1 column 15'),
    ('{"idf_a": "a\\"\\u0001"}', 'invalid type: string "a\\"\\u0001", expected f64 at line 1 column 21'),
    ('{"nodes": [[]]}', "invalid type: sequence, expected struct ProjectNode at line 1 column 12"),
    ('{"nodes": ["N1"]}', 'invalid type: string "N1", expected struct ProjectNode at line 1 column 15'),
    ('{"idf_a": {}}', "invalid type: map, expected f64 at line 1 column 11"),
    ('{"idf_a": true}', "invalid type: boolean `true`, expected f64 at line 1 column 14"),
    ('{"hec22_structure_loss": 0}', "invalid type: integer `0`, expected a boolean at line 1 column 26"),
    ('{"nodes": {}}', "invalid type: map, expected a sequence at line 1 column 11"),
    ('{"report": false}', "invalid type: boolean `false`, expected struct ReportInfo at line 1 column 16"),
    ('{"background": 1.5}', "invalid type: floating point `1.5`, expected struct BackgroundImage at line 1 column 18"),
    ('{"background_dxf": {"opacity": "x"}}', 'invalid type: string "x", expected f32 at line 1 column 34'),
    ('{"catchments": [{"vertices": [{}]}]}',
     "invalid type: map, expected a tuple of size 2 at line 1 column 31"),
    ('{"idf_curves": [{"rp_years": -1}]}', "invalid value: integer `-1`, expected u32 at line 1 column 31"),
    ('{"format_version": 4294967296}', "invalid value: integer `4294967296`, expected u32 at line 1 column 29"),
    ('{"format_version": 123456789012345678901234567890}',
     "invalid value: integer `123456789012345678901234567890`, expected u32 at line 1 column 49"),
    ('{"catchments": [{"vertices": [[]]}]}', "invalid length 0, expected a tuple of size 2 at line 1 column 32"),
    ('{"catchments": [{"vertices": [[1]]}]}', "invalid length 1, expected a tuple of size 2 at line 1 column 33"),
    ('{"catchments": [{"vertices": [[1,2,3]]}]}', "trailing characters at line 1 column 36"),
    ('{"catchments": [{"vertices": [[1,2,]]}]}', "trailing comma at line 1 column 36"),
    ('{"catchments": [{"vertices": [[1,2}', "expected `,` or `]` at line 1 column 35"),
    ('{"background": {"opacity": 1e39}}', "number out of range at line 1 column 31"),
    ("42", "invalid type: integer `42`, expected struct Project at line 1 column 2"),
    ("[" * 100_000, "invalid type: sequence, expected struct Project at line 1 column 1"),
    ("{}", "missing field `name` at line 1 column 2"),
    ('{"nodes": [{"inlet": {"length_ft": 1, "gutter_slope": 0}}]}', "missing field `sag` at line 1 column 56"),
    ('{"background": {"path": "a", "origin_x": 0, "origin_y": 0, "width": 1}}',
     "missing field `opacity` at line 1 column 70"),
    ('{"idf_curves": [{"rp_years": 2, "a": 1, "c": 1}]}', "missing field `b` at line 1 column 47"),
]


@pytest.mark.parametrize("text, message", SCHEMA)
def test_schema_messages(text, message):
    assert reader_error(text) == message


def test_missing_field_reports_the_closing_brace_of_its_record():
    lines = ["{"] + ['  "%s": %s,' % (key, json.dumps(value)) for key, value in minimal().items() if key != "pipes"]
    lines[-1] = lines[-1].rstrip(",")
    lines[-1:-1] = ['  "notes_%d": null,' % i for i in range(39 - len(lines))]
    text = "\n".join(lines) + "\n}\n"
    assert reader_error(text) == "missing field `pipes` at line 40 column 1"


@pytest.mark.parametrize("absent, reported", [(["min_tc"], "min_tc"), (["name", "pipes"], "name"),
                                              (["nodes", "junction_k"], "junction_k")])
def test_first_missing_key_in_declaration_order_is_reported(absent, reported):
    project = {key: value for key, value in minimal().items() if key not in absent}
    assert reader_error(json.dumps(project)).startswith("missing field `%s` at" % reported)


# ---- Nesting ------------------------------------------------------------------


def test_nesting_is_limited_without_exhausting_the_stack():
    # The project object is level 1, so the 128th bracket inside it is refused.
    assert reader_error('{"x": ' + "[" * 100_000) == "recursion limit exceeded at line 1 column 134"
    assert reader_error('{"x": ' + '{"a": ' * 100_000) == "recursion limit exceeded at line 1 column 769"


def test_nesting_up_to_the_limit_is_skipped():
    # The project object is the first of 128 levels.
    deep = "[" * 127 + "]" * 127
    analyze_text = MINIMAL_TEXT[:-1] + ', "deep": ' + deep + "}"
    assert rw.analyze_project(analyze_text)["name"] == "t"
    too_deep = MINIMAL_TEXT[:-1] + ', "deep": [' + deep + "]}"
    assert reader_error(too_deep).startswith("recursion limit exceeded at line 1 column")


# ---- Lenience and defaults ----------------------------------------------------


def test_unknown_keys_at_every_level_are_skipped():
    project = minimal(
        extra="EXTRA",
        nodes=[node("A", colour=[{"r": 1}], inlet={"length_ft": 1, "gutter_slope": 0, "sag": True, "x": {}}),
               node("B", kind="outfall")],
        pipes=[pipe("P1", "A", "B", notes=None)],
        report={"firm": "F", "logo": {"w": 3}},
    )
    # Only the grammar of a skipped value matters: 1e999 does not fit a float.
    extra = '{"deep": [1, -2.5e-3, 1e999, "s\\"\\u00e9\\ud83d\\ude00", true, false, null, {}, [[]]]}'
    result = rw.analyze_project(json.dumps(project).replace('"EXTRA"', extra))
    assert [p["id"] for p in result["pipes"]] == ["P1"]


def test_minimal_project_takes_every_default(roundtrip):
    written = json.loads(roundtrip.write(minimal()))
    assert written == {
        "name": "t", "idf_a": 60.0, "idf_b": 10.0, "idf_c": 0.8, "tailwater": None, "min_tc": 10.0,
        "junction_k": 0.5, "bend_loss_coeff": 0.0, "hec22_structure_loss": False, "access_hole_diam_ft": 0.0,
        "design_return_period_years": 10.0, "p2_rainfall_in": 3.0, "min_slope": 0.001, "nodes": [],
        "pipes": [], "catchments": [], "background": None, "background_dxf": None, "idf_curves": [],
        "units": "us_customary",
        "report": {"project_number": "", "engineer": "", "firm": "", "jurisdiction": ""},
        "format_version": 1,
    }


def test_record_defaults(roundtrip):
    project = minimal(
        nodes=[node("A")],
        pipes=[pipe("P", "A", "A")],
        background_dxf={"path": "d.dxf", "min_x": 0, "min_y": 0, "max_x": 1, "max_y": 1},
        units="si",
    )
    written = json.loads(roundtrip.write(project))
    assert written["nodes"][0]["inlet"] == {"length_ft": 0.0, "gutter_slope": 0.0, "sag": False,
                                            "grate_width_ft": 0.0, "cross_slope": 0.0}
    assert written["nodes"][0]["bypass_to"] is None
    assert written["nodes"][0]["diameter_ft"] == 4.0
    assert written["pipes"][0]["shape"] == "circular"
    assert "invert_up" not in written["pipes"][0]
    assert written["background_dxf"]["opacity"] == 0.45
    assert written["units"] == "si"


def test_tailwater_null_is_the_same_as_absent():
    project = minimal(nodes=[node("A"), node("OUT", kind="outfall", invert=99.0)], pipes=[pipe("P", "A", "OUT")])
    absent = analyze(project)
    assert analyze(dict(project, tailwater=None)) == absent
    assert absent["nodes"][1]["hgl"] == 99.0
    assert analyze(dict(project, tailwater=99.5))["nodes"][1]["hgl"] == 99.5


def test_whitespace_between_any_tokens():
    text = ' \t\r\n{ "name" :\t"t" ,\r\n"idf_a":60 , "idf_b" : 10,"idf_c":0.8,"min_tc":10,"junction_k":0.5,' \
           '"nodes" : [ ] , "pipes":[\n]\n}\n\t '
    assert rw.analyze_project(text)["name"] == "t"


# ---- Values -------------------------------------------------------------------


def test_keys_are_matched_after_their_escapes_are_decoded():
    text = MINIMAL_TEXT.replace('"name"', '"\\u006eam\\u0065"')
    assert rw.analyze_project(text)["name"] == "t"
    assert reader_error(MINIMAL_TEXT[:-1] + ', "n\\u0061me": "u"}').startswith("duplicate field `name`")


def test_keys_are_case_sensitive():
    assert reader_error(MINIMAL_TEXT.replace('"name"', '"Name"')).startswith("missing field `name`")


def test_strings_decode_every_escape():
    name = "q\"b\\s/\b\f\n\r\t \u00e9 \u20ac \U0001F600 \x00"
    text = MINIMAL_TEXT.replace('"t"', '"q\\"b\\\\s\\/\\b\\f\\n\\r\\t \\u00e9 \\u20AC \\ud83d\\ude00 \\u0000"', 1)
    assert rw.analyze_project(text)["name"] == name
    raw = MINIMAL_TEXT.replace('"t"', '"\u00e9\u20ac\U0001F600 \x7f"', 1)
    assert rw.analyze_project(raw)["name"] == "\u00e9\u20ac\U0001F600 \x7f"


@pytest.mark.parametrize(
    "written, value",
    [
        ("106", 106.0),
        ("-0.5", -0.5),
        ("1.5E+2", 150.0),
        ("25e-1", 2.5),
        ("0.1", 0.1),
        ("1.7976931348623157e308", 1.7976931348623157e308),
        ("5e-324", 5e-324),
        ("1e-400", 0.0),
        ("123456789012345678901234567890", 1.2345678901234568e29),
        ("0.30000000000000004441", 0.30000000000000004),
    ],
)
def test_numbers_read_correctly_rounded(written, value):
    text = json.dumps(minimal(nodes=[node("A", rim=0.0)])).replace('"rim": 0.0', '"rim": ' + written)
    assert rw.analyze_project(text)["nodes"][0]["rim"] == value


def test_32_bit_numbers_round_once_from_the_decimal(roundtrip):
    # Just above the midpoint between 1 and the next float: a detour through
    # the nearest double lands on the midpoint and would round down to 1.
    image = {"path": "p.png", "origin_x": 0, "origin_y": 0, "width": 1, "opacity": 1.00000005960464477539063}
    text = json.dumps(minimal(background=image)).replace("1.0000000596046448", "1.00000005960464477539063")
    assert '"opacity": 1.0000001\n' in roundtrip.write(text)
    image["opacity"] = 0.45
    assert '"opacity": 0.45\n' in roundtrip.write(minimal(background=image))


def test_u32_limits(roundtrip):
    written = json.loads(roundtrip.write(minimal(format_version=4294967295, idf_curves=[
        {"rp_years": 0, "a": 1, "b": 2, "c": 3}])))
    assert written["format_version"] == 4294967295
    assert written["idf_curves"][0]["rp_years"] == 0


# ---- Robustness ---------------------------------------------------------------

POSITION = re.compile(r" at line (\d+) column (\d+)$")


def assert_clean_error(text):
    """Either a result or a reader error whose position lies within the text."""
    try:
        rw.analyze_project(text)
        return
    except ValueError as error:
        message = str(error)
    if message.startswith("analysis failed: "):
        return
    assert message.startswith(INVALID)
    line, column = map(int, POSITION.search(message).groups())
    lines = text.encode().split(b"\n")
    assert 1 <= line <= len(lines)
    assert 0 <= column <= len(lines[line - 1])


@settings(max_examples=300, deadline=None)
@given(st.binary(max_size=200))
def test_random_text_gives_clean_errors(data):
    assert_clean_error(data.decode("latin-1"))


@settings(max_examples=300, deadline=None)
@given(st.data())
def test_damaged_demo_text_gives_clean_errors(data):
    text = rw.demo_project_json()
    start = data.draw(st.integers(0, len(text)))
    end = data.draw(st.integers(start, min(len(text), start + 8)))
    inserted = data.draw(st.text(alphabet='{}[]:,"\\ -.0123456789eEnulatrfs\n', max_size=4))
    assert_clean_error(text[:start] + inserted + text[end:])


def test_large_text_error_position():
    nodes = [node("N%d" % i, invert=100.0 + i * 1e-3) for i in range(20000)]
    text = json.dumps(minimal(nodes=nodes), indent=2)
    lines = text.split("\n")
    assert reader_error(text + "\n  ]") == "trailing characters at line %d column 3" % (len(lines) + 1)
