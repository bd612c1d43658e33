"""The plan view: drawings of real and generated networks, and what it refuses to draw."""

import json

import pytest

import rillwright
import rillwright_tools as rwt
from rillwright_tools import inputs
from rillwright_tools.cli import main
from rillwright_tools.drawing.plan import draw_plan

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


def test_crowded_labels_move_out_on_leaders_and_none_is_left_out():
    from matplotlib.figure import Figure

    from rillwright_tools.drawing.labels import LabelPlacer, around, overlaps
    from rillwright_tools.drawing.plan import place_labels

    figure = Figure(figsize=(4, 4), dpi=100)
    axes = figure.add_subplot()
    axes.set_xlim(0, 100)
    axes.set_ylim(0, 100)
    figure.canvas.draw()
    points = [(50 + 0.1 * k, 50.0) for k in range(30)] + [(10.0, 90.0)]
    placed = place_labels(figure, axes, [(f"ID{k}", x, y, 8.0) for k, (x, y) in enumerate(points)], points)
    assert len(placed) == len(points) and len(axes.texts) == len(points)

    placer = LabelPlacer((0, 0, 288, 288))
    placer.obstacle_line([(0, 144), (288, 144)])
    labels = [placer.place(f"ID{k}", [f"ID{k}"], (144 + 0.1 * k, 144), around(3.0)) for k in range(30)]
    clear = [p.box for p in labels if not p.crowded]
    assert placer.leaders > 0 and len(clear) >= 20
    assert not any(overlaps(a, b) for i, a in enumerate(clear) for b in clear[i + 1:])
    assert not any(p.box[1] < 144 < p.box[3] for p in labels if not (p.crowded or p.over_lines))


@pytest.mark.parametrize("seed", range(3))
def test_the_label_raster_is_the_same_drawn_at_once_and_its_sector_choice_the_plain_one(seed):
    """Lines drawn all at once take the cells that sampling each at numpy's linspace takes,
    the leader search near the anchor first finds what the whole search finds, and the
    nearest place per direction is the plain loop's (the first of equals)."""
    import random

    import numpy as np

    from rillwright_tools.drawing.labels import _Raster, nearest_per_sector

    rng = random.Random(seed)
    raster = _Raster((18, 50, 702, 440))
    expected = np.zeros_like(raster.layers["lines"])
    for _ in range(60):
        x0, y0 = rng.uniform(-40, 760), rng.uniform(0, 480)
        x1, y1 = (x0 + rng.uniform(0, 0.6), y0) if rng.random() < 0.2 else (rng.uniform(-40, 760), rng.uniform(0, 480))
        raster.take_segment((x0, y0, x1, y1))
        t = np.linspace(0.0, 1.0, int(np.hypot(x1 - x0, y1 - y0) / 0.5) + 2)
        i = np.floor(x0 + t * (x1 - x0)).astype(np.int64) - raster.x0
        j = np.floor(y0 + t * (y1 - y0)).astype(np.int64) - raster.y0
        keep = (i >= 0) & (i < raster.nx) & (j >= 0) & (j < raster.ny)
        expected[j[keep], i[keep]] = True
    raster.free((0, 0, 1, 1))
    assert (raster.layers["lines"] == expected).all()

    # The search near the anchor first finds what the whole search finds.
    from rillwright_tools.drawing.labels import LabelPlacer, around

    placer = LabelPlacer((18, 50, 702, 440), leader_reach=54.0)
    for _ in range(rng.choice((20, 150, 400))):
        placer.obstacle_line([(rng.uniform(18, 702), rng.uniform(50, 440)), (rng.uniform(18, 702), rng.uniform(50, 440))])
    for _ in range(300):
        ax, ay, w, h = rng.uniform(18, 702), rng.uniform(50, 440), rng.uniform(10, 60), rng.uniform(8, 30)
        reach, clear, lines = rng.choice((54.0, 90.0)), rng.random() < 0.5, rng.random() < 0.7
        whole = (max(ax - reach - w, 18), max(ay - reach - h, 50), min(ax + reach + w, 702), min(ay + reach + h, 440))
        found = placer._leader_spot((ax, ay), w, h, reach, clear, lines)
        assert found == placer._search((ax, ay), w, h, reach, whole, clear, lines)
        if rng.random() < 0.5:  # labels taken as they go, which leaders must not cross
            placer.place("P", ["P1 12 in"], (ax, ay), around(2.5))

    sector = np.array([rng.randrange(16) for _ in range(400)])
    distance = np.array([float(rng.randrange(30)) for _ in range(400)])
    best = {}
    for k, (s, d) in enumerate(zip(sector, distance)):
        if s not in best or d < distance[best[s]]:
            best[s] = k
    assert list(nearest_per_sector(sector, distance)) == sorted(best.values(), key=lambda k: (distance[k], sector[k]))


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


