"""The plain-text .rwn network format, as read by analyze_rwn."""

import pytest

import rillwright as rw

PREFIX = "cannot parse .rwn: "


def parse_error(text):
    """The reader's message for a text that must not parse."""
    with pytest.raises(ValueError) as info:
        rw.analyze_rwn(text)
    message = str(info.value)
    assert message.startswith(PREFIX)
    return message[len(PREFIX):]


# Every unicode character with the White_Space property but the line feed,
# which ends the line.
WHITE_SPACE = ["\t", "\x0b", "\x0c", "\r"] + [
    " ", "\u0085", "\u00a0", "\u1680",
    *[chr(c) for c in range(0x2000, 0x200B)],
    "\u2028", "\u2029", "\u202f", "\u205f", "\u3000",
]

# Characters that look blank but are not white space.
NOT_WHITE_SPACE = ["\u200b", "\u180e", "\ufeff", "\u2060", "\x00", "\x1c"]


# ---- Messages ---------------------------------------------------------------


@pytest.mark.parametrize(
    "text, message",
    [
        ("Foo 1", "line 1: unknown keyword `FOO`"),
        ("NODE", "line 1: NODE needs an id"),
        ("NODE N1", "line 1: NODE needs a kind"),
        ("PIPE", "line 1: PIPE needs an id"),
        ("PIPE P1", "line 1: PIPE needs a from-node"),
        ("PIPE P1 A", "line 1: PIPE needs a to-node"),
        ("IDF 60 10", "line 1: missing value #4 in `IDF 60 10`"),
        ("pipe P1 A B 100 x 0.013", "line 1: `x` is not a number"),
        ("NODE N1 pond 0 0 100 106", "line 1: unknown node kind `pond`"),
    ],
)
def test_each_message(text, message):
    assert parse_error(text) == message


def test_worked_example():
    lines = [
        "# a small network",
        "idf 120 10 0.8",
        "",
        "NODE N1 inlet 0 0 100.0 106.0 1.2 0.6",
        "NODE OUT outfall 250 0 98.5 104.0",
        "PIPE P1 N1 OUT 250 1.5 0.013   # main",
    ]
    assert parse_error("\n".join(lines + ["NODE N2 manhole 0 0 1 2"])) == (
        "line 7: unknown node kind `manhole`"
    )
    # The rim is read before the kind is judged.
    assert parse_error("\n".join(lines + ["NODE N2 Junction 0 0 1"])) == (
        "line 7: missing value #7 in `NODE N2 Junction 0 0 1`"
    )


# ---- Lines --------------------------------------------------------------------


@pytest.mark.parametrize(
    "text, line",
    [
        ("Foo", 1),
        ("Foo\n", 1),
        ("\n\nFoo", 3),
        ("# one\n   \n\t# three\nFoo # four", 4),
        ("\r\n\r\nFoo\r\n", 3),
        ("MINTC 5\r\nMINSLOPE 0.01\r\nFoo\r\n", 3),
        # Only a line feed ends a line: lone carriage returns and the
        # unicode line and paragraph separators are white space.
        ("\r\rFoo\r", 1),
        ("\u2028\u2029\x0b\x0c\nFoo", 2),
        ("\n" * 99 + "Foo", 100),
    ],
)
def test_line_numbers_count_every_line(text, line):
    assert parse_error(text) == f"line {line}: unknown keyword `FOO`"


def test_carriage_return_inside_a_line_separates_tokens():
    assert parse_error("IDF 60\r10\r\n") == "line 1: missing value #4 in `IDF 60\r10`"


def test_quoted_line_has_comment_cut_and_ends_trimmed():
    assert parse_error("  \tIDF 60   10\t # rain, then more\t") == (
        "line 1: missing value #4 in `IDF 60   10`"
    )


def test_hash_inside_a_token_starts_a_comment():
    assert parse_error("NODE N#1 inlet 0 0 100 106 1 0.5") == "line 1: NODE needs a kind"
    assert parse_error("Foo#bar") == "line 1: unknown keyword `FOO`"


@pytest.mark.parametrize("space", WHITE_SPACE, ids=lambda s: f"U+{ord(s):04X}")
def test_unicode_white_space_separates_and_trims(space):
    text = f"{space}IDF{space}{space}60 10{space}"
    assert parse_error(text) == f"line 1: missing value #4 in `IDF{space}{space}60 10`"


@pytest.mark.parametrize("blank", NOT_WHITE_SPACE, ids=lambda s: f"U+{ord(s):04X}")
def test_other_characters_stay_inside_tokens(blank):
    assert parse_error(f"IDF{blank}60 10") == f"line 1: unknown keyword `IDF{blank}60`"


def test_byte_order_mark_is_part_of_the_keyword():
    assert parse_error("\ufeffNODE OUT outfall 0 0 98 104") == (
        "line 1: unknown keyword `\ufeffNODE`"
    )


# ---- Keywords ---------------------------------------------------------------


