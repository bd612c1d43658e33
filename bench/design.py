"""Benchmark of the automatic design: a generated 10,000-pipe network whose pipes are all
typed in undersized, sized from the default catalogue.

    python bench/design.py                          # circular (.rwn) and mixed shapes (project)
    python bench/design.py --pipes 2000 --min-freeboard 5

Per case it prints, best of three in the same run:
- design: `rwt.design` without min_freeboard (the forward sizing, one grade line, the
  result and the sized text), and one analysis of the sized network; the goal is a
  ratio of at most 3;
- with min_freeboard: the grade-line rounds it took, its time, and the violations left.
- profile: `rwt.design(profile=True)` without min_freeboard on the mixed network (its
  ground from its rims), and one analysis of the designed project; the goal is a ratio
  of at most 3.
- least cost: `rwt.design(profile=True, objective="cost")` at `--invert-step` (0.01 ft)
  beside the shallowest-first profile design, on networks whose flows fit the
  catalogue (`feasible`): both times, the ratio to one analysis of the designed network
  (the goal is at most 30), the rounds, the saving, and the peak memory of a fresh
  process at 2,500, 5,000 and 10,000 pipes above the process with the network's text
  (MB per 1,000 pipes shows it is linear).
It also checks that the sized network analyses to the design's numbers bit for bit.
The networks come from bench/run.py's generator: 400-pipe trees whose trunks carry more
than the largest catalogue pipe, so many structures stay short of freeboard whatever
the sizes, and the rounds grow their paths to the largest sizes before giving up.
"""
from __future__ import annotations

import argparse
import json
import math
import random
import resource
import subprocess
import sys
import time
from pathlib import Path
from typing import Any, Callable, Dict

sys.path.insert(0, str(Path(__file__).resolve().parent))

import rillwright  # noqa: E402
import rillwright_tools as rwt  # noqa: E402
from run import as_project, as_rwn, generate  # noqa: E402

UNDERSIZE = 0.5  # every typed-in size halved: the design has to grow nearly every pipe


def undersized(pipes: int, mix: str) -> Dict[str, Any]:
    network = generate(pipes, mix)
    for pipe in network["pipes"]:
        for key in ("diameter", "rise_ft", "span_ft"):
            if key in pipe:
                pipe[key] = round(pipe[key] * UNDERSIZE, 3)
    return network


def best_of(repeats: int, call: Callable[[], Any]) -> float:
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def check_consistency(result: Dict[str, Any], analysis: Dict[str, Any]) -> None:
    for designed, analysed in zip(result["pipes"], analysis["pipes"]):
        for key in ("design_q", "capacity", "velocity"):
            if designed[key] != analysed[key]:
                raise SystemExit(f"pipe {designed['id']}: design {key} {designed[key]!r} != analysis {analysed[key]!r}")
    for designed, analysed in zip(result["nodes"], analysis["nodes"]):
        if designed["hgl"] != analysed["hgl"]:
            raise SystemExit(f"node {designed['id']}: design hgl differs from the analysis")


def run_case(pipes: int, mix: str, fmt: str, min_freeboard: float, repeats: int) -> None:
    network = undersized(pipes, mix)
    text = as_rwn(network, False) if fmt == "rwn" else as_project(network, False)
    analyze = rillwright.analyze_rwn if fmt == "rwn" else rillwright.analyze_project
    rwt_format = "rwn" if fmt == "rwn" else "rwproj"

    result = rwt.design(text=text, format=rwt_format)
    sized = result["sized"]
    check_consistency(result, analyze(sized))
    resized = sum(1 for p in result["pipes"] if p["rise"] != p["given_rise"] or p["span"] != p["given_span"])
    sizing = best_of(repeats, lambda: rwt.design(text=text, format=rwt_format))
    analysis = best_of(repeats, lambda: analyze(sized))
    print(f"{pipes:>7} {mix:<9} {fmt:<4} resized {resized:>6}  design {sizing:7.3f} s  "
          f"analysis of the sized network {analysis:7.3f} s  ratio {sizing / analysis:5.2f}", flush=True)

    start = time.perf_counter()
    rounds_result = rwt.design(text=text, format=rwt_format, min_freeboard=min_freeboard)
    elapsed = time.perf_counter() - start
    check_consistency(rounds_result, analyze(rounds_result["sized"]))
    short = sum(1 for v in rounds_result["violations"] if v["kind"] == "freeboard")
    print(f"{'':>7} with min_freeboard {min_freeboard:g} ft: {rounds_result['rounds']} rounds, {elapsed:7.3f} s "
          f"({elapsed / sizing:.1f} x the design without), {short} structures left short", flush=True)


def run_profile_case(pipes: int, repeats: int) -> None:
    text = as_project(undersized(pipes, "mixed"), False)
    result = rwt.design(text=text, format="rwproj", profile=True)
    sized = result["sized"]
    check_consistency(result, rillwright.analyze_project(sized))
    design = best_of(repeats, lambda: rwt.design(text=text, format="rwproj", profile=True))
    analysis = best_of(repeats, lambda: rillwright.analyze_project(sized))
    print(f"{pipes:>7} {'mixed':<9} json profile design {design:7.3f} s  analysis of the designed network "
          f"{analysis:7.3f} s  ratio {design / analysis:5.2f}  ({len(result['violations'])} violations)", flush=True)


COST_TREE = 100  # pipes per outfall: trunks of about 40 ac, within the catalogue at gentle grades


