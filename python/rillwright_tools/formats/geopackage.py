"""GeoPackage (OGC 12-128r18), the SQLite format GIS programs open natively: layers
`structures` (points), `pipes` (lines) and `catchments` (polygons) in the project's
coordinate reference system, with the project's attributes and the results, and a table
of the design settings so that a package read back analyses as the project did.

Written with the standard library's sqlite3: the geometry blob is the GeoPackage header
(magic "GP", version 0, little-endian, no envelope, the srs_id) followed by the geometry
as little-endian WKB."""

from __future__ import annotations

import json
import os
import sqlite3
import struct
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence, Tuple, Union

from . import crs as _crs
from .geojson import SETTINGS_MEMBER, from_geojson, plan_collection, project_crs
from ..inputs import Source
from .common import ImportReport

APPLICATION_ID = 0x47504B47  # "GPKG"
USER_VERSION = 10400  # version 1.4
UNDEFINED_CARTESIAN = -1
SETTINGS_TABLE = "rillwright_project"
LAYERS = (("structures", "POINT", 1), ("pipes", "LINESTRING", 2), ("catchments", "POLYGON", 3))
KIND_OF_GEOMETRY = {"Point": "structures", "LineString": "pipes", "Polygon": "catchments"}
WKB_TYPE = {1: "Point", 2: "LineString", 3: "Polygon"}

PathLike = Union[str, "os.PathLike[str]"]


# --------------------------------------------------------------------------- geometry blobs
def encode(geometry: Dict[str, Any], srs_id: int) -> bytes:
    header = b"GP" + bytes([0, 0b0000_0001]) + struct.pack("<i", srs_id)  # little-endian, no envelope
    kind, coordinates = geometry["type"], geometry["coordinates"]
    if kind == "Point":
        body = struct.pack("<BIdd", 1, 1, *coordinates[:2])
    elif kind == "LineString":
        body = struct.pack("<BII", 1, 2, len(coordinates)) + b"".join(struct.pack("<dd", *p[:2]) for p in coordinates)
    else:
        body = struct.pack("<BII", 1, 3, len(coordinates))
        for ring in coordinates:
            body += struct.pack("<I", len(ring)) + b"".join(struct.pack("<dd", *p[:2]) for p in ring)
    return header + body


def decode(blob: bytes) -> Dict[str, Any]:
    """A GeoPackage geometry blob as a GeoJSON geometry (2-D points, lines and polygons)."""
    if len(blob) < 8 or blob[:2] != b"GP":
        raise ValueError("a geometry is not a GeoPackage geometry blob")
    flags = blob[3]
    envelope = {0: 0, 1: 32, 2: 48, 3: 48, 4: 64}.get((flags >> 1) & 0b111)
    if envelope is None:
        raise ValueError("a geometry has an envelope of unknown kind")
    at = 8 + envelope
    order = "<" if blob[at] == 1 else ">"
    kind = struct.unpack_from(order + "I", blob, at + 1)[0] % 1000
    at += 5

    def points(count: int) -> List[List[float]]:
        nonlocal at
        out = [list(struct.unpack_from(order + "dd", blob, at + 16 * k)) for k in range(count)]
        at += 16 * count
        return out

    def count() -> int:
        nonlocal at
        value = struct.unpack_from(order + "I", blob, at)[0]
        at += 4
        return int(value)

    if kind == 1:
        return {"type": "Point", "coordinates": points(1)[0]}
    if kind == 2:
        return {"type": "LineString", "coordinates": points(count())}
    if kind == 3:
        return {"type": "Polygon", "coordinates": [points(count()) for _ in range(count())]}
    raise ValueError(f"a geometry of WKB type {kind} is not a point, line or polygon")


# --------------------------------------------------------------------------- writing
def _column_type(values: Sequence[Any]) -> str:
    present = [v for v in values if v is not None]
    if present and all(isinstance(v, bool) for v in present):
        return "BOOLEAN"
    if present and all(isinstance(v, int) and not isinstance(v, bool) for v in present):
        return "INTEGER"
    if present and all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in present):
        return "DOUBLE"
    return "TEXT"


