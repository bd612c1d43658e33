"""A generated 200-pipe network as networks come from the field: a long trunk overloaded
by a catchment of thousands of acres near its end, laterals, two dead ends where pumps were dropped,
a relief pipe beside the trunk and one to a second outfall, two uphill pipes, a pipe of
zero length and a smaller pipe downstream of a larger one.

    python tests/field_network.py > field.rwn

`EXPECTED` lists the findings `check` must report (code -> ids of each finding)."""

from __future__ import annotations

import random
import sys
from typing import Dict, List

TRUNK = 68  # trunk pipes T1..T68 from T0 down to OUT; with 132 more, 200 pipes
HUGE = 55  # the trunk junction that takes the catchment of thousands of acres
PIPES = 200


def field_network(seed: int = 12) -> str:
    rng = random.Random(seed)
    nodes: List[str] = ["IDF 120 10 0.8", "TAILWATER 96.5"]
    pipes: List[str] = []
    ground, invert = 160.0, 150.0
    trunk_inverts = []
    for k in range(TRUNK + 1):
        kind = "inlet" if k == 0 else "junction"
        area = 3000.0 if k == HUGE else round(rng.uniform(0.1, 0.6), 2)
        nodes.append(f"NODE T{k} {kind} {k * 150.0:.1f} {rng.uniform(-20, 20):.1f} {invert:.2f} {ground:.2f} "
                     f"{area} 0.6")
        trunk_inverts.append(invert)
        invert -= rng.uniform(0.5, 1.0)
        ground -= rng.uniform(0.4, 1.1)
    nodes.append(f"NODE OUT outfall {(TRUNK + 1) * 150.0:.1f} 0 {invert:.2f} {ground:.2f}")
    nodes.append(f"NODE OUT2 outfall {40 * 150.0:.1f} 300 {trunk_inverts[40] - 3:.2f} {ground + 20:.2f}")
    for k in range(TRUNK):
        diameter = 2.0 if k == 35 else 2.5 + 0.07 * k  # T36 leaves T35 smaller than the trunk entering it
        length = 0 if k == 50 else 150
        pipes.append(f"PIPE T{k + 1} T{k} T{k + 1} {length} {diameter:.2f} 0.013")
    pipes.append(f"PIPE TOUT T{TRUNK} OUT 150 7.5 0.013")
    pipes.append("PIPE R1 T20 T21 150 1.5 0.013")  # relief beside the trunk: parallel pipes
    pipes.append("PIPE R2 T40 OUT2 300 2.0 0.013")  # relief to a second outfall: T40 has two outlets
    # Laterals of three pipes each, entering trunk junctions; two end at dead ends instead.
    lateral = 0
    while len(pipes) < PIPES:
        lateral += 1
        join = 2 + (lateral * 7) % (TRUNK - 4)
        base = trunk_inverts[join] + 1.0
        ids = [f"L{lateral}N{j}" for j in range(3)]
        for j, node_id in enumerate(ids):
            # Laterals 6 and 12 end below the trunk: their last pipe runs uphill into it.
            low = -2.0 if lateral in (6, 12) and j == 2 else 0.6 * (3 - j)
            nodes.append(f"NODE {node_id} inlet {join * 150.0 + 60 * (3 - j):.1f} {40.0 * (3 - j)} "
                         f"{base + low:.2f} {base + 8 + 0.6 * (3 - j):.2f} "
                         f"{rng.uniform(0.2, 0.8):.2f} 0.5")
        targets = ids[1:] + ([f"DEAD{lateral}"] if lateral in (4, 9) else [f"T{join}"])
        if lateral in (4, 9):
            nodes.append(f"NODE DEAD{lateral} junction 0 0 {base - 1:.2f} {base + 7:.2f} 0 0")
        for j, (up, down) in enumerate(zip(ids, targets)):
            pipes.append(f"PIPE L{lateral}P{j} {up} {down} 70 {1.25 + 0.25 * j} 0.013")
    return "\n".join(nodes + pipes) + "\n"


EXPECTED: Dict[str, List[List[str]]] = {
    "dead-end": [["DEAD4"], ["DEAD9"]],
    "several-outlets": [["T20", "T21", "R1"], ["T40", "T41", "R2"]],
    "parallel-pipes": [["T21", "R1"]],
    "adverse": [["L6P2"], ["L12P2"]],
    "zero-length": [["T51"]],
    "smaller-downstream": [["T36", "T35"], ["R1", "T20"], ["R2", "T40"]],
    "large-area": [[f"T{HUGE}"]],
}

if __name__ == "__main__":
    sys.stdout.write(field_network(int(sys.argv[1]) if len(sys.argv) > 1 else 12))
