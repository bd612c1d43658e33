"""Benchmark of the model: separate trees on threads, and a whole city to columns.

    python bench/threads.py                    # both cases
    python bench/threads.py --case threads     # 10,000 pipes in 50 trees, 1 against 2 threads
    python bench/threads.py --case city        # 1,000,000 pipes: columns against the module's dicts

threads: bench/run.py's generator (mixed shapes, project JSON), 10,000 pipes in 50 trees,
read once into a Model; its analysis to columns (`_core.model_columns`, the work of
`Model.analyse`) on 1 and on 2 threads, alternately, best of the repeats. Goal: 2
threads at least 1.8 times faster than 1; the columns must be equal bit for bit. The
line also gives the cores the best 2-thread run had (its CPU time over its wall time:
near 1 means the machine gave it one core, and the ratio says nothing) and the load
average at the start.

city: 1,000,000 circular pipes as .rwn (trees of 400 pipes), written once to a cache
file. Each side runs in a fresh interpreter that reads the file and stops at the
result, so that its peak memory (resource.getrusage) is its own: the module's
`rillwright.analyze_rwn` (a dict per row) against `rwt.open(path).analyse()` (columns,
every core). Goals: the columns in at most 0.8 times the module's wall time and under
1 GB of peak memory.

Timings on a shared machine are noisy: run at a quiet moment, twice, and report both.
"""
from __future__ import annotations

import argparse
import json
import math
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import run as networks  # noqa: E402  (the generator of bench/run.py)

CITY_PIPES = 1_000_000
CITY_FILE = Path(tempfile.gettempdir()) / f"rillwright-bench-city-{CITY_PIPES}.rwn"

MODULE_SIDE = """
import json, resource, sys, time
from pathlib import Path
start = time.perf_counter()
import rillwright
result = rillwright.analyze_rwn(Path(sys.argv[1]).read_text(encoding="utf-8"))
seconds = time.perf_counter() - start
print(json.dumps({"seconds": seconds, "pipes": len(result["pipes"]),
                  "peak_mb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0}))
"""

MODEL_SIDE = """
import json, resource, sys, time
start = time.perf_counter()
import rillwright_tools as rwt
result = rwt.open(sys.argv[1]).analyse()
seconds = time.perf_counter() - start
print(json.dumps({"seconds": seconds, "pipes": len(result["pipes"]["id"]),
                  "peak_mb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0}))
"""


def threads_case(repeats: int) -> None:
    import numpy as np

    import rillwright_tools as rwt
    from rillwright_tools import _core

    networks.TREE_SIZE = 200  # 50 trees of 200 pipes
    model = rwt.open(text=networks.as_project(networks.generate(10_000, "mixed"), False), format="rwproj")
    load = os.getloadavg()[0]
    best = {1: math.inf, 2: math.inf}
    cores = 0.0
    columns = {}
    for _ in range(repeats):
        for threads in (1, 2):
            start, cpu = time.perf_counter(), time.process_time()
            columns[threads] = _core.model_columns(model.core, threads)
            seconds = time.perf_counter() - start
            if seconds < best[threads]:
                best[threads] = seconds
                cores = (time.process_time() - cpu) / seconds if threads == 2 else cores
    for key, one in columns[1]["pipes"].items():
        two = columns[2]["pipes"][key]
        same = one == two if not isinstance(one, bytearray) else np.array_equal(
            np.frombuffer(one, np.uint8), np.frombuffer(two, np.uint8))
        assert same, f"pipe column {key} differs between 1 and 2 threads"
    assert columns[1]["nodes"] == columns[2]["nodes"], "node columns differ between 1 and 2 threads"
    print(f"threads: {model.pipe_count} pipes in {model.tree_count} trees: 1 thread {best[1] * 1e3:.1f} ms, "
          f"2 threads {best[2] * 1e3:.1f} ms: {best[1] / best[2]:.2f} times faster (goal 1.8); "
          f"the 2-thread run had {cores:.2f} cores; load average {load:.2f}")


def city_case() -> None:
    if not CITY_FILE.exists():
        print(f"writing {CITY_FILE} (a few minutes, once)", flush=True)
        text = networks.as_rwn(networks.generate(CITY_PIPES, "circular"), False)
        partial = CITY_FILE.with_suffix(".part")
        partial.write_text(text, encoding="utf-8")
        partial.replace(CITY_FILE)
        del text
    sides = {}
    for name, script in (("module dicts", MODULE_SIDE), ("model columns", MODEL_SIDE)):
        out = subprocess.run([sys.executable, "-c", script, str(CITY_FILE)], capture_output=True, text=True,
                             check=True).stdout
        sides[name] = json.loads(out)
        s = sides[name]
        print(f"city: {name}: {s['pipes']} pipes in {s['seconds']:.2f} s, peak {s['peak_mb']:.0f} MB", flush=True)
    ratio = sides["model columns"]["seconds"] / sides["module dicts"]["seconds"]
    print(f"city: columns take {ratio:.2f} of the module's time (goal at most 0.8), "
          f"peak {sides['model columns']['peak_mb']:.0f} MB (goal under 1024)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--case", choices=["threads", "city"], nargs="+", default=["threads", "city"])
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    if "threads" in args.case:
        threads_case(args.repeats)
    if "city" in args.case:
        city_case()


if __name__ == "__main__":
    main()
