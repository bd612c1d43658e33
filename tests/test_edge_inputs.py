"""Inputs at the edges: deep nesting, huge texts, NUL characters, bad bytes, odd
paths, non-finite numbers and very deep networks all end in a result or a clear
exception, and the interpreter lives on."""
import json
import os
import subprocess
import sys
import textwrap

import pytest

import rillwright as rw

PROJECT = json.loads(rw.demo_project_json())


def project_text(**changes):
    project = json.loads(json.dumps(PROJECT))
    project.update(changes)
    return json.dumps(project)


def json_error(text):
    with pytest.raises(ValueError) as info:
        rw.analyze_project(text)
    message = str(info.value)
    assert message.startswith("invalid project JSON: ")
    return message


# ---- Deep nesting -----------------------------------------------------------

DEPTH = 100_000


@pytest.mark.parametrize(
    "text, message",
    [
        ("[" * DEPTH, "invalid type: sequence, expected struct Project at line 1 column 1"),
        (project_text()[:-1] + ', "extra": ' + "[" * DEPTH + "]" * DEPTH + "}", "recursion limit exceeded"),
        (project_text()[:-1] + ', "extra": ' + '{"a": ' * DEPTH + "1" + "}" * DEPTH + "}", "recursion limit exceeded"),
        (project_text()[:-1] + ', "extra": ' + '[{"a": ' * DEPTH, "recursion limit exceeded"),
        (project_text().replace('"report": {', '"report": {"x": ' + "[" * DEPTH), "recursion limit exceeded"),
    ],
    ids=["top-level", "unknown-key-arrays", "unknown-key-objects", "unclosed-mixed", "inside-a-record"],
)
def test_deep_nesting_is_refused_without_exhausting_the_stack(text, message):
    assert message in json_error(text)


def test_nesting_within_the_limit_is_read_and_skipped():
    text = project_text()[:-1] + ', "extra": ' + "[" * 100 + "]" * 100 + "}"
    assert rw.analyze_project(text)["name"] == PROJECT["name"]


# ---- NUL characters ---------------------------------------------------------


def test_nul_inside_rwn_ids_is_kept_byte_for_byte():
    result = rw.analyze_rwn("NODE A\x00B inlet 0 0 10 12 1 0.5\nNODE O\x00 outfall 0 0 9 11\nPIPE P\x00 A\x00B O\x00 100 1 0.013")
    assert [node["id"] for node in result["nodes"]] == ["A\x00B", "O\x00"]
    assert [(p["id"], p["from"], p["to"]) for p in result["pipes"]] == [("P\x00", "A\x00B", "O\x00")]


@pytest.mark.parametrize(
    "text, message",
    [
        ("\nNODE A outfall 0 0 1\x002", "line 2: `1\x002` is not a number"),
        ("MINTC 5\x00\nBAD", "line 1: `5\x00` is not a number"),  # NUL is not white space
        ("MINTC 5 \x00\nBAD", "line 2: unknown keyword `BAD`"),  # nor the end of the line or text
        ("\x00", "line 1: unknown keyword `\x00`"),
    ],
)
def test_nul_inside_rwn_tokens(text, message):
    with pytest.raises(ValueError) as info:
        rw.analyze_rwn(text)
    assert str(info.value) == "cannot parse .rwn: " + message


def test_escaped_nul_inside_json_strings_is_kept():
    nodes = [dict(PROJECT["nodes"][0], id="N\x001")] + PROJECT["nodes"][1:]
    pipes = [dict(PROJECT["pipes"][0], **{"from": "N\x001"})] + PROJECT["pipes"][1:]
    result = rw.analyze_project(project_text(name="a\x00b", nodes=nodes, pipes=pipes))
    assert result["name"] == "a\x00b"
    assert result["nodes"][0]["id"] == "N\x001"
    assert result["pipes"][0]["from"] == "N\x001"


def test_raw_nul_inside_a_json_string_is_a_control_character():
    message = json_error('{"name": "a\x00b"}')
    assert message == (
        "invalid project JSON: control character (\\u0000-\\u001F) found while parsing a string at line 1 column 12"
    )


# ---- Files ------------------------------------------------------------------

INVALID_UTF8 = {
    "latin-1": b'{"name": "caf\xe9"}',
    "lone-continuation": b'{"name": "\x80"}',
    "overlong": b'{"name": "\xc0\xaf"}',
    "encoded-surrogate": b'{"name": "\xed\xa0\x80"}',
    "beyond-unicode": b'{"name": "\xf4\x90\x80\x80"}',
    "truncated-at-end": rw.demo_project_json().encode() + b"\xe2\x82",
}


