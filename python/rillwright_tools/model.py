"""One network in memory: read once (from a .rwn or .rwproj file or text, or through the
SWMM, GeoJSON, GeoPackage and LandXML readers), kept parsed in the core, analysed into
columns on every core, and handed to every companion function in place of a path.

    m = rwt.open("city.rwproj")
    r = m.analyse()                     # {"name", "pipes": {key: array}, "nodes": {...}}
    pipes, nodes = m.frames()           # with pandas
    m.report(html="city.html")          # one parse, one analysis
"""

from __future__ import annotations

import json
import os
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple, Union

import numpy as np

from . import _core
from .formats.common import ImportReport
from .inputs import FORMATS, Source, check_arguments, kind_of, raise_with_loops

PathLike = Union[str, "os.PathLike[str]"]

# Text formats `open` reads with text=: the core's own, and those read through an importer.
TEXT_FORMATS = ("rwn", "rwproj", "swmm", "geojson", "landxml")
# Files read through an importer into a project, by extension.
IMPORTED = {".inp": "swmm", ".geojson": "geojson", ".json": "geojson", ".gpkg": "geopackage", ".xml": "landxml"}
# What `Model.to` writes, by extension.
WRITTEN = (".gpkg", ".geojson", ".json", ".inp", ".xml", ".dxf", ".rwproj", ".rwn")

FLAG_COLUMNS = ("surcharged", "floods")


