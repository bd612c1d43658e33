"""Level of service: the storm at which each structure floods, and scenario sweeps.

Every figure comes from whole analyses by the core (the rainfall scaled by a multiplier,
or a project at another return period). This module runs them on the executor, round by
round, and builds the results. The core does the rest: a worker reduces each analysis to
a sample (`_core.scenario_sample`: every condition's margin and whether it holds, every
pipe's regime and the margins that switch it, as packed bytes), and a plan in the parent
(`_core.service_plan`, `service_round`, `service_values`) works out every condition's
crossing from the samples so far and the multipliers of the next round.

How the crossings share analyses (at most ANALYSIS_BUDGET = 100 for any network size):
a first batch (m = 0, m = 1, every tabulated return period, a geometric grid up to
max_multiplier) brackets every condition's first crossing between two analyses; a few
rounds then split the gaps that hold many open brackets; later rounds place analyses
where open brackets ask for them (beside an estimate, between the regime switches of
the pipes below, or halving a bracket across a jump nobody predicted), the most-asked
first. Each analysis narrows every bracket it falls in, whoever asked for it. Inside a
bracket a crossing is interpolated from its margin, or placed at the regime switch of a
pipe below when the jump there carries the margin over. The details and the tuning are
in src/service_rounds.cpp, service_crossings.cpp and service_asks.cpp.
"""

from __future__ import annotations

import concurrent.futures
import contextlib
import json
import math
import os
from typing import Any, Dict, List, Optional, Sequence, Tuple, Union, cast

from . import _core
from .executors import given_or_default, run_all, shared, unpack
from .inputs import Source, records, resolve
from .tables import NODE_KEYS, PIPE_KEYS

ANALYSIS_BUDGET = 100  # every analysis of a call; the core's plan shares out what is left

SourceLike = Union[str, "os.PathLike[str]", Source, None]


# --------------------------------------------------------------------------- worker tasks
def scenario_sample(network: Any, multiplier: float, return_period: Optional[float]) -> bytes:
    """Runs in a worker: one analysis, reduced by the core to every condition's margin
    and whether it holds, and every pipe's regime with the margins that switch it (the
    bytes a plan reads); `network` is (text, format) or stands for it (executors.shared)."""
    text, fmt = unpack(network)
    return cast(bytes, _core.scenario_sample(text, fmt, multiplier, return_period))


def scenario_result(network: Any, multiplier: float, return_period: Optional[float]) -> Dict[str, Any]:
    """Runs in a worker: the module's result dict of one scenario; `network` is (text,
    format) or stands for it."""
    text, fmt = unpack(network)
    return dict(_core.analyze(text, fmt, multiplier, return_period))


# --------------------------------------------------------------------------- inputs
def _source(source: SourceLike, text: Optional[str], format: Optional[str]) -> Source:
    if isinstance(source, Source):
        if text is not None:
            raise TypeError("give either a source or text=, not both")
        return source
    return resolve(source, text=text, format=format)


def tabulated_return_periods(source: Source) -> List[int]:
    """The return periods of a project's `idf_curves`, ascending; none for .rwn text."""
    if source.kind != "project":
        return []
    try:
        project = json.loads(source.text)
    except ValueError:
        return []
    curves = project.get("idf_curves") if isinstance(project, dict) else None
    periods = set()
    for entry in curves if isinstance(curves, list) else []:
        years = entry.get("rp_years") if isinstance(entry, dict) else None
        if isinstance(years, (int, float)) and not isinstance(years, bool) and math.isfinite(years):
            periods.add(int(years))
    return sorted(periods)


