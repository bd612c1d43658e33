"""Reference counts and memory: every function, on success and on each error path,
called 100,000 times in a fresh interpreter, leaves its resident memory and the
reference counts of its arguments where they were."""
import json
import os
import subprocess
import sys
import textwrap

import pytest

CALLS = 100_000
LIMIT_BYTES = 1 << 20

# Sanitizer allocators keep freed memory in quarantine, so resident memory says
# nothing about leaks there; the sanitizer run checks memory errors instead.
pytestmark = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""), reason="resident memory is meaningless under AddressSanitizer"
)

# A pipe with n = 0 skips the depth searches, so a call costs microseconds while
# still building every kind of result value (floats, None, bools, strings).
CHEAP_RWN = "NODE A inlet 0 0 10 12 1 0.5\nNODE B outfall 0 0 9 11\nPIPE P A B 100 1 0\n"
CHEAP_PROJECT = json.dumps({
    "name": "leak check", "idf_a": 120, "idf_b": 10, "idf_c": 0.8, "min_tc": 10, "junction_k": 0.5,
    "nodes": [
        {"id": "A", "kind": "inlet", "x": 0, "y": 0, "invert": 10, "rim": 12, "area_ac": 1, "c": 0.5, "tc_inlet": 10},
        {"id": "B", "kind": "outfall", "x": 0, "y": 0, "invert": 9, "rim": 11, "area_ac": 0, "c": 0, "tc_inlet": 0},
    ],
    "pipes": [{"id": "P", "from": "A", "to": "B", "length": 100, "diameter": 1, "n": 0}],
})
UNKNOWN_NODE_RWN = "NODE A inlet 0 0 10 12 1 0.5\nPIPE P A Z 100 1 0.013\n"
UNKNOWN_NODE_PROJECT = CHEAP_PROJECT.replace('"to": "B"', '"to": "Z"')

# (id, call expression, exception the call must raise or None, number of calls)
CASES = [
    ("intensity", "rw.intensity(a, 10.0, 0.8, 10.0)", None, CALLS),
    ("intensity-type", "rw.intensity('x', 10.0, 0.8, 10.0)", TypeError, CALLS),
    ("intensity-binding", "rw.intensity(a, 10.0, 0.8)", TypeError, CALLS),
    ("intensity-keyword", "rw.intensity(a, 10.0, 0.8, 10.0, t=1)", TypeError, CALLS),
    ("rational_q", "rw.rational_q(0.5, a, 10.0)", None, CALLS),
    ("rational_q-type", "rw.rational_q(0.5, None, 10.0)", TypeError, CALLS),
    ("manning_capacity", "rw.manning_capacity(a, 0.013, 0.01, si=True)", None, CALLS),
    ("manning_capacity-guard", "rw.manning_capacity(a, 0.0, 0.01)", ValueError, CALLS),
    ("manning_capacity-si", "rw.manning_capacity(a, 0.013, 0.01, si=1)", TypeError, CALLS),
    ("manning_capacity-overflow", "rw.manning_capacity(10**400, 0.013, 0.01)", OverflowError, CALLS),
    ("circular_flow", "rw.circular_flow(a, 0.013, 0.01, 0.5)", None, CALLS),
    ("circular_flow-guard", "rw.circular_flow(-a, 0.013, 0.01, 0.5)", ValueError, CALLS),
    ("normal_depth-zero", "rw.normal_depth(0.0, a, 0.013, 0.01)", None, CALLS),
    # Every positive flow runs the 2000-depth scan (about 0.1 ms); fewer calls
    # suffice because None's reference count is checked exactly.
    ("normal_depth-value", "rw.normal_depth(2.0, a, 0.013, 0.01)", None, 10_000),
    ("normal_depth-none", "rw.normal_depth(50.0, a, 0.013, 0.01)", None, 10_000),
    ("normal_depth-guard", "rw.normal_depth(2.0, a, float('nan'), 0.01)", ValueError, CALLS),
    ("critical_depth", "rw.critical_depth(2.0, a)", None, CALLS),
    ("critical_depth-guard", "rw.critical_depth(2.0, 0.0)", ValueError, CALLS),
    ("circular_geometry", "rw.circular_geometry(a, 0.5)", None, CALLS),
    ("circular_geometry-guard", "rw.circular_geometry(0.0, 0.5)", ValueError, CALLS),
    ("analyze_rwn", "rw.analyze_rwn(cheap_rwn)", None, CALLS),
    ("analyze_rwn-parse", "rw.analyze_rwn('NODE X pond 0 0 1 2')", ValueError, CALLS),
    ("analyze_rwn-analysis", "rw.analyze_rwn(unknown_node_rwn)", ValueError, CALLS),
    ("analyze_rwn-surrogate", "rw.analyze_rwn(surrogate)", UnicodeEncodeError, CALLS),
    ("analyze_rwn-type", "rw.analyze_rwn(b'NODE')", TypeError, CALLS),
    ("analyze_project", "rw.analyze_project(cheap_project)", None, CALLS),
    ("analyze_project-json", "rw.analyze_project(cheap_project[:-1])", ValueError, CALLS),
    ("analyze_project-analysis", "rw.analyze_project(unknown_node_project)", ValueError, CALLS),
    ("analyze_project-surrogate", "rw.analyze_project(surrogate)", UnicodeEncodeError, CALLS),
    ("analyze_file", "rw.analyze_file(project_path)", None, CALLS),
    ("analyze_file-missing", "rw.analyze_file(project_path + '.missing')", OSError, CALLS),
    ("analyze_file-utf8", "rw.analyze_file(latin1_path)", OSError, CALLS),
    ("analyze_file-json", "rw.analyze_file(broken_path)", ValueError, CALLS),
    ("demo_project_json", "rw.demo_project_json()", None, CALLS),
    ("demo_project_json-binding", "rw.demo_project_json(1)", TypeError, CALLS),
]

