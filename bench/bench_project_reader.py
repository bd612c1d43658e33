"""Throughput of the project reader and the cost of a large project end to end.

    PYTHONPATH=build-dev python3 bench/bench_project_reader.py [megabytes]

The reader alone is timed on a large project whose closing brace is followed by
one stray character: the whole text is read, then refused as trailing text, so
no analysis runs.
"""
import sys
import time

import rillwright as rw


def node_text(i, kind, invert):
    return (
        '    {\n      "id": "N%d",\n      "kind": "%s",\n      "x": %.1f,\n      "y": 0.0,\n'
        '      "invert": %.4f,\n      "rim": %.4f,\n      "area_ac": 0.35,\n      "c": 0.65,\n'
        '      "tc_inlet": 10.0,\n      "inlet": {\n        "length_ft": 3.0,\n        "gutter_slope": 0.02,\n'
        '        "sag": false,\n        "grate_width_ft": 2.0,\n        "cross_slope": 0.02\n      },\n'
        '      "bypass_to": null,\n      "diameter_ft": 4.0\n    }' % (i, kind, i * 100.0, invert, invert + 6.0)
    )


def pipe_text(i):
    return (
        '    {\n      "id": "P%d",\n      "from": "N%d",\n      "to": "N%d",\n      "length": 100.0,\n'
        '      "diameter": 1.5,\n      "n": 0.013,\n      "shape": "circular",\n      "rise_ft": 0.0,\n'
        '      "span_ft": 0.0\n    }' % (i, i, i + 1)
    )


def chain_project(node_count):
    """A single trunk line of node_count nodes falling 0.5 ft per 100 ft pipe."""
    top = 100.0 + 0.5 * node_count
    nodes = [node_text(i, "inlet", top - 0.5 * i) for i in range(node_count - 1)]
    nodes.append(node_text(node_count - 1, "outfall", top - 0.5 * (node_count - 1)))
    pipes = [pipe_text(i) for i in range(node_count - 1)]
    return (
        '{\n  "name": "bench",\n  "idf_a": 60.0,\n  "idf_b": 10.0,\n  "idf_c": 0.8,\n  "min_tc": 10.0,\n'
        '  "junction_k": 0.5,\n  "nodes": [\n' + ",\n".join(nodes) + '\n  ],\n  "pipes": [\n'
        + ",\n".join(pipes) + "\n  ]\n}"
    )


def main():
    megabytes = float(sys.argv[1]) if len(sys.argv) > 1 else 50.0
    per_node = len(node_text(0, "inlet", 100.0)) + len(pipe_text(0)) + 4
    text = chain_project(max(2, int(megabytes * 1e6 / per_node)))
    size = len(text.encode())

    refused = text + "x"
    best = float("inf")
    for _ in range(3):
        start = time.perf_counter()
        try:
            rw.analyze_project(refused)
        except ValueError as error:
            assert "trailing characters" in str(error), error
        best = min(best, time.perf_counter() - start)
    print("read %.1f MB in %.3f s: %.0f MB/s" % (size / 1e6, best, size / 1e6 / best))

    start = time.perf_counter()
    result = rw.analyze_project(text)
    elapsed = time.perf_counter() - start
    print("read and analysed %d pipes in %.2f s" % (len(result["pipes"]), elapsed))


if __name__ == "__main__":
    main()
