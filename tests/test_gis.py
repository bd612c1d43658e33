"""Coordinate systems and GeoPackage: GeoJSON in longitude and latitude from a project's
`crs` and back within a millimetre, and GeoPackages that GDAL reads layer by layer."""

import json
import math
import struct
from pathlib import Path

import numpy
import pytest

import rillwright
import rillwright_tools as rwt
from rillwright_tools.cli import main

from interchange_networks import generated
from project_tool import roundtrip, roundtrip_driver  # noqa: F401 (fixtures)

pyproj = pytest.importorskip("pyproj")

# A US project in California state plane (US survey feet), an SI one in UTM metres; the
# generated networks sit near (1000, 1000) plan units, which both systems place on land.
PROJECTS = {
    "demo": (lambda: rillwright.demo_project_json(), "EPSG:2229"),
    "generated-us": (lambda: generated(12, 4), "EPSG:2229"),
    "generated-si": (lambda: generated(12, 5, "si"), "EPSG:32611"),
}


def with_crs(text, crs):
    project = json.loads(text)
    project["crs"] = crs
    return json.dumps(project)


def assert_same_network(back_text, original_text, crs):
    back, original = json.loads(back_text), json.loads(original_text)
    assert back["crs"] == crs
    assert [n["id"] for n in back["nodes"]] == [n["id"] for n in original["nodes"]]
    for new, old in zip(back["nodes"], original["nodes"]):
        assert abs(new["x"] - old["x"]) < 1e-3 and abs(new["y"] - old["y"]) < 1e-3
        assert (new["kind"], new["invert"], new["rim"]) == (old["kind"], old["invert"], old["rim"])
    keys = ("id", "from", "to", "diameter", "shape", "rise_ft", "span_ft", "invert_up", "invert_dn")
    def pipe_keys(p):
        return {k: p.get(k, 0.0 if k in ("rise_ft", "span_ft") else None) for k in keys}

    assert list(map(pipe_keys, back["pipes"])) == list(map(pipe_keys, original["pipes"]))
    settings = [k for k in original if k not in ("nodes", "pipes", "catchments")]
    assert {k: back[k] for k in settings} == {k: original[k] for k in settings}


@pytest.mark.parametrize("name", PROJECTS)
def test_geojson_is_longitude_latitude_and_reads_back_within_a_millimetre(name):
    make, crs = PROJECTS[name]
    text = with_crs(make(), crs)
    collection = rwt.to_geojson(text=text, format="rwproj")
    lon, lat = next(f["geometry"]["coordinates"] for f in collection["features"] if f["geometry"]["type"] == "Point")
    expected = pyproj.Transformer.from_crs(crs, "EPSG:4326", always_xy=True).transform(
        json.loads(text)["nodes"][0]["x"], json.loads(text)["nodes"][0]["y"])
    assert (lon, lat) == pytest.approx(expected, abs=1e-9) and -180 < lon < 180 and -90 < lat < 90
    back, report = rwt.from_geojson(collection)
    assert not report.dropped
    assert_same_network(back, text, crs)


def test_geojson_without_a_crs_is_refused_unless_plan_coordinates_are_asked_for(tmp_path, capsys):
    with pytest.raises(ValueError, match="names no coordinate reference system"):
        rwt.to_geojson(text=rillwright.demo_project_json(), format="rwproj")
    marked = rwt.to_geojson(text=rillwright.demo_project_json(), format="rwproj", plan_coordinates=True)
    assert "plan coordinates" in marked["rillwright_plan_coordinates"]["note"]
    demo = tmp_path / "demo.rwproj"
    demo.write_text(rillwright.demo_project_json())
    assert main(["convert", str(demo), "-o", str(tmp_path / "d.geojson")]) == 1
    assert "--plan-coordinates" in capsys.readouterr().err
    assert main(["convert", str(demo), "-o", str(tmp_path / "d.geojson"), "--crs", "EPSG:2229"]) == 0


