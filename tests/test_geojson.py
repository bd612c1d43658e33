"""GeoJSON out and in: valid FeatureCollections, and round trips that keep the network."""

import json
import math

import pytest

import rillwright
import rillwright_tools as rwt
from rillwright_tools import inputs
from rillwright_tools.cli import main

from interchange_networks import SWMM_MODELS, generated


def is_position(value):
    return (isinstance(value, list) and 2 <= len(value) <= 3
            and all(isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v) for v in value))


def check_geojson(obj):
    """The rules of the GeoJSON format (RFC 7946) that a layer of points, lines and polygons meets."""
    json.dumps(obj, allow_nan=False)  # JSON proper: no NaN or Infinity
    assert obj["type"] == "FeatureCollection" and isinstance(obj["features"], list)
    for item in obj["features"]:
        assert item["type"] == "Feature"
        assert item["properties"] is None or isinstance(item["properties"], dict)
        geometry = item["geometry"]
        if geometry is None:
            continue
        coordinates = geometry["coordinates"]
        if geometry["type"] == "Point":
            assert is_position(coordinates)
        elif geometry["type"] == "LineString":
            assert len(coordinates) >= 2 and all(map(is_position, coordinates))
        elif geometry["type"] == "Polygon":
            for ring in coordinates:
                assert len(ring) >= 4 and ring[0] == ring[-1] and all(map(is_position, ring))
        else:
            pytest.fail(f"unexpected geometry {geometry['type']}")


SOURCES = {
    "demo": lambda: inputs.resolve(text=rillwright.demo_project_json(), format="rwproj"),
    "generated-si": lambda: inputs.resolve(text=generated(30, 9, "si"), format="rwproj"),
    "swmm": lambda: inputs.resolve(text=rwt.read_swmm(SWMM_MODELS[-2])[0], format="rwproj"),
}


@pytest.mark.parametrize("name", SOURCES)
def test_geojson_is_valid_and_round_trips_every_structure_and_pipe(name):
    source = SOURCES[name]()
    collection = rwt.to_geojson(text=source.text, format="rwproj", plan_coordinates=True)
    check_geojson(collection)
    project_text, _ = rwt.from_geojson(collection)
    project, original = json.loads(project_text), json.loads(source.text)
    # Settings and catchments ride along: the layer read back analyses exactly as before.
    assert rillwright.analyze_project(project_text) == rillwright.analyze_project(source.text)
    assert [n["id"] for n in project["nodes"]] == [n["id"] for n in original["nodes"]]
    for new, old in zip(project["nodes"], original["nodes"]):
        assert {k: new[k] for k in ("kind", "x", "y", "invert", "rim")} == pytest.approx(
            {k: old[k] for k in ("kind", "x", "y", "invert", "rim")})
    keys = ("id", "from", "to", "length", "diameter", "shape", "rise_ft", "span_ft")
    assert [{k: p.get(k, 0.0) for k in keys} for p in project["pipes"]] == \
        [{k: p.get(k, 0.0) for k in keys} for p in original["pipes"]]
    results = {f["properties"]["id"]: f["properties"] for f in collection["features"]
               if f["geometry"]["type"] == "LineString"}
    analysed = rillwright.analyze_project(source.text)["pipes"]
    assert [results[p["id"]]["design_q"] for p in analysed] == [
        p["design_q"] if math.isfinite(p["design_q"]) else None for p in analysed]


def test_rwn_source_and_non_finite_results_become_null():
    text = "NODE A inlet 0 0 10 15 1 0.5\nNODE B outfall 100 0 9 14\nPIPE P A B 100 1 0.013\n"
    result = rillwright.analyze_rwn(text)
    result["pipes"][0].update(normal_depth=math.nan, velocity=math.inf)
    collection = rwt.to_geojson(text=text, format="rwn", result=result, plan_coordinates=True)
    check_geojson(collection)
    pipe = next(f for f in collection["features"] if f["geometry"]["type"] == "LineString")
    assert pipe["geometry"]["coordinates"] == [[0.0, 0.0], [100.0, 0.0]]
    assert (pipe["properties"]["normal_depth"], pipe["properties"]["velocity"]) == (None, None)
    assert pipe["properties"]["design_q"] == result["pipes"][0]["design_q"]


def gis_layer(with_ends):
    points = [{"type": "Feature", "geometry": {"type": "Point", "coordinates": xy},
               "properties": {"NAME": name, "TYPE": kind, "IE": ie, "RIM": ie + 6}}
              for name, kind, xy, ie in (("MH1", "inlet", [0, 0], 105.0), ("MH2", "junction", [200, 10], 103.0),
                                         ("OUT", "outfall", [400, 0], 100.0))]
    lines = [{"type": "Feature", "geometry": {"type": "LineString", "coordinates": [[0.2, 0.1], [100, 50], [199.7, 10.2]]},
              "properties": {"NAME": "L1", "DIA": 1.5}},
             {"type": "Feature", "geometry": {"type": "LineString", "coordinates": [[200, 10], [400, 0]]},
              "properties": {"NAME": "L2", "DIA": 2.0, **({"US": "MH2", "DS": "OUT"} if with_ends else {})}}]
    return {"type": "FeatureCollection", "features": points + lines}


MAPPING = {"id": "NAME", "kind": "TYPE", "invert": "IE", "rim": "RIM", "diameter": "DIA", "from": "US", "to": "DS"}


