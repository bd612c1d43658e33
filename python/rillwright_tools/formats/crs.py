"""Coordinate reference systems: a project's plan coordinates to longitude and latitude
(WGS 84) and back, for formats that are defined in them (GeoJSON, RFC 7946).

pyproj is an optional dependency (`pip install "rillwright[gis]"`), imported only here
and only when a reprojection is asked for."""

from __future__ import annotations

import json
import math
from typing import Any, Callable, List, Optional, Sequence, Tuple

Transform = Callable[[float, float], Tuple[float, float]]
WGS84 = "EPSG:4326"
INSTALL_HINT = 'reprojection needs pyproj: pip install "rillwright[gis]"'


def _pyproj() -> Any:
    try:
        import pyproj
    except ImportError:
        raise ImportError(INSTALL_HINT) from None
    return pyproj


def checked(crs: str) -> str:
    """The text of a coordinate reference system that pyproj understands, else
    ValueError naming it."""
    if not isinstance(crs, str) or not crs.strip():
        raise ValueError("a coordinate reference system is an authority code such as 'EPSG:2229', or WKT")
    pyproj = _pyproj()
    try:
        pyproj.CRS.from_user_input(crs)
    except pyproj.exceptions.CRSError as error:
        raise ValueError(f"unknown coordinate reference system {crs!r}: {error}") from None
    return crs


def _checked_transform(transformer: Any, pyproj: Any, system: str) -> Transform:
    def transform(x: float, y: float) -> Tuple[float, float]:
        try:
            a, b = transformer.transform(x, y, errcheck=True)
        except pyproj.exceptions.ProjError as error:
            raise ValueError(f"({x!r}, {y!r}) cannot be transformed in {system}: {error}") from None
        if not (math.isfinite(a) and math.isfinite(b)):
            raise ValueError(f"({x!r}, {y!r}) lies outside the domain of {system}")
        return float(a), float(b)
    return transform


def _transformer(pyproj: Any, source: str, target: str) -> Any:
    try:
        return pyproj.Transformer.from_crs(source, target, always_xy=True)
    except pyproj.exceptions.ProjError as error:
        raise ValueError(f"no transformation from {source[:80]!r} to {target[:80]!r}: {error}") from None


def to_lonlat(crs: str) -> Transform:
    """Plan (x, y) in `crs` to (longitude, latitude) in WGS 84; ValueError for a position
    the transformation cannot take (outside the projection's domain)."""
    pyproj = _pyproj()
    return _checked_transform(_transformer(pyproj, checked(crs), WGS84), pyproj, crs)


def from_lonlat(crs: str) -> Transform:
    """(longitude, latitude) in WGS 84 to plan (x, y) in `crs`; ValueError as `to_lonlat`."""
    pyproj = _pyproj()
    return _checked_transform(_transformer(pyproj, WGS84, checked(crs)), pyproj, f"the longitude and latitude to {crs}")


def placement(crs: str, points: Sequence[Sequence[float]]) -> str:
    """A report line naming the system the plan coordinates were taken to be in and where
    that puts them on the globe, so that a wrong guess (feet read as metres, a swapped
    zone) shows at once."""
    try:
        pyproj = _pyproj()
    except ImportError:
        return f"coordinate system taken: {crs} (install pyproj to see where it puts the plan: pip install \"rillwright[gis]\")"
    try:
        system = pyproj.CRS.from_user_input(checked(crs))
        name = system.name
        transformer = pyproj.Transformer.from_crs(crs, WGS84, always_xy=True)
    except (ValueError, pyproj.exceptions.ProjError) as error:
        return f"coordinate system taken: {crs[:80]!r}, which places nothing on the globe: {error}"
    shown = crs if len(crs) <= 60 else "WKT"  # a WKT definition is named by its name alone
    taken = f"coordinate system taken: {shown}" + (f" ({name})" if name and name != crs else "")
    if system.is_geographic:
        taken += ("; it is a geographic system, so the plan coordinates are degrees and lengths drawn in them are "
                  "not feet or metres: give the layers in a projected system")
    if not points:
        return taken
    xs = [float(p[0]) for p in points]
    ys = [float(p[1]) for p in points]
    lon, lat = transformer.transform(xs, ys)
    placed = [(a, b) for a, b in zip(lon, lat) if math.isfinite(a) and math.isfinite(b)]
    if not placed:
        return f"{taken}; no structure lies inside its domain"
    lons, lats = [a for a, _ in placed], [b for _, b in placed]
    outside = f"; {len(points) - len(placed)} structures lie outside its domain" if len(placed) < len(points) else ""
    return (f"{taken}; plan extent longitude {min(lons):.5f} to {max(lons):.5f}, "
            f"latitude {min(lats):.5f} to {max(lats):.5f}{outside}")


def same(first: Any, second: Any) -> bool:
    """Whether two texts name one coordinate reference system (without pyproj: the same text)."""
    if first == second:
        return True
    if not (isinstance(first, str) and isinstance(second, str)):
        return False
    try:
        pyproj = _pyproj()
    except ImportError:
        return False
    try:
        return bool(pyproj.CRS.from_user_input(first) == pyproj.CRS.from_user_input(second))
    except pyproj.exceptions.CRSError:  # a text pyproj cannot read names no system it can compare
        return False


def authority(crs: str) -> Optional[Tuple[str, int]]:
    """(authority, code) of a system, such as ("EPSG", 2229), when it has one."""
    found = _pyproj().CRS.from_user_input(checked(crs)).to_authority(min_confidence=90)
    if not found:
        return None
    try:
        return found[0], int(found[1])
    except ValueError:
        return None


def wkt(crs: str) -> str:
    """The system as WKT (version 1, the form GeoPackage readers expect in `definition`)."""
    return str(_pyproj().CRS.from_user_input(checked(crs)).to_wkt(version="WKT1_GDAL"))


def with_crs(project_text: str, crs: Optional[str]) -> str:
    """Project JSON text with its `crs` set to `crs` (kept as it is when None)."""
    if crs is None:
        return project_text
    project = json.loads(project_text)
    project["crs"] = checked(crs)
    return json.dumps(project, indent=1)


def transform_all(points: Sequence[Sequence[float]], transform: Transform) -> List[List[float]]:
    return [list(transform(float(p[0]), float(p[1]))) for p in points]