def _srs(db: sqlite3.Connection, system: Optional[str]) -> int:
    db.executemany("INSERT INTO gpkg_spatial_ref_sys VALUES (?, ?, ?, ?, ?, ?)", [
        ("Undefined cartesian SRS", -1, "NONE", -1, "undefined", "undefined cartesian coordinate reference system"),
        ("Undefined geographic SRS", 0, "NONE", 0, "undefined", "undefined geographic coordinate reference system"),
        ("WGS 84 geodetic", 4326, "EPSG", 4326,
         'GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563,AUTHORITY["EPSG","7030"]],'
         'AUTHORITY["EPSG","6326"]],PRIMEM["Greenwich",0,AUTHORITY["EPSG","8901"]],UNIT["degree",0.0174532925199433,'
         'AUTHORITY["EPSG","9122"]],AUTHORITY["EPSG","4326"]]', "longitude/latitude coordinates in decimal degrees")])
    if system is None:
        return UNDEFINED_CARTESIAN
    named = _crs.authority(system)
    srs_id = named[1] if named and named[0] == "EPSG" else 100000
    if srs_id != 4326:
        organization, code = named if named else ("NONE", srs_id)
        db.execute("INSERT INTO gpkg_spatial_ref_sys VALUES (?, ?, ?, ?, ?, ?)",
                   (system, srs_id, organization, code, _crs.wkt(system), system))
    return srs_id


SCHEMA = """
CREATE TABLE gpkg_spatial_ref_sys (srs_name TEXT NOT NULL, srs_id INTEGER PRIMARY KEY,
  organization TEXT NOT NULL, organization_coordsys_id INTEGER NOT NULL, definition TEXT NOT NULL,
  description TEXT);
CREATE TABLE gpkg_contents (table_name TEXT NOT NULL PRIMARY KEY, data_type TEXT NOT NULL,
  identifier TEXT UNIQUE, description TEXT DEFAULT '', last_change DATETIME NOT NULL DEFAULT
  (strftime('%Y-%m-%dT%H:%M:%fZ','now')), min_x DOUBLE, min_y DOUBLE, max_x DOUBLE, max_y DOUBLE,
  srs_id INTEGER, CONSTRAINT fk_gc_r_srs_id FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys(srs_id));
CREATE TABLE gpkg_geometry_columns (table_name TEXT NOT NULL, column_name TEXT NOT NULL,
  geometry_type_name TEXT NOT NULL, srs_id INTEGER NOT NULL, z TINYINT NOT NULL, m TINYINT NOT NULL,
  CONSTRAINT pk_geom_cols PRIMARY KEY (table_name, column_name),
  CONSTRAINT fk_gc_tn FOREIGN KEY (table_name) REFERENCES gpkg_contents(table_name),
  CONSTRAINT fk_gc_srs FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys (srs_id));
"""


def write_geopackage(source: Source, out: PathLike, result: Optional[Dict[str, Any]] = None, *,
                     analyse: bool = True, crs: Optional[str] = None) -> None:
    """Writes the network (and its results) to a new GeoPackage at `out`, in the plan
    coordinates of the project's `crs` (or `crs`; an undefined Cartesian system without one)."""
    system = project_crs(source, crs)
    if system is not None:
        _crs.checked(system)
    collection = plan_collection(source, result, analyse)
    path = Path(os.fspath(out))
    if path.exists():
        path.unlink()
    db = sqlite3.connect(path)
    try:
        db.execute(f"PRAGMA application_id = {APPLICATION_ID}")
        db.execute(f"PRAGMA user_version = {USER_VERSION}")
        db.executescript(SCHEMA)
        srs_id = _srs(db, system)
        by_layer: Dict[str, List[Dict[str, Any]]] = {name: [] for name, _, _ in LAYERS}
        for item in collection["features"]:
            if item["geometry"] is not None:
                by_layer[KIND_OF_GEOMETRY[item["geometry"]["type"]]].append(item)
        for name, geometry_type, _ in LAYERS:
            _write_layer(db, name, geometry_type, srs_id, by_layer[name])
        settings = dict(collection.get(SETTINGS_MEMBER) or {})
        if system is not None:
            settings["crs"] = system
        db.execute(f"CREATE TABLE {SETTINGS_TABLE} (fid INTEGER PRIMARY KEY AUTOINCREMENT, settings TEXT NOT NULL)")
        db.execute(f"INSERT INTO {SETTINGS_TABLE} (settings) VALUES (?)", (json.dumps(settings),))
        db.execute("INSERT INTO gpkg_contents (table_name, data_type, identifier, description) VALUES (?, ?, ?, ?)",
                   (SETTINGS_TABLE, "attributes", SETTINGS_TABLE, "design settings of the network"))
        db.commit()
    finally:
        db.close()


