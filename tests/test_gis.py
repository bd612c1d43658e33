"""Coordinate systems and GeoPackage: GeoJSON in longitude and latitude from a project's
`crs` and back within a millimetre, and GeoPackages that GDAL reads layer by layer."""

import json
import struct
from pathlib import Path

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
