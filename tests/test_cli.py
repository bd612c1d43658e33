"""The `rillwright` command: tables, CSV and JSON output, exit statuses, profiles and batch runs."""

import csv
import json
import math
import os
import subprocess
import sys
from pathlib import Path

import pytest

import rillwright

import rillwright_tools
from rillwright_tools.cli import main
from rillwright_tools.inputs import Source, geometry, kind_of
from rillwright_tools.drawing.profile import InputError, profile_path, profile_series
from rillwright_tools.tables import NODE_KEYS, PIPE_KEYS

DEMO = rillwright.demo_project_json()

# An undersized pipe under a low rim: two pipes surcharge, three structures flood.
FLOODING_RWN = """\
IDF 120 10 0.8
NODE A   inlet    0   0 100.0 101.0 20 0.9
NODE B   inlet    0  50 100.5 108.0 0.5 0.5 5
NODE J   junction 100 0 99.0 106.0 0.2 0.5
NODE OUT outfall  200 0 98.0 104.0
PIPE PA A J 100 0.5 0.013
PIPE PB B J 150 1.0 0.013
PIPE PJ J OUT 100 2.0 0.013
"""

# Two heads: B's run (50 + 200 + 300 ft) is longer than A's (100 + 300 ft).
BRANCHED_RWN = """\
NODE A   inlet    0 0 110 115 1 0.5
NODE B   inlet    0 0 112 117 1 0.5
NODE C   junction 0 0 111 116 1 0.5
NODE J   junction 0 0 105 112 1 0.5
NODE OUT outfall  0 0 100 106
PIPE PA A J {pa_length} 1.0 0.013
PIPE PB B C 50 1.0 0.013
PIPE PC C J 200 1.0 0.013
PIPE PJ J OUT 300 1.5 0.013
"""


def cli(capsys, *args):
    try:
        code = main([str(a) for a in args])
    except SystemExit as stop:
        code = stop.code
    out, err = capsys.readouterr()
    return code, out, err


def write(path, text):
    path.write_text(text, encoding="utf-8")
    return path


def table_lines(out, title):
    lines = out.splitlines()
    start = lines.index(title) + 1
    end = lines.index("", start)
    return lines[start:end]


def assert_aligned(lines, numeric_columns):
    """Numbers end on the right edge of their column's rule, texts start on its left edge."""
    rule = lines[2]
    spans, position = [], 0
    for dashes in rule.split("  "):
        spans.append((position, position + len(dashes)))
        position += len(dashes) + 2
    for line in lines[3:]:
        for index, (start, end) in enumerate(spans):
            if index in numeric_columns:
                assert line[end - 1] != " " and line[end:end + 1] in ("", " "), line
            elif line[start:end].strip():  # the marks column is empty for most pipes
                assert line[start] != " ", line


def test_run_demo_prints_tables_and_summary(capsys):
    code, out, err = cli(capsys, "run")
    assert (code, err) == (0, "")
    result = rillwright.analyze_project(DEMO)
    assert out.splitlines()[0] == "Demo Trunk Line"

    pipes = table_lines(out, "Pipes")
    assert pipes[0].split()[:4] == ["Pipe", "From", "To", "Slope"]
    assert pipes[1].split()[:4] == ["ft/ft", "ac", "min", "min"]
    assert [line.split()[0] for line in pipes[3:]] == [p["id"] for p in result["pipes"]]
    assert_aligned(pipes, numeric_columns=range(3, 16))

    nodes = table_lines(out, "Nodes")
    assert nodes[1].split() == ["min", "ft", "ft", "ft"]
    assert [line.split()[0] for line in nodes[3:]] == [n["id"] for n in result["nodes"]]
    assert_aligned(nodes, numeric_columns=range(1, 5))

    fullest = max(result["pipes"], key=lambda p: p["pct_full"])
    tightest = min(result["nodes"], key=lambda n: n["freeboard"])
    assert out.splitlines()[-2:] == [
        f"3 pipes (0 surcharged); 4 nodes (0 flooded); fullest pipe {fullest['id']} at "
        f"{fullest['pct_full'] * 100:.0f}% full; smallest freeboard {tightest['freeboard']:.2f} ft at {tightest['id']}",
        "check: 1 warning, 0 errors (rillwright check lists them)"]


