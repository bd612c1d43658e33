"""The plain-text .rwn network format, as read by analyze_rwn."""

import math
import random

import pytest

import rillwright as rw
from rillwright_tools.inputs import Source, records


def parse_error(text):
    """The reader's message for a text that must not parse."""
    with pytest.raises(ValueError) as info:
        rw.analyze_rwn(text)
    prefix = "cannot parse .rwn: "
    assert str(info.value).startswith(prefix)
    return str(info.value)[len(prefix):]


WORKED_EXAMPLE = """# a small network
idf 120 10 0.8

NODE N1 inlet 0 0 100.0 106.0 1.2 0.6
NODE OUT outfall 250 0 98.5 104.0
PIPE P1 N1 OUT 250 1.5 0.013   # main
"""

# ---- Messages ---------------------------------------------------------------


@pytest.mark.parametrize(
    "text, message",
    [
        ("Foo 1", "unknown keyword `FOO`"),
        ("NODE", "NODE needs an id"),
        ("NODE N1", "NODE needs a kind"),
        ("PIPE", "PIPE needs an id"),
        ("PIPE P1", "PIPE needs a from-node"),
        ("PIPE P1 A", "PIPE needs a to-node"),
        ("IDF 60 10", "missing value #4 in `IDF 60 10`"),
        ("pipe P1 A B 100 x 0.013", "`x` is not a number"),
        ("NODE N1 pond 0 0 100 106", "unknown node kind `pond`"),
        # Values are read in position order; the kind is judged after the rim.
        ("IDF", "missing value #2 in `IDF`"),
        ("IDF 60", "missing value #3 in `IDF 60`"),
        ("IDF a 10 c", "`a` is not a number"),
        ("IDF 60 b c", "`b` is not a number"),
        ("IDF 60 10 c", "`c` is not a number"),
        ("NODE N1 inlet", "missing value #4 in `NODE N1 inlet`"),
        ("NODE N1 inlet 0", "missing value #5 in `NODE N1 inlet 0`"),
        ("NODE N1 inlet 0 0", "missing value #6 in `NODE N1 inlet 0 0`"),
        ("NODE N1 pond 0 0 100", "missing value #7 in `NODE N1 pond 0 0 100`"),
        ("NODE N1 pond x", "`x` is not a number"),
        ("NODE N1 pond 0 y", "`y` is not a number"),
        ("NODE N1 pond 0 0 inv 106", "`inv` is not a number"),
        ("NODE N1 pond 0 0 100 rim", "`rim` is not a number"),
        ("NODE N1 POND 0 0 100 106", "unknown node kind `pond`"),
        ("NODE N1 Outfalls 0 0 100 106", "unknown node kind `outfalls`"),
        ("NODE N1 inlet 0 0 100 106", "missing value #8 in `NODE N1 inlet 0 0 100 106`"),
        ("NODE N1 junction 0 0 100 106 1", "missing value #9 in `NODE N1 junction 0 0 100 106 1`"),
        ("NODE N1 inlet 0 0 100 106 area 0.5", "`area` is not a number"),
        ("NODE N1 Junction 0 0 100 106 1 c", "`c` is not a number"),
        ("NODE N1 inlet 0 0 100 106 1 0.5 soon", "`soon` is not a number"),
        ("NODE OUT outfall 0 0 98 104 x y z", "`z` is not a number"),
        ("PIPE P1 A B", "missing value #5 in `PIPE P1 A B`"),
        ("PIPE P1 A B 100", "missing value #6 in `PIPE P1 A B 100`"),
        ("PIPE P1 A B 100 1.5", "missing value #7 in `PIPE P1 A B 100 1.5`"),
        ("PIPE P1 A B long 1.5 0.013", "`long` is not a number"),
        ("PIPE P1 A B 100 1.5 n", "`n` is not a number"),
        # Quoted line: comment cut, ends trimmed, inner spacing kept.
        ("  \tIDF 60   10\t # rain, then more\t", "missing value #4 in `IDF 60   10`"),
        ("IDF 60\r10\r\n", "missing value #4 in `IDF 60\r10`"),
        ("NODE N#1 inlet 0 0 100 106 1 0.5", "NODE needs a kind"),
        ("Foo#bar", "unknown keyword `FOO`"),
        ("\ufeffNODE OUT outfall 0 0 98 104", "unknown keyword `\ufeffNODE`"),
        ("NODE\x00 N1 outfall 0 0 1 2", "unknown keyword `NODE\x00`"),
        ("TAILWATER " + "1" * 5000 + "x", "`" + "1" * 5000 + "x` is not a number"),
        # Upper-casing touches ASCII letters only.
        ("m\u00fcll 1 2", "unknown keyword `M\u00fcLL`"),
        ("\u0131df 1 2 3", "unknown keyword `\u0131DF`"),
        ("Nodes", "unknown keyword `NODES`"),
        ("\ufb01 1", "unknown keyword `\ufb01`"),
    ],
)
def test_messages(text, message):
    assert parse_error(text) == "line 1: " + message


