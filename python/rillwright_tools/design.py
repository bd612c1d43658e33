"""Automatic design: every pipe's size chosen from a catalogue so that the network meets
its design criteria. The sizing, the grade-line rounds and the checks run in the core
(`_core.design`); this module turns the options into plain values and reads the result."""

from __future__ import annotations

import json
import numbers
import os
from typing import Any, Dict, Iterable, List, Mapping, Optional, Sequence, Tuple, Union, cast

from . import _core
from .inputs import naming_loops, resolve

Catalogue = Mapping[str, Sequence[Union[float, Sequence[float]]]]


class _Default:
    """The mark of a limit left to its default (a value of its own, or none)."""

    def __repr__(self) -> str:
        return "DEFAULT"


DEFAULT = _Default()
Limit = Union[float, None, _Default]


class DesignOptionError(ValueError):
    """An option of `design` that cannot be used (a bad catalogue, a negative limit, an
    unknown fixed pipe), as opposed to a network that cannot be read."""


@naming_loops
def design(source: Union[str, "os.PathLike[str]", None] = None, *, text: Optional[str] = None,
           format: Optional[str] = None, catalogue: Optional[Catalogue] = None, max_fill: float = 1.0,
           min_size: Optional[float] = None, no_smaller_downstream: bool = True,
           min_velocity: Optional[float] = None, max_velocity: Limit = DEFAULT,
           min_cover: Optional[float] = None, min_freeboard: Optional[float] = None,
           fixed: Iterable[str] = (), profile: bool = False, match: str = "crown", min_drop: float = 0.1,
           max_drop: Optional[float] = None, min_slope: Limit = DEFAULT, max_slope: Optional[float] = None,
           min_full_velocity: Optional[float] = None, max_depth: Limit = DEFAULT,
           fixed_inverts: Iterable[str] = (), objective: str = "shallowest",
           cost: Optional[Mapping[str, Any]] = None, invert_step: float = 0.01) -> Dict[str, Any]:
    """Sizes every pipe of the network from `catalogue` (shape -> sizes in inches: diameters
    for "circular", [rise, span] pairs for "box", "elliptical" and "arch", each list in
    order of full area; None for the default catalogue).

    Each pipe gets, in the forward pass, the smallest size whose just-full capacity meets
    design_q <= max_fill * capacity, not below `min_size` (in, by rise) and, with
    `no_smaller_downstream`, not below the rise of the pipes entering its upstream node;
    `fixed` pipe ids keep their size. With `min_freeboard` (ft), grade-line rounds upsize
    pipes under structures short of freeboard. Velocities (ft/s) and cover (ft) are checked
    and reported, not forced.

    With `profile`, the inverts are designed with the sizes, upstream to downstream: each
    pipe starts as high as the cover (`min_cover`, 3 ft by default, to the crown), the
    `match` rule ("crown", "0.8" or "invert") with the pipes entering its structure and
    `min_drop` allow; each allowed size takes the steepest of the slope to the downstream
    cover, `min_slope`, the slope of `min_full_velocity` and the slope of its capacity
    (a size needing more than `max_slope` is not allowed; a pipe steeper than it for the
    cover is lowered with a drop); the size with the highest downstream invert is chosen,
    the smaller on a tie. Outfalls and `fixed_inverts` structures keep their inverts.
    The profile holds, unless given another value or None: `min_slope` the network's own
    min_slope (0.001 unless set), so no pipe is laid flatter; `max_depth` 20 ft from rim
    to invert and `max_velocity` 20 ft/s at the design flow, each pipe beyond them named
    in a violation (without the profile they are none). `max_drop` is reported. Rows gain
    the inverts, slope and cover, and "sized" is always a project.

    A pipe that no size can make carry its flow (its inverts give it no fall) keeps its
    given size, with a violation, and passes no size down through `no_smaller_downstream`,
    which takes sizes only from pipes that carry their flow.

    `objective` "shallowest" (the default) is the design above; "cost" (with `profile`)
    designs the cheapest network under the cost model `cost` instead, every invert that
    is not fixed a multiple of `invert_step` (ft; m in SI), every rule above a hard
    constraint (min_cover, match, min_drop, max_drop, min_slope, max_slope,
    min_full_velocity, max_depth, max_velocity, max_fill, min_size,
    no_smaller_downstream, fixed, fixed_inverts, the outfalls' inverts, the catalogue).
    The guarantee: for the design flows of the result, no design whose inverts lie on
    the grid (at or above its outfall's invert) and whose sizes come from the catalogue
    meets every rule and costs less. The flows depend on the design, so rounds of design
    and analysis run until the flows repeat ("rounds"; cost["flows_repeat"]). A tree with
    no grid design that meets the rules keeps the shallowest-first design and an
    "infeasible" violation names the pipe and the rule. Freeboard (min_freeboard) is
    reported, not designed for. The network must be a set of trees (one pipe out of a
    structure).

    `cost` (None: the defaults) prices the design: {"pipe_per_ft": {"circular": {"12":
    40.0, ...}, "box": {"24x36": ...}}, "excavation_per_cuft", "trench_side_ft",
    "structure_each", "structure_per_ft"}; an SI project gives "pipe_per_m" keyed in mm,
    "excavation_per_m3", "trench_side_m", "structure_per_m". A pipe costs length x price
    + excavation x length x (span + 2 x trench side) x its mean depth; each structure
    that is not an outfall structure_each + structure_per_ft x its depth. Every profile
    result has "cost": {"total", "pipes", "excavation", "structures", "objective"} (with
    "cost" also "shallowest_total" and "flows_repeat") and each pipe row a "cost".

    Returns {"pipes", "nodes", "violations", "rounds", "sized", "model"}; "sized" is the
    input with the new sizes, "model" the same as a Model (rwt.open), and analysing it
    gives exactly the design's numbers. Raises
    DesignOptionError (a ValueError) for a bad option, ValueError for a network that
    cannot be read or analysed, OSError for an unreadable file, TypeError for arguments
    of the wrong type."""
    network = resolve(source, text=text, format=format)
    for name, flag in (("no_smaller_downstream", no_smaller_downstream), ("profile", profile)):
        if not isinstance(flag, bool):
            raise TypeError(f"{name} must be a bool, not {type(flag).__name__}")
    if not isinstance(match, str):
        raise TypeError(f"match must be a str, not {type(match).__name__}")
    if not isinstance(objective, str):
        raise TypeError(f"objective must be a str, not {type(objective).__name__}")
    if (objective != "shallowest" or cost is not None) and not profile:
        raise DesignOptionError("objective and cost apply to the profile design: give profile=True")
    cost_values, cost_prices = _cost(cost)
    result = json.loads(_core.design(network.text, network.format, _catalogue(catalogue), max_fill, min_size,
                                     no_smaller_downstream, min_velocity, _limit(max_velocity), min_cover,
                                     min_freeboard, _fixed(fixed), False, profile, match, min_drop, max_drop,
                                     _limit(min_slope), max_slope, min_full_velocity, _limit(max_depth),
                                     _fixed(fixed_inverts, "structure"), objective, cost_values, cost_prices,
                                     invert_step))
    if "option_error" in result:
        raise DesignOptionError(result["option_error"])
    from .model import open as open_model  # the sized network, read once like any other

    sized_format = "rwproj" if profile or network.format == "rwproj" else "rwn"
    result["model"] = open_model(text=result["sized"], format=sized_format)
    return cast(Dict[str, Any], result)


