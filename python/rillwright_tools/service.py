"""Level of service: the storm at which each structure floods, and scenario sweeps.

Every figure comes from whole analyses by the core (the rainfall scaled by a multiplier,
or a project at another return period). This module runs them on the executor, round by
round, and builds the results; the core reduces each analysis to a sample (every
condition's margin and whether it holds, as packed bytes) and keeps the search.

The search is one bisection shared by every condition (a structure floods, a pipe is
reported surcharged, a pipe's grade line is above its crown). Each condition has a
bracket of two analysed multipliers: it holds at the upper end, the first analysed
multiplier at which it does, and not at the lower end, the analysed one just below.
A first batch (m = 0, m = 1, every tabulated return period, a geometric grid from
max_multiplier / 1000 to max_multiplier) makes the brackets; then every round analyses
the fewest multipliers that fall in the middle third of every open bracket, taken from
the lattice max_multiplier / 1000 * (1 + tolerance)^k, until no bracket has a lattice
multiplier inside, so that hi <= (1 + tolerance) * lo. An analysis runs only the trees
(weakly connected components) with a bracket that takes its multiplier: trees do not
affect each other. The bookkeeping and the rounds are src/service_rounds.cpp.
"""

from __future__ import annotations

import concurrent.futures
import contextlib
import json
import math
import os
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, Union, cast

from . import _core
from .executors import InlineExecutor, given_or_default, run_all, shared, unpack
from .inputs import Source, naming_loops, records, resolve
from .tables import NODE_KEYS, PIPE_KEYS

SourceLike = Union[str, "os.PathLike[str]", Source, Any, None]  # Any: a Model


# --------------------------------------------------------------------------- worker tasks
def _parse(network: Tuple[str, str]) -> Tuple[Any, str]:
    """(text, format) as the core's parsed network and its format: done once per worker."""
    text, fmt = network
    return _core.model_open(text, fmt), fmt


def scenario_sample(network: Any, multiplier: float, return_period: Optional[float],
                    trees: Optional[List[int]] = None) -> bytes:
    """Runs in a worker: one analysis of the given trees (all when None), reduced by the
    core to every condition's margin and whether it holds (the bytes a plan reads);
    `network` is (text or parsed network, format) or stands for it (executors.shared)."""
    parsed, fmt = unpack(network, _parse)
    return cast(bytes, _core.scenario_sample(parsed, fmt, multiplier, return_period, trees))


def scenario_result(network: Any, multiplier: float, return_period: Optional[float]) -> Dict[str, Any]:
    """Runs in a worker: the module's result dict of one scenario; `network` as for
    scenario_sample."""
    parsed, fmt = unpack(network, _parse)
    return dict(_core.analyze(parsed, fmt, multiplier, return_period))


def _shipped(pool: concurrent.futures.Executor, network: Source) -> Any:
    """The network as the tasks on `pool` receive it: the parsed network itself when they
    run here, else its text, which each worker parses once (executors.shared)."""
    text = (network.text, network.format)
    if not isinstance(pool, InlineExecutor):
        return shared(pool, text)
    return shared(pool, text, inline=(network.core if network.model is not None else _parse(text)[0], network.format))


# --------------------------------------------------------------------------- inputs
def _source(source: SourceLike, text: Optional[str], format: Optional[str]) -> Source:
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
def _check_search(max_multiplier: Any, tolerance: Any, max_analyses: Any) -> Tuple[float, float]:
    for name, value in (("max_multiplier", max_multiplier), ("tolerance", tolerance)):
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise TypeError(f"{name} must be a number, not {type(value).__name__}")
        if not (math.isfinite(value) and value > 0.0):
            raise ValueError(f"{name} must be a finite number above 0, not {value!r}")
    if tolerance < MIN_TOLERANCE:
        raise ValueError(f"tolerance must be at least {MIN_TOLERANCE:g} (a finer lattice would not fit "
                         f"in memory), not {tolerance!r}")
    if max_analyses is not None:
        if isinstance(max_analyses, bool) or not isinstance(max_analyses, int):
            raise TypeError(f"max_analyses must be an int or None, not {type(max_analyses).__name__}")
        if max_analyses < 1:
            raise ValueError(f"max_analyses must be at least 1, not {max_analyses!r}")
    return float(max_multiplier), float(tolerance)


MIN_TOLERANCE = 1e-5  # the core keeps the lattice, ln(1000) / ln(1 + tolerance) multipliers


