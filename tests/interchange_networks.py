"""Networks shared by the SWMM, GeoJSON and plan tests: real SWMM models under data/swmm and
generated dendritic projects of all four shapes."""

import json
import math
import pathlib
import random

SWMM_MODELS = sorted((pathlib.Path(__file__).resolve().parent / "data" / "swmm").glob("*.inp"))
SHAPES = ("circular", "box", "elliptical", "arch")


def generated(pipes=100, seed=3, units="us_customary"):
    """A tree draining to one outfall, sized so that the design flows run part full;
    pipes cycle through the four shapes and every fifth one drops into its structure."""
    rng = random.Random(seed)
    nodes = [{"id": "OUT", "kind": "outfall", "x": 1000.0, "y": 1000.0, "invert": 100.0, "rim": 112.0,
              "area_ac": 0.0, "c": 0.0, "tc_inlet": 0.0}]
    parents, lengths, slopes = [None], [0.0], [0.0]
    for i in range(1, pipes + 1):
        parent = rng.randrange(max(0, i - 6), i)
        angle = rng.uniform(0, 2 * math.pi)
        length = round(rng.uniform(150.0, 350.0), 2)
        slope = rng.uniform(0.004, 0.02)
        up = nodes[parent]
        nodes.append({"id": f"S{i}", "kind": "inlet", "x": round(up["x"] + length * math.cos(angle), 3),
                      "y": round(up["y"] + length * math.sin(angle), 3),
                      "invert": round(up["invert"] + slope * length + 0.3, 3), "rim": 0.0,
                      "area_ac": round(rng.uniform(0.2, 1.5), 3), "c": 0.6, "tc_inlet": 10.0})
        parents.append(parent)
        lengths.append(length)
        slopes.append(slope)
    area = [n["area_ac"] for n in nodes]
    for i in range(pipes, 0, -1):
        area[parents[i]] += area[i]
    links = []
    for i in range(1, pipes + 1):
        flow = 0.6 * area[i] * 7.0
        diameter = round(max(1.6 * (flow * 0.013 / (0.4632 * math.sqrt(slopes[i]))) ** 0.375, 1.0), 3)
        shape = SHAPES[i % 4]
        pipe = {"id": f"P{i}", "from": f"S{i}", "to": nodes[parents[i]]["id"], "length": lengths[i],
                "diameter": diameter, "n": 0.013, "shape": shape}
        if shape != "circular":
            pipe["rise_ft"], pipe["span_ft"] = diameter, round(diameter * (1.2 if shape == "box" else 1.5), 3)
        if i % 5 == 0:
            pipe["invert_up"] = round(nodes[i]["invert"] + 0.5, 3)
        links.append(pipe)
    rise = {p["from"]: p.get("rise_ft") or p["diameter"] for p in links}
    for node in nodes[1:]:
        node["rim"] = round(node["invert"] + rise[node["id"]] + 8.0, 3)
    return json.dumps({"name": f"generated {pipes}", "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0,
                       "junction_k": 0.5, "units": units, "nodes": nodes, "pipes": links})
