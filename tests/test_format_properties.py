"""Properties of the GIS and CAD formats on random input: a random valid project comes back
from GeoJSON, GeoPackage and LandXML with every structure, pipe, size, invert, inlet key and
C, or a report line names what changed; and on mutated files and objects the readers raise
only ValueError (or OSError for the file)."""

import contextlib
import json
import sqlite3
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import rillwright_tools as rwt

pytest.importorskip("pyproj")
pytest.importorskip("shapely")

FAST = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
# A round trip writes and reads a file: fewer examples keep each test within a few seconds.
ROUND_TRIPS = settings(FAST, max_examples=150)
SHAPES = ("circular", "box", "elliptical", "arch", "Box")  # "Box" is read as circular
GRATES = ("P-50", "P-50x100", "P-30", "curved vane", "reticuline")
size = st.sampled_from([0.0, 1.0, 1.5, 2.25, 3.5])
inlet = st.fixed_dictionaries(
    {"length_ft": st.sampled_from([0.0, 3.0, 10.0]), "gutter_slope": st.sampled_from([0.0, 0.004, 0.02]),
     "sag": st.booleans()},
    optional={"cross_slope": st.sampled_from([0.02, 0.04]), "type": st.sampled_from(["grate", "curb", "combination"]),
              "grate": st.sampled_from(GRATES), "clogging": st.sampled_from([0.0, 0.5]),
              "depression_in": st.sampled_from([0.0, 2.0]), "gutter_width_ft": st.sampled_from([1.5, 2.0]),
              "spread_limit_ft": st.sampled_from([6.0, 10.0])})


@st.composite
def projects(draw):
    """A tree of 2 to 7 structures draining to the first, an outfall, with random sections,
    inverts, inlets and runoff coefficients."""
    count = draw(st.integers(2, 7))
    nodes, pipes = [], []
    for k in range(count):
        node = {"id": f"N{k}", "kind": "outfall" if k == 0 else draw(st.sampled_from(["inlet", "junction"])),
                "x": 1000.0 + 97.25 * k, "y": 1000.0 + draw(st.integers(-300, 300)) / 4,
                "invert": 100.0 + k, "rim": 108.0 + k, "area_ac": draw(st.sampled_from([0.0, 0.3, 1.25])),
                "c": draw(st.sampled_from([0.0, 0.1, 0.65, 0.95])), "tc_inlet": draw(st.sampled_from([0.0, 5.0]))}
        if k and draw(st.booleans()):
            node["inlet"] = draw(inlet)
            if draw(st.booleans()):
                node["bypass_to"] = f"N{draw(st.integers(0, k - 1))}"
        nodes.append(node)
    for k in range(1, count):
        pipe = {"id": f"P{k}", "from": f"N{k}", "to": f"N{draw(st.integers(0, k - 1))}",
                "length": draw(st.sampled_from([50.0, 123.4])), "diameter": draw(size.filter(bool)),
                "n": draw(st.sampled_from([0.012, 0.013])), "shape": draw(st.sampled_from(SHAPES)),
                "rise_ft": draw(size), "span_ft": draw(size)}
        if draw(st.booleans()):
            pipe["invert_up"] = node_invert = 100.5 + k
            pipe["invert_dn"] = node_invert - 0.75
        pipes.append(pipe)
    return {"name": "random", "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0, "junction_k": 0.5,
            "crs": "EPSG:2229", "units": draw(st.sampled_from(["us_customary", "si"])), "nodes": nodes, "pipes": pipes,
            "catchments": [{"id": "A1", "vertices": [[0.0, 0.0], [90.0, 0.0], [0.0, 80.0]],
                            "c": draw(st.sampled_from([0.1, 0.5, 0.95])), "flow_length_ft": 100.0, "slope": 0.01,
                            "inlet_node_id": f"N{count - 1}"}]}


def round_trip(fmt, text, path):
    if fmt == "geojson":
        collection = rwt.to_geojson(text=text, format="rwproj", analyse=False)
        back, report = rwt.from_geojson(json.loads(json.dumps(collection)))
        return back, report.lines() + collection.get("rillwright_export_report", [])
    if fmt == "geopackage":
        exported = rwt.to_geopackage(None, path, text=text, format="rwproj", analyse=False)
        back, report = rwt.from_geopackage(path)
        return back, report.lines() + exported.lines()
    written, exported = rwt.write_landxml(text=text, format="rwproj")
    back, report = rwt.read_landxml(written)
    return back, report.lines() + exported.lines()


NODE_KEYS = ("kind", "invert", "rim", "area_ac", "c", "tc_inlet", "inlet", "bypass_to")
PIPE_KEYS = ("from", "to", "length", "diameter", "n", "shape", "rise_ft", "span_ft", "invert_up", "invert_dn")