@pytest.mark.parametrize(
    "keyword, shown",
    [("foo", "FOO"), ("Nodes", "NODES"), ("müll", "MüLL"), ("ıdf", "ıDF"), ("ﬁ", "ﬁ")],
)
def test_unknown_keyword_is_shown_upper_cased_in_ascii_only(keyword, shown):
    assert parse_error(f"MINTC 5\n{keyword} 1 2") == f"line 2: unknown keyword `{shown}`"


@pytest.mark.parametrize("keyword", ["MINTC", "MINSLOPE", "INTENSITY", "TAILWATER", "JUNCTIONK"])
def test_settings_keywords(keyword):
    for spelled in (keyword, keyword.lower(), keyword.capitalize()):
        assert parse_error(spelled) == f"line 1: missing value #2 in `{spelled}`"
        assert parse_error(f"{spelled} five") == "line 1: `five` is not a number"


@pytest.mark.parametrize(
    "text, message",
    [
        ("IDF", "line 1: missing value #2 in `IDF`"),
        ("IDF 60", "line 1: missing value #3 in `IDF 60`"),
        ("IDF a 10 0.8", "line 1: `a` is not a number"),
        ("IDF 60 b 0.8", "line 1: `b` is not a number"),
        ("IDF 60 10 c", "line 1: `c` is not a number"),
    ],
)
def test_idf_reads_three_values_in_order(text, message):
    assert parse_error(text) == message


@pytest.mark.parametrize(
    "text, message",
    [
        ("NODE N1 inlet", "line 1: missing value #4 in `NODE N1 inlet`"),
        ("NODE N1 inlet 0", "line 1: missing value #5 in `NODE N1 inlet 0`"),
        ("NODE N1 inlet 0 0", "line 1: missing value #6 in `NODE N1 inlet 0 0`"),
        ("NODE N1 pond 0 0 100", "line 1: missing value #7 in `NODE N1 pond 0 0 100`"),
        ("NODE N1 pond x", "line 1: `x` is not a number"),
        ("NODE N1 pond 0 y", "line 1: `y` is not a number"),
        ("NODE N1 pond 0 0 inv 106", "line 1: `inv` is not a number"),
        ("NODE N1 pond 0 0 100 rim", "line 1: `rim` is not a number"),
        ("NODE N1 POND 0 0 100 106", "line 1: unknown node kind `pond`"),
        ("NODE N1 Outfalls 0 0 100 106", "line 1: unknown node kind `outfalls`"),
        ("NODE N1 inlet 0 0 100 106", "line 1: missing value #8 in `NODE N1 inlet 0 0 100 106`"),
        ("NODE N1 junction 0 0 100 106 1", "line 1: missing value #9 in `NODE N1 junction 0 0 100 106 1`"),
        ("NODE N1 inlet 0 0 100 106 area 0.5", "line 1: `area` is not a number"),
        ("NODE N1 Junction 0 0 100 106 1 c", "line 1: `c` is not a number"),
        ("NODE N1 inlet 0 0 100 106 1 0.5 soon", "line 1: `soon` is not a number"),
        # An outfall skips #8 and #9 but still reads #10.
        ("NODE OUT outfall 0 0 98 104 x y z", "line 1: `z` is not a number"),
    ],
)
def test_node_reads_its_values_in_order(text, message):
    assert parse_error(text) == message


@pytest.mark.parametrize(
    "text, message",
    [
        ("PIPE P1 A B", "line 1: missing value #5 in `PIPE P1 A B`"),
        ("PIPE P1 A B 100", "line 1: missing value #6 in `PIPE P1 A B 100`"),
        ("PIPE P1 A B 100 1.5", "line 1: missing value #7 in `PIPE P1 A B 100 1.5`"),
        ("PIPE P1 A B long 1.5 0.013", "line 1: `long` is not a number"),
        ("PIPE P1 A B 100 1.5 n", "line 1: `n` is not a number"),
    ],
)
def test_pipe_reads_its_values_in_order(text, message):
    assert parse_error(text) == message


def test_first_bad_line_wins():
    assert parse_error("MINTC 5\nFoo\nBar") == "line 2: unknown keyword `FOO`"


# ---- Numbers ------------------------------------------------------------------

NOT_NUMBERS = [
    "+", "-", ".", "-.", "+.", "e5", ".e1", "1e", "1e+", "1E-", "1.2.3", "1..", "1e5.0", "1e1e1",
    "--1", "+-1", "1-", "1,5", "1,000", "1_000", "0x10", "0X1p3", "1d5", "1f", "5%",
    "in", "infinit", "infinityy", "inf1", "nan(1)", "nanq", "nAn0",
    "\u0663", "\uff11", "1\u00b2", "\u2212" + "1", "1\x002",
]


@pytest.mark.parametrize("token", NOT_NUMBERS)
def test_not_a_number(token):
    assert parse_error(f"MINTC {token}") == f"line 1: `{token}` is not a number"


def test_long_token_is_quoted_whole():
    token = "1" * 5000 + "x"
    assert parse_error(f"\nTAILWATER {token}") == f"line 2: `{token}` is not a number"


def test_nul_character_stays_in_the_keyword():
    assert parse_error("NODE\x00 N1 outfall 0 0 1 2") == "line 1: unknown keyword `NODE\x00`"