# --------------------------------------------------------------------------- level of service
def level_of_service(source: SourceLike = None, *, max_multiplier: float = 10.0,
                     executor: Optional[concurrent.futures.Executor] = None,
                     text: Optional[str] = None, format: Optional[str] = None) -> Dict[str, Any]:
    """For every structure that is not an outfall, the smallest rainfall multiplier m in
    (0, max_multiplier] at which its grade line rises above its rim (0 when it does with
    no rain, None when not up to max_multiplier); for every pipe, the multiplier at which
    it is first reported surcharged and at which its grade line first rises above its
    crown. The multiplier scales the intensity at every time of concentration (the IDF
    coefficient a or the fixed intensity); everything else is recomputed. For a project
    with `idf_curves`, also the smallest tabulated return period at which each structure
    floods and each pipe surcharges. Uses at most 100 analyses, run on `executor`
    (default: all local cores).

    Returns {"nodes": [{"id", "flood_multiplier", "flood_return_period", "freeboard"}],
    "pipes": [{"id", "surcharge_multiplier", "pressurized_multiplier",
    "surcharge_return_period"}], "analyses": int}; "freeboard" is rim minus grade line
    at the design storm."""
    network = _source(source, text, format)
    if isinstance(max_multiplier, bool) or not isinstance(max_multiplier, (int, float)):
        raise TypeError(f"max_multiplier must be a number, not {type(max_multiplier).__name__}")
    if not (math.isfinite(max_multiplier) and max_multiplier > 0.0):
        raise ValueError(f"max_multiplier must be a finite number above 0, not {max_multiplier!r}")
    max_multiplier = float(max_multiplier)
    with contextlib.ExitStack() as stack:
        pool = stack.enter_context(given_or_default(executor))
        shipped = stack.enter_context(shared(pool, (network.text, network.format)))

        def analyse(scenarios: Sequence[Tuple[float, Optional[float]]]) -> List[bytes]:
            return run_all(pool, scenario_sample, [(shipped, m, rp) for m, rp in scenarios])

        periods = tabulated_return_periods(network)
        plan, grid = _core.service_plan(network.text, network.format, max_multiplier)
        first = analyse([(m, None) for m in grid] + [(1.0, float(rp)) for rp in periods])
        used = len(first)
        got = first[:len(grid)]
        while True:
            fresh = _core.service_round(plan, got, ANALYSIS_BUDGET - used)
            if not fresh:
                break
            got = analyse([(m, None) for m in fresh])
            used += len(fresh)
        values = _core.service_values(plan)
        design, _ = _core.service_sample_parts(plan, first[grid.index(1.0)])
        by_period = [_core.service_sample_parts(plan, sample)[1] for sample in first[len(grid):]]
    shape = records(network)
    outfall = [node["kind"] == "outfall" for node in shape["nodes"]]
    node_count, pipe_count = len(shape["nodes"]), len(shape["pipes"])

    def first_period(index: int) -> Optional[int]:
        return next((rp for rp, held in zip(periods, by_period) if held[index]), None)

    nodes = [{"id": node["id"], "flood_multiplier": values[i], "flood_return_period": first_period(i),
              "freeboard": 0.0 - design[i]}
             for i, node in enumerate(shape["nodes"]) if not outfall[i]]
    pipes = [{"id": pipe["id"], "surcharge_multiplier": values[node_count + j],
              "pressurized_multiplier": values[node_count + pipe_count + j],
              "surcharge_return_period": first_period(node_count + j)}
             for j, pipe in enumerate(shape["pipes"])]
    return {"nodes": nodes, "pipes": pipes, "analyses": used}


# --------------------------------------------------------------------------- sweep
SWEEP_LEAD_KEYS = ("scenario", "multiplier", "return_period", "element")
SWEEP_KEYS = SWEEP_LEAD_KEYS + PIPE_KEYS + tuple(k for k in NODE_KEYS if k not in PIPE_KEYS)


def _number(value: Any, what: str) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{what} must be numbers, not {type(value).__name__}")
    if not (math.isfinite(value) and value >= 0):
        raise ValueError(f"{what} must be finite numbers not below 0, not {value!r}")
    return float(value)


def _label(multiplier: Optional[float], period: Optional[float]) -> str:
    parts = []
    if period is not None:
        parts.append(f"T{period:g}")
    if multiplier is not None:
        parts.append(f"x{multiplier:g}")
    return " ".join(parts)


def sweep(source: SourceLike = None, *, multipliers: Optional[Sequence[float]] = None,
          return_periods: Optional[Sequence[float]] = None,
          executor: Optional[concurrent.futures.Executor] = None,
          text: Optional[str] = None, format: Optional[str] = None) -> List[Dict[str, Any]]:
    """One analysis per scenario, as one long table: a row per pipe, then a row per node,
    of every scenario in turn. A scenario is a rainfall multiplier, a return period of a
    project (its IDF curve and frequency factor as the project conversion selects them),
    or, when both lists are given, every pair of them; with neither, the design storm.

    Every row has the keys SWEEP_KEYS: "scenario" (a label such as "x1.2", "T100" or
    "T100 x1.2"), "multiplier" and "return_period" (None when not varied), "element"
    ("pipe" or "node"), then the pipe result keys and the node keys "rim", "hgl",
    "freeboard", "floods"; a key that the element does not have is None."""
    network = _source(source, text, format)
    factors = [_number(m, "multipliers") for m in multipliers] if multipliers is not None else [None]
    periods = [_number(t, "return_periods") for t in return_periods] if return_periods is not None else [None]
    scenarios = [(m, t) for t in periods for m in factors]
    if not scenarios:
        return []
    with given_or_default(executor) as pool, shared(pool, (network.text, network.format)) as shipped:
        results = run_all(pool, scenario_result, [(shipped, 1.0 if m is None else m, t) for m, t in scenarios])
    rows: List[Dict[str, Any]] = []
    blank = dict.fromkeys(SWEEP_KEYS)
    for (m, t), result in zip(scenarios, results):
        lead = {"scenario": _label(m, t) or "design", "multiplier": m, "return_period": t}
        for element in ("pipe", "node"):
            for record in result[element + "s"]:
                rows.append({**blank, **lead, "element": element, **record})
    return rows
