"""Benchmark of the level of service: a generated network (10,000 pipes by default), the
analyses it uses and its wall time on 1 and on 2 local workers.

    python bench/service.py
    python bench/service.py --pipes 2000 --workers 1 2

Goals: at most 100 analyses, and 2 workers at least 1.7 times faster than 1. The
network is bench/run.py's generator as project JSON. One worker runs the analyses in
this process; more run in worker processes that receive the network text with every
analysis. Both runs must give the same result; the script checks it. Timings on a
shared machine are noisy: repeat a run and take the best figures.
"""
from __future__ import annotations

import argparse
import concurrent.futures
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import run as networks  # noqa: E402  (the generator of bench/run.py)

import rillwright_tools as rwt  # noqa: E402
from rillwright_tools.executors import local_executor  # noqa: E402


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pipes", type=int, default=10_000)
    parser.add_argument("--mix", choices=list(networks.MIXES), default="circular")
    parser.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    parser.add_argument("--repeats", type=int, default=2)
    args = parser.parse_args()

    text = networks.as_project(networks.generate(args.pipes, args.mix), False)
    print(f"{args.pipes} pipes ({args.mix}), {len(text) / 1e6:.1f} MB of project JSON")
    results, best = {}, {}
    for workers in args.workers:
        times = []
        for _ in range(args.repeats):
            with local_executor(workers) as executor:
                if isinstance(executor, concurrent.futures.ProcessPoolExecutor):
                    list(executor.map(abs, range(workers)))  # start the workers outside the timing
                start = time.perf_counter()
                results[workers] = rwt.level_of_service(text=text, format="rwproj", executor=executor)
                times.append(time.perf_counter() - start)
        best[workers] = min(times)
        result = results[workers]
        flooded = sum(1 for n in result["nodes"] if n["flood_multiplier"] is not None)
        print(f"{workers} worker(s): {result['analyses']} analyses, {best[workers]:.2f} s "
              f"(best of {args.repeats}); {flooded} of {len(result['nodes'])} structures flood up to 10 x")
    first = args.workers[0]
    for workers in args.workers[1:]:
        assert results[workers] == results[first], "results differ between worker counts"
        print(f"{workers} workers are {best[first] / best[workers]:.2f} times faster than {first}")


if __name__ == "__main__":
    main()