@pytest.mark.parametrize("name", PROJECTS)
def test_geopackage_round_trip_and_what_gdal_reads(name, tmp_path):
    pyogrio = pytest.importorskip("pyogrio")
    make, crs = PROJECTS[name]
    text = with_crs(make(), crs)
    out = tmp_path / "net.gpkg"
    rwt.to_geopackage(None, out, text=text, format="rwproj")
    result = rillwright.analyze_project(text)
    project = json.loads(text)
    layers = {layer: kind for layer, kind in pyogrio.list_layers(out)}
    assert layers["structures"] == "Point" and layers["pipes"] == "LineString"
    meta, _, points, fields = pyogrio.raw.read(out, layer="structures")
    assert pyproj.CRS(meta["crs"]) == pyproj.CRS(crs)
    columns = dict(zip(meta["fields"], fields))
    assert list(columns["id"]) == [n["id"] for n in project["nodes"]]
    xy = [struct.unpack_from("<dd", wkb, 5) for wkb in points]  # little-endian 2-D WKB points
    assert xy == [(n["x"], n["y"]) for n in project["nodes"]]
    assert list(columns["hgl"]) == [n["hgl"] for n in result["nodes"]]
    meta, _, _, fields = pyogrio.raw.read(out, layer="pipes")
    columns = dict(zip(meta["fields"], fields))
    assert list(columns["id"]) == [p["id"] for p in project["pipes"]]
    assert list(columns["design_q"]) == [p["design_q"] for p in result["pipes"]]
    back, report = rwt.from_geopackage(out)
    assert not report.dropped
    assert_same_network(back, text, crs)


def test_crs_is_kept_and_written_only_when_present(roundtrip):
    project = json.loads(rillwright.demo_project_json())
    assert roundtrip.write(project) == rillwright.demo_project_json()  # no crs, no key
    project["crs"] = "EPSG:2229"
    text = roundtrip.write(project)  # the driver also checks that it reads back equal
    assert json.loads(text)["crs"] == "EPSG:2229" and text.endswith('"crs": "EPSG:2229"\n}')


LANDXML_SCHEMA = Path(__file__).parent / "data" / "landxml" / "LandXML-1.2.xsd"


@pytest.fixture(scope="module")
def landxml_schema():
    xmlschema = pytest.importorskip("xmlschema")
    return xmlschema.XMLSchema(str(LANDXML_SCHEMA))


@pytest.mark.parametrize("name", PROJECTS)
def test_landxml_is_valid_and_reads_back_the_same_network(name, landxml_schema):
    make, crs = PROJECTS[name]
    text = with_crs(make(), crs)
    written, report = rwt.write_landxml(text=text, format="rwproj")
    landxml_schema.validate(written)
    arches = [p["id"] for p in json.loads(text)["pipes"] if p.get("shape") == "arch"]
    assert [entry[1] for entry in report.approximated] == arches
    back, _ = rwt.read_landxml(written)
    assert_same_network(back, text, crs)
    assert rillwright.analyze_project(back) == rillwright.analyze_project(text)


