"""Networks as the companion package takes them: a path or text, told apart by the
same rule everywhere, read into the records the core analyses, and analysed."""

from __future__ import annotations

import functools
import json
import math
import os
from dataclasses import dataclass, field
from typing import Any, Callable, Dict, List, NoReturn, Optional, Tuple, TypeVar, Union, cast

import rillwright

from . import _core


class InputError(Exception):
    """A file that cannot be read or analysed. The message is one line meant for the user."""


@dataclass(frozen=True)
class Source:
    """One network as text, with what it is and where it came from."""

    label: str  # the path as given, "demo", or "<text>"
    kind: str  # "project" or "rwn"
    text: str
    # The Model this source is the text of: its parsed network and its one analysis are
    # used instead of reading the text again.
    model: Optional[Any] = field(default=None, compare=False, repr=False)

    @property
    def format(self) -> str:
        """The name of the format as the companion functions take it: "rwproj" or "rwn"."""
        return "rwproj" if self.kind == "project" else "rwn"

    @property
    def core(self) -> Any:
        """What `_core` entries take as the network: the model's parsed network, or the text."""
        return self.model.core if self.model is not None else self.text


@dataclass(frozen=True)
class NodeGeometry:
    id: str
    invert: float
    rim: float
    kind: str = "junction"  # "inlet", "junction" or "outfall"


@dataclass(frozen=True)
class PipeGeometry:
    id: str
    from_node: str
    to_node: str
    length: float
    rise: float  # diameter of a circular pipe, rise of the other shapes
    invert_up: float
    invert_dn: float
    shape: str = "circular"
    span: float = math.nan  # width of the shapes that are not circular


@dataclass(frozen=True)
class Geometry:
    nodes: Dict[str, NodeGeometry]  # the last node of each id, as the analysis resolves it
    node_order: List[str]
    pipes: List[PipeGeometry]
    si: bool = False  # a project in SI units: drawings give sizes in mm


def one_line(message: str) -> str:
    return " ".join(str(message).split())


def kind_of(path: str, text: str) -> str:
    extension = os.path.splitext(path)[1].lower()
    if extension == ".rwn":
        return "rwn"
    if extension == ".rwproj":
        return "project"
    return "project" if text.lstrip().startswith("{") else "rwn"


# Files the commands take only through `rillwright convert`, and what they are.
CONVERTED_ONLY = {".inp": "a SWMM model", ".geojson": "a GeoJSON layer", ".gpkg": "a GeoPackage",
                  ".xml": "a LandXML file"}


def read_source(path: str) -> Source:
    extension = os.path.splitext(path)[1].lower()
    if extension in CONVERTED_ONLY:
        stem = os.path.splitext(os.path.basename(path))[0]
        raise InputError(f"{path} is {CONVERTED_ONLY[extension]}: convert it into a project first, "
                         f"rillwright convert {path} -o {stem}.rwproj")
    if extension == ".dxf":
        raise InputError(f"{path} is a DXF drawing, which rillwright writes but does not read")
    try:
        with open(path, encoding="utf-8") as handle:
            text = handle.read()
    except OSError as error:
        raise InputError(f"cannot read {path}: {error.strerror or error}") from None
    except UnicodeDecodeError as error:
        raise InputError(f"cannot read {path}: not UTF-8 text (bad byte at offset {error.start})") from None
    return Source(label=path, kind=kind_of(path, text), text=text)


def demo_source() -> Source:
    try:
        text = rillwright.demo_project_json()
    except ValueError as error:
        raise InputError(f"demo: {one_line(str(error))}") from None
    return Source(label="demo", kind="project", text=text)


def analyze(source: Source) -> Dict[str, Any]:
    """The module's analysis of the source; ValueError when it cannot be analysed (a loop
    named by its pipes). A model's source gives the model's one analysis (rows shared, the
    outer dict fresh)."""
    if source.model is not None:
        return cast(Dict[str, Any], source.model.rows())
    try:
        if source.kind == "project":
            return cast(Dict[str, Any], rillwright.analyze_project(source.text))
        return cast(Dict[str, Any], rillwright.analyze_rwn(source.text))
    except ValueError as error:
        raise_with_loops(error, source.text, source.format)


# ------------------------------------------------------------------ loops named
CYCLE = "network contains a cycle"  # the analysis's refusal of a loop, as the core words it


def loop_pipes(network: Any, format: str) -> List[List[str]]:
    """The pipe ids of each loop of a network (its text, or a model's parsed network), in
    flow order, from the core's topology findings; none when it cannot be read."""
    try:
        found = json.loads(_core.network_findings(network, format))
    except ValueError:
        return []
    # A loop's ids run node, pipe, node, pipe, ... in flow order.
    return [f["ids"][1::2] for f in found if f["code"] == "cycle"]


def with_loops(message: str, network: Any, format: str) -> str:
    """The analysis's refusal of a cycle followed by the pipes of each loop: "analysis
    failed: network contains a cycle through pipes P1, P2; another through pipes P7, P8";
    any other message as it is."""
    loops = loop_pipes(network, format) if message.endswith(CYCLE) else []
    if not loops:
        return message
    return message + " through pipes " + "; another through pipes ".join(", ".join(pipes) for pipes in loops)