@pytest.mark.parametrize("keyword", ["MINTC", "minslope", "Intensity", "TAILWATER", "junctionK"])
def test_settings_keywords_read_one_value(keyword):
    assert parse_error(keyword) == f"line 1: missing value #2 in `{keyword}`"
    assert parse_error(f"{keyword} five") == "line 1: `five` is not a number"


def test_worked_example_fails_on_line_seven():
    assert parse_error(WORKED_EXAMPLE + "NODE N2 manhole 0 0 1 2") == (
        "line 7: unknown node kind `manhole`"
    )
    assert parse_error(WORKED_EXAMPLE + "NODE N2 Junction 0 0 1") == (
        "line 7: missing value #7 in `NODE N2 Junction 0 0 1`"
    )


@pytest.mark.parametrize(
    "text, line",
    [
        ("Foo\n", 1),
        ("MINTC 5 # five\nFoo\nBar", 2),
        ("# one\n   \n\t# three\nFoo # four", 4),
        ("MINTC 5\r\n\r\nFoo\r\nBar", 3),
        # Only a line feed ends a line: lone carriage returns and the
        # unicode line and paragraph separators are white space.
        ("\r\rFoo\r", 1),
        ("\u2028\u2029\x0b\x0c\nFoo", 2),
        ("\n" * 99 + "Foo", 100),
    ],
)
def test_line_numbers_count_every_line(text, line):
    assert parse_error(text) == f"line {line}: unknown keyword `FOO`"


# Every character with the White_Space property but the line feed.
WHITE_SPACE = (
    "\t\x0b\x0c\r \x85\xa0\u1680"
    + "".join(map(chr, range(0x2000, 0x200B)))
    + "\u2028\u2029\u202f\u205f\u3000"
)


@pytest.mark.parametrize("space", WHITE_SPACE, ids=lambda s: f"U+{ord(s):04X}")
def test_unicode_white_space_separates_and_trims(space):
    text = f"{space}IDF{space}{space}60 10{space}"
    assert parse_error(text) == f"line 1: missing value #4 in `IDF{space}{space}60 10`"


@pytest.mark.parametrize("blank", "\u200b\u180e\ufeff\u2060\x00\x1c", ids=lambda s: f"U+{ord(s):04X}")
def test_look_alikes_stay_inside_tokens(blank):
    assert parse_error(f"IDF{blank}60 10") == f"line 1: unknown keyword `IDF{blank}60`"


# ---- Numbers ------------------------------------------------------------------

NOT_NUMBERS = [
    "+", "-", ".", "-.", "+.", "e5", ".e1", "1e", "1e+", "1E-", "1.2.3", "1e5.0", "1e1e1",
    "--1", "+-1", "1-", "5%", "1,5", "1,000", "1_000", "0x10", "0X1p3", "1d5", "1f", "in",
    "infinit", "infinityy", "inf1", "nan(1)", "nanq", "nAn0", "\u0663", "\uff11", "\u22121", "1\x002",
]