@naming_loops
def level_of_service(source: SourceLike = None, *, max_multiplier: float = 10.0, tolerance: float = 0.01,
                     max_analyses: Optional[int] = None,
                     executor: Optional[concurrent.futures.Executor] = None,
                     progress: Optional[Callable[[int, int], None]] = None,
                     text: Optional[str] = None, format: Optional[str] = None) -> Dict[str, Any]:
    """For every structure that is not an outfall, the bracket of rainfall multipliers m
    in [0, max_multiplier] between which its grade line first rises above its rim; for
    every pipe, the brackets at which it is first reported surcharged and its grade line
    first rises above its crown. The multiplier scales the intensity at every time of
    concentration (the IDF coefficient a or the fixed intensity); everything else is
    recomputed. For a project with `idf_curves`, also the smallest tabulated return
    period at which each structure floods and each pipe surcharges.

    A bracket is two analysed multipliers: the condition holds at `*_multiplier` (the
    smallest analysed multiplier at which it does) and not at `*_multiplier_low` (the
    largest analysed one below it), nor at any analysed multiplier below that. Without
    `max_analyses` the search runs until every bracket above max_multiplier / 1000 has
    hi <= (1 + tolerance) * lo; one that holds at max_multiplier / 1000 but not at 0
    is (0, that multiplier); one that holds with no rain is (0, 0); one that never holds
    up to max_multiplier is (None, None). With `max_analyses` (at least the first batch:
    0, 1, 28 grid multipliers and the tabulated return periods) the search stops there
    and the brackets are as wide as they are. Analyses run on `executor` (default: all
    local cores); `progress(analyses, open_brackets)` is called after each round.

    Returns {"nodes": [{"id", "flood_multiplier_low", "flood_multiplier",
    "flood_return_period", "freeboard"}], "pipes": [{"id", "surcharge_multiplier_low",
    "surcharge_multiplier", "pressurized_multiplier_low", "pressurized_multiplier",
    "surcharge_return_period"}], "analyses": int, "pipe_analyses": int}; "freeboard" is
    rim minus grade line at the design storm, "analyses" counts the scenario analyses and
    "pipe_analyses" the pipes analysed, summed over them."""
    network = _source(source, text, format)
    max_multiplier, tolerance = _check_search(max_multiplier, tolerance, max_analyses)
    periods = tabulated_return_periods(network)
    plan, grid = _core.service_plan(network.core, network.format, max_multiplier, tolerance)
    if max_analyses is not None and max_analyses < len(grid) + len(periods):
        raise ValueError(f"max_analyses must be at least {len(grid) + len(periods)}, the first batch "
                         f"(0, 1, the grid and the tabulated return periods), not {max_analyses}")
    node_trees, pipe_trees = _core.service_trees(plan)
    tree_pipes = [0] * (max(node_trees, default=-1) + 1)
    for tree in pipe_trees:
        tree_pipes[tree] += 1
    with contextlib.ExitStack() as stack:
        pool = stack.enter_context(given_or_default(executor))
        shipped = stack.enter_context(_shipped(pool, network))

        def analyse(scenarios: Sequence[Tuple[float, Optional[float], Optional[List[int]]]]) -> List[bytes]:
            return run_all(pool, scenario_sample, [(shipped, m, rp, trees) for m, rp, trees in scenarios])

        first = analyse([(m, None, None) for m in grid] + [(1.0, float(rp), None) for rp in periods])
        used, pipe_analyses = len(first), len(first) * len(pipe_trees)
        got = first[:len(grid)]
        while True:
            picks, still_open = _core.service_round(
                plan, got, (max_analyses - used) if max_analyses is not None else 1 << 62)
            if progress is not None:
                progress(used, still_open)
            if not picks:
                break
            got = analyse([(m, None, trees) for m, trees in picks])
            used += len(picks)
            pipe_analyses += sum(tree_pipes[t] for _, trees in picks for t in trees)
        lows, highs = _core.service_values(plan)
        design, _ = _core.service_sample_parts(plan, first[grid.index(1.0)])
        by_period = [_core.service_sample_parts(plan, sample)[1] for sample in first[len(grid):]]
    shape = records(network)
    outfall = [node["kind"] == "outfall" for node in shape["nodes"]]
    node_count, pipe_count = len(shape["nodes"]), len(shape["pipes"])

    def first_period(index: int) -> Optional[int]:
        return next((rp for rp, held in zip(periods, by_period) if held[index]), None)

    nodes = [{"id": node["id"], "flood_multiplier_low": lows[i], "flood_multiplier": highs[i],
              "flood_return_period": first_period(i), "freeboard": 0.0 - design[i]}
             for i, node in enumerate(shape["nodes"]) if not outfall[i]]
    pipes = [{"id": pipe["id"],
              "surcharge_multiplier_low": lows[node_count + j], "surcharge_multiplier": highs[node_count + j],
              "pressurized_multiplier_low": lows[node_count + pipe_count + j],
              "pressurized_multiplier": highs[node_count + pipe_count + j],
              "surcharge_return_period": first_period(node_count + j)}
             for j, pipe in enumerate(shape["pipes"])]
    return {"nodes": nodes, "pipes": pipes, "analyses": used, "pipe_analyses": pipe_analyses}


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


@naming_loops
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
    with given_or_default(executor) as pool, _shipped(pool, network) as shipped:
        results = run_all(pool, scenario_result, [(shipped, 1.0 if m is None else m, t) for m, t in scenarios])
    rows: List[Dict[str, Any]] = []
    blank = dict.fromkeys(SWEEP_KEYS)
    for (m, t), result in zip(scenarios, results):
        lead = {"scenario": _label(m, t) or "design", "multiplier": m, "return_period": t}
        for element in ("pipe", "node"):
            for record in result[element + "s"]:
                rows.append({**blank, **lead, "element": element, **record})
    return rows