def test_gis_layer_with_mapping_joins_lines_by_attribute_or_nearest():
    project_text, report = rwt.from_geojson(gis_layer(with_ends=True), MAPPING, tolerance=0.5)
    assert not report.dropped
    pipes = json.loads(project_text)["pipes"]
    assert [(p["id"], p["from"], p["to"], p["diameter"]) for p in pipes] == \
        [("L1", "MH1", "MH2", 1.5), ("L2", "MH2", "OUT", 2.0)]
    assert pipes[0]["length"] == pytest.approx(math.dist([0.2, 0.1], [100, 50]) + math.dist([100, 50], [199.7, 10.2]))
    assert len(rillwright.analyze_project(project_text)["pipes"]) == 2


@pytest.mark.parametrize("change, dropped", [
    (lambda layer: layer["features"][3]["properties"].update(DS="NOPE"),
     ["pipe L1 (feature 3): its 'to' end names structure 'NOPE', which is not in the import"]),
    (lambda layer: layer["features"][3]["geometry"]["coordinates"][0].__setitem__(0, 5.0),
     ["pipe L1 (feature 3): no structure within 0.5 of its 'from' end and no 'from' attribute"]),
    (lambda layer: layer["features"][0]["properties"].pop("IE"),
     ["structure MH1 (feature 0): it has no 'IE'", "pipe L1 (feature 3): no structure within 0.5 of its 'from' end "
      "and no 'from' attribute"]),
    (lambda layer: layer["features"][0]["properties"].update(RIM="high"),
     ["structure MH1 (feature 0): its 'rim' is \"high\", not a finite number",
      "pipe L1 (feature 3): no structure within 0.5 of its 'from' end and no 'from' attribute"]),
    (lambda layer: layer["features"].append({"type": "Feature", "geometry": None, "properties": {"NAME": "X"}}),
     ["feature X (feature 5): it has no geometry"]),
    (lambda layer: layer["features"].append({"type": "Feature", "properties": {},
                                             "geometry": {"type": "MultiPoint", "coordinates": [[0, 0]]}}),
     ["feature feature 5: its geometry is 'MultiPoint', not a Point, LineString or Polygon"]),
    (lambda layer: layer["features"].append({"type": "Feature", "properties": {"NAME": "L9"},
                                             "geometry": {"type": "LineString", "coordinates": 7}}),
     ["feature L9 (feature 5): its line is 7, not a list of positions"]),
    (lambda layer: layer["features"].append({"type": "Feature", "properties": {"NAME": "A1"},
                                             "geometry": {"type": "Polygon", "coordinates": [7]}}),
     ["feature A1 (feature 5): its outline is 7, not a list of positions"]),
    (lambda layer: layer["features"].append({"type": "Feature", "properties": {"NAME": "A2"},
                                             "geometry": {"type": "Polygon", "coordinates": [[[0, 0], 7, [1, 1]]]}}),
     ["feature A2 (feature 5): its coordinates are not a position"]),
    (lambda layer: layer["features"][0]["properties"].update(inlet_type="CB", inlet_length_ft=3.0,
                                                             inlet_gutter_slope=0.01, inlet_sag=False),
     ["inlet MH1 (feature 0): node `MH1`: inlet `type` must be one of grate, curb, combination, slotted, not `CB`"]),
    (lambda layer: layer["features"][0]["properties"].update(TYPE=["inlet"]),
     ["structure MH1 (feature 0): its 'kind' is [\"inlet\"], not a text",
      "pipe L1 (feature 3): no structure within 0.5 of its 'from' end and no 'from' attribute"]),
])
def test_gis_layer_features_that_cannot_be_used_are_reported(change, dropped):
    layer = gis_layer(with_ends=False)
    layer["features"][4]["properties"].update(US="MH2", DS="OUT")
    change(layer)
    _, report = rwt.from_geojson(layer, MAPPING, tolerance=0.5)
    assert [line for line in report.lines() if line.startswith("dropped")] == [f"dropped {d}" for d in dropped]


def test_run_writes_geojson_and_convert_reads_it(tmp_path, capsys):
    out = tmp_path / "demo.geojson"
    assert main(["run", "--geojson", str(out), "--plan-coordinates"]) == 0
    check_geojson(json.loads(out.read_text()))
    project = tmp_path / "back.rwproj"
    assert main(["convert", str(out), "-o", str(project)]) == 0
    assert "4 structures, 3 pipes" in capsys.readouterr().out


def test_what_geojson_cannot_carry_is_in_the_export_report_and_a_failed_transform_names_the_structure(tmp_path, capsys):
    pytest.importorskip("pyproj")
    project = json.loads(rillwright.demo_project_json())
    project["catchments"][0]["vertices"] = project["catchments"][0]["vertices"][:2]
    collection = rwt.to_geojson(text=json.dumps(project), format="rwproj", plan_coordinates=True)
    assert collection["rillwright_export_report"] == [
        "dropped catchment C1: its outline has 2 corners, and a polygon needs three"]
    # `run --geojson` says so too, on stderr beside the results
    source = tmp_path / "two-corners.rwproj"
    source.write_text(json.dumps(project))
    assert main(["run", str(source), "--geojson", str(tmp_path / "out.geojson"), "--plan-coordinates"]) == 0
    assert capsys.readouterr().err.splitlines() == collection["rillwright_export_report"]
    project["nodes"][1].update(x=1e9, y=1e9)  # outside the domain of the UTM zone
    with pytest.raises(ValueError, match=f"structure '{project['nodes'][1]['id']}': .* cannot be transformed"):
        rwt.to_geojson(text=json.dumps(project), format="rwproj", crs="EPSG:32611")
