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


class DesignOptionError(ValueError):
    """An option of `design` that cannot be used (a bad catalogue, a negative limit, an
    unknown fixed pipe), as opposed to a network that cannot be read."""


def design(source: Union[str, "os.PathLike[str]", None] = None, *, text: Optional[str] = None,
           format: Optional[str] = None, catalogue: Optional[Catalogue] = None, max_fill: float = 1.0,
           min_size: Optional[float] = None, no_smaller_downstream: bool = True,
           min_velocity: Optional[float] = None, max_velocity: Optional[float] = None,
           min_cover: Optional[float] = None, min_freeboard: Optional[float] = None,
           fixed: Iterable[str] = ()) -> Dict[str, Any]:
    """Sizes every pipe of the network from `catalogue` (shape -> sizes in inches: diameters
    for "circular", [rise, span] pairs for "box", "elliptical" and "arch", each list in
    order of full area; None for the default catalogue).

    Each pipe gets, in the forward pass, the smallest size whose just-full capacity meets
    design_q <= max_fill * capacity, not below `min_size` (in, by rise) and, with
    `no_smaller_downstream`, not below the rise of the pipes entering its upstream node;
    `fixed` pipe ids keep their size. With `min_freeboard` (ft), grade-line rounds upsize
    pipes under structures short of freeboard. Velocities (ft/s) and cover (ft) are checked
    and reported, not forced.

    Returns {"pipes", "nodes", "violations", "rounds", "sized"}; "sized" is the input
    with the new sizes, and analysing it gives exactly the design's numbers. Raises
    DesignOptionError (a ValueError) for a bad option, ValueError for a network that
    cannot be read or analysed, OSError for an unreadable file, TypeError for arguments
    of the wrong type."""
    network = resolve(source, text=text, format=format)
    if not isinstance(no_smaller_downstream, bool):
        raise TypeError(f"no_smaller_downstream must be a bool, not {type(no_smaller_downstream).__name__}")
    result = json.loads(_core.design(network.text, network.format, _catalogue(catalogue), max_fill, min_size,
                                     no_smaller_downstream, min_velocity, max_velocity, min_cover, min_freeboard,
                                     _fixed(fixed)))
    if "option_error" in result:
        raise DesignOptionError(result["option_error"])
    return cast(Dict[str, Any], result)


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


def _fixed(fixed: Iterable[str]) -> List[str]:
    if isinstance(fixed, (str, bytes)):
        raise TypeError("fixed must be a collection of pipe ids, not a single str")
    ids = list(fixed)
    for pipe_id in ids:
        if not isinstance(pipe_id, str):
            raise TypeError(f"fixed pipe ids must be str, not {type(pipe_id).__name__}")
    return ids
