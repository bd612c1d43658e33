"""Real drainage layers (tests/data/gis/README.md: EPA's site drainage example, CC0, as a
GeoPackage that GDAL wrote) read through `from_geojson` and `from_geopackage` with a
mapping: features are counted and joined straight from the geometry with pyogrio and
shapely, and compared with what the imports keep, report and analyse."""

import json
import math
import shutil
import sqlite3
from pathlib import Path
from typing import Any, Dict, List

import pytest

import rillwright
import rillwright_tools as rwt

pyogrio = pytest.importorskip("pyogrio")
shapely = pytest.importorskip("shapely")

PACKAGE = Path(__file__).parent / "data" / "gis" / "site_drainage.gpkg"
TOLERANCE_FT = 0.01
MAPPING = {"id": "Name", "kind": "kind", "invert": "InvertElev", "rim": "Rim", "diameter": "Geom1",
           "n": "Roughness", "shape": "Section", "c": "C", "inlet_node_id": "Outlet", "flow_length_ft": "FlowLength", "slope": "Slope"}


def layer(name: str) -> List[Dict[str, Any]]:
    meta, _, geometry, columns = pyogrio.raw.read(PACKAGE, layer=name)
    assert meta["crs"] is None  # the site plan is in feet on no named system
    return [{"type": "Feature", "geometry": json.loads(shapely.to_geojson(shapely.from_wkb(blob))),
             "properties": {field: (c[i].item() if hasattr(c[i], "item") else c[i])
                            for field, c in zip(meta["fields"], columns)}} for i, blob in enumerate(geometry)]


def supplied(points, lines, areas):
    """What the layers lack and an engineer supplies: rims by SWMM's rule for a maximum depth of
    0 (the crown of the highest connecting conduit), the conduits' offsets as pipe-end inverts
    (the model's LINK_OFFSETS are DEPTH), C from imperviousness (0.2 pervious, 0.9 impervious),
    the overland flow length as area / width, and for each trapezoidal channel the box of
    its depth and mean width (the same depth and flow area)."""
    invert = {p["properties"]["Name"]: p["properties"]["InvertElev"] for p in points}
    crown = dict(invert)
    for line in lines:
        q = line["properties"]
        for node, offset in ((q["InletNode"], q["InOffset"]), (q["OutletNode"], q["OutOffset"])):
            crown[node] = max(crown[node], invert[node] + offset + q["Geom1"])
        if q["Shape"] == "TRAPEZOIDAL":
            q.update(Section="box", rise_ft=q["Geom1"], span_ft=q["Geom2"] + (q["Geom3"] + q["Geom4"]) / 2 * q["Geom1"])
        else:
            q.update(Section="circular", rise_ft=0.0, span_ft=0.0)
        q["invert_up"] = invert[q["InletNode"]] + q["InOffset"] if q["InOffset"] else None
        q["invert_dn"] = invert[q["OutletNode"]] + q["OutOffset"] if q["OutOffset"] else None
    for p in points:
        q = p["properties"]
        q.update(Rim=crown[q["Name"]], kind="outfall" if q["Type"] == "OUTFALL" else "inlet")
    for area in areas:
        q = area["properties"]
        q.update(C=0.2 + 0.7 * q["PctImperv"] / 100, FlowLength=q["Area"] * 43560 / q["Width"],
                 Slope=q["PctSlope"] / 100)


