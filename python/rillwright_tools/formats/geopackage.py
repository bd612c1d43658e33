"""GeoPackage (OGC 12-128r18), the SQLite format GIS programs open natively: layers
`structures` (points), `pipes` (lines) and `catchments` (polygons) in the project's
coordinate reference system, with the project's attributes and the results, and a table
of the design settings so that a package read back analyses as the project did.

Written with the standard library's sqlite3: the geometry blob is the GeoPackage header
(magic "GP", version 0, little-endian, no envelope, the srs_id) followed by the geometry
as little-endian WKB. Read with shapely's WKB decoder, so that packages other programs
wrote (Z and M coordinates, single-part Multi* geometries, big-endian WKB) come in too."""

from __future__ import annotations

import json
import os
import sqlite3
import struct
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence, Tuple, Union

from . import crs as _crs
from ..inputs import Source
from .common import ImportReport, mark_import, project_text, write_atomically
from .features import SETTINGS_MEMBER, plan_collection, project_crs, project_from_features

APPLICATION_ID = 0x47504B47  # "GPKG"
USER_VERSION = 10400  # version 1.4
UNDEFINED_CARTESIAN = -1
SETTINGS_TABLE = "rillwright_project"
LAYERS = (("structures", "POINT", 1), ("pipes", "LINESTRING", 2), ("catchments", "POLYGON", 3))
KIND_OF_GEOMETRY = {"Point": "structures", "LineString": "pipes", "Polygon": "catchments"}
SHAPELY_HINT = 'reading a GeoPackage needs shapely: pip install "rillwright[gis]"'
# Bytes of the envelope after the 8-byte header, by the envelope code in bits 1-3 of the
# flags (none, xy, xyz, xym, xyzm: 4, 6, 6 or 8 doubles).
ENVELOPE_BYTES = {0: 0, 1: 32, 2: 48, 3: 48, 4: 64}
EMPTY_FLAG = 0b0001_0000
EXTENDED_FLAG = 0b0010_0000

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


class Refused(ValueError):
    """A geometry that is well formed but not one the import can take: the feature is left
    out and named in the report."""


def decode(blob: bytes) -> Tuple[Optional[Dict[str, Any]], str]:
    """(GeoJSON geometry in 2-D, or None for an empty one; what was dropped to make it so,
    or "") of a GeoPackage geometry blob. ValueError for a blob that is not one; Refused
    for a geometry that is not a point, line or polygon (or a Multi* of one of them)."""
    import shapely

    if not isinstance(blob, bytes) or len(blob) < 8 or blob[:2] != b"GP":
        raise ValueError("not a GeoPackage geometry blob")
    flags = blob[3]
    if flags & EXTENDED_FLAG:
        raise Refused("it is an extended GeoPackage geometry, which the import does not read")
    envelope = ENVELOPE_BYTES.get((flags >> 1) & 0b111)
    if envelope is None:
        raise ValueError("its geometry header names an envelope of unknown kind")
    if flags & EMPTY_FLAG:
        return None, ""
    try:
        shape = shapely.from_wkb(blob[8 + envelope:])
    except (shapely.errors.ShapelyError, ValueError) as error:
        raise ValueError(f"its geometry is not well-formed WKB: {error}") from None
    dropped = [name for name, has in (("Z", shapely.has_z(shape)), ("M", shapely.has_m(shape))) if has]
    kind = shape.geom_type
    if kind.startswith("Multi") and len(shape.geoms) == 1:
        shape, kind = shape.geoms[0], kind[len("Multi"):]
    elif kind.startswith("Multi") or kind not in ("Point", "LineString", "Polygon"):
        parts = f" of {len(shape.geoms)} parts" if hasattr(shape, "geoms") else ""
        raise Refused(f"its geometry is a {kind}{parts}, not a point, line or polygon (or a Multi* of one)")
    if shape.is_empty:
        return None, ""

    def xy(coordinates: Any) -> List[List[float]]:
        return [[float(c[0]), float(c[1])] for c in coordinates]

    if kind == "Point":
        geometry: Dict[str, Any] = {"type": "Point", "coordinates": xy(shape.coords)[0]}
    elif kind == "LineString":
        geometry = {"type": "LineString", "coordinates": xy(shape.coords)}
    else:
        geometry = {"type": "Polygon", "coordinates": [xy(shape.exterior.coords)] +
                    [xy(ring.coords) for ring in shape.interiors]}
    return geometry, " and ".join(dropped)


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
                     analyse: bool = True, crs: Optional[str] = None) -> ImportReport:
    """Writes the network (and its results) to a new GeoPackage at `out`, in the plan
    coordinates of the project's `crs` (or `crs`; an undefined Cartesian system without one),
    and returns the report of what the package could not carry. A write that fails leaves
    no file (and an older file at `out` as it was)."""
    system = project_crs(source, crs)
    if system is not None:
        _crs.checked(system)
    collection, report = plan_collection(source, result, analyse)
    write_atomically(out, lambda path: _write_package(path, collection, system))
    return report


