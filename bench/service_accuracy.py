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
import sys
from pathlib import Path

# The networks and the scan are the accuracy test's own, so both measure the same thing.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests"))

import rillwright_tools as rwt  # noqa: E402
from rillwright_tools.executors import InlineExecutor  # noqa: E402
from test_service import fine_scan, generated  # noqa: E402


def compare(pipes: int, seed: int, top: float) -> tuple:
    text = generated(pipes, seed)
    network, scan = fine_scan(text, "rwn", top)
    outfall = [n["kind"] == "outfall" for n in network["nodes"]]
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