def feasible(pipes: int, seed: int = 7) -> Dict[str, Any]:
    """A forest of 100-pipe trees on ground rising 0.3 to 2 % away from each outfall
    (10 ft deep), small catchments (0.1 to 0.6 ac): every trunk fits the catalogue, so
    the least-cost design has a grid design to find on every tree."""
    rng = random.Random(seed)
    nodes: list = []
    links: list = []
    while len(links) < pipes:
        count = min(COST_TREE, pipes - len(links))
        base = len(nodes)
        nodes.append({"id": f"O{base}", "kind": "outfall", "x": (base % 40) * 5000.0, "y": (base // 40) * 5000.0,
                      "invert": 100.0, "rim": 110.0, "area_ac": 0.0, "c": 0.0, "tc_inlet": 0.0})
        for i in range(1, count + 1):
            parent = nodes[base + (rng.randrange(max(0, i - 8), i) if rng.random() < 0.8 else rng.randrange(0, i))]
            angle, length = rng.uniform(0, 2 * math.pi), rng.uniform(120.0, 400.0)
            rim = parent["rim"] + rng.uniform(0.003, 0.02) * length
            nodes.append({"id": f"N{base + i}", "kind": "inlet", "x": parent["x"] + length * math.cos(angle),
                          "y": parent["y"] + length * math.sin(angle), "invert": round(rim - 6.0, 3),
                          "rim": round(rim, 3), "area_ac": round(rng.uniform(0.1, 0.6), 3), "c": 0.6,
                          "tc_inlet": 10.0})
            links.append({"id": f"P{len(links)}", "from": f"N{base + i}", "to": parent["id"],
                          "length": round(length, 2), "diameter": 1.0, "n": 0.013})
    return {"name": "bench", "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0, "junction_k": 0.5,
            "nodes": nodes, "pipes": links}


def cost_case(pipes: int, step: float) -> Dict[str, Any]:
    """One least-cost case, run in its own process so that its peak memory is its own."""
    text = json.dumps(feasible(pipes))
    before_mb = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0
    start = time.perf_counter()
    shallow = rwt.design(text=text, format="rwproj", profile=True)
    shallow_s = time.perf_counter() - start
    start = time.perf_counter()
    cheapest = rwt.design(text=text, format="rwproj", profile=True, objective="cost", invert_step=step)
    cost_s = time.perf_counter() - start
    sized = cheapest["sized"]
    check_consistency(cheapest, rillwright.analyze_project(sized))
    analysis = best_of(3, lambda: rillwright.analyze_project(sized))
    cost = cheapest["cost"]
    return {"pipes": pipes, "shallowest_s": shallow_s, "cost_s": cost_s, "analysis_s": analysis,
            "rounds": cheapest["rounds"], "flows_repeat": cost["flows_repeat"], "total": cost["total"],
            "shallowest_total": cost["shallowest_total"], "shallowest_violations": len(shallow["violations"]),
            "violations": len(cheapest["violations"]),
            "peak_mb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0 - before_mb}


def run_cost_cases(sizes: list, step: float) -> None:
    print(f"least cost at invert_step {step:g} ft (each size in a fresh process; one run each)")
    for pipes in sizes:
        out = subprocess.run([sys.executable, __file__, "--cost-case", str(pipes), str(step)],
                             capture_output=True, text=True)
        if out.returncode != 0:
            print(f"{pipes:>7} failed: {out.stderr.strip().splitlines()[-1:]}", flush=True)
            continue
        r = json.loads(out.stdout)
        saving = (r["shallowest_total"] - r["total"]) / r["shallowest_total"] * 100
        print(f"{pipes:>7} shallowest-first {r['shallowest_s']:7.3f} s  least cost {r['cost_s']:8.3f} s  "
              f"analysis {r['analysis_s']:6.3f} s  ratio {r['cost_s'] / r['analysis_s']:7.0f} (goal 30)  "
              f"rounds {r['rounds']}{'' if r['flows_repeat'] else ' (flows did not repeat)'}  "
              f"saves {saving:.1f} % ({r['shallowest_total']:,.0f} -> {r['total']:,.0f}; "
              f"violations {r['shallowest_violations']} -> {r['violations']})  "
              f"peak +{r['peak_mb']:5.0f} MB ({r['peak_mb'] / pipes * 1000:5.1f} MB per 1,000 pipes)", flush=True)


def main() -> None:
    if len(sys.argv) == 4 and sys.argv[1] == "--cost-case":
        print(json.dumps(cost_case(int(sys.argv[2]), float(sys.argv[3]))))
        return
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pipes", type=int, default=10_000)
    parser.add_argument("--min-freeboard", type=float, default=1.0)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--invert-step", type=float, default=0.01)
    parser.add_argument("--cost-sizes", type=int, nargs="*", default=[2_500, 5_000, 10_000],
                        help="pipes of the least-cost cases (none: skip them)")
    parser.add_argument("--only-cost", action="store_true", help="run the least-cost cases alone")
    args = parser.parse_args()
    if args.only_cost:
        run_cost_cases(args.cost_sizes, args.invert_step)
        return
    for mix, fmt in (("circular", "rwn"), ("mixed", "json")):
        run_case(args.pipes, mix, fmt, args.min_freeboard, args.repeats)
    run_profile_case(args.pipes, args.repeats)
    run_cost_cases(args.cost_sizes, args.invert_step)


if __name__ == "__main__":
    main()