@pytest.mark.parametrize("fmt", ["geojson", "geopackage", "landxml"])
def test_a_random_project_comes_back_or_the_report_says_what_changed(fmt, tmp_path):
    @ROUND_TRIPS
    @given(projects())
    def check(project):
        back, lines = round_trip(fmt, json.dumps(project), tmp_path / "random.gpkg")
        got = json.loads(back)
        changed = []
        for kind, keys in (("nodes", NODE_KEYS), ("pipes", PIPE_KEYS)):
            assert [e["id"] for e in got[kind]] == [e["id"] for e in project[kind]]
            changed += [old["id"] for new, old in zip(got[kind], project[kind])
                        if any(new.get(k) != old.get(k) for k in keys)]
        for new, old in zip(got["nodes"], project["nodes"]):
            assert (new["x"], new["y"]) == pytest.approx((old["x"], old["y"]), abs=1e-6)
        changed += [old["id"] for new, old in zip(got["catchments"], project["catchments"]) if new["c"] != old["c"]]
        corners = [xy for c in project["catchments"] for corner in c["vertices"] for xy in corner]
        assert [xy for c in got["catchments"] for corner in c["vertices"] for xy in corner] == pytest.approx(
            corners, abs=1e-6)
        assert all(any(ident in line for line in lines) for ident in changed), (changed, lines)

    check()


def mutated(value, data):
    """`value` (JSON) with one member or item, chosen by `data`, replaced by a random JSON value."""
    leaf = st.one_of(st.none(), st.booleans(), st.integers(-3, 3), st.floats(allow_nan=False),
                     st.text(max_size=3), st.lists(st.integers(), max_size=2))
    if isinstance(value, (dict, list)) and value and data.draw(st.integers(0, 3)):
        keys = list(value) if isinstance(value, dict) else list(range(len(value)))
        key = data.draw(st.sampled_from(keys))
        copy = dict(value) if isinstance(value, dict) else list(value)
        copy[key] = mutated(value[key], data)
        return copy
    return data.draw(leaf)


@pytest.fixture(scope="module")
def example():
    return (Path(__file__).parent.parent / "docs" / "inlets-example.rwproj").read_text()


def test_geojson_reader_raises_only_value_errors_on_mutated_collections(example):
    collection = rwt.to_geojson(text=example, format="rwproj", plan_coordinates=True)

    @FAST
    @given(st.data())
    def check(data):
        try:
            rwt.from_geojson(mutated(collection, data))
        except (ValueError, OSError):  # a text in place of the collection is a path
            pass

    check()


def test_geopackage_reader_raises_only_value_or_os_errors_on_mutated_files(example, tmp_path):
    source = tmp_path / "source.gpkg"
    rwt.to_geopackage(None, source, text=example, format="rwproj", crs="EPSG:2229")
    original = source.read_bytes()
    cells = [(table, column) for table in ("structures", "pipes", "rillwright_project", "gpkg_geometry_columns",
                                           "gpkg_spatial_ref_sys")
             for column in [row[1] for row in sqlite3.connect(source).execute(f"PRAGMA table_info({table})")]]
    target = tmp_path / "mutated.gpkg"
    anything = st.one_of(st.none(), st.integers(-2, 2), st.floats(), st.text(max_size=4), st.binary(max_size=12))

    @FAST
    @given(st.data())
    def check(data):
        if data.draw(st.booleans()):
            at = data.draw(st.integers(0, len(original) - 1))
            target.write_bytes(original[:at] + data.draw(st.binary(max_size=8)) + original[at + 1:])
        else:
            target.write_bytes(original)
            table, column = data.draw(st.sampled_from(cells))
            with contextlib.closing(sqlite3.connect(target)) as db, contextlib.suppress(sqlite3.IntegrityError):
                db.execute(f'UPDATE "{table}" SET "{column}" = ? WHERE rowid = ?', (data.draw(anything), 1))
                db.commit()  # (a key column refuses some values: that cell stays as it was)
        try:
            rwt.from_geopackage(target)
        except (ValueError, OSError):
            pass

    check()


def test_landxml_reader_raises_only_value_errors_on_mutated_files(example):
    written, _ = rwt.write_landxml(text=example, format="rwproj")
    elements = list(ET.fromstring(written).iter())

    @FAST
    @given(st.data())
    def check(data):
        root = ET.fromstring(written)
        chosen = data.draw(st.sampled_from(range(len(elements))))
        element = list(root.iter())[chosen]
        if element.attrib and data.draw(st.booleans()):
            key = data.draw(st.sampled_from(sorted(element.attrib)))
            element.set(key, data.draw(st.text(max_size=6)))
        elif element.text is not None and data.draw(st.booleans()):
            element.text = data.draw(st.text(max_size=6))
        else:
            parent = next((p for p in root.iter() if element in list(p)), None)
            if parent is not None:
                parent.remove(element)
        try:
            rwt.read_landxml(ET.tostring(root, encoding="unicode"))
        except ValueError:
            pass

    check()