@pytest.mark.parametrize("content", INVALID_UTF8.values(), ids=INVALID_UTF8.keys())
def test_invalid_utf8_file_is_an_os_error(tmp_path, content):
    path = tmp_path / "bad.rwproj"
    path.write_bytes(content)
    with pytest.raises(OSError) as info:
        rw.analyze_file(str(path))
    assert str(info.value) == f"cannot read {path}: stream did not contain valid UTF-8"
    assert (info.value.errno, info.value.strerror, info.value.filename) == (None, None, None)


def test_directory_is_an_os_error(tmp_path):
    with pytest.raises(OSError, match=r"^cannot read .*: Is a directory \(os error 21\)$"):
        rw.analyze_file(str(tmp_path))


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads files whatever their mode")
def test_unreadable_file_is_an_os_error(tmp_path):
    path = tmp_path / "locked.rwproj"
    path.write_text(rw.demo_project_json())
    path.chmod(0)
    with pytest.raises(OSError, match=r"^cannot read .*: Permission denied \(os error 13\)$"):
        rw.analyze_file(str(path))


@pytest.mark.parametrize("path", ["", "\x00", "demo.rwproj\x00.txt"], ids=["empty", "nul", "nul-suffix"])
def test_empty_or_nul_path_is_an_os_error(path):
    with pytest.raises(OSError, match="^cannot read "):
        rw.analyze_file(path)


def test_empty_file_is_a_json_error(tmp_path):
    path = tmp_path / "empty.rwproj"
    path.write_bytes(b"")
    with pytest.raises(ValueError, match="^invalid project JSON: EOF while parsing a value at line 1 column 0$"):
        rw.analyze_file(str(path))


# ---- Non-finite numbers ------------------------------------------------------

RWN = "NODE A inlet {x} {y} 10 12 1 0.5\nNODE B outfall 100 0 9 11\nPIPE P A B {length} {diameter} {n}\n"
FINE = {"x": 0, "y": 0, "length": 100, "diameter": 1.5, "n": 0.013}


@pytest.mark.parametrize("value", ["nan", "inf", "-inf"])
@pytest.mark.parametrize("field", ["diameter", "length"])
def test_non_finite_pipe_size_is_an_analysis_error(field, value):
    with pytest.raises(ValueError, match=f"^analysis failed: pipe 'P' has a {'rise' if field == 'diameter' else 'length'} "
                                         "that is not a finite number$"):
        rw.analyze_rwn(RWN.format(**dict(FINE, **{field: value})))


@pytest.mark.parametrize("value", ["nan", "inf", "-inf", "1e400"])
@pytest.mark.parametrize("field, name", [("x", "an x coordinate"), ("y", "a y coordinate")])
def test_non_finite_coordinates_are_refused_by_name(field, name, value):
    with pytest.raises(ValueError, match=f"^analysis failed: node 'A' has {name} that is not a finite number$"):
        rw.analyze_rwn(RWN.format(**dict(FINE, **{field: value})))


@pytest.mark.parametrize("value", ["nan", "inf", "-inf"])
@pytest.mark.parametrize("line, message", [
    ("IDF {v} 10 0.8", "the IDF coefficient a is"), ("IDF 120 {v} 0.8", "the IDF coefficient b is"),
    ("IDF 120 10 {v}", "the IDF coefficient c is"), ("MINTC {v}", "the minimum time of concentration is"),
    ("TAILWATER {v}", "the tailwater is"), ("INTENSITY {v}", "the fixed intensity is"),
    ("JUNCTIONK {v}", "the junction loss coefficient is"), ("MINSLOPE {v}", "the minimum slope is"),
    ("NODE C inlet 0 0 {v} 12 1 0.5", "node 'C' has an invert that is"),
    ("NODE C inlet 0 0 10 {v} 1 0.5", "node 'C' has a rim that is"),
    ("NODE C inlet 0 0 10 12 {v} 0.5", "node 'C' has an area that is"),
    ("NODE C inlet 0 0 10 12 1 {v}", "node 'C' has a runoff coefficient that is"),
    ("NODE C inlet 0 0 10 12 1 0.5 {v}", "node 'C' has an inlet time that is"),
    ("PIPE R C B 100 1 {v}", "pipe 'R' has a roughness that is"),
])
def test_non_finite_design_values_are_refused_by_name(line, message, value):
    text = RWN.format(**FINE) + "NODE C inlet 0 0 10 12 1 0.5\nPIPE Q C B 100 1 0.013\n" + line.format(v=value)
    with pytest.raises(ValueError) as info:
        rw.analyze_rwn(text)
    assert str(info.value) == f"analysis failed: {message} not a finite number"


@pytest.mark.parametrize("number", ["1e400", "-1e400"])
def test_json_numbers_beyond_double_range_are_refused(number):
    text = project_text().replace('"idf_a": 60.0', f'"idf_a": {number}')
    assert "number out of range" in json_error(text)


