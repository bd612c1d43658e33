"""`rillwright convert`: SWMM 5 models, GeoJSON layers, GeoPackages and LandXML pipe networks in and
out of projects."""

from __future__ import annotations

import argparse
import json
import os
import sys

from ..formats.crs import with_crs
from ..formats.features import REPORT_MEMBER
from ..formats.geojson import from_geojson, to_geojson
from ..inputs import InputError, Source, analyse, analyze, one_line, read_source, records
from ..formats.swmm.read import read_swmm
from ..formats.swmm.write import write_swmm
from .common import write_file

IMPORTS = (".inp", ".geojson", ".json", ".gpkg", ".xml")
EXPORTS = (".inp", ".geojson", ".gpkg", ".xml", ".dxf")


def register(commands: argparse._SubParsersAction) -> None:
    convert = commands.add_parser(
        "convert", help="convert SWMM 5 models and GeoJSON to and from projects",
        description="MODEL.inp or LAYER.geojson -> NET.rwproj (with a report of everything dropped or "
                    "approximated), or NET.rwproj/.rwn -> MODEL.inp (a SWMM 5 model that runs as it "
                    "stands) or OUT.geojson (structures, pipes, catchments and results).")
    convert.add_argument("file", metavar="IN", help=".inp, .geojson, .rwproj or .rwn file")
    convert.add_argument("-o", "--output", required=True, metavar="OUT", help=".rwproj, .inp or .geojson file")
    convert.add_argument("--c-pervious", type=float, default=0.2, metavar="C",
                         help="runoff coefficient of a pervious SWMM subcatchment (default 0.2)")
    convert.add_argument("--c-impervious", type=float, default=0.9, metavar="C",
                         help="runoff coefficient of an impervious SWMM subcatchment (default 0.9)")
    convert.add_argument("--crs", metavar="CRS",
                         help="coordinate reference system of the plan coordinates (such as EPSG:2229), "
                              "setting or overriding the project's; needs pyproj")
    convert.add_argument("--plan-coordinates", action="store_true",
                         help="write GeoJSON in plan coordinates (marked as such) instead of longitude and latitude")
    convert.set_defaults(handler=handle, usage=convert)


def handle(args: argparse.Namespace) -> int:
    given = os.path.splitext(args.file)[1].lower()
    wanted = os.path.splitext(args.output)[1].lower()
    if given in IMPORTS:
        if wanted != ".rwproj":
            args.usage.error(f"a {given} file converts to a .rwproj project, not {wanted or 'no extension'}")
        try:
            if given == ".inp":
                project, report = read_swmm(args.file, c_pervious=args.c_pervious, c_impervious=args.c_impervious)
                project = with_crs(project, args.crs)
            elif given == ".xml":
                from ..formats.landxml.read import read_landxml

                project, report = read_landxml(args.file)
                project = with_crs(project, args.crs)
            elif given == ".gpkg":
                from ..formats.geopackage import read_geopackage

                project, report = read_geopackage(args.file)
                project = with_crs(project, args.crs)
            else:
                project, report = from_geojson(args.file, crs=args.crs)
            notes = report.lines()
        except ImportError as error:
            raise InputError(str(error)) from None
        except ValueError as error:
            raise InputError(f"{args.file}: {one_line(str(error))}") from None
        converted = Source(label=args.output, kind="project", text=project + "\n")
        try:
            network = records(converted)  # a project the reader refuses is never written
        except ValueError as error:
            raise InputError(f"{args.file}: the converted project does not read: {one_line(str(error))}") from None
        write_file(args.output, converted.text)
        try:
            result = analyze(converted)
        except ValueError as error:  # a loop, say: the project is written, the analysis names the fault
            print(f"{args.output}: {len(network['nodes'])} structures, {len(network['pipes'])} pipes "
                  f"(the analysis cannot run: {one_line(str(error))})")
        else:
            flooded = sum(1 for node in result["nodes"] if node["floods"])
            print(f"{args.output}: {len(result['nodes'])} structures, {len(result['pipes'])} pipes "
                  f"({flooded} structures flood in the analysis)")
        for line in notes:
            print(line)
        return 0
    if wanted not in EXPORTS:
        args.usage.error(f"a project or .rwn file converts to .inp, .geojson, .gpkg, LandXML .xml or .dxf, not {wanted or 'no extension'}")
    source = read_source(args.file)
    result = analyse(source)
    try:
        if wanted == ".dxf":
            from ..formats.dxf import write_plan_dxf

            write_plan_dxf(source, args.output)
        elif wanted == ".inp":
            write_file(args.output, write_swmm(source, result))
        elif wanted == ".xml":
            from ..formats.landxml.write import write_landxml

            landxml, report = write_landxml(source)
            write_file(args.output, landxml)
            for line in report.lines():
                print(line)
        elif wanted == ".gpkg":
            from ..formats.geopackage import write_geopackage

            for line in write_geopackage(source, args.output, result, crs=args.crs).lines():
                print(line)
        else:
            collection = to_geojson(source, result, crs=args.crs, plan_coordinates=args.plan_coordinates)
            write_file(args.output, json.dumps(collection, indent=1, allow_nan=False) + "\n")
            for line in collection.get(REPORT_MEMBER, []):
                print(line)
    except ImportError as error:
        raise InputError(str(error)) from None
    except ValueError as error:
        raise InputError(f"{args.file}: {one_line(str(error))}") from None
    sys.stdout.write(f"{args.output}: {len(result['nodes'])} structures, {len(result['pipes'])} pipes\n")
    return 0