def _limit(value: Limit) -> Any:
    """The core's form of a limit: Ellipsis for one left to its default."""
    return ... if isinstance(value, _Default) else value


def _catalogue(catalogue: Optional[Catalogue]) -> Optional[List[Tuple[str, List[Tuple[float, ...]]]]]:
    """The catalogue as (shape, [size tuples]); the core judges the shapes and sizes."""
    if catalogue is None:
        return None
    if not isinstance(catalogue, Mapping):
        raise TypeError(f"catalogue must be a mapping of shape to sizes, not {type(catalogue).__name__}")
    plain = []
    for shape, sizes in catalogue.items():
        if not isinstance(shape, str):
            raise TypeError(f"catalogue shapes must be str, not {type(shape).__name__}")
        if isinstance(sizes, (str, bytes)) or not isinstance(sizes, Iterable):
            raise TypeError(f"catalogue[{shape!r}] must be a list of sizes, not {type(sizes).__name__}")
        plain.append((shape, [_size(shape, k, size) for k, size in enumerate(sizes, 1)]))
    return plain


PRICE_KEYS = ("pipe_per_ft", "pipe_per_m")


def _cost(cost: Optional[Mapping[str, Any]]) -> Tuple[Optional[List[Tuple[str, float]]],
                                                       Optional[List[Tuple[str, List[Tuple[str, float]]]]]]:
    """The cost model as [(key, value)] and [(shape, [(size key, price)])]; the core judges
    the keys against the project's units and the sizes against the catalogue."""
    if cost is None:
        return None, None
    if not isinstance(cost, Mapping):
        raise TypeError(f"cost must be a mapping, not {type(cost).__name__}")
    values: List[Tuple[str, float]] = []
    prices: List[Tuple[str, List[Tuple[str, float]]]] = []
    for key, value in cost.items():
        if not isinstance(key, str):
            raise TypeError(f"cost keys must be str, not {type(key).__name__}")
        if key in PRICE_KEYS:
            if not isinstance(value, Mapping):
                raise TypeError(f"cost[{key!r}] must be a mapping of shape to sizes and prices")
            for shape, table in value.items():
                if not isinstance(shape, str) or not isinstance(table, Mapping):
                    raise TypeError(f"cost[{key!r}][{shape!r}] must be a mapping of size to price")
                row = []
                for size, price in table.items():
                    if not _real(price):
                        raise TypeError(f"cost[{key!r}][{shape!r}][{size!r}] must be a number, not {price!r}")
                    row.append((str(size), float(price)))
                prices.append((shape, row))
            values.append((key, 0.0))  # names the key, so the core can judge it against the units
        elif _real(value):
            values.append((key, float(value)))
        else:
            raise TypeError(f"cost[{key!r}] must be a number, not {value!r}")
    return values, prices


def _size(shape: str, position: int, size: Any) -> Tuple[float, ...]:
    if _real(size):
        return (float(size),)
    if isinstance(size, (list, tuple)) and all(_real(value) for value in size):
        return tuple(float(value) for value in size)
    raise TypeError(f"catalogue[{shape!r}] size {position} must be a number or a [rise, span] pair of numbers, "
                    f"not {size!r}")


def _real(value: Any) -> bool:
    return isinstance(value, numbers.Real) and not isinstance(value, bool)


def _fixed(fixed: Iterable[str], what: str = "pipe") -> List[str]:
    name = "fixed" if what == "pipe" else "fixed_inverts"
    if isinstance(fixed, (str, bytes)):
        raise TypeError(f"{name} must be a collection of {what} ids, not a single str")
    ids = list(fixed)
    for pipe_id in ids:
        if not isinstance(pipe_id, str):
            raise TypeError(f"{name} {what} ids must be str, not {type(pipe_id).__name__}")
    return ids