def test_landxml_in_other_units_and_broken_files():
    structs = "".join(
        f'<Struct name="{n}" elevRim="{r}" elevSump="{s}"><Center>{y} {x}</Center><CircStruct diameter="48"/>'
        f'<Invert elev="{s}" flowDir="{d}" refPipe="P1"/></Struct>'
        for n, x, y, r, s, d in (("A", 0, 0, 106, 100, "out"), ("B", 100, 0, 105, 99, "in")))
    text = ('<LandXML xmlns="http://www.landxml.org/schema/LandXML-1.2" version="1.2" date="2026-01-01" '
            'time="00:00:00"><Units><Imperial areaUnit="acre" linearUnit="USSurveyFoot" volumeUnit="cubicFeet" '
            'temperatureUnit="fahrenheit" pressureUnit="inchHG" diameterUnit="inch"/></Units><PipeNetworks>'
            f'<PipeNetwork name="n" pipeNetType="storm"><Structs>{structs}</Structs><Pipes>'
            '<Pipe name="P1" refStart="A" refEnd="B" length="100"><CircPipe diameter="18" mannings="0.013"/>'
            '</Pipe></Pipes></PipeNetwork></PipeNetworks></LandXML>')
    project = json.loads(rwt.read_landxml(text)[0])
    survey = 1200 / 3937 / 0.3048
    assert project["pipes"][0]["diameter"] == pytest.approx(1.5)
    assert project["pipes"][0]["length"] == pytest.approx(100 * survey)
    assert project["nodes"][1]["x"] == pytest.approx(100 * survey) and project["nodes"][1]["kind"] == "outfall"
    with pytest.raises(ValueError, match="pipe 'P1' names structure 'C' as its refEnd, and there is no such <Struct>"):
        rwt.read_landxml(text.replace('refEnd="B"', 'refEnd="C"'))
    with pytest.raises(ValueError, match=r"structure 'B': <Struct> has no <Center>"):
        rwt.read_landxml(text.replace("<Center>0 100</Center>", ""))


INLETS_EXAMPLE = Path(__file__).parent.parent / "docs" / "inlets-example.rwproj"


def through(fmt, text, tmp_path):
    """(project text read back, import report, export report lines) of a round trip."""
    if fmt == "geojson":
        collection = rwt.to_geojson(text=text, format="rwproj")
        return (*rwt.from_geojson(json.loads(json.dumps(collection))), collection.get("rillwright_export_report", []))
    if fmt == "geopackage":
        exported = rwt.to_geopackage(None, tmp_path / "net.gpkg", text=text, format="rwproj")
        return (*rwt.from_geopackage(tmp_path / "net.gpkg"), exported.lines())
    written, exported = rwt.write_landxml(text=text, format="rwproj")
    return (*rwt.read_landxml(written), exported.lines())


@pytest.mark.parametrize("fmt", ["geojson", "geopackage", "landxml"])
def test_inlets_survive_every_format_and_the_import_places_the_plan(fmt, tmp_path):
    text = with_crs(INLETS_EXAMPLE.read_text(), "EPSG:2229")
    original = json.loads(text)
    back, report, exported = through(fmt, text, tmp_path)
    assert exported == [] and not report.dropped
    sheet = rwt.inlets(text=back, format="rwproj")
    assert len(sheet["inlets"]) == 7 and sheet == rwt.inlets(text=text, format="rwproj")
    assert [n.get("inlet") for n in json.loads(back)["nodes"]] == [n.get("inlet") for n in original["nodes"]]
    assert [n.get("bypass_to") for n in json.loads(back)["nodes"]] == [n.get("bypass_to") for n in original["nodes"]]
    # The note names the system and where it puts the plan, computed here straight from pyproj.
    to_lonlat = pyproj.Transformer.from_crs("EPSG:2229", "EPSG:4326", always_xy=True)
    lon, lat = to_lonlat.transform([n["x"] for n in original["nodes"]], [n["y"] for n in original["nodes"]])
    placed = [note for note in report.notes if note.startswith("coordinate system taken: EPSG:2229 (NAD83 / California")]
    assert placed and placed[0].endswith(f"plan extent longitude {min(lon):.5f} to {max(lon):.5f}, "
                                         f"latitude {min(lat):.5f} to {max(lat):.5f}")


def test_inlet_keys_are_flat_columns_that_gdal_reads(tmp_path):
    pyogrio = pytest.importorskip("pyogrio")
    text = INLETS_EXAMPLE.read_text()
    rwt.to_geopackage(None, tmp_path / "inlets.gpkg", text=text, format="rwproj")
    meta, _, _, fields = pyogrio.raw.read(tmp_path / "inlets.gpkg", layer="structures")
    columns = dict(zip(meta["fields"], fields))
    nodes = json.loads(text)["nodes"]
    assert list(columns["inlet_length_ft"]) == pytest.approx([n.get("inlet", {}).get("length_ft", math.nan)
                                                              for n in nodes], nan_ok=True)
    assert [v or None for v in columns["bypass_to"]] == [n.get("bypass_to") for n in nodes]
    with_inlet = [k for k, n in enumerate(nodes) if "inlet" in n]
    assert [bool(columns["inlet_sag"][k]) for k in with_inlet] == [nodes[k]["inlet"]["sag"] for k in with_inlet]