class Model:
    """A network read once and kept parsed in the core until the model goes. Every
    companion function that takes a `source` takes a Model too, and the methods of the
    same names are the short form. The analysis is computed once and shared: `analyse()`
    as columns, and the rows that reports, checks and exports read."""

    def __init__(self, handle: Any, label: str, format: str, *, text: Optional[str] = None,
                 path: Optional[str] = None, import_report: Optional[ImportReport] = None) -> None:
        info = _core.model_info(handle)
        self._handle = handle
        self._label = label
        self._format = format
        self._text = text
        self._path = path
        self.import_report = import_report
        self.name: str = info["name"]
        self.units: str = info["units"]  # "us" or "si": the project's unit system; results are US customary
        self.node_count: int = info["nodes"]
        self.pipe_count: int = info["pipes"]
        self.tree_count: int = info["trees"]  # separate outfall basins (0 when the pipes do not resolve)
        self._inlet_data: int = info["inlet_data"]  # nodes with an inlet length or a bypass target
        self._source: Optional[Source] = None
        self._nodes: Optional[Dict[str, Any]] = None
        self._pipes: Optional[Dict[str, Any]] = None
        self._columns: Optional[Dict[str, Any]] = None
        self._rows: Optional[Dict[str, Any]] = None
        self._records: Optional[Dict[str, Any]] = None
        self._inlet_pass: Optional[Tuple[Dict[str, Any], List[Dict[str, str]]]] = None
        self._details: Dict[bool, Dict[str, List[Dict[str, Any]]]] = {}  # by inlet_aware

    def __repr__(self) -> str:
        return (f"<rillwright_tools.Model {self.name or self._label!r}: {self.node_count} nodes, "
                f"{self.pipe_count} pipes, {self.format}>")

    def __eq__(self, other: object) -> bool:
        # Two models are equal when they hold the same network text in the same format, so
        # results that carry a model compare by what they hold.
        if not isinstance(other, Model):
            return NotImplemented
        return self._format == other._format and self.source.text == other.source.text

    __hash__ = None  # type: ignore[assignment]

    def __reduce__(self) -> Any:
        # The core's handle does not travel; a copy reads the same text again.
        return (_reopen, (self.source.text, self._format, self._label, self.import_report))

    # ----------------------------------------------------------------------- what it is
    @property
    def format(self) -> str:
        """"rwn" or "rwproj" (an imported network is a project)."""
        return self._format

    @property
    def source(self) -> Source:
        """The network as the companion functions take it; its text is read from the file
        on first use when the core read the file itself."""
        if self._source is None:
            text = self._text
            if text is None:
                assert self._path is not None
                text = _read_text(self._path)
            self._source = Source(label=self._label, kind=FORMATS[self._format], text=text, model=self)
        return self._source

    @property
    def core(self) -> Any:
        """The core's handle of the parsed network, taken by `_core` entries in place of text."""
        return self._handle

    @property
    def node_ids(self) -> List[str]:
        """Node ids in input order (a repeated id is kept, as the analysis sees it)."""
        return list(self._node_columns()["id"])

    @property
    def pipe_ids(self) -> List[str]:
        return list(self._pipe_columns()["id"])

    @property
    def pipe_ends(self) -> Tuple[List[str], List[str]]:
        """The ids of the nodes each pipe runs from and to, in pipe order."""
        pipes = self._pipe_columns()
        return list(pipes["from"]), list(pipes["to"])

    @property
    def coordinates(self) -> Tuple[np.ndarray, np.ndarray]:
        """(x, y) of the nodes in input order: plan coordinates in feet."""
        nodes = self._node_columns()
        return nodes["x"], nodes["y"]

    def _node_columns(self) -> Dict[str, Any]:
        if self._nodes is None:
            raw = _core.model_nodes(self._handle)
            self._nodes = {"id": tuple(raw["id"]), "x": _numbers(raw["x"]), "y": _numbers(raw["y"])}
        return self._nodes

    def _pipe_columns(self) -> Dict[str, Any]:
        if self._pipes is None:
            self._pipes = {key: tuple(values) for key, values in _core.model_pipes(self._handle).items()}
        return self._pipes

    # ----------------------------------------------------------------------- analysis
    def analyse(self, threads: Optional[int] = None) -> Dict[str, Any]:
        """The analysis as {"name", "pipes": {key: array}, "nodes": {key: array}} with the
        keys of the module's rows: float64 arrays (NaN where a row has None), bool arrays
        for the flags, object arrays of ids. Separate trees run on `threads` threads (None:
        every core); the values are the same, bit for bit, for any count. Computed once:
        later calls return the same read-only arrays. ValueError when the network cannot
        be analysed."""
        if self._columns is None:
            raw = self._analysed(_core.model_columns, threads)
            self._columns = {"name": raw["name"], "pipes": _arrays(raw["pipes"]), "nodes": _arrays(raw["nodes"])}
        return self._columns

    analyze = analyse

    def frames(self, threads: Optional[int] = None) -> Tuple[Any, Any]:
        """(pipes, nodes) as pandas DataFrames of `analyse`'s columns."""
        try:
            import pandas
        except ImportError:
            raise ImportError("Model.frames needs pandas: pip install pandas") from None
        result = self.analyse(threads)
        return pandas.DataFrame(result["pipes"]), pandas.DataFrame(result["nodes"])

    def rows(self) -> Dict[str, Any]:
        """The module's result dict ({"name", "pipes": [rows], "nodes": [rows]}), computed
        once; a fresh outer dict each call, the rows shared."""
        if self._rows is None:
            self._rows = dict(self._analysed(_core.model_rows))
        return {"name": self._rows["name"], "pipes": self._rows["pipes"], "nodes": self._rows["nodes"]}

    def inlet_pass(self) -> Tuple[Dict[str, Any], List[Dict[str, str]]]:
        """The HEC-22 inlet pass of a project, run once: ({"inlets", "pipes", "nodes"},
        warnings), as inlets.inlet_pass gives it; a fresh outer dict each call. A project
        without inlet data (no inlet length, no bypass target) has no inlet to model: its
        sheet is empty and its pipes and nodes are the model's own analysis, not run again."""
        if self._format != "rwproj":
            raise ValueError("the inlet pass needs a project (.rwproj); .rwn text has no inlets")
        if self._inlet_pass is None and not self._inlet_data:
            rows = self.rows()
            self._inlet_pass = ({"inlets": [], "pipes": rows["pipes"], "nodes": rows["nodes"]}, [])
        if self._inlet_pass is None:
            text, result = self._analysed(_core.inlets, self._format)
            sheet = json.loads(text)
            self._inlet_pass = ({"inlets": sheet["inlets"], "pipes": result["pipes"], "nodes": result["nodes"]},
                                sheet["warnings"])
        sheet, warnings = self._inlet_pass
        return dict(sheet), list(warnings)

    def grade_line_details(self, inlet_aware: bool = False) -> Dict[str, List[Dict[str, Any]]]:
        """The energy line behind the analysis (grade_line.grade_line_details), computed once.
        With inlet_aware (and inlet data) it is that of the inlet pass's analysis. Where that
        analysis is not cached yet, the one pass gives both and caches the analysis too, so a
        report that asks for the details first analyses once."""
        inlet_aware = bool(inlet_aware) and self._format == "rwproj" and bool(self._inlet_data)
        if inlet_aware not in self._details:
            analysed = (self._inlet_pass if inlet_aware else self._rows) is not None
            got = self._analysed(_core.grade_line_details, self._format, inlet_aware=inlet_aware, rows=not analysed)
            if analysed:
                text = got
            elif inlet_aware:
                text, result, sheet_text = got
                sheet = json.loads(sheet_text)
                self._inlet_pass = ({"inlets": sheet["inlets"], "pipes": result["pipes"], "nodes": result["nodes"]},
                                    sheet["warnings"])
            else:
                text, self._rows = got
            self._details[inlet_aware] = json.loads(text)
        return self._details[inlet_aware]

    def _analysed(self, entry: Any, *args: Any, **kwargs: Any) -> Any:
        """`entry(handle, *args)` of the core, a refusal of a cycle naming the loops' pipes."""
        try:
            return entry(self._handle, *args, **kwargs)
        except ValueError as error:
            raise_with_loops(error, self._handle, self._format)

    def records(self) -> Dict[str, Any]:
        """The network as the analysis reads it ({"settings", "nodes", "pipes"}, US customary
        units), read once; shared, not to be modified."""
        if self._records is None:
            self._records = json.loads(_core.network_records(self._handle, self._format))
        return self._records

    # ----------------------------------------------------------------------- companion functions
    def check(self) -> List[Dict[str, Any]]:
        from .check import check

        return check(self)

    def design(self, **options: Any) -> Dict[str, Any]:
        from .design import design

        return design(self, **options)

    def inlets(self) -> Dict[str, Any]:
        from .inlets import inlets

        return inlets(self)

    def level_of_service(self, **options: Any) -> Dict[str, Any]:
        from .service import level_of_service

        return level_of_service(self, **options)

    def sweep(self, **options: Any) -> List[Dict[str, Any]]:
        from .service import sweep

        return sweep(self, **options)

    def report(self, html: Optional[PathLike] = None, pdf: Optional[PathLike] = None, **options: Any) -> Any:
        from .submittal import report

        return report(self, html, pdf, **options)

    def plan_view(self, out: PathLike, **options: Any) -> None:
        from .interchange import plan_view

        plan_view(self, out, **options)

    def to(self, path: PathLike, **options: Any) -> Optional[ImportReport]:
        """Writes the network to `path` in the format of its extension: .gpkg, .geojson (or
        .json), .inp (SWMM 5), .xml (LandXML 1.2), .dxf (plan), .rwproj or .rwn (the text as
        read). `options` go to the writer; returns the export report where there is one."""
        target = os.fspath(path)
        extension = os.path.splitext(target)[1].lower()
        if extension not in WRITTEN:
            raise ValueError(f"{target}: cannot write {extension or 'a file without extension'}; "
                             f"the formats are {', '.join(WRITTEN)}")
        if extension == ".gpkg":
            from .interchange import to_geopackage

            to_geopackage(self, target, **options)
            return None
        if extension == ".dxf":
            from .formats.dxf import write_plan_dxf

            write_plan_dxf(self.source, target, **options)
            return None
        report: Optional[ImportReport] = None
        if extension in (".geojson", ".json"):
            from .interchange import to_geojson

            content = json.dumps(to_geojson(self, **options)) + "\n"
        elif extension == ".inp":
            from .interchange import write_swmm

            content = write_swmm(self, **options)
        elif extension == ".xml":
            from .interchange import write_landxml

            content, report = write_landxml(self, **options)
        else:
            wanted = "rwproj" if extension == ".rwproj" else "rwn"
            if wanted != self._format:
                raise ValueError(f"{target}: a {self._format} network is written as .{self._format}, "
                                 f"not {extension}")
            content = self.source.text
        _write_text(target, content)
        return report


