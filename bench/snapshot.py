"""Bit-for-bit snapshot of the analysis results on the benchmark networks.

    PYTHONPATH=<build of the reference> python bench/snapshot.py save before.json
    PYTHONPATH=<build to check>         python bench/snapshot.py check before.json [rwn|json]

`save` analyses the generated networks of bench/run.py (every mix; .rwn text for the
circular mix, project JSON for all mixes, plus the zero-area, n = 0 variants) and
writes a digest of every result value: floats as the hex of their 64 bits, so NaN
payloads, signed zeros and the last bit all count. `check` recomputes and reports
every case whose results differ. Only the standard library is used beside the module.
"""
from __future__ import annotations

import hashlib
import json
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import run  # noqa: E402  (the generator of the benchmark networks)

CASES = [  # (pipes, mix, format, trivial, diameter scale)
    (10_000, "circular", "rwn", False, 1.0),
    (10_000, "circular", "json", False, 1.0),
    (3_000, "mixed", "json", False, 1.0),
    (1_000, "elliptical", "json", False, 1.0),
    (2_000, "circular", "rwn", True, 1.0),
    (2_000, "mixed", "json", True, 1.0),
    # Larger pipes: few surcharged, most profiles part full below the crown.
    (5_000, "circular", "rwn", False, 1.5),
    (5_000, "circular", "rwn", False, 2.5),
    (2_000, "mixed", "json", False, 2.0),
    (500, "elliptical", "json", False, 2.0),
]


def canonical(value) -> str:
    if isinstance(value, bool) or value is None:
        return repr(value)
    if isinstance(value, float):
        return struct.pack("<d", value).hex()
    return "s:" + value


def digest(pipes: int, mix: str, fmt: str, trivial: bool, scale: float) -> dict:
    import rillwright

    network = run.generate(pipes, mix, trivial=trivial)
    for pipe in network["pipes"]:
        for key in ("diameter", "rise_ft", "span_ft"):
            if key in pipe:
                pipe[key] = round(pipe[key] * scale, 3)
    if fmt == "rwn":
        result = rillwright.analyze_rwn(run.as_rwn(network, False))
    else:
        result = rillwright.analyze_project(run.as_project(network, False))
    rows = {}
    for table in ("pipes", "nodes"):
        lines = ["|".join(f"{k}={canonical(v)}" for k, v in row.items()) for row in result[table]]
        rows[table] = lines
    return rows


def main() -> int:
    mode, path = sys.argv[1], Path(sys.argv[2])
    if mode == "save":
        saved = {}
        for case in CASES:
            saved["/".join(map(str, case))] = digest(*case)
            print("saved", case, flush=True)
        path.write_text(json.dumps(saved))
        return 0
    saved = json.loads(path.read_text())
    failures = 0
    only = sys.argv[3] if len(sys.argv) > 3 else None
    for case in CASES:
        if only and case[2] != only:
            continue
        key = "/".join(map(str, case))
        now = digest(*case)
        for table in ("pipes", "nodes"):
            before, after = saved[key][table], now[table]
            differing = [i for i, (a, b) in enumerate(zip(before, after)) if a != b]
            if len(before) != len(after) or differing:
                failures += 1
                print(f"DIFFERENT {key} {table}: {len(differing)} rows, first {differing[:3]}")
        sha = hashlib.sha256("\n".join(now["pipes"] + now["nodes"]).encode()).hexdigest()[:16]
        print(f"{key}: {len(now['pipes'])} pipes, {len(now['nodes'])} nodes, digest {sha}", flush=True)
    print("identical" if not failures else f"{failures} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
