"""Type information for the `rillwright` extension module."""

import sys
from typing import Final, List, SupportsFloat, SupportsIndex, TypedDict, Union, type_check_only

if sys.version_info >= (3, 10):
    from typing import TypeAlias
else:
    from typing_extensions import TypeAlias

__all__ = [
    "__version__",
    "K_MANNING_US",
    "K_MANNING_SI",
    "G_US",
    "G_SI",
    "intensity",
    "rational_q",
    "manning_capacity",
    "circular_flow",
    "normal_depth",
    "critical_depth",
    "circular_geometry",
    "analyze_project",
    "analyze_file",
    "analyze_rwn",
    "demo_project_json",
]

# Anything the module converts with the host's float conversion: float, int, bool,
# and objects defining __float__ or __index__.
_Number: TypeAlias = Union[SupportsFloat, SupportsIndex]

__version__: Final[str]
K_MANNING_US: Final[float]
K_MANNING_SI: Final[float]
G_US: Final[float]
G_SI: Final[float]

# "from" is a keyword, so the pipe row's keys are declared in the call form.
_PipeRowKeys = TypedDict(
    "_PipeRowKeys",
    {
        "id": str,
        "from": str,
        "to": str,
        "slope": float,
        "total_ca": float,
        "tc": float,
        "travel_time": float,
        "intensity": float,
        "design_q": float,
        "capacity": float,
        "pct_full": float,
        "velocity": float,
        "normal_depth": Union[float, None],
        "critical_depth": float,
        "hgl_up": Union[float, None],
        "hgl_dn": Union[float, None],
        "surcharged": bool,
    },
)

@type_check_only
class PipeRow(_PipeRowKeys):
    """One pipe of an analysis result (ft, acres, min, in/hr, cfs, ft/s; `pct_full` 1.0 = just full)."""

@type_check_only
class NodeRow(TypedDict):
    """One node of an analysis result (min, ft)."""

    id: str
    tc: float
    rim: float
    hgl: float
    freeboard: float
    floods: bool

@type_check_only
class AnalysisResult(TypedDict):
    """What the analysis functions return; each list turns directly into a table."""

    name: str
    pipes: List[PipeRow]
    nodes: List[NodeRow]

@type_check_only
class CircularGeometry(TypedDict):
    """Flow cross-section of a circular pipe at one depth."""

    area: float
    wetted_perimeter: float
    hydraulic_radius: float
    top_width: float

def intensity(a: _Number, b: _Number, c: _Number, t_min: _Number) -> float: ...
def rational_q(c: _Number, i: _Number, area: _Number) -> float: ...
def manning_capacity(diameter: _Number, n: _Number, slope: _Number, *, si: bool = False) -> float: ...
def circular_flow(diameter: _Number, n: _Number, slope: _Number, depth: _Number, *, si: bool = False) -> float: ...
def normal_depth(
    q: _Number, diameter: _Number, n: _Number, slope: _Number, *, si: bool = False
) -> Union[float, None]: ...
def critical_depth(q: _Number, diameter: _Number, *, si: bool = False) -> float: ...
def circular_geometry(diameter: _Number, depth: _Number) -> CircularGeometry: ...
def analyze_project(project_json: str) -> AnalysisResult: ...
def analyze_file(path: str) -> AnalysisResult: ...
def analyze_rwn(text: str) -> AnalysisResult: ...
def demo_project_json() -> str: ...