def open(source: Union[PathLike, Source, Model, None] = None, *, text: Optional[str] = None,
         format: Optional[str] = None) -> Model:
    """The network of a file or text, read once, as a Model. A path is read by its
    extension: .rwn and .rwproj by the core; .inp (SWMM 5), .geojson/.json, .gpkg and .xml
    (LandXML) through their importers into a project (`model.import_report` names what the
    import dropped or changed); any other by its content, as `rillwright run` does. Text
    needs `format=`: "rwn", "rwproj", "swmm", "geojson" or "landxml". Raises OSError for a
    file that cannot be read and ValueError for a network that cannot."""
    check_arguments(source, text, format, TEXT_FORMATS + ("geopackage",))
    if isinstance(source, Model):
        return source
    if isinstance(source, Source):
        return _from_text(source.text, source.format, source.label)
    if text is not None:
        if format == "geopackage":
            raise ValueError("a GeoPackage is a file: give its path")
        assert format is not None  # checked
        return _imported(format, text, "<text>") if format not in FORMATS else _from_text(text, format, "<text>")
    path = os.fsdecode(os.fspath(source))
    extension = os.path.splitext(path)[1].lower()
    kind = format or IMPORTED.get(extension) or {".rwn": "rwn", ".rwproj": "rwproj"}.get(extension)
    if kind in FORMATS:
        return Model(_core.model_open(None, kind, path), path, kind, path=path)
    if kind is not None:
        return _imported(kind, path, path)
    content = _read_text(path)
    found = "rwproj" if kind_of(path, content) == "project" else "rwn"
    return _from_text(content, found, path)