def wkb_layers(tmp_path, structures, pipes, **options):
    """A GeoPackage that GDAL writes (through pyogrio) from shapely geometries."""
    pyogrio = pytest.importorskip("pyogrio")
    shapely = pytest.importorskip("shapely")
    out = tmp_path / "gdal.gpkg"
    for layer, rows in (("structures", structures), ("pipes", pipes)):
        geometry = numpy.array([shapely.to_wkb(shapely.from_wkt(wkt), flavor="iso") for wkt, _ in rows], dtype=object)
        keys = list(rows[0][1])
        fields = [numpy.array([props[k] for _, props in rows]) for k in keys]
        pyogrio.raw.write(out, geometry, fields, fields=keys, layer=layer, driver="GPKG", append=layer == "pipes",
                          geometry_type=options.get(layer, "Unknown"), crs="EPSG:32611")
    return out


NODE = {"kind": "inlet", "invert": 100.0, "rim": 106.0}


def test_a_package_gdal_wrote_with_z_m_and_multi_parts(tmp_path):
    structures = [("POINT Z (0 0 106)", {"id": "A", **NODE}), ("POINT M (100 0 3)", {"id": "B", **NODE}),
                  ("MULTIPOINT ZM ((200 0 1 2))", {"id": "C", **dict(NODE, kind="outfall", invert=98.0)})]
    pipes = [("MULTILINESTRING ((0 0, 50 1, 100 0))", {"id": "P1", "diameter": 1.5}),
             ("LINESTRING Z (100 0 0, 200 0 0)", {"id": "P2", "diameter": 1.5}),
             ("MULTILINESTRING ((0 0, 100 0), (100 0, 200 0))", {"id": "P3", "diameter": 1.5})]
    out = wkb_layers(tmp_path, structures, pipes)
    text, report = rwt.from_geopackage(out)
    project = json.loads(text)
    assert [(n["id"], n["x"], n["y"]) for n in project["nodes"]] == [("A", 0, 0), ("B", 100, 0), ("C", 200, 0)]
    assert [(p["id"], p["from"], p["to"]) for p in project["pipes"]] == [("P1", "A", "B"), ("P2", "B", "C")]
    assert project["pipes"][0]["length"] == pytest.approx(2 * math.hypot(50, 1))
    assert report.dropped == [("feature", "layer 'pipes' fid 3", "its geometry is a MultiLineString of 2 parts, "
                                                                 "not a point, line or polygon (or a Multi* of one)")]
    assert ("layer", "structures", "the Z or M coordinates of 3 features are dropped: plan positions are 2-D, and "
                                   "elevations come from the attributes") in report.approximated
    assert project["crs"] == "EPSG:32611"


def broken(tmp_path, damage):
    path = tmp_path / "net.gpkg"
    rwt.to_geopackage(None, path, text=rillwright.demo_project_json(), format="rwproj", crs="EPSG:2229")
    damage(path)
    return path


def sql(statement):
    def run(path):
        import sqlite3
        db = sqlite3.connect(path)
        db.execute(statement)
        db.commit()
        db.close()
    return run


