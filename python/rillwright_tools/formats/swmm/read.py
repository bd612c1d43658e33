"""SWMM 5 input files (.inp) read into a project, with a report of everything that a
gravity pipe network cannot hold.

Rules the SWMM model does not settle by itself:

* Runoff coefficient of a subcatchment: C = c_pervious + (c_impervious - c_pervious) x
  %impervious / 100 (defaults 0.2 and 0.9; both are keyword arguments). Several
  subcatchments draining to one node add their areas and weight their C by area.
* Rim of a node: invert + maximum depth. Where the maximum depth is 0 (and for outfalls,
  which have none) the rim is the highest crown of the conduits at that node, as SWMM
  itself extends such a node; a node with no conduit keeps rim = invert.
* The design storm is not part of a SWMM model: the project gets the plain-text format's
  IDF curve (a = 120 in/hr, b = 10 min, c = 0.8), min_tc 10 min and junction_k 0.5.
* Subcatchment outlines become catchments without an inlet node (their area already sits
  on the node), carrying `drains_to` and `area_ac` so that an export writes them back.
* Link offsets: an end that would lie below its node's invert (a negative depth offset,
  or an elevation offset below the invert) is set at the node's invert, as SWMM sets it.
* Coordinate system: an EPSG code in the title (such as "EPSG:2229"), else the WKT of a
  .prj file beside the model, becomes the project's `crs`.
* Every section the import does not read is named once in the report, with what was
  done with it.
"""

from __future__ import annotations

import json
import math
import os
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, List, Optional, Tuple, Union

from .inlets_read import StreetReader, carried_lines

from .shapes import full_area
from .text import (C_TAG, EPSG_IN_TEXT, INLET_PREFIX, KEPT_SETTINGS, OUTLINE_TAG, SETTINGS_PREFIX, Line, Section,
                   c_of_impervious, impervious_text, split_sections, tag_parts, unused_section_notes)
from .. import crs as _crs
from ..common import ImportReport, mark_import
from ...units import FT_PER_M

US_FLOW_UNITS = {"CFS", "GPM", "MGD"}
SI_FLOW_UNITS = {"CMS", "LPS", "MLD"}
NOT_PIPES = ("PUMPS", "ORIFICES", "WEIRS", "OUTLETS")
def read_text(path_or_text: Union[str, "os.PathLike[str]"]) -> Tuple[str, str]:
    """(text, name): a path, or the model's text itself when it holds a line break, or a
    '[' and names no file."""
    if isinstance(path_or_text, str) and (
            "\n" in path_or_text or ("[" in path_or_text and not os.path.isfile(path_or_text))):
        return path_or_text, ""
    path = Path(os.fspath(path_or_text))
    return path.read_text(encoding="utf-8", errors="replace"), path.stem


def read_swmm(path_or_text: Union[str, "os.PathLike[str]"], *, c_pervious: float = 0.2,
              c_impervious: float = 0.9) -> Tuple[str, ImportReport]:
    """A SWMM 5 model as a project: (project JSON text, report). The report lists by id
    every element dropped or approximated. Raises ValueError for a malformed line (naming
    section and line number) or a model with no conduit the analysis can take."""
    text, stem = read_text(path_or_text)
    importer = _Importer(split_sections(text), stem, c_pervious, c_impervious)
    if stem:
        importer.prj = Path(os.fspath(path_or_text)).with_suffix(".prj")
    return importer.project()


def named_crs(title: List[str], prj: Optional[Path]) -> Optional[Tuple[str, str]]:
    """(system, where it was named): an authority code in the title, else a .prj beside the model."""
    for line in title:
        found = EPSG_IN_TEXT.search(line)
        if found:
            return f"{found.group(1).upper()}:{found.group(2)}", "the title"
    if prj is not None and prj.is_file():
        try:
            text = prj.read_text(encoding="utf-8").strip()
        except (OSError, UnicodeDecodeError) as error:
            raise ValueError(f"{prj}: cannot read the coordinate system: {error}") from None
        if text:
            return text, prj.name
    return None