def test_real_site_drainage_layers_read_join_report_and_analyse(tmp_path):
    points, lines, areas = layer("structures"), layer("pipes"), layer("catchments")
    assert (len(points), len(lines), len(areas)) == (12, 11, 7)
    collection = {"type": "FeatureCollection", "features": points + lines + areas,
                  "rillwright_plan_coordinates": {"note": "site plan, feet"}}

    # As published the layers have no rims: every structure is named, none kept, by both readers.
    for read in (lambda: rwt.from_geojson(collection, MAPPING, tolerance=TOLERANCE_FT),
                 lambda: rwt.from_geopackage(PACKAGE, MAPPING, tolerance=TOLERANCE_FT)):
        with pytest.raises(ValueError) as refused:
            read()
        assert all(f"structure {p['properties']['Name']} (" in str(refused.value) for p in points)

    # Which structures each line joins, computed directly from its geometry: they are the
    # conduit's own InletNode and OutletNode.
    where = [(p["properties"]["Name"], p["geometry"]["coordinates"]) for p in points]

    def nearest(end):
        ident, at = min(where, key=lambda w: math.dist(w[1], end))
        return ident if math.dist(at, end) <= TOLERANCE_FT else None

    joins = {ln["properties"]["Name"]: (nearest(ln["geometry"]["coordinates"][0]),
                                        nearest(ln["geometry"]["coordinates"][-1])) for ln in lines}
    assert joins == {ln["properties"]["Name"]: (ln["properties"]["InletNode"], ln["properties"]["OutletNode"])
                     for ln in lines}

    supplied(points, lines, areas)
    text, report = rwt.from_geojson(collection, MAPPING, tolerance=TOLERANCE_FT)
    project = json.loads(text)
    assert {p["id"]: (p["from"], p["to"]) for p in project["pipes"]} == joins
    assert [n["id"] for n in project["nodes"]] == [p["properties"]["Name"] for p in points]
    assert not report.dropped and not report.approximated
    drawn = {ln["properties"]["Name"]: sum(math.dist(a, b) for a, b in zip(c, c[1:]))
             for ln in lines for c in [ln["geometry"]["coordinates"]]}
    assert {p["id"]: p["length"] for p in project["pipes"]} == pytest.approx(drawn)
    # The drawn lines are the model's own lengths to within a fifth (the site plan is to scale).
    assert all(abs(drawn[q["Name"]] / q["Length"] - 1) < 0.2 for q in (ln["properties"] for ln in lines))
    assert [(c["id"], c["inlet_node_id"]) for c in project["catchments"]] == [
        (a["properties"]["Name"], a["properties"]["Outlet"]) for a in areas]

    # The package itself, with the same values added as columns, reads to the same project.
    copy = tmp_path / "site.gpkg"
    shutil.copy(PACKAGE, copy)
    db = sqlite3.connect(copy)
    for table, features, columns in (("structures", points, ("Rim", "kind")),
                                     ("pipes", lines, ("invert_up", "invert_dn", "Section", "rise_ft", "span_ft")),
                                     ("catchments", areas, ("C", "FlowLength", "Slope"))):
        for column in columns:
            db.execute(f'ALTER TABLE {table} ADD COLUMN "{column}"')
            db.executemany(f'UPDATE {table} SET "{column}" = ? WHERE Name = ?',
                           [(f["properties"][column], f["properties"]["Name"]) for f in features])
    db.commit()
    db.close()
    again, report = rwt.from_geopackage(copy, MAPPING, tolerance=TOLERANCE_FT)
    assert not report.dropped
    # The same project, but for its name and the note of the format it came from.
    assert {k: v for k, v in json.loads(again).items() if k not in ("name", "imported")} == {
        k: v for k, v in project.items() if k not in ("name", "imported")}

    # The analysis: every conduit falls from its upstream end to its downstream end.
    result = rillwright.analyze_project(text)
    assert sorted(p["id"] for p in result["pipes"]) == sorted(joins)
    ends = {p["id"]: (p.get("invert_up") or next(n["invert"] for n in project["nodes"] if n["id"] == p["from"]),
                      p.get("invert_dn") or next(n["invert"] for n in project["nodes"] if n["id"] == p["to"]),
                      p["length"]) for p in project["pipes"]}
    for pipe in result["pipes"]:
        up, down, length = ends[pipe["id"]]
        assert pipe["slope"] == pytest.approx((up - down) / length, rel=1e-9) and pipe["capacity"] > 0
    # As an engineer judges it: the site's own channels and culverts carry its runoff (146 cfs at
    # the outfall from 29 acres) without flooding, at velocities a channel or culvert can take.
    assert not any(n["floods"] for n in result["nodes"])
    assert all(0 < p["velocity"] < 20 for p in result["pipes"])