def _write_package(path: Path, collection: Dict[str, Any], system: Optional[str]) -> None:
    db = sqlite3.connect(path)
    try:
        # A new temporary file, discarded whole when the write fails: no rollback journal or
        # syncs are needed (write_atomically renames it only once it is complete).
        db.execute("PRAGMA journal_mode = OFF")
        db.execute("PRAGMA synchronous = OFF")
        db.execute(f"PRAGMA application_id = {APPLICATION_ID}")
        db.execute(f"PRAGMA user_version = {USER_VERSION}")
        db.executescript(SCHEMA)
        srs_id = _srs(db, system)
        by_layer: Dict[str, List[Dict[str, Any]]] = {name: [] for name, _, _ in LAYERS}
        for item in collection["features"]:
            if item["geometry"] is not None:  # plan_collection reports those without one
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
    system, which the project keeps as its `crs`. Features it cannot use are in the report;
    a file that is not a readable GeoPackage is a ValueError naming the file and the table
    (OSError when there is no file)."""
    try:
        import shapely  # noqa: F401 (the geometry decoder)
    except ImportError:
        raise ImportError(SHAPELY_HINT) from None
    file = Path(os.fspath(path))
    if not file.is_file():
        raise OSError(f"{file}: no such file")
    report = ImportReport()
    try:
        db = sqlite3.connect(f"file:{file}?mode=ro", uri=True)
    except sqlite3.Error as error:
        raise OSError(f"{file}: cannot be opened: {error}") from None
    try:
        layers = _layers(db, file)
        features: List[Dict[str, Any]] = []
        where: List[str] = []
        for layer, _, _ in LAYERS:
            if layer in layers:
                _read_layer(db, file, layer, layers[layer][0], features, where, report)
        settings = _settings(db, file)
        system = _system_of(db, file, layers["structures"][1], report)
        named = settings.get("crs")
        if system is None or (named is not None and _crs.same(named, system)):
            system = named  # the text the project gave, when the layers are still in that system
        elif named is not None:
            # The layers were reprojected after rillwright wrote them: they are where they are.
            report.notes.append(f"the layers are in {system[:80]!r}, not the {named!r} the settings name: "
                                "the layers' system is taken")
            settings["crs"] = system
    finally:
        db.close()
    try:
        project = project_from_features(features, mapping=mapping, tolerance=tolerance, name=name or file.stem,
                                        settings=settings, system=system if isinstance(system, str) else None,
                                        transform=None, report=report, where=where)
    except ValueError as error:
        raise ValueError(f"{file}: {error}") from None
    if isinstance(project.get("crs"), str):
        report.notes.append(_crs.placement(project["crs"], [(n["x"], n["y"]) for n in project["nodes"]]))
    mark_import(project, "GeoPackage", report, storm_given=isinstance(settings, dict) and "idf_a" in settings)
    try:
        return project_text(project), report
    except ValueError as error:
        raise ValueError(f"{file}: {error}") from None


def _query(db: sqlite3.Connection, file: Path, what: str, sql: str, arguments: Sequence[Any] = ()) -> List[Any]:
    try:
        return db.execute(sql, arguments).fetchall()
    except sqlite3.Error as error:
        raise ValueError(f"{file}: {what}: {error}") from None


def _layers(db: sqlite3.Connection, file: Path) -> Dict[str, Tuple[str, Any]]:
    """{layer: (geometry column, srs_id)} of the package, with `structures` and `pipes`."""
    try:
        rows = db.execute("SELECT table_name, column_name, srs_id FROM gpkg_geometry_columns").fetchall()
    except sqlite3.Error as error:
        raise ValueError(f"{file}: not a GeoPackage (its gpkg_geometry_columns table cannot be read: {error})") from None
    _query(db, file, "table 'gpkg_spatial_ref_sys'", "SELECT count(*) FROM gpkg_spatial_ref_sys")
    layers = {str(table): (str(column), srs_id) for table, column, srs_id in rows}
    missing = [layer for layer in ("structures", "pipes") if layer not in layers]
    if missing:
        raise ValueError(f"{file}: no layer {missing[0]!r} (it has {', '.join(sorted(layers)) or 'none'})")
    return layers


def _read_layer(db: sqlite3.Connection, file: Path, layer: str, geometry_column: str,
                features: List[Dict[str, Any]], where: List[str], report: ImportReport) -> None:
    declared = {row[1]: (str(row[2]).upper(), row[5]) for row in
                _query(db, file, f"layer {layer!r}", f'PRAGMA table_info("{layer}")')}
    if not declared:
        raise ValueError(f"{file}: layer {layer!r}: no such table")
    key = next((column for column, (_, primary) in declared.items() if primary), None)
    db.text_factory = bytes  # decoded column by column below, so that bad text names its feature
    try:
        cursor = _cursor(db, file, layer)
        columns = [d[0] for d in cursor.description]
        rows = _fetch(cursor, file, layer)
    finally:
        db.text_factory = str
    flattened = 0
    for number, row in enumerate(rows):
        values = dict(zip(columns, row))
        fid = values.get(key) if key else number + 1
        at = f"layer {layer!r} fid {fid}"
        blob = values.pop(geometry_column, None)
        properties: Dict[str, Any] = {}
        for column, value in values.items():
            if column == key:
                continue
            kind = declared.get(column, ("", 0))[0]
            if isinstance(value, bytes):
                if kind == "BLOB":
                    continue  # not an attribute the project has
                try:
                    value = value.decode("utf-8")
                except UnicodeDecodeError:
                    raise ValueError(f"{file}: {at}: column {column!r} is not UTF-8 text") from None
            elif kind == "BOOLEAN" and value is not None:
                value = bool(value)
            properties[column] = value
        geometry: Optional[Dict[str, Any]] = None
        if blob is not None:
            try:
                geometry, dropped = decode(blob)
            except Refused as why:
                report.dropped.append(("feature", at, str(why)))
                continue
            except ValueError as error:
                raise ValueError(f"{file}: {at}: {error}") from None
            flattened += bool(dropped)
        features.append({"type": "Feature", "geometry": geometry, "properties": properties})
        where.append(at)
    if flattened:
        report.approximated.append(("layer", layer, f"the Z or M coordinates of {flattened} features are dropped: "
                                                    "plan positions are 2-D, and elevations come from the attributes"))


def _cursor(db: sqlite3.Connection, file: Path, layer: str) -> sqlite3.Cursor:
    try:
        return db.execute(f'SELECT * FROM "{layer}"')
    except sqlite3.Error as error:
        raise ValueError(f"{file}: layer {layer!r}: {error}") from None


def _fetch(cursor: sqlite3.Cursor, file: Path, layer: str) -> List[Any]:
    try:
        return cursor.fetchall()
    except sqlite3.Error as error:
        raise ValueError(f"{file}: layer {layer!r}: {error}") from None


def _settings(db: sqlite3.Connection, file: Path) -> Dict[str, Any]:
    if not _query(db, file, "its table list", "SELECT 1 FROM sqlite_master WHERE name = ?", (SETTINGS_TABLE,)):
        return {}  # a package rillwright did not write
    rows = _query(db, file, f"table {SETTINGS_TABLE!r}", f"SELECT settings FROM {SETTINGS_TABLE} LIMIT 1")
    row = rows[0] if rows else None
    try:
        loaded = json.loads(row[0]) if row else {}
    except (TypeError, ValueError):
        raise ValueError(f"{file}: table {SETTINGS_TABLE!r}: the settings are not a JSON object") from None
    if not isinstance(loaded, dict):
        raise ValueError(f"{file}: table {SETTINGS_TABLE!r}: the settings are not a JSON object")
    return loaded


def _system_of(db: sqlite3.Connection, file: Path, srs_id: Any, report: ImportReport) -> Optional[str]:
    if not isinstance(srs_id, int) or srs_id <= 0:
        return None
    rows = _query(db, file, "table 'gpkg_spatial_ref_sys'",
                  "SELECT srs_name, organization, organization_coordsys_id, definition FROM gpkg_spatial_ref_sys "
                  "WHERE srs_id = ?", (srs_id,))
    if not rows:
        raise ValueError(f"{file}: table 'gpkg_spatial_ref_sys' has no srs_id {srs_id}, which the layer "
                         "'structures' names")
    name, organization, code, definition = rows[0]
    if isinstance(organization, str) and organization.upper() == "EPSG":
        return f"EPSG:{code}"
    if not isinstance(definition, str) or not definition.strip() or definition.lstrip().upper().startswith(
            ("LOCAL_CS", "ENGCRS", "ENGINEERINGCRS", "UNDEFINED")):
        # GDAL's "Undefined SRS" (99999) and other local systems place nothing on the globe.
        report.notes.append(f"the layers are in the local system {name!r} (srs_id {srs_id}): the coordinates are "
                            "plan coordinates, and the project names no crs")
        return None
    return definition