def plan_extent_note(system: str, where: str, nodes: List[dict]) -> Tuple[Optional[str], str]:
    """(the system to keep, or None, and the report line saying which one was taken and
    where the plan lies in longitude and latitude, so that a wrong guess is visible)."""
    label = system if len(system) < 40 else system[:37] + "..."
    try:
        transform = _crs.to_lonlat(system)
        code = _crs.authority(system) if len(system) >= 40 else None
        if code:  # WKT: named by its code
            label = f"{code[0]}:{code[1]}"
    except ImportError:
        return system, (f"coordinate system {label} taken from {where}; the plan extent in longitude and "
                        f"latitude needs pyproj (pip install \"rillwright[gis]\")")
    except ValueError as error:
        return None, f"coordinate system {label} named in {where} not taken: {error}"
    points = [(node["x"], node["y"]) for node in nodes]
    if not points:
        return system, f"coordinate system {label} taken from {where}"
    try:
        lonlat = [transform(x, y) for x, y in points]
    except Exception as error:  # pyproj's own errors for points outside the system's domain
        return system, f"coordinate system {label} taken from {where}; the plan does not map to longitude and " \
                       f"latitude in it ({error})"
    lons, lats = [p[0] for p in lonlat], [p[1] for p in lonlat]
    if not all(math.isfinite(v) for v in lons + lats):
        return system, f"coordinate system {label} taken from {where}; the plan does not map to longitude and " \
                       f"latitude in it"
    return system, (f"coordinate system {label} taken from {where}: plan extent longitude {min(lons):.5f} to "
                    f"{max(lons):.5f}, latitude {min(lats):.5f} to {max(lats):.5f}")