def _backdrop_project(tmp_path):
    """The demo over a 40 x 20 pixel image 300 ft wide and a DXF of a circle, an arc, a
    line and a polyline, cut to an extent smaller than the drawing."""
    import ezdxf
    from matplotlib.figure import Figure

    figure = Figure(figsize=(4, 2), dpi=10)
    figure.patch.set_facecolor("#88bb88")
    figure.savefig(tmp_path / "aerial.png")
    document = ezdxf.new()
    space = document.modelspace()
    space.add_line((-50, -50), (600, 400))
    space.add_lwpolyline([(0, 0), (100, 0), (100, 100)])
    space.add_circle((200, 50), 30)
    space.add_arc((300, 0), 40, 0, 90)
    document.saveas(tmp_path / "base.dxf")
    project = json.loads(rillwright.demo_project_json())
    project["background"] = {"path": "aerial.png", "origin_x": -20.0, "origin_y": -30.0, "width": 300.0,
                             "opacity": 0.5}
    project["background_dxf"] = {"path": str(tmp_path / "base.dxf"), "min_x": -10.0, "min_y": -10.0,
                                 "max_x": 400.0, "max_y": 120.0, "opacity": 0.45}
    path = tmp_path / "site.rwproj"
    path.write_text(json.dumps(project))
    return path


def test_backdrops_are_placed_at_their_origin_and_extent_behind_the_network(tmp_path):
    pytest.importorskip("ezdxf")
    from rillwright_tools.drawing.plan import plan_figure

    source = inputs.resolve(_backdrop_project(tmp_path))
    warnings = []
    axes = plan_figure(source, inputs.analyze(source), warn=warnings.append).axes[0]
    image = next(a for a in axes.get_images() if a.get_gid() == "backdrop-image")
    assert image.get_extent() == pytest.approx([-20.0, 280.0, -30.0, 120.0])  # 40 x 20 pixels, 300 ft wide
    assert image.get_alpha() == 0.5
    drawing = next(c for c in axes.collections if c.get_gid() == "backdrop-dxf")
    clip = drawing.get_clip_path().get_fully_transformed_path().get_extents().transformed(axes.transData.inverted())
    assert [clip.x0, clip.y0, clip.x1, clip.y1] == pytest.approx([-10.0, -10.0, 400.0, 120.0])
    lines = drawing.get_segments()
    assert len(lines) == 4 and lines[0].tolist() == [[-50.0, -50.0], [600.0, 400.0]]
    circle = lines[2]
    assert max(abs((x - 200) ** 2 + (y - 50) ** 2 - 900) for x, y in circle) < 1.0
    assert drawing.get_clip_box() is not None  # still cut at the axes too
    network = min(c.get_zorder() for c in axes.collections if c.get_gid() != "backdrop-dxf")
    assert image.get_zorder() < drawing.get_zorder() < network and warnings == []


def test_a_backdrop_that_cannot_be_read_is_one_warning_and_the_plan_is_drawn(tmp_path, capsys):
    path = _backdrop_project(tmp_path) if pytest.importorskip("ezdxf") else None
    (tmp_path / "aerial.png").write_bytes(b"not an image")
    (tmp_path / "base.dxf").unlink()
    out = tmp_path / "plan.png"
    assert main(["run", str(path), "--plan", str(out)]) == 0
    lines = capsys.readouterr().err.splitlines()
    assert len(lines) == 2 and "aerial.png" in lines[0] and "base.dxf" in lines[1]
    assert all(line.startswith("rillwright: warning: background") for line in lines)
    assert out.stat().st_size > 0
