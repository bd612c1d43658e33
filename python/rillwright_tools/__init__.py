"""rillwright_tools: the companion library of the `rillwright` module, for notebooks and
the `rillwright` command. `rwt.open` reads a network once into a Model (its analysis as
columns, and methods for everything below); every function takes `source`, a Model, a
path to a .rwn or .rwproj file, or the network's text with `text=` and
`format="rwn"|"rwproj"`.

    import rillwright_tools as rwt
    m = rwt.open("net.rwproj")
"""

from .check import check
from .design import DesignOptionError, design
from .energy import hec22_energy_structure
from .inlets import gutter_flow, inlet_in_sag, inlet_on_grade, inlets
from .inputs import Source, resolve
from .interchange import (from_geojson, from_geopackage, plan_view, read_landxml, read_swmm, to_geojson,
                          to_geopackage, write_landxml, write_swmm)
from .model import Model, open
from .service import level_of_service, sweep
from .submittal import report

__all__ = [
    "DesignOptionError",
    "Model",
    "Source",
    "check",
    "design",
    "from_geojson",
    "from_geopackage",
    "gutter_flow",
    "hec22_energy_structure",
    "inlet_in_sag",
    "inlet_on_grade",
    "inlets",
    "level_of_service",
    "open",
    "plan_view",
    "read_landxml",
    "read_swmm",
    "report",
    "resolve",
    "sweep",
    "to_geojson",
    "to_geopackage",
    "write_landxml",
    "write_swmm",
]