class _Importer:
    def __init__(self, sections: Dict[str, List[Line]], stem: str, c_pervious: float, c_impervious: float):
        self.sections, self.stem = sections, stem
        self.c_pervious, self.c_impervious = c_pervious, c_impervious
        self.report = ImportReport()
        self.options = {tokens[0].upper(): tokens[1] for _, tokens in sections.get("OPTIONS", []) if len(tokens) > 1}
        units = self.options.get("FLOW_UNITS", "CFS").upper()
        if units not in US_FLOW_UNITS | SI_FLOW_UNITS:
            raise ValueError(f"[OPTIONS]: unknown FLOW_UNITS {units!r}")
        self.si = units in SI_FLOW_UNITS
        # Tags written by the export: a junction standing for an outfall that SWMM could not
        # take as one, and the stand-in outfall and conduit behind it.
        self.tags = {(tokens[0].upper(), tokens[1]): tokens[2] for _, tokens in sections.get("TAGS", [])
                     if len(tokens) > 2}
        self.elevation_offsets = self.options.get("LINK_OFFSETS", "DEPTH").upper().startswith("ELEV")
        self.prj: Optional[Path] = None

    def find(self, nodes: Dict[str, dict], name: str) -> Optional[str]:
        """The node a name refers to: SWMM compares ids without regard to case."""
        if name in nodes:
            return name
        if not hasattr(self, "_folded"):
            self._folded = {key.upper(): key for key in reversed(list(nodes))}
        return self._folded.get(name.upper())

    def section(self, name: str) -> Section:
        return Section(name, self.sections.get(name, []))

    def project(self) -> Tuple[str, ImportReport]:
        nodes = self.read_nodes()
        pipes = self.read_pipes(nodes)
        if not pipes:
            raise ValueError("the model has no conduit that the analysis can take"
                             + (f" ({len(self.report.dropped)} element(s) dropped)" if self.report.dropped else ""))
        title = [tokens[0] for _, tokens in self.sections.get("TITLE", [])]
        # Streets after the pipes: a node is a street node when only street conduits touch it.
        streets = StreetReader(self.sections, nodes, {end for pipe in pipes for end in (pipe["from"], pipe["to"])},
                               self.find, self.elevation_offsets, self.si, self.report, self.tags)
        self.street_runoff = streets.read(carried_lines(title, self.report.notes))
        self.__dict__.pop("_folded", None)  # street nodes are gone from the case-folded ids
        self.set_rims(nodes, pipes)
        catchments = self.read_subcatchments(nodes)
        self.read_coordinates(nodes)
        settings = [line for line in title if line.startswith(SETTINGS_PREFIX)]
        self.note_unused_sections(bool(settings))
        title = [line for line in title if not line.startswith((SETTINGS_PREFIX, INLET_PREFIX))]
        project = {
            "name": title[0] if title else (self.stem or "SWMM model"),
            "idf_a": 120.0 / 0.03937007874015748 if self.si else 120.0, "idf_b": 10.0, "idf_c": 0.8,
            "tailwater": self.tailwater(nodes), "min_tc": 10.0, "junction_k": 0.5,
            "nodes": [{k: v for k, v in node.items() if not k.startswith("_")} for node in nodes.values()],
            "pipes": pipes, "catchments": catchments,
            "units": "si" if self.si else "us_customary",
        }
        if settings:
            try:
                written = json.loads(settings[0][len(SETTINGS_PREFIX):])
            except ValueError:
                written = None
            if isinstance(written, dict):
                project.update({k: v for k, v in written.items() if k in KEPT_SETTINGS})
        system = named_crs(title, self.prj)
        if system is not None:
            kept, note = plan_extent_note(*system, project["nodes"])
            self.report.notes.append(note)
            if kept is not None:
                project["crs"] = kept
        mark_import(project, "SWMM 5", self.report, storm_given=bool(settings))
        return json.dumps(project, indent=1), self.report

    def note_unused_sections(self, exported: bool) -> None:
        notes = unused_section_notes(self.sections)
        if exported:  # rillwright's own export: its losses stand for the settings line's
            notes = [note.replace("entry, exit and average loss coefficients of conduits not read",
                                  "the export's structure losses at the design flow, as entry-loss coefficients, "
                                  "not read") if note.startswith("[LOSSES]") else note for note in notes]
        streets = self.sections.get("STREETS", [])
        if streets and not any("Tcrown" in line or "Hcurb" in line for line in self.report.lines()):
            notes.append(f"[STREETS] Tcrown and Hcurb of {len(streets)} street(s) not read: the project has no "
                         f"street width or curb height (the spread limit is its own setting)")
        self.report.notes.extend(notes)

    # Nodes -------------------------------------------------------------------------------

    def read_nodes(self) -> Dict[str, dict]:
        nodes: Dict[str, dict] = {}

        def add(name: str, kind: str, invert: float, depth: float, **extra: object) -> None:
            if self.tags.get(("NODE", name)) == "stand-in":
                return
            if self.tags.get(("NODE", name)) == "outfall":
                kind = "outfall"
            tag = self.tags.get(("NODE", name), "")
            if tag.startswith("tc="):
                try:
                    extra["tc_inlet"] = float(tag[3:])
                except ValueError:
                    pass
            nodes[name] = {"id": name, "kind": kind, "x": 0.0, "y": 0.0, "invert": invert, "rim": invert,
                           "area_ac": 0.0, "c": 0.0, "tc_inlet": 0.0, "_depth": depth, "_ends": [], **extra}

        junctions = self.section("JUNCTIONS")
        for number, tokens in junctions.rows(2):
            add(tokens[0], "junction", junctions.number(number, tokens, 1, "elevation"),
                junctions.number(number, tokens, 2, "maximum depth", 0.0))
        outfalls = self.section("OUTFALLS")
        for number, tokens in outfalls.rows(3):
            kind = tokens[2].upper()
            stage = outfalls.number(number, tokens, 3, "fixed stage") if kind == "FIXED" else None
            if kind not in ("FREE", "FIXED", "NORMAL"):
                self.report.approximated.append(("outfall", tokens[0], f"{kind} outfall treated as free"))
            add(tokens[0], "outfall", outfalls.number(number, tokens, 1, "elevation"), 0.0, _stage=stage)
        dividers = self.section("DIVIDERS")
        depth_field = {"OVERFLOW": 4, "CUTOFF": 5, "TABULAR": 5, "WEIR": 7}
        for number, tokens in dividers.rows(4):
            index = depth_field.get(tokens[3].upper(), len(tokens))
            add(tokens[0], "junction", dividers.number(number, tokens, 1, "elevation"),
                dividers.number(number, tokens, index, "maximum depth", 0.0))
            self.report.approximated.append(("divider", tokens[0], "read as a junction (no flow split)"))
        storage = self.section("STORAGE")
        for number, tokens in storage.rows(3):
            add(tokens[0], "junction", storage.number(number, tokens, 1, "elevation"),
                storage.number(number, tokens, 2, "maximum depth"))
            self.report.approximated.append(("storage", tokens[0], "read as a junction (no storage volume)"))
        return nodes

    def tailwater(self, nodes: Dict[str, dict]) -> Optional[float]:
        stages = {node["id"]: node["_stage"] for node in nodes.values() if node.get("_stage") is not None}
        if not stages:
            return None
        if len(set(stages.values())) > 1:
            listed = ", ".join(f"{name} {stage:g}" for name, stage in stages.items())
            self.report.notes.append(f"fixed outfalls disagree ({listed}): no tailwater set, every outfall free")
            return None
        stage = next(iter(stages.values()))
        free = [node["id"] for node in nodes.values() if node["kind"] == "outfall" and node["id"] not in stages]
        if free:
            self.report.notes.append(f"tailwater {stage:g} of the fixed outfalls also applies to {', '.join(free)}")
        return stage

    # Pipes -------------------------------------------------------------------------------

    def read_pipes(self, nodes: Dict[str, dict]) -> List[dict]:
        xsections = self.read_xsections()
        for kind in NOT_PIPES:
            for _, tokens in self.sections.get(kind, []):
                self.report.dropped.append((kind.lower()[:-1], tokens[0], "not a gravity pipe"))
        conduits = self.section("CONDUITS")
        pipes = []
        for number, tokens in conduits.rows(7):
            name = tokens[0]
            if self.tags.get(("LINK", name)) == "stand-in":
                continue
            for end in (tokens[1], tokens[2]):
                if self.find(nodes, end) is None:
                    raise ValueError(f"[CONDUITS] line {number}: conduit {name!r} names unknown node {end!r}")
            up, down = self.find(nodes, tokens[1]), self.find(nodes, tokens[2])
            assert up is not None and down is not None
            length = conduits.number(number, tokens, 3, "length")
            roughness = conduits.number(number, tokens, 4, "roughness")
            section = xsections.get(name)
            if section is None:
                self.report.dropped.append(("conduit", name, "no cross-section"))
                continue
            shape = self.pipe_shape(name, *section)
            if shape is None:
                continue
            pipe = {"id": name, "from": up, "to": down, "length": length, "diameter": shape[1], "n": roughness,
                    "shape": shape[0], "rise_ft": shape[1] if shape[0] != "circular" else 0.0,
                    "span_ft": shape[2] if shape[0] != "circular" else 0.0}
            for end, key, index, side in ((up, "invert_up", 5, "upstream"), (down, "invert_dn", 6, "downstream")):
                invert = nodes[end]["invert"]
                if self.elevation_offsets:
                    own = invert if tokens[index] == "*" else conduits.number(number, tokens, index, "offset")
                    given = f"elevation {own:g}"
                else:
                    offset = conduits.number(number, tokens, index, "offset")
                    own = invert + offset
                    given = f"offset {offset:g}"
                if own < invert:  # SWMM ignores a negative offset and sets the end at the node
                    self.report.approximated.append(
                        ("conduit", name, f"{side} end {given} lies below the invert {invert:g} of node {end}: "
                                          f"set at the node's invert, as SWMM does"))
                    own = invert
                if own != invert:
                    pipe[key] = own
                nodes[end]["_ends"].append(own + shape[1])
            pipes.append(pipe)
        return pipes

    def read_xsections(self) -> Dict[str, Tuple[int, List[str]]]:
        return {tokens[0]: (number, tokens) for number, tokens in self.section("XSECTIONS").rows(2)}

    def pipe_shape(self, name: str, number: int, tokens: List[str]) -> Optional[Tuple[str, float, float]]:
        """(shape, rise, span) of a conduit's cross-section, or None when it is dropped."""
        section = self.section("XSECTIONS")
        kind = tokens[1].upper()
        if kind == "STREET":
            return None  # the street reader lists street conduits
        if kind == "IRREGULAR":
            self.report.dropped.append(("conduit", name, f"{kind} conduit is not a pipe"))
            return None
        if kind in ("DUMMY", "CUSTOM"):
            self.report.dropped.append(("conduit", name, f"{kind} section has no full area here"))
            return None
        geom = [section.number(number, tokens, i, f"geom{i - 1}", 0.0) for i in range(2, 6)]
        barrels = section.number(number, tokens, 6, "barrels", 1.0)
        height, width = geom[0], geom[1]
        mapped = {"CIRCULAR": "circular", "FORCE_MAIN": "circular", "RECT_CLOSED": "box",
                  "HORIZ_ELLIPSE": "elliptical", "VERT_ELLIPSE": "elliptical", "ARCH": "arch"}.get(kind)
        if mapped == "circular":
            shape: Tuple[str, float, float] = ("circular", height, height)
        elif mapped is not None:
            shape = (mapped, height, width)
        else:
            area = full_area(kind, geom)
            if area is None:
                raise ValueError(f"[XSECTIONS] line {number}: unknown shape {tokens[1]!r}")
            diameter = math.sqrt(4.0 * area / math.pi) if area > 0 else 0.0
            shape = ("circular", diameter, diameter)
            self.report.approximated.append(("conduit", name, f"{kind} section as a circle of the same full area"))
        if shape[1] <= 0 or (shape[0] != "circular" and shape[2] <= 0):
            self.report.dropped.append(("conduit", name, f"{kind} section without a positive size"))
            return None
        if barrels > 1:
            scale = math.sqrt(barrels)
            shape = (shape[0], shape[1] * scale, shape[2] * scale)
            self.report.approximated.append(("conduit", name, f"{barrels:g} barrels as one pipe of their total area"))
        return shape

    def set_rims(self, nodes: Dict[str, dict], pipes: List[dict]) -> None:
        for node in nodes.values():
            tag = self.tags.get(("NODE", node["id"]), "")
            if node["kind"] == "outfall" and tag.startswith("rim="):
                try:
                    node["rim"] = float(tag[4:])
                    continue
                except ValueError:
                    pass
            if node["_depth"] > 0:
                node["rim"] = node["invert"] + node["_depth"]
            elif node["_ends"]:
                node["rim"] = max(node["invert"], *node["_ends"])
                if node["kind"] != "outfall":
                    self.report.approximated.append(("node", node["id"], "maximum depth 0: rim at the highest crown"))

    # Subcatchments and plan ---------------------------------------------------------------

    def read_subcatchments(self, nodes: Dict[str, dict]) -> List[dict]:
        section = self.section("SUBCATCHMENTS")
        rows = {tokens[0]: (number, tokens) for number, tokens in section.rows(7)}
        polygons: Dict[str, List[List[float]]] = {}
        outlines = self.section("POLYGONS")
        scale = FT_PER_M if self.si else 1.0  # catchment outlines are always in feet
        for number, tokens in outlines.rows(3):
            polygons.setdefault(tokens[0], []).append(
                [outlines.number(number, tokens, 1, "x") * scale, outlines.number(number, tokens, 2, "y") * scale])
        catchments = []
        for name, (number, tokens) in rows.items():
            outlet, seen = tokens[2], {name}
            while outlet in rows and outlet not in seen:  # runoff routed through other subcatchments
                seen.add(outlet)
                outlet = rows[outlet][1][2]
            area = section.number(number, tokens, 3, "area")
            impervious = section.number(number, tokens, 4, "%impervious")
            width = section.number(number, tokens, 5, "width")
            slope = section.number(number, tokens, 6, "%slope")
            found = self.find(nodes, outlet)
            if found is None and outlet in self.street_runoff:
                found = self.street_runoff[outlet]
                self.report.approximated.append(("subcatchment", name, f"runoff onto street node {outlet} "
                                                 f"given to the inlet node {found}"))
            if found is None:
                self.report.dropped.append(("subcatchment", name, f"outlet {tokens[2]!r} is not a node"))
                continue
            outlet = found
            c = self.runoff_coefficient(name, tokens[4], impervious)
            node = nodes[outlet]
            ring = polygons.get(name, [])
            flow_length = (area * (10000.0 * FT_PER_M ** 2 if self.si else 43560.0)) / (width * scale) \
                if width > 0 else 0.0
            catchment = {"id": name, "vertices": ring, "c": c, "flow_length_ft": flow_length,
                         "slope": slope / 100.0, "inlet_node_id": None}
            if OUTLINE_TAG in tag_parts(self.tags.get(("SUBCATCH", name), "")):
                # The export's outline that no structure counts: it adds no area to a node.
                if len(ring) >= 3:
                    catchments.append(catchment)
                continue
            total = node["area_ac"] + area
            if total > 0:
                # A node's first area takes its C as it stands, so that one subcatchment keeps C exactly.
                node["c"] = c if node["area_ac"] == 0 else (node["c"] * node["area_ac"] + c * area) / total
                node["area_ac"] = total
            if node["kind"] == "junction" and area > 0:
                node["kind"] = "inlet"
            if len(ring) >= 3:
                catchments.append({**catchment, "drains_to": outlet, "area_ac": area})
        return catchments

    def runoff_coefficient(self, name: str, written: str, impervious: float) -> float:
        """C of a subcatchment: the export's exact C where its tag stands beside the
        %impervious written for it, else C from the %impervious on this import's scale."""
        tag = next((part for part in tag_parts(self.tags.get(("SUBCATCH", name), "")) if part.startswith(C_TAG)), "")
        if tag:
            try:
                tagged = float(tag[len(C_TAG):])
            except ValueError:
                tagged = math.nan
            if math.isfinite(tagged) and written == impervious_text(tagged):
                return tagged
            self.report.approximated.append(("subcatchment", name, f"tag {tag} does not match its %impervious "
                                             f"{written}: C from the %impervious"))
        return c_of_impervious(impervious, self.c_pervious, self.c_impervious)

    def read_coordinates(self, nodes: Dict[str, dict]) -> None:
        section = self.section("COORDINATES")
        for number, tokens in section.rows(3):
            found = self.find(nodes, tokens[0])
            if found is not None:
                nodes[found]["x"] = section.number(number, tokens, 1, "x")
                nodes[found]["y"] = section.number(number, tokens, 2, "y")
