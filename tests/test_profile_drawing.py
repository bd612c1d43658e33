"""Profile and plan sheets: every pipe and structure labelled, no two labels overlapping,
text at least 8 pt (2 mm letters), SI drawings without US units."""

import json
from pathlib import Path

import pytest

import rillwright
from rillwright_tools import inputs
from rillwright_tools.drawing.labels import block_size, overlaps
from rillwright_tools.drawing.notation import Units
from rillwright_tools.drawing.profile import profile_path, profile_series, profile_sheets
from rillwright_tools.drawing.sheets import plan_sheets

from interchange_networks import generated

pytest.importorskip("matplotlib")


def _source(text):
    return inputs.resolve(text=text, format="rwproj")


INLETS = (Path(__file__).resolve().parent.parent / "docs" / "inlets-example.rwproj").read_text()


def _boxes_hold_their_text(sheet):
    """Each label's box is its block of text as it stands (turned or upright), to the
    placer's rounding up to whole points."""
    for p in sheet.drawing.labels:
        width, height = block_size(p.lines, p.size, p.bold)
        if p.vertical:
            width, height = height, width
        if not (-0.01 <= (p.box[2] - p.box[0]) - width <= 2.01 and -0.01 <= (p.box[3] - p.box[1]) - height <= 2.01):
            return False
    return True


def _clear_labels_never_overlap(sheet):
    boxes = [p.box for p in sheet.drawing.labels if not p.crowded]
    return not any(overlaps(a, b) for i, a in enumerate(boxes) for b in boxes[i + 1:])


@pytest.mark.parametrize("text", [rillwright.demo_project_json(), generated(60, 3, "si"), INLETS])
def test_profile_sheets_label_every_pipe_and_structure_once(text):
    source = _source(text)
    shape = inputs.geometry(source)
    series = profile_series(profile_path(shape), shape, inputs.analyze(source))
    sheets = profile_sheets(series, "Profile")
    keys = [p.key for s in sheets for p in s.drawing.labels]
    assert sorted(k for k in keys if k in series.node_ids) == sorted(series.node_ids)
    assert sorted(k for k in keys if k in {p.id for p in series.pipes}) == sorted(p.id for p in series.pipes)
    assert all(_clear_labels_never_overlap(s) and _boxes_hold_their_text(s) for s in sheets)
    svg = "".join(s.svg() for s in sheets)
    assert "V.E. " in svg and all(t.size >= 8 for s in sheets for t in s.drawing.texts)
    if json.loads(text).get("units") == "si":
        assert " ft" not in svg and "cfs" not in svg and " in<" not in svg and "m³/s" in svg


@pytest.mark.parametrize("text, many", [(rillwright.demo_project_json(), False), (generated(200, 4), True)])
def test_plan_sheets_key_map_first_and_every_element_labelled(text, many):
    source = _source(text)
    sheets = plan_sheets(source, inputs.analyze(source))
    assert sheets[0].title == "Plan key map" and sheets[1].title.startswith("Plan sheet 1 of ")
    assert (len(sheets) > 2) == many
    project = json.loads(text)
    keys = [p.key for s in sheets[1:] for p in s.drawing.labels]
    assert sorted(k for k in keys if not k.startswith(("match-", "detail"))) == sorted(
        [n["id"] for n in project["nodes"]] + [p["id"] for p in project["pipes"]])
    assert all(_clear_labels_never_overlap(s) and _boxes_hold_their_text(s) for s in sheets[1:])
    if many:
        assert any("SEE SHEET" in t.text for s in sheets[1:] for t in s.drawing.texts)


def test_plan_sheets_need_plan_coordinates():
    text = "NODE A inlet 0 0 10 15 1 0.5\nNODE B outfall 0 0 9 14\nPIPE P A B 100 1 0.013\n"
    source = inputs.resolve(text=text, format="rwn")
    with pytest.raises(ValueError, match="no plan coordinates"):
        plan_sheets(source, inputs.analyze(source))