def _write_layer(db: sqlite3.Connection, name: str, geometry_type: str, srs_id: int,
                 items: List[Dict[str, Any]]) -> None:
    columns: List[str] = []
    for item in items:
        columns += [key for key in item["properties"] if key not in columns]
    types = {key: _column_type([item["properties"].get(key) for item in items]) for key in columns}
    declared = "".join(f', "{key}" {types[key]}' for key in columns)
    db.execute(f'CREATE TABLE "{name}" (fid INTEGER PRIMARY KEY AUTOINCREMENT, geom {geometry_type}{declared})')
    rows = []
    xs: List[float] = []
    ys: List[float] = []
    for item in items:
        geometry = item["geometry"]
        flat = [geometry["coordinates"]] if geometry["type"] == "Point" else (
            geometry["coordinates"] if geometry["type"] == "LineString"
            else [p for ring in geometry["coordinates"] for p in ring])
        xs += [p[0] for p in flat]
        ys += [p[1] for p in flat]
        values = [item["properties"].get(key) for key in columns]
        values = [json.dumps(v) if isinstance(v, (list, dict)) else v for v in values]
        rows.append([encode(geometry, srs_id)] + values)
    marks = ", ".join("?" * (len(columns) + 1))
    names = "".join(f', "{key}"' for key in columns)
    db.executemany(f'INSERT INTO "{name}" (geom{names}) VALUES ({marks})', rows)
    extent = (min(xs), min(ys), max(xs), max(ys)) if xs else (None, None, None, None)
    db.execute("INSERT INTO gpkg_contents (table_name, data_type, identifier, min_x, min_y, max_x, max_y, srs_id) "
               "VALUES (?, 'features', ?, ?, ?, ?, ?, ?)", (name, name, *extent, srs_id))
    db.execute("INSERT INTO gpkg_geometry_columns VALUES (?, 'geom', ?, ?, 0, 0)", (name, geometry_type, srs_id))


# --------------------------------------------------------------------------- reading
def read_geopackage(path: PathLike, mapping: Optional[Dict[str, str]] = None, *, tolerance: float = 1.0,
                    name: Optional[str] = None) -> Tuple[str, ImportReport]:
    """(project JSON text, report) from a GeoPackage's `structures`, `pipes` and
    `catchments` layers (each optional but pipes and structures), in its own coordinate
    system, which the project keeps as its `crs`. Features it cannot use are in the report."""
    file = Path(os.fspath(path))
    if not file.is_file():
        raise OSError(f"{file}: no such file")
    db = sqlite3.connect(f"file:{file}?mode=ro", uri=True)
    try:
        try:
            layers = dict(db.execute("SELECT table_name, srs_id FROM gpkg_geometry_columns").fetchall())
        except sqlite3.DatabaseError:
            raise ValueError(f"{file}: not a GeoPackage (no gpkg_geometry_columns table)") from None
        missing = [layer for layer in ("structures", "pipes") if layer not in layers]
        if missing:
            raise ValueError(f"{file}: no layer {missing[0]!r} (it has {', '.join(sorted(layers)) or 'none'})")
        features: List[Dict[str, Any]] = []
        for layer, _, _ in LAYERS:
            if layer in layers:
                features += _read_layer(db, layer)
        collection: Dict[str, Any] = {"type": "FeatureCollection", "features": features,
                                      # the coordinates are in the package's own system
                                      "rillwright_plan_coordinates": {}}
        settings = _settings(db)
        system = settings.get("crs") or _system_of(db, layers["structures"])
        if system is not None:
            settings["crs"] = system
        if settings:
            collection[SETTINGS_MEMBER] = settings
    finally:
        db.close()
    text, report = from_geojson(collection, mapping, tolerance=tolerance, name=name or file.stem)
    report.notes[:] = [note for note in report.notes if "plan coordinates" not in note]
    return text, report


def _read_layer(db: sqlite3.Connection, layer: str) -> List[Dict[str, Any]]:
    cursor = db.execute(f'SELECT * FROM "{layer}"')
    columns = [d[0] for d in cursor.description]
    geometry_column = db.execute("SELECT column_name FROM gpkg_geometry_columns WHERE table_name = ?",
                                 (layer,)).fetchone()[0]
    features = []
    for row in cursor:
        values = dict(zip(columns, row))
        blob = values.pop(geometry_column)
        values.pop("fid", None)
        features.append({"type": "Feature", "geometry": decode(blob) if blob else None, "properties": values})
    return features


def _settings(db: sqlite3.Connection) -> Dict[str, Any]:
    try:
        row = db.execute(f"SELECT settings FROM {SETTINGS_TABLE} LIMIT 1").fetchone()
    except sqlite3.DatabaseError:
        return {}
    loaded = json.loads(row[0]) if row else {}
    return loaded if isinstance(loaded, dict) else {}


def _system_of(db: sqlite3.Connection, srs_id: int) -> Optional[str]:
    if srs_id <= 0:
        return None
    row = db.execute("SELECT organization, organization_coordsys_id, definition FROM gpkg_spatial_ref_sys "
                     "WHERE srs_id = ?", (srs_id,)).fetchone()
    if row is None:
        return None
    organization, code, definition = row
    return f"{organization}:{code}" if organization.upper() == "EPSG" else definition
