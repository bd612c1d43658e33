"""Generated street networks for the inlet pass: one gutter per side of a street on a
grade, inlets every `spacing` ft chained by bypass_to, both gutters ending at one sag
inlet, and a trunk pipe under the street to an outfall."""

import random


def street(seed=0, inlets_per_side=3, sag=True, capture_all=False):
    rng = random.Random(seed)
    nodes, pipes = [], []
    slope = rng.choice([0.004, 0.01, 0.02])

    def inlet(i, side):
        length = 3.0 if capture_all else rng.choice([2.0, 3.0, 5.0])
        kind = rng.choice(["grate", "curb", "combination"])
        data = {"length_ft": length, "gutter_slope": slope, "sag": False, "cross_slope": 0.02,
                "grate_width_ft": 0.0 if kind == "curb" else 2.0, "type": kind, "spread_limit_ft": 8.0}
        if kind == "combination":
            data["curb_length_ft"] = 4.0
        if capture_all:  # a sag inlet takes all that reaches it
            data["sag"] = True
        return data

    trunk = []
    for i in range(inlets_per_side):
        for side in "AB":
            node_id = f"{side}{i + 1}"
            nodes.append({"id": node_id, "kind": "inlet", "x": 300.0 * i, "y": 0.0 if side == "A" else 40.0,
                          "invert": 100.0 - 0.01 * 300.0 * i + (0.5 if side == "B" else 0.0),
                          "rim": 106.0 - 0.01 * 300.0 * i, "area_ac": rng.uniform(0.1, 0.3),
                          "c": rng.uniform(0.6, 0.9), "tc_inlet": rng.uniform(5.0, 9.0),
                          "inlet": inlet(i, side),
                          "bypass_to": f"{side}{i + 2}" if i + 1 < inlets_per_side else ("S" if sag else None)})
        trunk.append(f"A{i + 1}")
        pipes.append({"id": f"L{i + 1}", "from": f"B{i + 1}", "to": f"A{i + 1}", "length": 40.0,
                      "diameter": 1.5, "n": 0.013})
    last = 100.0 - 0.01 * 300.0 * inlets_per_side
    if sag:
        nodes.append({"id": "S", "kind": "inlet", "x": 300.0 * inlets_per_side, "y": 20.0, "invert": last,
                      "rim": last + 6.0, "area_ac": 0.3, "c": 0.8, "tc_inlet": 5.0,
                      "inlet": {"length_ft": 10.0, "gutter_slope": 0.0, "sag": True, "cross_slope": 0.02,
                                "type": "curb", "depression_in": 2.0, "spread_limit_ft": 10.0}})
        trunk.append("S")
    nodes.append({"id": "OUT", "kind": "outfall", "x": 300.0 * inlets_per_side + 100, "y": 20.0,
                  "invert": last - 1.0, "rim": last + 4.0, "area_ac": 0.0, "c": 0.0, "tc_inlet": 0.0})
    trunk.append("OUT")
    for k, (up, down) in enumerate(zip(trunk, trunk[1:])):
        pipes.append({"id": f"T{k + 1}", "from": up, "to": down, "length": 300.0, "diameter": 2.0 + 0.25 * k,
                      "n": 0.013})
    return {"name": f"street {seed}", "idf_a": 120.0, "idf_b": 15.0, "idf_c": 0.8, "min_tc": 5.0,
            "junction_k": 0.5, "nodes": nodes, "pipes": pipes}