def test_a_structure_on_a_match_line_leaves_its_note_readable_at_a_coarse_scale():
    from field_network import field_network
    from rillwright_tools.drawing.profile_sheet import choose_layout

    source = inputs.resolve(text=field_network(), format="rwn")  # trunk structures every 150 ft
    shape = inputs.geometry(source)
    series = profile_series(profile_path(shape), shape, inputs.analyze(source))
    layout, sheets = choose_layout(series, "Profile")
    assert layout.count > 1 and layout.h_fpp > 20.0 / 72 and not any(p.crowded for s in sheets for p in s.drawing.labels)
    notes = [t.text for s in sheets for t in s.drawing.texts if t.key.startswith("match-")]
    assert len(notes) == 2 * (layout.count - 1) and all("SEE SHEET" in n for n in notes)


def _bench_forest(pipes):
    """bench/run.py's forest: pipes at random angles crossing in tangles, as a project."""
    import importlib.util

    found = importlib.util.spec_from_file_location("bench_run", Path(__file__).resolve().parent.parent / "bench" / "run.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return json.dumps({"name": "forest", "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0,
                       "junction_k": 0.5, **module.generate(pipes, "circular")})


@pytest.mark.parametrize("text", [_bench_forest(200), generated(200, 4), generated(60, 3, "si"), INLETS],
                         ids=["forest", "tangle", "si", "inlets"])
def test_plan_and_detail_sheets_set_every_label_clear_and_each_element_once(text):
    """Where the plan sheets' scale crowds labels, details at finer scales of the list carry
    them: no label on any sheet meets another, and every id is on exactly one sheet."""
    source = _source(text)
    sheets = plan_sheets(source, inputs.analyze(source))
    project = json.loads(text)
    labels = [p for s in sheets[1:] for p in s.drawing.labels]
    elements = [p for p in labels if not p.key.startswith(("match-", "detail"))]
    assert sorted(p.key for p in elements) == sorted([n["id"] for n in project["nodes"]] + [p["id"] for p in project["pipes"]])
    assert all(p.clear for p in elements) and not any(p.crowded for p in labels)
    for sheet in sheets[1:]:  # an independent check of the placer's own flags
        boxes = [p.box for p in sheet.drawing.labels]
        assert not any(overlaps(a, b) for i, a in enumerate(boxes) for b in boxes[i + 1:]), sheet.title
        assert _boxes_hold_their_text(sheet)
    details = [s for s in sheets if s.title.startswith("Detail ")]
    assert (len(details) > 0) == (text is not INLETS)
    units = Units(project.get("units") == "si")
    scales = {units.scale_text(s) for s in units.detail_scales}
    count = len(sheets) - 1
    for k, sheet in enumerate(details):
        texts = [t.text for t in sheet.drawing.texts]
        assert sheet.title.startswith(f"Detail {k + 1} of {len(details)}: Plan sheet {count - len(details) + k + 1} of {count}")
        assert any(t.startswith("Scale ") and t[6:] in scales for t in texts) and "N" in texts  # its scale, bar, arrow
    # Each detail is called out where it comes from: its own callout, or its area's range.
    keys = {p.key for p in labels}
    ranges = [tuple(map(int, p.lines[0].split()[1].rstrip(",").split("-"))) for p in labels if p.key.startswith("details-")]
    assert all(f"detail-{j}" in keys or any(a <= j <= b for a, b in ranges) for j in range(1, len(details) + 1))


def test_details_found_in_a_second_process_are_those_found_in_one(monkeypatch):
    """The plan's detail areas are shared between two processes where a core is free: the
    sheets are the same, byte for byte, as one process draws them."""
    import rillwright_tools.alongside as alongside

    source = _source(_bench_forest(200))
    result = inputs.analyze(source)
    together = [sheet.svg() for sheet in plan_sheets(source, result)]
    monkeypatch.setattr(alongside, "spare_core", lambda: False)
    assert [sheet.svg() for sheet in plan_sheets(source, result)] == together


@pytest.mark.parametrize("work, expected", [(lambda: [1, 2], [1, 2]), (lambda: 1 / 0, ZeroDivisionError)])
def test_work_alongside_returns_its_result_or_raises_its_error(work, expected):
    from rillwright_tools.alongside import alongside

    with alongside(work) as result:
        if isinstance(expected, type):
            with pytest.raises(expected):
                result()
        else:
            assert result() == expected