def test_run_marks_surcharged_pipes_and_flooded_nodes(tmp_path, capsys):
    code, out, _ = cli(capsys, "run", write(tmp_path / "flooding.rwn", FLOODING_RWN))
    assert code == 0
    result = rillwright.analyze_rwn(FLOODING_RWN)
    marked = {line.split()[0] for line in table_lines(out, "Pipes")[3:] if line.endswith("SURCHARGED")}
    assert marked == {p["id"] for p in result["pipes"] if p["surcharged"]} == {"PA", "PJ"}
    marked = {line.split()[0] for line in table_lines(out, "Nodes")[3:] if line.endswith("FLOODED")}
    assert marked == {n["id"] for n in result["nodes"] if n["floods"]} == {"A", "B", "J"}
    assert out.splitlines()[0] == "flooding.rwn"  # a .rwn text has no name of its own
    assert out.splitlines()[-2].startswith("3 pipes (2 surcharged); 4 nodes (3 flooded); fullest pipe PA at ")
    # The pipe without a normal depth shows a dash, not "None".
    assert "None" not in out and " - " in table_lines(out, "Pipes")[3]


def test_csv_files_hold_every_value_exactly(tmp_path, capsys):
    source = write(tmp_path / "flooding.rwn", FLOODING_RWN)
    code, _, _ = cli(capsys, "run", source, "--csv", tmp_path / "out")
    assert code == 0
    result = rillwright.analyze_rwn(FLOODING_RWN)
    for name, keys, rows in (("pipes.csv", PIPE_KEYS, result["pipes"]), ("nodes.csv", NODE_KEYS, result["nodes"])):
        with open(tmp_path / "out" / name, newline="", encoding="utf-8") as handle:
            reader = csv.reader(handle)
            assert next(reader) == list(keys)
            written = list(reader)
        assert len(written) == len(rows)
        for cells, row in zip(written, rows):
            for cell, key in zip(cells, keys):
                value = row[key]
                if value is None:
                    assert cell == ""
                elif isinstance(value, bool) or isinstance(value, str):
                    assert cell == str(value)
                else:
                    assert float(cell) == value or (math.isnan(value) and math.isnan(float(cell)))


def test_json_prints_the_result(capsys):
    code, out, _ = cli(capsys, "run", "--json")
    assert code == 0
    assert json.loads(out) == rillwright.analyze_project(DEMO)


def test_numbers_that_are_not_finite(tmp_path, capsys):
    # A rim given as nan is refused by name.
    bad = write(tmp_path / "odd.rwn", FLOODING_RWN.replace("108.0", "nan"))
    code, out, err = cli(capsys, "run", bad)
    assert (code, out) == (1, "")
    assert err == f"rillwright: error: {bad}: analysis failed: node 'B' has a rim that is not a finite number\n"

    # Finite values can still give results that are not numbers: a curve with a negative b.
    source = write(tmp_path / "curve.rwn", FLOODING_RWN.replace("IDF 120 10 0.8", "IDF 120 -20 0.8"))
    code, out, _ = cli(capsys, "run", source, "--json")
    assert code == 0

    def reject(constant):
        raise AssertionError(f"{constant} is not JSON")
    pipes = {p["id"]: p for p in json.loads(out, parse_constant=reject)["pipes"]}
    assert (pipes["PA"]["design_q"], pipes["PA"]["hgl_up"], pipes["PA"]["hgl_dn"]) == (None, None, 99.0)

    code, out, _ = cli(capsys, "run", source)
    assert table_lines(out, "Pipes")[3].split()[:9] == ["PA", "A", "J", "0.0100", "18.000", "10.00", "0.00", "nan", "nan"]


@pytest.mark.parametrize("name, text, kind", [
    ("net.rwn", "{ not json", "rwn"),
    ("net.RWPROJ", "NODE A inlet 0 0 1 2 1 1", "project"),
    ("net.txt", "  \n{}", "project"),
    ("net", "NODE A inlet 0 0 1 2 1 1", "rwn"),
])
def test_format_follows_extension_then_content(name, text, kind):
    assert kind_of(name, text) == kind


def test_demo_command_writes_a_project_that_runs(tmp_path, capsys):
    target = tmp_path / "demo.json"  # neither extension: the content says it is a project
    assert cli(capsys, "demo", "-o", target)[0] == 0
    assert target.read_text(encoding="utf-8") == DEMO + "\n"
    code, out, _ = cli(capsys, "run", target)
    assert code == 0 and out.startswith("Demo Trunk Line\n")
    assert cli(capsys, "demo")[1] == DEMO + "\n"