SCRIPT = textwrap.dedent(
    """
    import gc, os, sys
    import rillwright as rw

    a = float(sys.argv[3]) / float(sys.argv[3])  # a fresh 1.0, whose reference count is ours alone
    cheap_rwn, cheap_project, unknown_node_rwn, unknown_node_project, directory = sys.argv[4:9]
    surrogate = "NODE \\ud800 inlet"
    project_path = os.path.join(directory, "cheap.rwproj")
    latin1_path = os.path.join(directory, "latin1.rwproj")
    broken_path = os.path.join(directory, "broken.rwproj")
    expected = eval(sys.argv[2])
    calls = int(sys.argv[3])
    code = compile(sys.argv[1], "<call>", "eval")

    def call():
        try:
            eval(code)
        except Exception as error:
            if expected is None or type(error) is not expected:
                raise
        else:
            if expected is not None:
                raise AssertionError("the call did not raise " + expected.__name__)

    def resident():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    # The arguments' counts must come back exactly; the singletons' counts move
    # with the interpreter's own caches (by up to about 120 with some hash seeds),
    # but a reference gained or lost per call would move them by every call.
    arguments = [a, cheap_rwn, cheap_project, surrogate, project_path]
    singletons = [None, True, False]
    watched = arguments + singletons
    for _ in range(2000):
        call()
    gc.collect()
    before = resident()
    counts = [sys.getrefcount(obj) for obj in watched]
    for _ in range(calls):
        call()
    gc.collect()
    after = resident()
    drift = [count - before_count for count, before_count in zip([sys.getrefcount(obj) for obj in watched], counts)]
    kept = not any(drift[:len(arguments)]) and all(abs(d) < calls // 10 for d in drift[len(arguments):])
    print(after - before, kept)
    """
)


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    directory = tmp_path_factory.mktemp("leaks")
    (directory / "cheap.rwproj").write_text(CHEAP_PROJECT, encoding="utf-8")
    (directory / "latin1.rwproj").write_bytes(b'{"name": "caf\xe9"}')
    (directory / "broken.rwproj").write_text(CHEAP_PROJECT[:-1], encoding="utf-8")
    return directory


@pytest.mark.parametrize("expression, expected, calls", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_repeated_calls_keep_memory_and_reference_counts(expression, expected, calls, files):
    expected_name = "None" if expected is None else expected.__name__
    out = subprocess.run(
        [sys.executable, "-c", SCRIPT, expression, expected_name, str(calls),
         CHEAP_RWN, CHEAP_PROJECT, UNKNOWN_NODE_RWN, UNKNOWN_NODE_PROJECT, str(files)],
        capture_output=True, text=True, timeout=120,
    )
    assert out.returncode == 0, out.stderr
    growth, counts_kept = out.stdout.split()
    assert int(growth) < LIMIT_BYTES, f"resident memory grew by {int(growth)} bytes"
    assert counts_kept == "True", "a reference count changed"