def _from_text(text: str, format: str, label: str, report: Optional[ImportReport] = None) -> Model:
    return Model(_core.model_open(text, format), label, format, text=text, import_report=report)


def _reopen(text: str, format: str, label: str, report: Optional[ImportReport]) -> Model:
    return _from_text(text, format, label, report)


def _imported(kind: str, path_or_text: str, label: str) -> Model:
    """A project read through the importer of `kind` from a path, or from text."""
    if kind == "swmm":
        from .formats.swmm.read import read_swmm

        project, report = read_swmm(path_or_text)
    elif kind == "geojson":
        from .formats.geojson import from_geojson

        given: Any = path_or_text
        if label == "<text>":
            try:
                given = json.loads(path_or_text)
            except ValueError as error:
                raise ValueError(f"GeoJSON text is not JSON: {error}") from None
        project, report = from_geojson(given)
    elif kind == "geopackage":
        from .formats.geopackage import read_geopackage

        project, report = read_geopackage(path_or_text)
    else:
        from .formats.landxml.read import read_landxml

        project, report = read_landxml(path_or_text)
    return _from_text(project, "rwproj", label, report)


def _read_text(path: str) -> str:
    try:
        return Path(path).read_text(encoding="utf-8")
    except UnicodeDecodeError as error:
        raise ValueError(f"cannot read {path}: not UTF-8 text (bad byte at offset {error.start})") from None


def _write_text(path: str, content: str) -> None:
    from .formats.common import write_atomically

    write_atomically(path, lambda temporary: temporary.write_text(content, encoding="utf-8"))


def _numbers(buffer: bytearray) -> np.ndarray:
    array = np.frombuffer(buffer, dtype=np.float64)
    array.flags.writeable = False
    return array


def _arrays(columns: Dict[str, Any]) -> Dict[str, np.ndarray]:
    """The core's columns as read-only numpy arrays."""
    out: Dict[str, np.ndarray] = {}
    for key, values in columns.items():
        if isinstance(values, bytearray):
            array = np.frombuffer(values, dtype=np.bool_ if key in FLAG_COLUMNS else np.float64)
        else:
            array = np.empty(len(values), dtype=object)
            array[:] = values
        array.flags.writeable = False
        out[key] = array
    return out