@pytest.mark.parametrize("token", NOT_NUMBERS)
def test_not_a_number(token):
    assert parse_error(f"MINTC {token}") == f"line 1: `{token}` is not a number"


# Exactly half the smallest subnormal double: a tie that rounds to even, zero.
HALF_SMALLEST_DOUBLE = str(5**1075) + "e-1075"

NUMBERS = [
    "5", "5.", ".5", "+5", "-5.25", "007", "1E+3", "1e-3", "-0", "-0.0e9", "0e999999999999",
    "1e400", "-1e400", "1e-400", "-1e-400", "1e-320", "2.2250738585072011e-308",
    "1.7976931348623157e308", "1.7976931348623159e308", "9007199254740993", "0.1",
    "3.14159265358979323846264338327950288419716939937510", "0." + "0" * 400 + "1e401",
    "1" * 400 + "e-400", HALF_SMALLEST_DOUBLE, str(5**1075) + "1e-1076",
    "inf", "-Infinity", "+INF", "iNfInItY", "nan", "-NaN", "+nAn",
]


@pytest.mark.parametrize("token", NUMBERS, ids=lambda t: t[:30])
def test_numbers_are_correctly_rounded(token):
    expected = float(token)
    text = f"NODE N outfall 0 0 0 {token}"
    if not math.isfinite(expected):
        # Read as the number it names, then refused by the analysis.
        with pytest.raises(ValueError, match="^analysis failed: node 'N' has a rim that is not a finite number$"):
            rw.analyze_rwn(text)
        [node] = records(Source("<text>", "rwn", text))["nodes"]
    else:
        [node] = rw.analyze_rwn(text)["nodes"]
    if math.isnan(expected):
        assert math.isnan(node["rim"])
    else:
        assert node["rim"] == expected and math.copysign(1, node["rim"]) == math.copysign(1, expected)


def test_short_decimals_are_correctly_rounded():
    # Plain decimals of up to 17 characters take the reader's shortest path;
    # every digit count, point position and sign, and significands around 2**53.
    rng = random.Random(5)
    tokens = ["9007199254740993.", "900719925474099.3", "-9007199254740992", "0.00000000000001", "12345678901234567"]
    for _ in range(3000):
        digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(1, 16)))
        point = rng.randint(0, len(digits))
        token = digits[:point] + "." + digits[point:] if rng.random() < 0.8 else digits
        tokens.append(rng.choice(["", "-", "+"]) + token)
    text = "".join(f"NODE N{i} outfall 0 0 0 {t}\n" for i, t in enumerate(tokens))
    rims = [node["rim"] for node in rw.analyze_rwn(text)["nodes"]]
    for token, rim in zip(tokens, rims):
        assert rim == float(token) and math.copysign(1, rim) == math.copysign(1, float(token)), token


# ---- What a successful parse delivers -------------------------------------------


def test_worked_example_lands_in_the_results():
    result = rw.analyze_rwn(WORKED_EXAMPLE)
    assert [(n["id"], n["rim"]) for n in result["nodes"]] == [("N1", 106.0), ("OUT", 104.0)]
    [pipe] = result["pipes"]
    assert (pipe["id"], pipe["from"], pipe["to"], pipe["tc"]) == ("P1", "N1", "OUT", 10.0)
    assert (pipe["slope"], pipe["total_ca"]) == ((100.0 - 98.5) / 250, 1.2 * 0.6)
    assert pipe["intensity"] == rw.intensity(120, 10, 0.8, 10)
    assert pipe["capacity"] == pytest.approx(rw.manning_capacity(1.5, 0.013, 0.006), rel=1e-12)
    assert rw.analyze_rwn(WORKED_EXAMPLE.replace("\n", "\r\n")) == result


@pytest.mark.parametrize("text", ["", "\n\n", "# only\n  # comments\r\n", " \u3000\t"])
def test_nothing_to_read_is_an_empty_network(text):
    assert rw.analyze_rwn(text) == {"name": "", "pipes": [], "nodes": []}