@pytest.mark.parametrize("file, content, message", [
    ("missing.rwproj", None, "cannot read {path}: No such file or directory"),
    ("bad.rwn", "IDF 1 2 3\nNODE A pond 0 0 1 2\n", "{path}: cannot parse .rwn: line 2: unknown node kind `pond`"),
    ("bad.rwproj", "{", "{path}: invalid project JSON: EOF while parsing"),
    ("orphan.rwn", "NODE A inlet 0 0 1 2 1 1\nPIPE P A Z 10 1 0.013\n",
     "{path}: analysis failed: pipe references unknown node 'Z'"),
    ("latin1.rwn", b"# caf\xe9\n", "cannot read {path}: not UTF-8 text"),
    ("model.inp", "[TITLE]\n", "{path} is a SWMM model: convert it into a project first, rillwright convert {path} -o "
                                "model.rwproj"),
    ("plan.dxf", "0\nEOF\n", "{path} is a DXF drawing, which rillwright writes but does not read"),
])
def test_bad_input_is_one_line_and_status_1(tmp_path, capsys, file, content, message):
    path = tmp_path / file
    if isinstance(content, bytes):
        path.write_bytes(content)
    elif content is not None:
        write(path, content)
    code, out, err = cli(capsys, "run", path)
    assert (code, out) == (1, "")
    assert err.startswith("rillwright: error: " + message.format(path=path))
    assert err.count("\n") == 1


@pytest.mark.parametrize("args, message", [
    (["--profile", "{tmp}/p.png", "--from", "NOPE"], "no node `NOPE` in the network"),
    (["--profile", "{tmp}/p.png", "--from", "OUT"], "node `OUT` has no pipe downstream of it"),
    (["--csv", "{tmp}/taken"], "cannot write {tmp}/taken/pipes.csv"),
])
def test_output_problems_are_one_line_and_status_1(tmp_path, capsys, args, message):
    write(tmp_path / "taken", "a file where a directory should be")
    code, _, err = cli(capsys, "run", *[a.format(tmp=tmp_path) for a in args])
    assert code == 1
    assert err.startswith("rillwright: error: " + message.format(tmp=tmp_path)) and err.count("\n") == 1


@pytest.mark.parametrize("args", [
    [],
    ["frobnicate"],
    ["run", "--profile", "drawing.pdf"],
    ["run", "--from", "N1"],
    ["batch"],
    ["batch", "--workers", "0", "a.rwproj"],
])
def test_usage_errors_exit_2(capsys, args):
    code, _, err = cli(capsys, *args)
    assert code == 2 and "usage: rillwright" in err


def test_command_reports_without_traceback(tmp_path):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        [str(Path(rillwright.__file__).parent), str(Path(rillwright_tools.__file__).parents[1]),
         env.get("PYTHONPATH", "")])
    run = subprocess.run([sys.executable, "-m", "rillwright_tools", "run", "missing.rwproj"], cwd=tmp_path,
                         env=env, capture_output=True, text=True)
    assert run.returncode == 1 and run.stdout == ""
    assert run.stderr == "rillwright: error: cannot read missing.rwproj: No such file or directory\n"


def rwn_geometry(text):
    return geometry(Source(label="net.rwn", kind="rwn", text=text))


@pytest.mark.parametrize("pa_length, start, pipes", [
    (100, None, ["PB", "PC", "PJ"]),  # the upstream end of the longest run
    (250, None, ["PA", "PJ"]),  # a tie goes to the first node
    (100, "A", ["PA", "PJ"]),
    (100, "C", ["PC", "PJ"]),
    (100, "J", ["PJ"]),
])
def test_profile_follows_the_longest_run(pa_length, start, pipes):
    path = profile_path(rwn_geometry(BRANCHED_RWN.format(pa_length=pa_length)), start)
    assert [pipe.id for pipe in path] == pipes


def test_profile_series_of_the_demo():
    result = rillwright.analyze_project(DEMO)
    shape = geometry(Source(label="demo", kind="project", text=DEMO))
    series = profile_series(profile_path(shape), shape, result)
    assert series.node_ids == ["N1", "N2", "N3", "OUT"]
    assert series.stations == [0.0, 300.0, 550.0, 730.0]
    assert series.rims == [110.0, 108.5, 107.0, 106.0]
    assert [(p.invert_up, p.invert_dn, p.rise) for p in series.pipes] == [
        (104.0, 102.5, 1.25), (102.5, 101.2, 1.5), (101.2, 100.0, 1.75)]
    nodes = {n["id"]: n["hgl"] for n in result["nodes"]}
    expected = [nodes["N1"]]
    for pipe, downstream in zip(result["pipes"], ["N2", "N3", "OUT"]):
        expected += [pipe["hgl_up"], pipe["hgl_dn"], nodes[downstream]]
    assert series.hgl_y == expected
    assert series.hgl_x == [0.0, 0.0, 300.0, 300.0, 300.0, 550.0, 550.0, 550.0, 730.0, 730.0]


