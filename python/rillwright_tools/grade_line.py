"""The energy line behind an analysis, as the core's grade-line pass computed it: per
pipe the velocity head and energy line at both ends, per structure the loss it charged,
the method and coefficients that charged it, and its grade and energy lines. US
customary units (ft), like the analysis.

A velocity head is V^2 / 64.4 with V the design flow over the flow area at the depth the
pass took at that end (the full area when surcharged; for a free outlet the normal depth;
at a part-full outlet no less than critical depth). An energy line is the analysis' grade
line at that end plus that velocity head; under the energy-level method a structure's
level is its energy level, so its egl equals its hgl."""

from __future__ import annotations

import copy
import json
from typing import Any, Dict, List, cast

from . import _core
from .inputs import Source, raise_with_loops

PIPE_KEYS = ("id", "velocity_head_up", "velocity_head_dn", "egl_up", "egl_dn", "structure_loss")
NODE_KEYS = ("id", "method", "coefficients", "structure_loss", "velocity_head", "hgl", "egl")


def grade_line_details(source: Source, *, inlet_aware: bool = False) -> Dict[str, List[Dict[str, Any]]]:
    """{"pipes": [rows with PIPE_KEYS], "nodes": [rows with NODE_KEYS]}, in the order of the
    module's rows; a pipe's structure_loss is the loss charged for it at its upstream
    structure (a structure's own is that of the pipe that sets its level). `method` is "junction" (coefficients junction_k, bend, k),
    "hec22_access_hole" (k0, depth_correction, diameter_correction, factor, k) or
    "hec22_energy_level" (cb, c_theta, cp, di, ei, eai, ha, ea); `velocity_head` is that of
    the outgoing pipe at its upstream end (None where no pipe leaves, as at an outfall).
    Where no loss is charged (a free outlet under the junction or access-hole method, a
    pipe without flow) structure_loss is 0 and the coefficients are empty.
    With inlet_aware, a project's inlet pass runs first and the analysis is of what its
    inlets intercept (as `inlets` reports it). Raises ValueError as the analysis does."""
    if source.model is not None:  # the model's own, from the pass of its analysis where it can
        return cast(Dict[str, List[Dict[str, Any]]], source.model.grade_line_details(inlet_aware))
    try:
        text = _core.grade_line_details(source.core, source.format, inlet_aware=bool(inlet_aware))
    except ValueError as error:
        raise_with_loops(error, source.core, source.format)
    return cast(Dict[str, List[Dict[str, Any]]], json.loads(text))


def with_energy(result: Dict[str, Any], details: Dict[str, List[Dict[str, Any]]]) -> Dict[str, Any]:
    """A copy of an analysis result whose pipe rows gain egl_up and egl_dn and whose node
    rows gain egl, structure_loss and velocity_head, matched row by row (the details must
    be of the same analysis: ValueError when the ids differ)."""
    out = copy.deepcopy(result)
    for kind, keys in (("pipes", ("egl_up", "egl_dn")), ("nodes", ("egl", "structure_loss", "velocity_head"))):
        rows, extra = out.get(kind, []), details.get(kind, [])
        if len(rows) != len(extra) or any(r.get("id") != e.get("id") for r, e in zip(rows, extra)):
            raise ValueError(f"the grade-line details' {kind} are not those of this result")
        for row, more in zip(rows, extra):
            row.update({key: more[key] for key in keys})
    return out
