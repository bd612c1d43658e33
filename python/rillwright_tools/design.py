"""Automatic design: every pipe's size chosen from a catalogue so that the network meets
its design criteria. The sizing, the grade-line rounds and the checks run in the core
(`_core.design`); this module turns the options into plain values and reads the result."""

from __future__ import annotations

import json
import numbers
import os
from typing import Any, Dict, Iterable, List, Mapping, Optional, Sequence, Tuple, Union, cast

from . import _core
from .inputs import resolve

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


def design(source: Union[str, "os.PathLike[str]", None] = None, *, text: Optional[str] = None,
           format: Optional[str] = None, catalogue: Optional[Catalogue] = None, max_fill: float = 1.0,
           min_size: Optional[float] = None, no_smaller_downstream: bool = True,
           min_velocity: Optional[float] = None, max_velocity: Limit = DEFAULT,
           min_cover: Optional[float] = None, min_freeboard: Optional[float] = None,
           fixed: Iterable[str] = (), profile: bool = False, match: str = "crown", min_drop: float = 0.1,
           max_drop: Optional[float] = None, min_slope: Limit = DEFAULT, max_slope: Optional[float] = None,
           min_full_velocity: Optional[float] = None, max_depth: Limit = DEFAULT,
           fixed_inverts: Iterable[str] = ()) -> Dict[str, Any]:
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
    result = json.loads(_core.design(network.text, network.format, _catalogue(catalogue), max_fill, min_size,
                                     no_smaller_downstream, min_velocity, _limit(max_velocity), min_cover,
                                     min_freeboard, _fixed(fixed), False, profile, match, min_drop, max_drop,
                                     _limit(min_slope), max_slope, min_full_velocity, _limit(max_depth),
                                     _fixed(fixed_inverts, "structure")))
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