# ---- Very deep networks ------------------------------------------------------

CHAIN = 100_000


def chain_rwn(count):
    # n = 0 skips the depth searches, which would only make the test slow.
    lines = [f"NODE N{i} junction {i} 0 {1000 - i * 0.01:.2f} {1010 - i * 0.01:.2f} 0.1 0.5" for i in range(count)]
    lines.append(f"NODE OUT outfall {count} 0 0 5")
    lines += [f"PIPE P{i} N{i} N{i + 1} 10 1.5 0" for i in range(count - 1)]
    lines.append(f"PIPE P{count - 1} N{count - 1} OUT 10 1.5 0")
    return "\n".join(reversed(lines))  # upstream last: the order must come from the topology


def test_a_hundred_thousand_nodes_on_one_line_of_pipes():
    result = rw.analyze_rwn(chain_rwn(CHAIN))
    assert len(result["pipes"]) == CHAIN and len(result["nodes"]) == CHAIN + 1
    by_id = {pipe["id"]: pipe for pipe in result["pipes"]}
    # Area accumulates down the whole chain: 100,000 nodes of 0.1 acre at C = 0.5.
    assert by_id[f"P{CHAIN - 1}"]["total_ca"] == pytest.approx(CHAIN * 0.05)
    assert by_id["P0"]["total_ca"] == pytest.approx(0.05)


def test_a_hundred_thousand_node_chain_as_a_project():
    nodes = [{"id": f"N{i}", "kind": "junction", "x": i, "y": 0, "invert": 1000 - i * 0.01, "rim": 1010 - i * 0.01,
              "area_ac": 0.1, "c": 0.5, "tc_inlet": 10} for i in range(CHAIN)]
    nodes.append({"id": "OUT", "kind": "outfall", "x": CHAIN, "y": 0, "invert": 0, "rim": 5, "area_ac": 0, "c": 0,
                  "tc_inlet": 0})
    pipes = [{"id": f"P{i}", "from": f"N{i}", "to": f"N{i + 1}" if i + 1 < CHAIN else "OUT", "length": 10,
              "diameter": 1.5, "n": 0} for i in range(CHAIN)]
    result = rw.analyze_project(project_text(nodes=nodes, pipes=pipes, catchments=[], idf_curves=[]))
    assert len(result["nodes"]) == CHAIN + 1
    assert result["pipes"][-1]["total_ca"] == pytest.approx(CHAIN * 0.05)


def test_a_cycle_through_a_hundred_thousand_nodes_is_an_analysis_error():
    text = chain_rwn(CHAIN) + f"\nPIPE BACK OUT N0 10 1.5 0"
    with pytest.raises(ValueError, match="^analysis failed: network contains a cycle$"):
        rw.analyze_rwn(text)


# ---- A 200 MB project ----------------------------------------------------------

HUGE = textwrap.dedent(
    """
    import json, re, sys, time
    import rillwright as rw

    size = 200 * 1024 * 1024
    project = json.loads(rw.demo_project_json())
    kind = sys.argv[1]
    if kind == "unknown-string":
        head = json.dumps(project)[:-1] + ', "notes": "'
        text = head + "x" * (size - len(head) - 2) + '"}'
    elif kind == "trailing-space":
        head = json.dumps(project)
        text = head + " " * (size - len(head))
    else:  # a string that never ends
        head = json.dumps(project)[:-1] + ', "notes": "'
        text = head + "x" * (size - len(head))
    # Building the text above peaks at three copies of it; only the analysis is measured.
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")  # resets the peak resident size
    start = time.perf_counter()
    try:
        outcome = rw.analyze_project(text)["name"]
    except ValueError as error:
        outcome = str(error)
    seconds = time.perf_counter() - start
    peak_kib = int(re.search(r"VmHWM:\\s+(\\d+) kB", open("/proc/self/status").read()).group(1))
    print(json.dumps([outcome, seconds, peak_kib * 1024 / len(text)]))
    """
)


@pytest.mark.parametrize(
    "kind, outcome",
    [
        ("unknown-string", PROJECT["name"]),
        ("trailing-space", PROJECT["name"]),
        ("unterminated-string", "invalid project JSON: EOF while parsing a string at line 1 column 209715200"),
    ],
)
def test_a_200_mb_project_text(kind, outcome):
    run = subprocess.run([sys.executable, "-c", HUGE, kind], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    result, seconds, peak_per_byte = json.loads(run.stdout)
    assert result == outcome
    if "libasan" not in os.environ.get("LD_PRELOAD", ""):  # the sanitizer's allocator is slower and keeps more
        assert seconds < 10
        # The str and its UTF-8 copy, and not much more.
        assert peak_per_byte < 2.5