def test_start_values_and_overrides():
    network = "NODE A inlet 0 0 10 20 1 0.5 3\nNODE B outfall 0 0 9 20\nPIPE P A B 100 1 0.013\n"
    [pipe] = rw.analyze_rwn(network)["pipes"]
    assert (pipe["tc"], pipe["intensity"]) == (10.0, rw.intensity(120, 10, 0.8, 10))
    [pipe] = rw.analyze_rwn("IDF 1 2 3\nIDF 60 5 0.5\nMINTC 1\nMINTC 2\n" + network)["pipes"]
    assert (pipe["tc"], pipe["intensity"]) == (3.0, rw.intensity(60, 5, 0.5, 3))
    assert rw.analyze_rwn("intensity 9\nINTENSITY 4.5\n" + network)["pipes"][0]["intensity"] == 4.5
    flat = network.replace(" 9 20", " 10 20")
    for settings, slope in [("", 0.001), ("MINSLOPE 0.5\nminslope 0.02\n", 0.02)]:
        capacity = rw.analyze_rwn(settings + flat)["pipes"][0]["capacity"]
        assert capacity == pytest.approx(rw.manning_capacity(1.0, 0.013, slope), rel=1e-12)


def test_tailwater_and_junction_loss():
    # A flat, undersized pipe runs full, so its upstream node carries the junction loss.
    network = "NODE A inlet 0 0 10 20 50 1\nNODE B outfall 0 0 10 20\nPIPE P A B 100 1 0.013\n"
    assert rw.analyze_rwn(network)["nodes"][1]["hgl"] == 10.0
    assert rw.analyze_rwn("TAILWATER 11.5\n" + network)["nodes"][1]["hgl"] == 11.5
    lossless = rw.analyze_rwn("JUNCTIONK 0\n" + network)
    lossy = rw.analyze_rwn("JUNCTIONK 0.7\n" + network)
    velocity = lossless["pipes"][0]["velocity"]
    assert lossless["pipes"][0]["surcharged"]
    assert lossy["nodes"][0]["hgl"] - lossless["nodes"][0]["hgl"] == pytest.approx(0.7 * velocity**2 / 64.4)


@pytest.mark.parametrize(
    "line, tc, ca",
    [
        ("NODE N1 inlet 0 0 100 106 1.5 0.6 12 extra", 12.0, 1.5 * 0.6),
        ("NODE N1 INLET 0 0 100 106 1 0.5", 10.0, 0.5),
        ("NODE N1 Junction 0 0 100 106 2 0.25 11", 11.0, 0.5),
        # Outfalls skip #8 and #9; their #10 is read but does not count.
        ("NODE N1 outfall 0 0 100 106 x y 50", 10.0, 0.0),
    ],
)
def test_node_values(line, tc, ca):
    result = rw.analyze_rwn(line + "\nNODE Z outfall 0 0 90 106\nPIPE P N1 Z 100 1 0.013")
    assert (result["nodes"][0]["tc"], result["pipes"][0]["total_ca"]) == (tc, ca)


def test_node_kind_decides_flooding():
    text = "NODE a inlet 0 0 10 5 0 0\nNODE b junction 0 0 10 5 0 0\nNODE c outfall 0 0 10 5"
    assert [n["floods"] for n in rw.analyze_rwn(text)["nodes"]] == [True, True, False]


def test_ids_are_taken_as_written():
    text = (
        "PIPE p\u00e9 n1 N\u00c41 10 1 0.013\nNODE n1 inlet 0 0 2 3 0 0\n"
        "NODE N\u00c41 outfall 0 0 1 3\nNODE a\x00b outfall 0 0 1 3"
    )
    result = rw.analyze_rwn(text)
    assert [n["id"] for n in result["nodes"]] == ["n1", "N\u00c41", "a\x00b"]
    assert [(p["id"], p["from"], p["to"]) for p in result["pipes"]] == [("p\u00e9", "n1", "N\u00c41")]
    # Pipe ends are the analysis' business, not the reader's.
    with pytest.raises(ValueError, match="^analysis failed: pipe references unknown node 'N1'$"):
        rw.analyze_rwn(text.replace("n1 N", "N1 N"))
