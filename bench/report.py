"""Benchmark of the design report: a generated 2,000-pipe project (five trees of 400
pipes) written as HTML and PDF together, with its plan sheets and every profile.

    python bench/report.py [--pipes 2000] [--layout random|streets] [--keep DIR]

Prints the seconds for the content (analysis, check, figures), the HTML and the PDF.
`random` (the default, and the figure quoted) is bench/run.py's forest, whose pipes run
at random angles and cross one another in tangles, which the plan sheets leave to
hundreds of detail sheets; `streets` lays each tree along the streets of a grid of 250 ft
blocks, as networks are built, which needs few details. The line printed counts the plan
sheets and the details. `--keep DIR` keeps report.html and report.pdf.
"""
from __future__ import annotations

import argparse
import json
import math
import random
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from run import generate  # noqa: E402

from rillwright_tools.inputs import Source  # noqa: E402
from rillwright_tools.submittal.build import build  # noqa: E402
from rillwright_tools.submittal.writer import write_files  # noqa: E402


BLOCK = 250.0  # ft between street intersections
TREE = 400  # pipes per outfall, as bench/run.py's forest


def streets(pipes: int, seed: int = 7) -> dict:
    """Trees of TREE pipes, each a random spanning tree of a street grid grown from its
    outfall (so no two pipes cross), sized as bench/run.py sizes its forest."""
    rng = random.Random(seed)
    side = math.ceil(math.sqrt(TREE + 1))
    nodes, links = [], []
    made = 0
    while made < pipes:
        count = min(TREE, pipes - made)
        ox = (len(links) // TREE) * (side + 2) * BLOCK
        base = len(nodes)
        nodes.append({"id": f"O{base}", "kind": "outfall", "x": ox, "y": 0.0, "invert": 100.0, "rim": 108.0,
                      "area_ac": 0.0, "c": 0.0, "tc_inlet": 0.0})
        at = {(0, 0): base}
        frontier = [((0, 0), (dx, dy)) for dx, dy in ((1, 0), (0, 1), (-1, 0), (0, -1))]
        parent_of, length_of = {}, {}
        while len(at) - 1 < count:
            (cx, cy), (dx, dy) = frontier.pop(rng.randrange(len(frontier)))
            spot = (cx + dx, cy + dy)
            if spot in at or not (-side // 2 <= spot[0] <= side // 2 and 0 <= spot[1] <= side):
                continue
            parent = at[(cx, cy)]
            slope = rng.uniform(0.04, 0.08) if rng.random() < 0.125 else rng.uniform(0.002, 0.02)
            invert = nodes[parent]["invert"] + slope * BLOCK
            at[spot] = len(nodes)
            parent_of[len(nodes)], length_of[len(nodes)] = parent, BLOCK
            nodes.append({"id": f"N{len(nodes)}", "kind": "inlet", "x": ox + spot[0] * BLOCK, "y": spot[1] * BLOCK,
                          "invert": round(invert, 3), "rim": round(invert + rng.uniform(6.0, 10.0), 3),
                          "area_ac": round(rng.uniform(0.2, 2.0), 3), "c": 0.6, "tc_inlet": 10.0})
            frontier += [(spot, step) for step in ((1, 0), (0, 1), (-1, 0), (0, -1))]
        total = {k: nodes[k]["area_ac"] for k in parent_of}
        for child in sorted(parent_of, reverse=True):  # children were added after their parents
            if parent_of[child] in total:
                total[parent_of[child]] += total[child]
        for child in sorted(parent_of):
            slope = (nodes[child]["invert"] - nodes[parent_of[child]]["invert"]) / BLOCK
            flow = 0.6 * total[child] * 11.0 + 0.5  # about the intensity at 10 min
            full = (flow * 0.013 / (0.4632 * math.sqrt(slope))) ** 0.375
            factor = 0.75 if rng.random() < 0.1 else rng.uniform(1.05, 1.5)
            links.append({"id": f"P{len(links)}", "from": nodes[child]["id"], "to": nodes[parent_of[child]]["id"],
                          "length": BLOCK, "diameter": round(max(full * factor, 0.5), 3), "n": 0.013,
                          "shape": "circular"})
        made += count
    return {"nodes": nodes, "pipes": links}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--pipes", type=int, default=2000)
    parser.add_argument("--layout", choices=("random", "streets"), default="random")
    parser.add_argument("--keep", help="a folder to keep report.html and report.pdf in")
    args = parser.parse_args()
    pipes = args.pipes
    network = generate(pipes, "circular") if args.layout == "random" else streets(pipes)
    project = {"name": f"bench {pipes}", "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0,
               "junction_k": 0.5, **network}
    source = Source("bench", "project", json.dumps(project))
    tty = sys.stderr.isatty()
    progress = (lambda text: sys.stderr.write(f"\r{text}\033[K")) if tty else None
    start = time.perf_counter()
    content = build(source, progress=progress)
    built = time.perf_counter()
    with tempfile.TemporaryDirectory() as scratch:
        folder = Path(args.keep or scratch)
        folder.mkdir(parents=True, exist_ok=True)
        write_files(content, folder / "report.html", folder / "report.pdf", progress)
        done = time.perf_counter()
    if tty:
        sys.stderr.write("\r\033[K")
    plan = sum(1 for f in content.figures if f.title.startswith("Plan sheet "))
    details = sum(1 for f in content.figures if f.title.startswith("Detail "))
    print(f"{pipes} pipes ({args.layout}), {len(content.figures)} figures ({plan} plan sheets, {details} details): "
          f"content {built - start:.1f} s, HTML and PDF {done - built:.1f} s, total {done - start:.1f} s")


if __name__ == "__main__":
    main()
