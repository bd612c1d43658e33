"""Benchmark of the network analysis: generated dendritic networks, from text to result dicts.

    python bench/run.py                       # 1,000 to 100,000 pipes, every shape mix
    python bench/run.py --sizes 1000000 --mixes circular --formats rwn

Each case runs in a fresh interpreter so that its peak memory is its own. Per case it
prints the wall time from text to dicts, microseconds per pipe, the split between
reading, analysis and result conversion, the reading speed, peak memory, and the
per-pipe time in "evaluation-equivalents": time per pipe divided by the cost of one
circular Manning-flow evaluation (and, for elliptical sections, of one elliptical
wetted-perimeter evaluation), both measured in the same run.

How the split is measured (the module exposes only whole analyses):
- reading: the same text with one more pipe naming an unknown node at its end; the
  call then stops right after reading, at the first step of the analysis;
- conversion: a network of the same size whose analysis is trivial (no area, n = 0),
  minus its own reading time; what remains is almost all dict building;
- analysis: the rest of the wall time.
Only the standard library is used beside the module.
"""
from __future__ import annotations

import argparse
import json
import math
import os
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
TREE_SIZE = 400  # pipes per outfall: a city is a forest of catchment trees
MIXES = {
    "circular": {"circular": 1.0},
    "mixed": {"circular": 0.55, "box": 0.15, "elliptical": 0.15, "arch": 0.15},
    "elliptical": {"elliptical": 0.8, "circular": 0.2},
}


