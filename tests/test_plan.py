"""The plan view: drawings of real and generated networks, and what it refuses to draw."""

import json

import pytest

import rillwright
import rillwright_tools as rwt
from rillwright_tools import inputs
from rillwright_tools.cli import main
from rillwright_tools.plan import draw_plan

from interchange_networks import SWMM_MODELS, generated

pytest.importorskip("matplotlib")


@pytest.mark.parametrize("name, project_text", [
    ("demo", rillwright.demo_project_json()),
    ("swmm", rwt.read_swmm(SWMM_MODELS[-2])[0]),
    ("generated-si", generated(50, 4, "si")),
])
def test_svg_plan_labels_ids_and_has_its_legend(tmp_path, name, project_text):
    out = tmp_path / "plan.svg"
    rwt.plan_view(None, out, text=project_text, format="rwproj")
    svg = out.read_text()
    project = json.loads(project_text)
    labelled = [n["id"] for n in project["nodes"] if f'id="label-{n["id"]}"' in svg]
    assert len(labelled) >= (len(project["nodes"]) if name == "demo" else len(project["nodes"]) // 3)
    unit = " m -->" if project.get("units") == "si" else " ft -->"
    for word in ("design flow / capacity", "<!-- outfall -->", unit, "<!-- N -->"):
        assert word in svg


def test_labels_never_overlap_and_crowded_ones_are_left_out():
    from matplotlib.figure import Figure

    from rillwright_tools.plan import _overlap, place_labels

    figure = Figure(figsize=(4, 4), dpi=100)
    axes = figure.add_subplot()
    axes.set_xlim(0, 100)
    axes.set_ylim(0, 100)
    figure.canvas.draw()
    points = [(50 + 0.1 * k, 50.0) for k in range(30)] + [(10.0, 90.0)]
    placed = place_labels(figure, axes, [(f"ID{k}", x, y, 8.0) for k, (x, y) in enumerate(points)], points)
    assert 2 <= len(placed) <= 8
    assert not any(_overlap(a, b) for i, a in enumerate(placed) for b in placed[i + 1:])


def test_node_values_get_their_own_scale_and_never_floods_marker(tmp_path):
    source = inputs.resolve(text=rillwright.demo_project_json(), format="rwproj")
    result = inputs.analyze(source)
    out = tmp_path / "plan.svg"
    draw_plan(source, result, str(out), title="Level of service",
              node_values={"N1": 1.4, "N2": None, "N3": 2.5}, node_values_label="flood multiplier")
    svg = out.read_text()
    assert "flood multiplier" in svg and "never floods" in svg and "Level of service" in svg


def test_network_without_coordinates_is_an_error_not_an_empty_picture(tmp_path, capsys):
    text = "NODE A inlet 0 0 10 15 1 0.5\nNODE B outfall 0 0 9 14\nPIPE P A B 100 1 0.013\n"
    with pytest.raises(ValueError, match="no plan coordinates"):
        rwt.plan_view(None, tmp_path / "x.png", text=text, format="rwn")
    path = tmp_path / "net.rwn"
    path.write_text(text)
    assert main(["run", str(path), "--plan", str(tmp_path / "x.png")]) == 1
    assert "no plan coordinates" in capsys.readouterr().err
    assert not (tmp_path / "x.png").exists()


def test_run_draws_a_png_plan(tmp_path):
    out = tmp_path / "plan.png"
    assert main(["run", "--plan", str(out)]) == 0
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
