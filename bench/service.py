"""Benchmark of the level of service: analyses, pipes analysed and wall time on generated
networks, and 1 against 2 local workers on the largest.

    python bench/service.py                      # 20, 200, 1,000 pipes (one outfall), 10,000 (50 trees)
    python bench/service.py --cases 1000:1 --workers 1

A case is PIPES:TREES (bench/run.py's generator, as project JSON, TREES separate trees).
Goals: never more analyses than a plain geometric scan at the tolerance over the same
range (0, then max_multiplier / 1000 up to max_multiplier); at most 350 analyses for
1,000 pipes draining to one outfall; pipes analysed at most 300 times the pipes for
10,000 pipes in 50 trees; 2 workers at least 1.8 times faster than 1 there (each worker
parses the network once). Both worker counts must give the same result; the script
checks it. Timings on a shared machine are noisy: take the best of the repeats.
"""
from __future__ import annotations

import argparse
import concurrent.futures
import math
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import run as networks  # noqa: E402  (the generator of bench/run.py)

import rillwright_tools as rwt  # noqa: E402
from rillwright_tools.executors import local_executor  # noqa: E402


def network(pipes: int, trees: int) -> str:
    networks.TREE_SIZE = math.ceil(pipes / trees)  # the generator makes trees of this many pipes
    return networks.as_project(networks.generate(pipes, "mixed"), False)


def timed(text: str, workers: int, repeats: int, tolerance: float) -> tuple:
    best, result = math.inf, None
    for _ in range(repeats):
        with local_executor(workers) as executor:
            if isinstance(executor, concurrent.futures.ProcessPoolExecutor):
                list(executor.map(abs, range(workers)))  # start the workers outside the timing
            start = time.perf_counter()
            result = rwt.level_of_service(text=text, format="rwproj", tolerance=tolerance, executor=executor)
            best = min(best, time.perf_counter() - start)
    return result, best


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cases", nargs="+", default=["20:1", "200:1", "1000:1", "10000:50"])
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    parser.add_argument("--tolerance", type=float, default=0.01)
    parser.add_argument("--repeats", type=int, default=1)
    args = parser.parse_args()
    scan = 1 + math.ceil(math.log(1000) / math.log1p(args.tolerance)) + 1
    print(f"tolerance {args.tolerance:g}: a plain geometric scan takes {scan} analyses")
    # "needed": the distinct ends of the brackets found, which any search closing them analyses.
    print("  pipes  trees  workers  analyses  needed  pipes analysed (x pipes)  seconds  wider than tolerance")
    for case in args.cases:
        pipes, trees = (int(part) for part in case.split(":"))
        text = network(pipes, trees)
        results, best = {}, {}
        for workers in args.workers if case == args.cases[-1] else args.workers[:1]:
            results[workers], best[workers] = timed(text, workers, args.repeats, args.tolerance)
            r = results[workers]
            rows = [(n["flood_multiplier_low"], n["flood_multiplier"]) for n in r["nodes"]]
            rows += [(p[k + "_multiplier_low"], p[k + "_multiplier"]) for p in r["pipes"]
                     for k in ("surcharge", "pressurized")]
            wide = sum(1 for lo, hi in rows if hi is not None and lo > 0 and hi > (1 + args.tolerance) * lo)
            needed = len({end for lo, hi in rows if hi is not None for end in (lo, hi)})
            print(f"{pipes:7d} {trees:6d} {workers:8d} {r['analyses']:9d} {needed:7d} {r['pipe_analyses']:15d} "
                  f"({r['pipe_analyses'] / pipes:5.1f}) {best[workers]:9.2f}  {wide}")
        first = next(iter(results))
        for workers in list(results)[1:]:
            assert results[workers] == results[first], "results differ between worker counts"
            print(f"        {workers} workers are {best[first] / best[workers]:.2f} times faster than {first}")


if __name__ == "__main__":
    main()
