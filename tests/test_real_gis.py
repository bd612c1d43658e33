"""A real storm-drainage inventory (tests/data/gis/README.md) read through `from_geojson` with a
mapping: the structures and lines are counted straight from the shapefiles with pyogrio and
compared with what the import keeps, reports and analyses."""

import json
import math
import struct
from pathlib import Path
from typing import Any, Dict, List

import pytest

import rillwright
import rillwright_tools as rwt

pyogrio = pytest.importorskip("pyogrio")

DATA = Path(__file__).parent / "data" / "gis"
# The inventory's Type codes for structures where water leaves the pipes: outfall, culvert outlet.
LEAVING = {5, 9}
TOLERANCE_M = 1.0


def positions(blob: bytes) -> List[float]:
    """Plan position(s) of a 2-D WKB Point or LineString."""
    order = "<" if blob[0] == 1 else ">"
    kind = struct.unpack_from(order + "I", blob, 1)[0] % 1000
    if kind == 1:
        return list(struct.unpack_from(order + "2d", blob, 5))
    count = struct.unpack_from(order + "I", blob, 5)[0]
    return [list(struct.unpack_from(order + "2d", blob, 9 + 16 * k)) for k in range(count)]


def layer(name: str) -> List[Dict[str, Any]]:
    meta, _, geometry, columns = pyogrio.raw.read(DATA / f"{name}.shp")
    assert meta["crs"] == "EPSG:32145"
    rows = []
    for i, blob in enumerate(geometry):
        props = {field: (None if isinstance(v, float) and math.isnan(v) else v)
                 for field, v in zip(meta["fields"], (c[i].item() if hasattr(c[i], "item") else c[i] for c in columns))}
        rows.append({"type": "Feature", "properties": props, "geometry": {
            "type": "Point" if name == "storm_pts" else "LineString", "coordinates": positions(blob)}})
    return rows


def test_real_storm_inventory_reads_joins_reports_and_analyses():
    points, lines = layer("storm_pts"), layer("storm_lines")
    assert (len(points), len(lines)) == (29, 35)
    collection = {"type": "FeatureCollection", "features": points + lines,
                  # The layer is in metres on the Vermont state plane: kept as plan coordinates.
                  "rillwright_plan_coordinates": {"note": "EPSG:32145 metres"},
                  "rillwright_project": {"units": "si"}}
    mapping = {"id": "OBJECTID"}

    # As published the inventory has no elevations or sizes: every structure is named, none kept.
    with pytest.raises(ValueError) as refused:
        rwt.from_geojson(collection, mapping, tolerance=TOLERANCE_M)
    assert all(f"structure {p['properties']['OBJECTID']} (feature" in str(refused.value) for p in points)

    # Which lines join two distinct structures, computed directly from the geometry.
    where = [(str(p["properties"]["OBJECTID"]), p["geometry"]["coordinates"]) for p in points]
    def nearest(end):
        ident, at = min(where, key=lambda w: math.dist(w[1], end))
        return ident if math.dist(at, end) <= TOLERANCE_M else None
    expected = {}
    for line in lines:
        ends = [nearest(line["geometry"]["coordinates"][k]) for k in (0, -1)]
        if None not in ends and ends[0] != ends[1]:
            expected[str(line["properties"]["OBJECTID"])] = tuple(ends)
    assert len(expected) == 12  # the other 23 are open ditches and streams, or a stub on one structure

    # The engineer supplies what the inventory lacks: outfalls by Type code, a 0.45 m pipe,
    # and inverts falling 1 % along the drawn lines (which the survey drew downstream).
    downstream = {up: (down, next(sum(math.dist(a, b) for a, b in zip(c, c[1:])) for ln in lines
                                  if str(ln["properties"]["OBJECTID"]) == ident
                                  for c in [ln["geometry"]["coordinates"]]))
                  for ident, (up, down) in expected.items()}
    def invert(ident):
        return 90.0 if ident not in downstream else invert(downstream[ident][0]) + 0.01 * downstream[ident][1]
    for p in points:
        ident = str(p["properties"]["OBJECTID"])
        p["properties"].update(kind="outfall" if p["properties"]["Type"] in LEAVING else "junction",
                               invert=invert(ident), rim=invert(ident) + 2.0)
    for line in lines:
        line["properties"]["diameter"] = 0.45

    text, report = rwt.from_geojson(collection, mapping, tolerance=TOLERANCE_M)
    project = json.loads(text)
    assert {p["id"]: (p["from"], p["to"]) for p in project["pipes"]} == expected
    assert len(project["nodes"]) == len(points)
    dropped = {name.split(" ")[0]: why for what, name, why in report.dropped if what == "pipe"}
    assert set(dropped) == {str(ln["properties"]["OBJECTID"]) for ln in lines} - set(expected)
    assert dropped["261042"] == "both its ends join structure '21135'"
    assert all(p["length"] == pytest.approx(downstream[p["from"]][1]) for p in project["pipes"])
    result = rillwright.analyze_project(text)
    assert sorted(p["id"] for p in result["pipes"]) == sorted(expected)
    assert all(p["slope"] == pytest.approx(0.01, rel=1e-6) and p["capacity"] > 0 for p in result["pipes"])