def test_profile_geometry_of_an_si_project_is_in_feet():
    project = json.loads(DEMO)
    project["units"] = "si"
    project["pipes"][0].update(shape="box", rise_ft=0.5, span_ft=1.0, invert_up=31.0)
    project["pipes"][1].update(shape="box", rise_ft=0.0, span_ft=1.0)  # no rise: circular
    shape = geometry(Source(label="si", kind="project", text=json.dumps(project)))
    first, second = shape.pipes[:2]
    assert first.rise == 0.5 * 3.280839895013123 and first.invert_up == 31.0 * 3.280839895013123
    assert first.length == 300.0 * 3.280839895013123
    assert second.rise == 1.5 * 3.280839895013123
    assert shape.nodes["N2"].rim == 108.5 * 3.280839895013123


def test_profile_drawing_is_written(tmp_path, capsys):
    code, _, err = cli(capsys, "run", "--profile", tmp_path / "demo.png", "--from", "N2")
    assert (code, err) == (0, "")
    assert (tmp_path / "demo.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_profile_without_matplotlib_names_the_extra(tmp_path, capsys, monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    monkeypatch.setitem(sys.modules, "matplotlib.figure", None)
    code, _, err = cli(capsys, "run", "--profile", tmp_path / "demo.svg")
    assert code == 1
    assert err == 'rillwright: error: drawing a profile needs matplotlib: pip install "rillwright[plot]"\n'
    assert not (tmp_path / "demo.svg").exists()


def test_profile_of_a_network_without_pipes(tmp_path, capsys):
    code, _, err = cli(capsys, "run", write(tmp_path / "empty.rwn", "# nothing\n"), "--profile", tmp_path / "p.svg")
    assert (code, err) == (1, "rillwright: error: the network has no pipes to draw\n")


def test_batch_reports_a_broken_file_and_writes_the_rest(tmp_path, capsys):
    files = []
    for index in range(4):
        project = json.loads(DEMO)
        project["name"] = f"Trunk {index}"
        project["pipes"][0]["diameter"] = 1.0 + 0.25 * index
        files.append(write(tmp_path / f"trunk{index}.rwproj", json.dumps(project)))
    files.insert(2, write(tmp_path / "broken.rwproj", '{"name": "half'))
    files.append(write(tmp_path / "flooding.rwn", FLOODING_RWN))

    tables = []
    for workers in ("2", "1"):
        out = tmp_path / f"results{workers}.csv"
        code, stdout, err = cli(capsys, "batch", *files, "--workers", workers, "-o", out)
        assert code == 1 and stdout == ""
        assert f"rillwright: error: {files[2]}: invalid project JSON: EOF while parsing a string" in err
        assert err.splitlines()[-1] == f"analysed 5 of 6 files (1 failed); wrote 15 pipe rows to {out}"
        tables.append(out.read_text(encoding="utf-8"))
    assert tables[0] == tables[1]

    rows = list(csv.reader(tables[0].splitlines()))
    assert rows[0] == ["project", *PIPE_KEYS]
    good = [f for f in files if f.name != "broken.rwproj"]
    assert [r[0] for r in rows[1:]] == [str(f) for f in good[:4] for _ in range(3)] + [str(good[4])] * 3
    first = rillwright.analyze_file(str(files[0]))["pipes"][0]
    assert rows[1][1:4] == ["P1", "N1", "N2"] and float(rows[1][PIPE_KEYS.index("design_q") + 1]) == first["design_q"]


LOOP_RWN = """\
IDF 120 10 0.8
NODE A   inlet    0   0 101.0 106.0 1 0.5
NODE B   junction 100 0 100.0 105.0 0 0
NODE OUT outfall  200 0 99.0 104.0
PIPE P1 A B 100 1.5 0.013
PIPE P2 B A 100 1.0 0.013
PIPE P3 B OUT 100 1.5 0.013
"""


@pytest.mark.parametrize("command", [["run"], ["check"], ["design"], ["report", "-o", "out.html"], ["batch"],
                                     ["service"]])
def test_every_command_names_the_loop_it_cannot_analyse(tmp_path, capsys, monkeypatch, command):
    monkeypatch.chdir(tmp_path)
    Path("loop.rwn").write_text(LOOP_RWN, encoding="utf-8")
    status = main(command[:1] + ["loop.rwn"] + command[1:])
    out, err = capsys.readouterr()
    assert status == 1
    named = "loop: P1 A->B, P2 B->A; the analysis is for trees" if command == ["check"] else \
        "network contains a cycle through pipes P1, P2\n"  # the library's message, printed as it is
    assert named in out + err
    assert "cycle\n" not in err  # never the bare refusal