@pytest.mark.parametrize("damage, message", [
    (sql("DROP TABLE pipes"), r"layer 'pipes': no such table"),
    (sql("DROP TABLE structures"), r"layer 'structures': no such table"),
    (sql("DROP TABLE catchments"), r"layer 'catchments': no such table"),
    (sql("DROP TABLE gpkg_spatial_ref_sys"), r"table 'gpkg_spatial_ref_sys': no such table"),
    (sql("DELETE FROM gpkg_geometry_columns WHERE table_name = 'pipes'"), r"no layer 'pipes'"),
    (lambda path: path.write_bytes(b"SQLite format 3\x00" + b"\x01" * 300), r"not a GeoPackage"),
    (lambda path: path.write_bytes(path.read_bytes()[:1500]), r"net.gpkg: "),
    (sql("UPDATE structures SET geom = substr(geom, 1, 20) WHERE fid = 2"),
     r"layer 'structures' fid 2: its geometry is not well-formed WKB"),
    (sql("UPDATE pipes SET id = CAST(x'ff41' AS TEXT) WHERE fid = 1"), r"layer 'pipes' fid 1: column 'id' is not UTF-8"),
    (sql("UPDATE rillwright_project SET settings = '[1]'"), r"table 'rillwright_project': the settings are not"),
    (sql("UPDATE rillwright_project SET settings = '{\"idf_a\": \"wet\"}'"), r"values make a project that cannot be read"),
    (sql("UPDATE gpkg_spatial_ref_sys SET srs_id = 7 WHERE srs_id = 2229"), r"has no srs_id 2229"),
])
def test_a_broken_geopackage_is_a_value_error_naming_file_and_element(tmp_path, damage, message):
    pytest.importorskip("shapely")
    path = broken(tmp_path, damage)
    with pytest.raises(ValueError, match=message) as refused:
        rwt.from_geopackage(path)
    assert str(path) in str(refused.value)
    with pytest.raises(OSError, match="no such file"):
        rwt.from_geopackage(tmp_path / "none.gpkg")


def test_layers_reprojected_after_writing_keep_their_own_system(tmp_path):
    pytest.importorskip("shapely")
    path = broken(tmp_path, sql("UPDATE rillwright_project SET settings = '{\"crs\": \"EPSG:32611\"}'"))
    text, report = rwt.from_geopackage(path)
    assert json.loads(text)["crs"] == "EPSG:2229"
    assert "the layers are in 'EPSG:2229', not the 'EPSG:32611' the settings name" in report.notes[0]


def test_a_failing_geopackage_write_leaves_no_file(tmp_path, monkeypatch):
    from rillwright_tools.formats import geopackage

    out = tmp_path / "net.gpkg"
    out.write_bytes(b"older")

    def fail(*args):
        raise ValueError("no room")

    monkeypatch.setattr(geopackage, "_write_layer", fail)
    with pytest.raises(ValueError, match="no room"):
        rwt.to_geopackage(None, out, text=rillwright.demo_project_json(), format="rwproj")
    assert [p.name for p in tmp_path.iterdir()] == ["net.gpkg"] and out.read_bytes() == b"older"


def test_landxml_writes_the_section_the_analysis_uses_and_names_bad_settings():
    project = json.loads(rillwright.demo_project_json())
    project["pipes"][0].update(shape="arch", rise_ft=0.0, span_ft=4.3, diameter=2.5)  # analysed as a 2.5 ft circle
    text = json.dumps(project)
    project["nodes"].append(dict(project["nodes"][0], id="LONE"))  # no pipe: no valid LandXML structure
    written, report = rwt.write_landxml(text=json.dumps(project), format="rwproj")
    assert '<CircPipe diameter="2.5"' in written and "ElliPipe" not in written
    assert any("'arch' without a rise and a span is analysed as the circle" in note for note in report.notes)
    assert [entry[:2] for entry in report.dropped] == [("structure", "LONE")]
    back, _ = rwt.read_landxml(written)
    assert rillwright.analyze_project(back) == rillwright.analyze_project(text)
    assert {k: v for k, v in json.loads(back)["pipes"][0].items() if v is not None} == project["pipes"][0]
    label = 'label="settings" value="'
    at = written.index(label) + len(label)
    for bad, message in (("3", "is '3', not a JSON object"), ("{nope", "is not a JSON value")):
        with pytest.raises(ValueError, match=f"<Project> property 'settings'.*{message}"):
            rwt.read_landxml(written[:at] + bad + written[written.index('"', at):])