def raise_with_loops(error: ValueError, network: Any, format: str) -> NoReturn:
    """Raises `error` again, as a ValueError naming the loops when it is the refusal of a cycle."""
    named = with_loops(str(error), network, format)
    if named == str(error):
        raise error
    raise ValueError(named) from None


Function = TypeVar("Function", bound=Callable[..., Any])


def naming_loops(function: Function) -> Function:
    """A companion function taking (source=None, *, text=None, format=None, ...) whose
    refusal of a cycle names the loops' pipes."""
    @functools.wraps(function)
    def call(source: Any = None, *args: Any, text: Optional[str] = None, format: Optional[str] = None,
             **options: Any) -> Any:
        try:
            return function(source, *args, text=text, format=format, **options)
        except ValueError as error:
            if not str(error).endswith(CYCLE):
                raise
            try:
                network = resolve(source, text=text, format=format)
            except (ValueError, TypeError, OSError):
                raise error from None
            raise_with_loops(error, network.core, network.format)
    return cast(Function, call)


def analyse(source: Source) -> Dict[str, Any]:
    """`analyze` for the command line: the failure as an InputError naming the file."""
    try:
        return analyze(source)
    except ValueError as error:
        raise InputError(f"{source.label}: {one_line(str(error))}") from None


def resolve(source: Union[str, "os.PathLike[str]", Source, Any, None] = None, *, text: Optional[str] = None,
            format: Optional[str] = None) -> Source:
    """The network a companion function is given: a path to a .rwn or .rwproj file (told
    apart as `rillwright run` tells them), its text with `text=` and `format=`, a Model
    (rwt.open), or a Source. Raises OSError for a file that cannot be read and ValueError
    for a bad format."""
    from .model import Model

    if isinstance(source, (Model, Source)):
        check_arguments(source, text, format, tuple(FORMATS))
        return source.source if isinstance(source, Model) else source
    check_arguments(source, text, format, tuple(FORMATS))
    if text is not None:
        return Source(label="<text>", kind=FORMATS[format or ""], text=text)
    path = os.fspath(source)
    if not isinstance(path, str):
        path = os.fsdecode(path)
    try:
        with open(path, encoding="utf-8") as handle:
            content = handle.read()
    except UnicodeDecodeError as error:
        raise ValueError(f"cannot read {path}: not UTF-8 text (bad byte at offset {error.start})") from None
    kind = FORMATS[format] if format is not None else kind_of(path, content)
    return Source(label=path, kind=kind, text=content)


FORMATS = {"rwn": "rwn", "rwproj": "project"}


def check_arguments(source: Any, text: Any, format: Optional[str], formats: Tuple[str, ...]) -> None:
    """The checks of a (source, text=, format=) call: one of source and text, text a str with
    one of `formats`. TypeError or ValueError naming the argument."""
    if text is not None and source is not None:
        raise TypeError("give either a source or text=, not both")
    if source is None and text is None:
        raise TypeError("a source path or text= is required")
    if format is not None and format not in formats:
        raise ValueError(f"format must be one of {', '.join(formats)}, not {format!r}")
    if text is not None and not isinstance(text, str):
        raise TypeError(f"text must be a str, not {type(text).__name__}")
    if text is not None and format is None:
        raise ValueError(f"text= needs format= ({', '.join(formats)})")


def records(source: Source) -> Dict[str, Any]:
    """The network as the analysis reads it, in US customary units: {"settings", "nodes",
    "pipes"}, every record in input order. Raises ValueError with the readers' messages.
    A model's records are read once and shared: not to be modified."""
    if source.model is not None:
        return cast(Dict[str, Any], source.model.records())
    return cast(Dict[str, Any], json.loads(_core.network_records(source.text, source.format)))


def geometry(source: Source) -> Geometry:
    """Geometry of a network that the analysis has already accepted."""
    network = records(source)
    by_id: Dict[str, NodeGeometry] = {}
    for node in network["nodes"]:
        by_id[node["id"]] = NodeGeometry(node["id"], node["invert"], node["rim"], node["kind"])  # the last wins
    pipes = []
    for pipe in network["pipes"]:
        up = pipe["invert_up"] if pipe["invert_up"] is not None else _invert_of(by_id, pipe["from"])
        dn = pipe["invert_dn"] if pipe["invert_dn"] is not None else _invert_of(by_id, pipe["to"])
        pipes.append(PipeGeometry(pipe["id"], pipe["from"], pipe["to"], pipe["length"], pipe["rise"], up, dn,
                                  pipe["shape"], pipe.get("span", math.nan)))
    return Geometry(by_id, list(by_id), pipes, _is_si(source))


def _is_si(source: Source) -> bool:
    if source.kind != "project":
        return False
    if source.model is not None:
        return bool(source.model.units == "si")
    try:
        return bool(json.loads(source.text).get("units") == "si")
    except (ValueError, AttributeError):  # read by the core already; Python's reader may differ
        return False


def _invert_of(nodes: Dict[str, NodeGeometry], node_id: str) -> float:
    node = nodes.get(node_id)
    return node.invert if node is not None else math.nan
