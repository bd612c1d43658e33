"""Writes the committed seed corpora of the fuzz targets from the demo project
and the kinds of input the tests use. Run from the repository root with the
extension importable: python3 fuzz/make_seeds.py"""
import copy
import json
import pathlib

import rillwright as rw

HERE = pathlib.Path(__file__).parent

RWN = {
    "readme": """IDF 120 10 0.8
NODE N1  inlet   0   0 100.0 106.0 1.0 0.5
NODE OUT outfall 100 0  99.0 104.0
PIPE P1 N1 OUT 100 1.5 0.013
""",
    "branching": """# two inlets, a junction and an outfall
idf 60 10 0.8
MINTC 5
MINSLOPE 0.002
JUNCTIONK 0.4
TAILWATER 100.5
NODE N1 inlet 0 0 104 110 1.0 0.7 12
NODE N2 INLET 300 0 102.5 108.5 1 0.7
NODE N3 junction 550 0 101.2 107 0.5 0.8 8
NODE OUT outfall 730 0 100 105
PIPE P1 N1 N2 300 1.25 0.013
PIPE P2 N2 N3 250 1.5 0.013
PIPE P3 N3 OUT 180 2.0 0.013
""",
    "intensity_crlf": "INTENSITY 4.5\r\nNODE A inlet 0 0 10 12 2 0.9\r\nNODE B outfall 0 0 9 11\r\nPIPE P A B 50 1 0.012\r\n",
    "surcharged": """NODE A inlet 0 0 10 11 40 0.9
NODE B junction 1 0 9.99 10.5 0 0
NODE C outfall 2 0 9.9 10
PIPE P1 A B 100 0.5 0.013
PIPE P2 B C 100 0.5 0.013
TAILWATER 10.4
""",
    "adverse_flat": """NODE A inlet 0 0 10 12 1 0.5
NODE B inlet 0 0 10 12 1 0.5
NODE C outfall 0 0 11 13
PIPE P1 A B 100 1 0.013
PIPE P2 B C 100 1 0.013
""",
    "cycle": "NODE A junction 0 0 1 2 0 0\nNODE B junction 0 0 1 2 0 0\nPIPE P A B 1 1 0.013\nPIPE Q B A 1 1 0.013\n",
    "unknown_end": "NODE A inlet 0 0 1 2 1 1\nPIPE P A Z 1 1 0.013\n",
    "numbers": "IDF 1e400 -0 nan\nMINTC inf\nMINSLOPE .5\nJUNCTIONK 5.\nNODE X outfall 0 0 98 104 x y\n",
    "bad": "NODE N#1 inlet 0 0 100 106 1 0.5\n",
}


def compact(project):
    return json.dumps(project, separators=(",", ":"))


def project_seeds():
    demo = json.loads(rw.demo_project_json())
    yield "demo_pretty", rw.demo_project_json()
    yield "demo", compact(demo)

    minimal = {k: demo[k] for k in ("name", "idf_a", "idf_b", "idf_c", "min_tc", "junction_k", "nodes", "pipes")}
    minimal["nodes"] = [{k: v for k, v in n.items() if k not in ("inlet", "bypass_to", "diameter_ft")}
                        for n in demo["nodes"]]
    minimal["pipes"] = [{k: p[k] for k in ("id", "from", "to", "length", "diameter", "n")} for p in demo["pipes"]]
    yield "minimal", compact(minimal)

    full = copy.deepcopy(demo)
    full.update(
        units="si",
        hec22_structure_loss=True,
        access_hole_diam_ft=1.2,
        design_return_period_years=25,
        idf_curves=[{"rp_years": 10, "a": 1500, "b": 10, "c": 0.8}, {"rp_years": 25, "a": 1800, "b": 10, "c": 0.8}],
        catchments=[{"id": "C1", "vertices": [[0, 0], [100, 0], [100, 80]], "c": 0.6, "flow_length_ft": 120,
                     "slope": 0.02, "inlet_node_id": full["nodes"][0]["id"]},
                    {"id": "C2", "vertices": [], "c": 0.3, "flow_length_ft": 50, "slope": 0.01,
                     "inlet_node_id": None}],
        background={"path": "plan.png", "origin_x": 0, "origin_y": 0, "width": 500, "opacity": 0.5},
        background_dxf={"path": "plan.dxf", "min_x": 0, "min_y": 0, "max_x": 10, "max_y": 10},
        report={"project_number": "17-042", "engineer": "A. Engineer", "firm": "Firm", "jurisdiction": "Town"},
        format_version=2,
    )
    full["nodes"][0]["inlet"] = {"length_ft": 5, "gutter_slope": 0.02, "sag": True}
    full["nodes"][1]["bypass_to"] = full["nodes"][2]["id"]
    shapes = [("box", 1.0, 2.0), ("elliptical", 1.2, 1.9), ("arch", 1.1, 1.8)]
    for pipe, (shape, rise, span) in zip(full["pipes"], shapes):
        pipe.update(shape=shape, rise_ft=rise, span_ft=span, invert_up=None, invert_dn=None)
    full["pipes"][0]["invert_up"] = 104.5
    full["unknown"] = {"nested": [1, 2.5e-3, "\u00e9\\n", True, None]}
    yield "full_si", compact(full)

    yield "escapes", compact(dict(minimal, name="caf\u00e9 \"quoted\" \\ \t \ud83d\ude00"))
    yield "missing_pipes", compact({k: v for k, v in minimal.items() if k != "pipes"})
    yield "wrong_type", '{"name": 42}'
    yield "trailing", compact(minimal) + " x"
    yield "number", "42"


def main():
    for name, text in RWN.items():
        (HERE / "seeds" / "rwn" / name).write_text(text, newline="")
    for name, text in project_seeds():
        (HERE / "seeds" / "project" / name).write_text(text, encoding="utf-8", newline="")


if __name__ == "__main__":
    main()
