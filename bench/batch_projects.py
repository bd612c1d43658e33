"""Writes generated projects for timing `rillwright batch`.

    python bench/batch_projects.py DIR [--count 200] [--pipes 400] [--broken]

Each project is a trunk line with side branches, its trunk pipes sized for the area they
collect; --broken adds one file that is not valid project JSON.
"""

import argparse
import json
import math
import os


def project(index: int, pipes: int) -> dict:
    nodes, links = [], []
    trunk = pipes * 2 // 3
    for k in range(trunk + 1):
        invert = 100.0 + 0.004 * 200.0 * (trunk - k)
        kind = "outfall" if k == trunk else "junction"
        nodes.append({"id": f"T{k}", "kind": kind, "x": 200.0 * k, "y": 0.0, "invert": invert,
                      "rim": invert + 7.0, "area_ac": 0.4 + 0.01 * (index % 7), "c": 0.6, "tc_inlet": 10.0})
    for k in range(trunk):
        # Sized for the area gathered so far, rounded up to a quarter foot.
        diameter = max(1.25, math.ceil(4 * 1.2 * (0.6 * (k + 1)) ** 0.375) / 4)
        links.append({"id": f"PT{k}", "from": f"T{k}", "to": f"T{k + 1}", "length": 200.0,
                      "diameter": diameter, "n": 0.013})
    branch = 0
    while len(links) < pipes:
        at = (branch * 3) % trunk
        node = nodes[at]
        nodes.append({"id": f"B{branch}", "kind": "inlet", "x": node["x"], "y": 150.0,
                      "invert": node["invert"] + 0.6, "rim": node["rim"] + 0.6, "area_ac": 0.5, "c": 0.7,
                      "tc_inlet": 8.0})
        links.append({"id": f"PB{branch}", "from": f"B{branch}", "to": node["id"], "length": 150.0,
                      "diameter": 1.0, "n": 0.013})
        branch += 1
    return {"name": f"Generated {index}", "idf_a": 60.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0,
            "junction_k": 0.5, "nodes": nodes, "pipes": links}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("directory")
    parser.add_argument("--count", type=int, default=200)
    parser.add_argument("--pipes", type=int, default=400)
    parser.add_argument("--broken", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.directory, exist_ok=True)
    for index in range(args.count):
        with open(os.path.join(args.directory, f"project{index:04d}.rwproj"), "w", encoding="utf-8") as out:
            json.dump(project(index, args.pipes), out)
    if args.broken:
        with open(os.path.join(args.directory, "project0100-broken.rwproj"), "w", encoding="utf-8") as out:
            out.write('{"name": "cut short", "nodes": [')


if __name__ == "__main__":
    main()
