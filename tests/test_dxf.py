"""Drawings for CAD: the plan and the profile as DXF, read back with ezdxf."""

import json

import pytest

import rillwright
from rillwright_tools.cli import main

from interchange_networks import generated

ezdxf = pytest.importorskip("ezdxf")


@pytest.mark.parametrize("project_text, insunits", [(rillwright.demo_project_json(), 2), (generated(40, 5, "si"), 6)])
def test_plan_dxf_has_every_structure_and_pipe_on_its_layer_at_its_coordinates(tmp_path, project_text, insunits):
    path = tmp_path / "net.rwproj"
    path.write_text(project_text)
    assert main(["convert", str(path), "-o", str(tmp_path / "plan.dxf")]) == 0
    document = ezdxf.readfile(tmp_path / "plan.dxf")
    space = document.modelspace()
    assert document.header["$INSUNITS"] == insunits
    project = json.loads(project_text)
    where = {n["id"]: (n["x"], n["y"]) for n in project["nodes"]}
    circles = {(round(c.dxf.center.x, 6), round(c.dxf.center.y, 6), c.dxf.layer) for c in space.query("CIRCLE")}
    assert circles == {(round(n["x"], 6), round(n["y"], 6), "OUTFALLS" if n["kind"] == "outfall" else "STRUCTURES")
                       for n in project["nodes"]}
    lines = sorted((round(e.dxf.start.x, 6), round(e.dxf.start.y, 6), round(e.dxf.end.x, 6), round(e.dxf.end.y, 6))
                   for e in space.query("LINE[layer=='PIPES']"))
    assert lines == sorted(tuple(round(v, 6) for v in (*where[p["from"]], *where[p["to"]])) for p in project["pipes"])
    labels = [t.dxf.text for t in space.query("TEXT")]
    assert {n["id"] for n in project["nodes"]} <= set(labels)
    unit = " mm" if insunits == 6 else " in"
    assert all(any(text.startswith(p["id"] + " ") and text.endswith(unit) for text in labels) for p in project["pipes"])


def test_profile_dxf_draws_the_path_at_its_stations_and_elevations(tmp_path):
    out = tmp_path / "profile.dxf"
    assert main(["run", "--profile", str(out)]) == 0
    space = ezdxf.readfile(out).modelspace()
    project = json.loads(rillwright.demo_project_json())
    nodes = {n["id"]: n for n in project["nodes"]}
    station, expected = 0.0, []
    for pipe in project["pipes"]:  # the demo is one trunk line, in order
        expected.append((station, nodes[pipe["from"]]["invert"], nodes[pipe["from"]]["rim"]))
        station += pipe["length"]
    expected.append((station, nodes[project["pipes"][-1]["to"]]["invert"], nodes[project["pipes"][-1]["to"]]["rim"]))
    import re

    note = next(t.dxf.text for t in space.query("TEXT") if "V.E." in t.dxf.text)
    ve, datum = (float(v) for v in re.search(r"V\.E\. ([0-9.]+):1  DATUM ([0-9.]+)", note).groups())
    drawn = [(e.dxf.start.x, (e.dxf.start.y - datum) / ve + datum, (e.dxf.end.y - datum) / ve + datum)
             for e in space.query("LINE[layer=='STRUCTURES']")]
    assert [v for row in drawn for v in row] == pytest.approx([v for row in expected for v in row])
    # Text 2.5 mm plotted at the stated horizontal scale (1 in = N ft).
    scale = float(re.search(r"HORIZONTAL 1 in = ([0-9]+) ft", note).group(1))
    heights = {round(t.dxf.height, 6) for t in space.query("TEXT[layer=='LABELS']") if t.dxf.text != note}
    assert round(2.5 / 25.4 * scale, 6) in heights and ve >= 1
    assert len(space.query("LWPOLYLINE[layer=='PIPES']")) == len(project["pipes"])
    assert len(space.query("LWPOLYLINE[layer=='GRADE-LINE']")) == 1


@pytest.mark.parametrize("project_text", [generated(200, 11), generated(40, 5, "si")])
def test_plan_dxf_labels_each_element_once_at_the_sheets_scale(tmp_path, project_text):
    """The labels are the plan sheets' (placed by their placer at their scale), 2.5 mm high plotted."""
    import re

    from rillwright_tools.drawing.sheets import plan_sheets
    from rillwright_tools.formats.dxf import write_plan_dxf
    from rillwright_tools.inputs import analyze, resolve

    source = resolve(text=project_text, format="rwproj")
    write_plan_dxf(source, str(tmp_path / "plan.dxf"))
    texts = [t for t in ezdxf.readfile(tmp_path / "plan.dxf").modelspace().query("TEXT[layer=='LABELS']")]
    note = next(t for t in texts if t.dxf.text.startswith("PLAN  SCALE"))
    project = json.loads(project_text)
    words = sorted(t.dxf.text.split(" ")[0] for t in texts if t is not note)
    assert words == sorted([n["id"] for n in project["nodes"]] + [p["id"] for p in project["pipes"]])
    sheets = plan_sheets(source, analyze(source))
    title = next(t.text for t in sheets[0].drawing.texts if "key map" in t.text)
    scale = re.search(r"at (1 in = [0-9]+ ft|1:[0-9,]+)", title).group(1)
    assert scale in note.dxf.text
    number = float(scale.split("=")[-1].split()[0] if "=" in scale else scale[2:].replace(",", ""))
    model_per_plotted_mm = number / 25.4 if "=" in scale else number / 1000.0  # ft per in / 25.4, or m per m
    assert {round(t.dxf.height, 6) for t in texts if t is not note} == {round(2.5 * model_per_plotted_mm, 6)}
