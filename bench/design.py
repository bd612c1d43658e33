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
It also checks that the sized network analyses to the design's numbers bit for bit.
The networks come from bench/run.py's generator: 400-pipe trees whose trunks carry more
than the largest catalogue pipe, so many structures stay short of freeboard whatever
the sizes, and the rounds grow their paths to the largest sizes before giving up.
"""
from __future__ import annotations

import argparse
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


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pipes", type=int, default=10_000)
    parser.add_argument("--min-freeboard", type=float, default=1.0)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    for mix, fmt in (("circular", "rwn"), ("mixed", "json")):
        run_case(args.pipes, mix, fmt, args.min_freeboard, args.repeats)
    run_profile_case(args.pipes, args.repeats)


if __name__ == "__main__":
    main()
