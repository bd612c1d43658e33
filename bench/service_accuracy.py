"""Accuracy of the level of service against a fine scan, on generated networks.

    python bench/service_accuracy.py                      # 20, 60 and 200 pipes, 3 seeds each
    python bench/service_accuracy.py --pipes 20 --seeds 0 1

For every crossing (structures flooding, pipes surcharged, grade lines above crowns) the
multiplier reported by `level_of_service` is compared with the first multiplier of a
geometric scan 0.2 % apart; prints how many agree within 1 %, the worst relative error
and the analyses used. The networks are those of tests/test_service.py's generator.
"""
from __future__ import annotations

import argparse
import json
import random
import time

import rillwright_tools as rwt
from rillwright_tools import _core
from rillwright_tools.executors import InlineExecutor


def generated(pipes: int, seed: int) -> str:
    """A random dendritic network whose pipes run from comfortable to undersized."""
    rng = random.Random(seed)
    lines = ["IDF 120 10 0.8"]
    inverts = [100.0]
    lines.append("NODE N0 outfall 0 0 100 108")
    for i in range(1, pipes + 1):
        parent = rng.randrange(max(0, i - 4), i)
        length, slope = rng.uniform(150, 400), rng.uniform(0.003, 0.03)
        inverts.append(inverts[parent] + length * slope)
        lines.append(f"NODE N{i} inlet 0 0 {inverts[i]:.3f} {inverts[i] + rng.uniform(4, 9):.3f} "
                     f"{rng.uniform(0.3, 2.5):.2f} 0.6")
        lines.append(f"PIPE P{i} N{i} N{parent} {length:.1f} {rng.choice([1.0, 1.25, 1.5, 2.0])} 0.013")
    return "\n".join(lines) + "\n"


def fine_scan(text: str, fmt: str, top: float, step: float = 1.002, bottom: float = 0.005) -> list:
    """The first multiplier of the scan at which each condition holds, in the order nodes
    (flooding; None for outfalls), pipes (surcharged), pipes (grade line above the crown)."""
    network = json.loads(_core.network_records(text, fmt))
    invert = {n["id"]: n["invert"] for n in network["nodes"]}
    crowns = [(invert[p["from"]] + p["rise"], invert[p["to"]] + p["rise"]) for p in network["pipes"]]
    multipliers, m = [0.0], bottom
    while m < top:
        multipliers.append(m)
        m *= step
    first = None
    for m in multipliers + [top]:
        result = _core.analyze(text, fmt, m)
        flags = [n["floods"] for n in result["nodes"]] + [p["surcharged"] for p in result["pipes"]]
        flags += [any(h is not None and h > c for h, c in zip((p["hgl_up"], p["hgl_dn"]), crown))
                  for p, crown in zip(result["pipes"], crowns)]
        first = first or [None] * len(flags)
        first = [f if f is not None or not holds else m for f, holds in zip(first, flags)]
    outfall = [n["kind"] == "outfall" for n in network["nodes"]]
    return [None if o else f for f, o in zip(first, outfall + [False] * (len(first) - len(outfall)))], outfall


def compare(pipes: int, seed: int, top: float) -> tuple:
    text = generated(pipes, seed)
    scan, outfall = fine_scan(text, "rwn", top)
    result = rwt.level_of_service(text=text, format="rwn", max_multiplier=top, executor=InlineExecutor())
    it = iter(result["nodes"])
    ours = [None if o else next(it)["flood_multiplier"] for o in outfall]
    ours += [p["surcharge_multiplier"] for p in result["pipes"]] + [p["pressurized_multiplier"] for p in result["pipes"]]
    checked, good, worst = 0, 0, 0.0
    for index, (a, b) in enumerate(zip(ours, scan)):
        if index < len(outfall) and outfall[index]:
            continue
        checked += 1
        if a is None or b is None or b == 0.0:
            error = 0.0 if a == b else float("inf")
        else:
            error = abs(a - b) / b
        good += error <= 0.01
        worst = max(worst, error)
    return checked, good, worst, result["analyses"]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pipes", type=int, nargs="+", default=[20, 60, 200])
    parser.add_argument("--seeds", type=int, nargs="+", default=[0, 1, 2])
    parser.add_argument("--max-multiplier", type=float, default=5.0)
    args = parser.parse_args()
    print("pipes seed  within 1 %   worst    analyses")
    for pipes in args.pipes:
        for seed in args.seeds:
            checked, good, worst, used = compare(pipes, seed, args.max_multiplier)
            print(f"{pipes:5d} {seed:4d}  {good:4d} of {checked:<4d} {100 * worst:6.2f} %  {used:4d}")


if __name__ == "__main__":
    main()