# --------------------------------------------------------------------------- networks
def generate(pipes: int, mix: str, seed: int = 7, trivial: bool = False) -> dict:
    """A forest of dendritic trees with sizes chosen so most pipes run part full,
    about one in ten is undersized (surcharged) and one in eight is steep."""
    rng = random.Random(seed)
    shapes, weights = zip(*MIXES[mix].items())
    nodes, links = [], []
    made = 0
    while made < pipes:
        count = min(TREE_SIZE, pipes - made)
        base = len(nodes)
        ox, oy = (len(nodes) % 40) * 5000.0, (len(nodes) // 40) * 5000.0
        nodes.append({"id": f"O{base}", "kind": "outfall", "x": ox, "y": oy, "invert": 100.0,
                      "rim": 108.0, "area_ac": 0.0, "c": 0.0, "tc_inlet": 0.0})
        area_total = [0.0] * (count + 1)
        parents = [0] * (count + 1)
        for i in range(1, count + 1):
            # Mostly extend a recent branch, sometimes start a side branch further back.
            parent = rng.randrange(max(0, i - 8), i) if rng.random() < 0.8 else rng.randrange(0, i)
            parents[i] = parent
            px, py = nodes[base + parent]["x"], nodes[base + parent]["y"]
            angle = rng.uniform(0, 2 * math.pi)
            length = rng.uniform(120.0, 400.0)
            slope = rng.uniform(0.04, 0.08) if rng.random() < 0.125 else rng.uniform(0.002, 0.02)
            invert = nodes[base + parent]["invert"] + slope * length
            area = 0.0 if trivial else rng.uniform(0.2, 2.0)
            nodes.append({"id": f"N{base + i}", "kind": "inlet", "x": px + length * math.cos(angle),
                          "y": py + length * math.sin(angle), "invert": round(invert, 3),
                          "rim": round(invert + rng.uniform(6.0, 10.0), 3), "area_ac": round(area, 3),
                          "c": 0.6, "tc_inlet": 10.0})
            links.append((base + i, base + parent, length, slope))
            area_total[i] = area
        for i in range(count, 0, -1):  # children always have larger indices
            area_total[parents[i]] += area_total[i]
        for k, (child, parent, length, slope) in enumerate(links[made:made + count]):
            flow = 0.6 * area_total[child - base] * 4.0 + 0.5
            # Full-flow diameter from Manning, then a margin: most part full, some undersized.
            full = (flow * 0.013 / (0.4632 * math.sqrt(slope))) ** 0.375
            factor = 0.75 if rng.random() < 0.1 else rng.uniform(1.05, 1.5)
            diameter = round(max(full * factor, 0.5), 3)
            shape = rng.choices(shapes, weights)[0]
            pipe = {"id": f"P{made + k}", "from": nodes[child]["id"], "to": nodes[parent]["id"],
                    "length": round(length, 2), "diameter": diameter, "n": 0.0 if trivial else 0.013,
                    "shape": shape}
            if shape != "circular":
                pipe["rise_ft"] = diameter
                pipe["span_ft"] = round(diameter * (1.5 if shape != "box" else 1.2), 3)
            links[made + k] = pipe
        made += count
    return {"nodes": nodes, "pipes": links}


def as_rwn(network: dict, probe: bool) -> str:
    lines = ["IDF 120 10 0.8", "MINTC 10"]
    for n in network["nodes"]:
        tail = "" if n["kind"] == "outfall" else f" {n['area_ac']} {n['c']} {n['tc_inlet']}"
        lines.append(f"NODE {n['id']} {n['kind']} {n['x']:.2f} {n['y']:.2f} {n['invert']} {n['rim']}{tail}")
    for p in network["pipes"]:
        lines.append(f"PIPE {p['id']} {p['from']} {p['to']} {p['length']} {p['diameter']} {p['n']}")
    if probe:
        lines.append("PIPE probe N0 no-such-node 1 1 0.013")
    return "\n".join(lines) + "\n"


def as_project(network: dict, probe: bool) -> str:
    pipes = list(network["pipes"])
    if probe:
        pipes.append({"id": "probe", "from": "N0", "to": "no-such-node", "length": 1, "diameter": 1, "n": 0.013})
    project = {"name": "bench", "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0,
               "junction_k": 0.5, "nodes": network["nodes"], "pipes": pipes}
    return json.dumps(project, indent=1)


# --------------------------------------------------------------------------- one case
def timed(function, text: str, repeats: int, expect_error: bool = False) -> float:
    best = math.inf
    for _ in range(repeats):
        start = time.perf_counter()
        try:
            function(text)
        except ValueError:
            if not expect_error:
                raise
        best = min(best, time.perf_counter() - start)
    return best


def run_case(pipes: int, mix: str, fmt: str) -> dict:
    import rillwright

    analyze = rillwright.analyze_rwn if fmt == "rwn" else rillwright.analyze_project
    write = as_rwn if fmt == "rwn" else as_project
    network = generate(pipes, mix)
    trivial = generate(pipes, mix, trivial=True)
    text, probe_text = write(network, False), write(network, True)
    trivial_text, trivial_probe = write(trivial, False), write(trivial, True)
    del network, trivial
    repeats = 3 if pipes <= 100_000 else 1
    total = timed(analyze, text, repeats)
    reading = timed(analyze, probe_text, repeats, expect_error=True)
    conversion = max(timed(analyze, trivial_text, repeats) - timed(analyze, trivial_probe, repeats, True), 0.0)
    return {
        "pipes": pipes, "mix": mix, "format": fmt, "megabytes": len(text.encode()) / 1e6,
        "total": total, "reading": reading, "conversion": conversion,
        "analysis": max(total - reading - conversion, 0.0),
        "peak_mb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0,
    }


# --------------------------------------------------------------------------- unit costs
def evaluation_costs() -> tuple[float, float | None]:
    """Nanoseconds per circular flow evaluation and per elliptical perimeter evaluation."""
    compiler = shutil.which("c++") or shutil.which("g++")
    if compiler:
        with tempfile.TemporaryDirectory() as tmp:
            exe = os.path.join(tmp, "eval_cost")
            sources = [HERE / "eval_cost.cpp", ROOT / "src" / "hydraulics.cpp", ROOT / "src" / "sections.cpp"]
            build = [compiler, "-std=c++20", "-O2", "-ffp-contract=off", f"-I{ROOT / 'src'}", *map(str, sources), "-o", exe]
            if subprocess.run(build, capture_output=True).returncode == 0:
                circular, elliptical = map(float, subprocess.check_output([exe], text=True).split())
                return circular, elliptical
    # Without a compiler: a normal depth of an impossible flow is exactly one 2000-depth scan.
    import rillwright

    start = time.perf_counter()
    for _ in range(200):
        rillwright.normal_depth(1e9, 1.5, 0.013, 0.01)
    return (time.perf_counter() - start) / 200 / 2000 * 1e9, None


# --------------------------------------------------------------------------- driver
def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[1000, 10_000, 100_000])
    parser.add_argument("--mixes", nargs="+", choices=list(MIXES), default=list(MIXES))
    parser.add_argument("--formats", nargs="+", choices=["rwn", "json"], default=["rwn", "json"])
    parser.add_argument("--case", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.case:
        print(json.dumps(run_case(int(args.case[0]), args.case[1], args.case[2])))
        return

    circular_ns, elliptical_ns = evaluation_costs()
    print(f"one circular flow evaluation: {circular_ns:.1f} ns", end="")
    print(f"; one elliptical perimeter evaluation: {elliptical_ns:.1f} ns" if elliptical_ns else "")
    header = (f"{'pipes':>9} {'mix':<10} {'fmt':<4} {'MB':>7} {'wall s':>8} {'us/pipe':>8} {'read':>7} "
              f"{'analyse':>8} {'convert':>8} {'read MB/s':>9} {'peak MB':>8} {'eq/pipe':>8} {'ell-eq':>7}")
    print(header)
    for size in args.sizes:
        for mix in args.mixes:
            for fmt in args.formats:
                if fmt == "rwn" and mix != "circular":
                    continue  # the plain-text format carries circular pipes only
                out = subprocess.run([sys.executable, __file__, "--case", str(size), mix, fmt],
                                     capture_output=True, text=True)
                if out.returncode != 0:
                    print(f"{size:>9} {mix:<10} {fmt:<4} failed: {out.stderr.strip().splitlines()[-1:]}")
                    continue
                r = json.loads(out.stdout)
                per_pipe = r["total"] / size * 1e6
                ell = f"{per_pipe * 1000 / elliptical_ns:>7.0f}" if elliptical_ns and mix == "elliptical" else f"{'':>7}"
                print(f"{size:>9} {mix:<10} {fmt:<4} {r['megabytes']:>7.1f} {r['total']:>8.3f} {per_pipe:>8.2f} "
                      f"{r['reading'] / size * 1e6:>7.2f} {r['analysis'] / size * 1e6:>8.2f} "
                      f"{r['conversion'] / size * 1e6:>8.2f} {r['megabytes'] / r['reading']:>9.0f} "
                      f"{r['peak_mb']:>8.0f} {per_pipe * 1000 / circular_ns:>8.0f} {ell}", flush=True)


if __name__ == "__main__":
    main()
