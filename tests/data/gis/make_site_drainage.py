"""Makes site_drainage.gpkg (README.md beside this file) from EPA's site drainage example
model: python make_site_drainage.py MODEL.inp. GDAL writes the package, through pyogrio."""

import sys
from pathlib import Path

import numpy
import pyogrio
import shapely


def sections(text):
    found, name = {}, None
    for raw in text.splitlines():
        line = raw.split(";", 1)[0].strip()
        if line.startswith("["):
            name = line.strip("[]").upper()
            found.setdefault(name, [])
        elif line and name:
            found[name].append(line.split())
    return found


def write(out, layer, geometries, rows, keys, append):
    fields = [numpy.array([row[k] for row in rows]) for k in keys]
    wkb = numpy.array([shapely.to_wkb(g, flavor="iso") for g in geometries], dtype=object)
    pyogrio.raw.write(out, wkb, fields, fields=keys, layer=layer, driver="GPKG", append=append,
                      geometry_type={"structures": "Point", "pipes": "LineString"}.get(layer, "Polygon"),
                      layer_options={"SPATIAL_INDEX": "NO"})


def main(model, out):
    s = sections(Path(model).read_text())
    at = {n: (float(x), float(y)) for n, x, y in s["COORDINATES"]}
    nodes = [{"Name": r[0], "Type": "JUNCTION", "InvertElev": float(r[1]), "MaxDepth": float(r[2])}
             for r in s["JUNCTIONS"]]
    nodes += [{"Name": r[0], "Type": "OUTFALL", "InvertElev": float(r[1]), "MaxDepth": 0.0} for r in s["OUTFALLS"]]
    write(out, "structures", [shapely.Point(at[n["Name"]]) for n in nodes], nodes, list(nodes[0]), False)
    shapes = {r[0]: r[1:6] for r in s["XSECTIONS"]}
    vertices = {}
    for link, x, y in s.get("VERTICES", []):
        vertices.setdefault(link, []).append((float(x), float(y)))
    links = [{"Name": r[0], "InletNode": r[1], "OutletNode": r[2], "Length": float(r[3]), "Roughness": float(r[4]),
              "InOffset": float(r[5]), "OutOffset": float(r[6]), "Shape": shapes[r[0]][0],
              **{f"Geom{k}": float(shapes[r[0]][k]) for k in range(1, 5)}} for r in s["CONDUITS"]]
    lines = [shapely.LineString([at[k["InletNode"]], *vertices.get(k["Name"], []), at[k["OutletNode"]]])
             for k in links]
    write(out, "pipes", lines, links, list(links[0]), True)
    corners = {}
    for name, x, y in s.get("POLYGONS", []):
        corners.setdefault(name, []).append((float(x), float(y)))
    areas = [{"Name": r[0], "Outlet": r[2], "Area": float(r[3]), "PctImperv": float(r[4]), "Width": float(r[5]),
              "PctSlope": float(r[6])} for r in s["SUBCATCHMENTS"] if r[0] in corners]
    write(out, "catchments", [shapely.Polygon(corners[a["Name"]]) for a in areas], areas, list(areas[0]), True)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else "site_drainage.gpkg")
