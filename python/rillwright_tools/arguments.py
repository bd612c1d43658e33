"""Checks of the plain numbers the hand calculators take, with the messages they raise."""

from __future__ import annotations

import math
import numbers


def number(name: str, value: object) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    checked = float(value)
    if not math.isfinite(checked):
        raise ValueError(f"{name} must be finite, not {checked!r}")
    return checked


def not_negative(name: str, value: object) -> float:
    checked = number(name, value)
    if checked < 0.0:
        raise ValueError(f"{name} must not be negative, not {checked!r}")
    return checked


def positive(name: str, value: object) -> float:
    checked = number(name, value)
    if checked <= 0.0:
        raise ValueError(f"{name} must be greater than 0, not {checked!r}")
    return checked
