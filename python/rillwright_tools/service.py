"""Level of service: the storm at which each structure floods, and scenario sweeps.

Every figure comes from whole analyses by the core (`_core.analyze` with the rainfall
scaled by a multiplier, or a project at another return period); this module only
chooses the scenarios and reads the results.

How the crossings share analyses (at most ANALYSIS_BUDGET = 100 for any network size):
1. One batch: the pipes' capacities (a forward pass, counted as an analysis), m = 0, the
   design storm m = 1, every tabulated return period, and GRID_POINTS multipliers on a
   geometric grid from max_multiplier / GRID_SPAN to max_multiplier (about 16 % apart).
   Every analysis is reduced to the conditions' margins and flags and to each pipe's
   regime (part full, free supercritical outlet, surcharged) with the margins that
   switch it.
2. For every condition (a structure floods; a pipe surcharges; its grade line rises
   above its crown) the analysed multipliers in order bracket the first crossing: the
   last at which it does not hold and the first at which it does. Each condition has a
   margin that changes sign there (grade line minus rim, grade line minus crown, design
   flow minus the section's largest flow), interpolated across the bracket.
3. A bracket narrower than TOLERANCE is settled. Grade lines jump where a pipe they
   depend on (one below, or one into a node below) changes regime inside the bracket;
   each switch is placed from a smooth margin (see "jumps"). With one switch, the
   pieces beside the bracket settle it: at the switch when the jump carries the margin
   over, else on the piece where it changes sign, after one analysis next to the switch
   on that side. With several, the bracket asks for analyses between them. Without
   any, a margin that is smooth (the slope across the bracket is like the slopes beside
   it, and the parabolas through the neighbours find the same zero) is settled; one that
   is not asks for an analysis at its estimate and at the bracket's middle (a jump
   nobody predicted is cornered by halving). The asks of a round are merged (asks
   within CLUSTER of each other become one analysis) and served most-asked first, up to
   half the analyses left; every new analysis narrows every bracket it falls in,
   whoever asked for it.
4. Rounds repeat until nothing asks or the budget is spent; a bracket still open keeps
   the estimate from its narrowest bracket. So the cost never exceeds the budget, and
   the accuracy is that of the settled brackets (within 1 %) wherever the distinct
   switches fit in it: on networks of twenty or so pipes nearly every crossing; on
   larger networks the crossings beyond the budget are estimated across wider brackets.
"""

from __future__ import annotations

import bisect
import concurrent.futures
import contextlib
import json
import math
import os
from typing import Any, Dict, List, Optional, Sequence, Tuple, Union, cast

from . import _core
from .executors import given_or_default, run_all, shared, unpack
from .inputs import Source, records, resolve
from .report import NODE_KEYS, PIPE_KEYS

ANALYSIS_BUDGET = 100
GRID_POINTS = 48
GRID_SPAN = 1000.0  # the grid runs from max_multiplier / GRID_SPAN to max_multiplier
TOLERANCE = 0.008  # a bracket this narrow (relative) is settled: the accuracy aimed at
ASK_OFFSET = 0.003  # a refinement asks for estimate * (1 -/+ ASK_OFFSET)
CLUSTER = 0.004  # asks closer than this (relative) share one analysis
SAME_JUMP = 0.002  # pipes switching regime this close together (relative) make one jump
PIECE_POINTS = 2  # a piece beside a bracket is extrapolated from this many analyses
REFINE_ROUNDS = 12
DENSE_ROUNDS = 1  # rounds that split open brackets evenly,
DENSE_SHARE = 25  # each with at most this many analyses,
DENSE_MIN = 2
DENSE_FINEST = 0.02  # into parts no narrower than this
ROUND_SHARE = 2  # a round uses at most half of the analyses left,
MIN_ROUND = 8  # but at least this many, so that large networks need few rounds

SourceLike = Union[str, "os.PathLike[str]", Source, None]


# --------------------------------------------------------------------------- worker tasks
def scenario_margins(network: Any, multiplier: float, return_period: Optional[float]) -> "Sample":
    """Runs in a worker: one analysis, reduced to every condition's margin and whether it
    holds, in the order nodes (flooding), pipes (surcharge), pipes (grade line above crown).
    `network` is (text, format, rims, crowns up, crowns down, capacities), or stands for it
    (executors.shared)."""
    text, fmt, rims, crowns_up, crowns_dn, capacities, inverts_up, rises = unpack(network)
    result, supercritical = _core.analyze(text, fmt, multiplier, return_period, outlet_margins=True)
    nodes, pipes = result["nodes"], result["pipes"]
    margins = [node["hgl"] - rim for node, rim in zip(nodes, rims)]
    holds = [node["floods"] for node in nodes]
    margins += [pipe["design_q"] - capacity for pipe, capacity in zip(pipes, capacities)]
    holds += [pipe["surcharged"] for pipe in pipes]
    above = [max(_difference(pipe["hgl_up"], up), _difference(pipe["hgl_dn"], dn))
             for pipe, up, dn in zip(pipes, crowns_up, crowns_dn)]
    margins += above
    holds += [value > 0.0 for value in above]
    return margins, bytes(holds), _regimes(pipes, supercritical, inverts_up, rises, crowns_dn)


def _regimes(pipes: List[Dict[str, Any]], supercritical: List[float], inverts_up: List[float],
             rises: List[float], crowns_dn: List[float]) -> Tuple[bytes, List[float], List[float]]:
    """Each pipe's regime as the grade line solved it (0 part full with its outlet drowned
    or subcritical, 1 a free supercritical outlet, 2 surcharged) and the two margins whose
    signs switch a part-full pipe between the first two: the core's supercritical-outlet
    margin, and the outlet level minus the outlet crown. A free outlet is read off the
    result: its upstream grade line is the normal depth."""
    codes, drowned = [], []
    for pipe, invert, rise, crown in zip(pipes, inverts_up, rises, crowns_dn):
        normal = pipe["normal_depth"] if pipe["normal_depth"] is not None else rise
        free = not pipe["surcharged"] and pipe["hgl_up"] == invert + normal
        codes.append(2 if pipe["surcharged"] else int(free))
        drowned.append(_difference(pipe["hgl_dn"], crown))
    return bytes(codes), list(supercritical), drowned


def pipe_capacities(text: str, fmt: str) -> List[float]:
    """Runs in a worker: the flow above which each pipe is flagged as surcharged."""
    return list(_core.max_capacities(text, fmt))


def _difference(value: Optional[float], reference: float) -> float:
    return -math.inf if value is None else value - reference


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
Sample = Tuple[List[float], bytes, Tuple[bytes, List[float], List[float]]]


class _Samples:
    """The analysed multipliers and their reduced results, in multiplier order."""

    def __init__(self) -> None:
        self.by_multiplier: Dict[float, Sample] = {}

    def columns(self, limit: float) -> "_Columns":
        """Multipliers up to `limit` and, per condition, its margins and flags across them;
        per analysis the pipes' regimes, and per pipe its switch margins across them."""
        multipliers = sorted(m for m in self.by_multiplier if m <= limit)
        rows = [self.by_multiplier[m] for m in multipliers]
        return _Columns(multipliers, list(zip(*(r[0] for r in rows))), list(zip(*(r[1] for r in rows))),
                        [r[2][0] for r in rows], _Column([r[2][1] for r in rows]),
                        _Column([r[2][2] for r in rows]))


class _Column:
    """Per pipe, one value of every analysis; made when first asked for, as only the pipes
    that change regime inside a bracket are ever looked at."""

    def __init__(self, rows: List[List[float]]) -> None:
        self.rows = rows
        self.made: Dict[int, Tuple[float, ...]] = {}

    def __getitem__(self, q: int) -> Tuple[float, ...]:
        if q not in self.made:
            self.made[q] = tuple(row[q] for row in self.rows)
        return self.made[q]


class _Columns:
    __slots__ = ("multipliers", "margins", "flags", "regimes", "supercritical", "drowned", "switches")

    def __init__(self, multipliers: List[float], margins: List[Tuple[float, ...]], flags: List[Tuple[int, ...]],
                 regimes: List[bytes], supercritical: "_Column", drowned: "_Column") -> None:
        self.multipliers, self.margins, self.flags = multipliers, margins, flags
        self.regimes, self.supercritical, self.drowned = regimes, supercritical, drowned
        self.switches: Dict[Tuple[int, int, int, int, float], Optional[List[float]]] = {}


def _root(points: Sequence[Tuple[float, float]], lo: float, hi: float) -> Optional[float]:
    """The zero in [lo, hi] of the polynomial through `points` (two or three (m, g) pairs)."""
    if any(not math.isfinite(g) for _, g in points):
        return None
    if len(points) == 2:
        (m0, g0), (m1, g1) = points
        if g1 == g0:
            return None
        return m0 - g0 * (m1 - m0) / (g1 - g0)
    (m0, g0), (m1, g1), (m2, g2) = points
    # Newton's divided differences, then the root of a x^2 + b x + c inside the bracket.
    d01, d12 = (g1 - g0) / (m1 - m0), (g2 - g1) / (m2 - m1)
    a = (d12 - d01) / (m2 - m0)
    b = d01 - a * (m0 + m1)
    c = g0 - m0 * d01 + a * m0 * m1
    if a == 0.0:
        return -c / b if b != 0.0 else None
    disc = b * b - 4.0 * a * c
    if disc < 0.0:
        return None
    root = math.sqrt(disc)
    inside = [r for r in ((-b - root) / (2.0 * a), (-b + root) / (2.0 * a)) if lo <= r <= hi]
    return inside[0] if len(inside) == 1 else None


class _Crossing:
    """What the analyses so far say about one condition's first crossing."""

    __slots__ = ("value", "smooth", "narrow", "lo", "hi", "reach", "splits", "steady")

    def __init__(self, value: Optional[float], smooth: bool, lo: float = 0.0, hi: float = 0.0,
                 reach: Tuple[float, float] = (0.0, 0.0)) -> None:
        self.value, self.smooth, self.lo, self.hi = value, smooth, lo, hi
        self.narrow = value is None or hi <= lo * (1.0 + TOLERANCE)
        self.reach = reach  # the analyses it was made from lie in this range
        self.splits: List[float] = []  # analyses that would part the jumps inside the bracket
        self.steady = False  # no pipe it depends on changes regime inside the bracket


def _crossing(multipliers: List[float], margins: Tuple[float, ...], flags: Tuple[int, ...]) -> _Crossing:
    if flags[0]:  # multipliers[0] is 0: it holds with no rain
        return _Crossing(0.0, True)
    try:
        k = flags.index(1)
    except ValueError:
        return _Crossing(None, True)
    lo, hi = multipliers[k - 1], multipliers[k]
    reach = (multipliers[max(k - 2, 0)], multipliers[min(k + 1, len(multipliers) - 1)])
    straight = _root([(lo, margins[k - 1]), (hi, margins[k])], lo, hi)
    middle = math.sqrt(lo * hi) if lo > 0.0 else hi / 2.0
    # It does not hold at lo, so the crossing lies above it (and above 0).
    estimate = min(max(straight, lo), hi) if straight is not None and straight > 0.0 else middle
    if hi <= lo * (1.0 + TOLERANCE):
        return _Crossing(estimate, True, lo, hi, reach)
    if straight is None or not lo < straight <= hi:
        return _Crossing(estimate, False, lo, hi, reach)
    # Smooth: the slope across the bracket is like the slopes next to it (a jump makes it
    # much steeper), and the parabolas through the neighbours find the same zero.
    slope = (margins[k] - margins[k - 1]) / (hi - lo)
    sides = [i for i in (k - 1, k + 1) if 1 <= i < len(multipliers) and i != k and (i < k or flags[i])]
    curved, alike = [], True
    for i in sides:
        a, b = (i - 1, i) if i < k else (k, i)
        beside = (margins[b] - margins[a]) / (multipliers[b] - multipliers[a])
        alike = alike and math.isfinite(beside) and beside > 0.0 and slope <= 3.0 * beside and beside <= 3.0 * slope
        trio = (k - 2, k - 1, k) if i < k else (k - 1, k, k + 1)
        if min(trio) >= 0:
            curved.append(_root([(multipliers[t], margins[t]) for t in trio], lo, hi))
    smooth = alike and bool(curved) and all(c is not None and abs(c - straight) <= 0.25 * TOLERANCE * straight
                                            for c in curved)
    if smooth:
        estimate = sum(curved) / len(curved)  # type: ignore[arg-type]
    return _Crossing(estimate, smooth, lo, hi, reach)


# --------------------------------------------------------------------------- jumps
# A grade line is smooth in m between the multipliers at which pipes downstream change
# regime (surcharge; a free supercritical outlet drowned or no longer supercritical):
# there it jumps. Each switch is found from a margin that is itself smooth (design flow
# minus the section's largest flow; critical depth with its margin minus normal depth;
# outlet level minus outlet crown). With a single switch inside a bracket, the pieces
# on either side, extrapolated from the analyses beside the bracket, place the crossing
# without more analyses: at the switch when the jump carries the margin above zero,
# else on the piece where it changes sign.

def _smooth_root(multipliers: List[float], values: Tuple[float, ...], k: int) -> Optional[float]:
    """The zero between multipliers k-1 and k of a smooth margin: the median of the line
    and the parabolas through the neighbours that find one there."""
    lo, hi = multipliers[k - 1], multipliers[k]
    straight = _root([(lo, values[k - 1]), (hi, values[k])], lo, hi)
    if straight is None:
        return None
    found = [straight]
    for trio in ((k - 2, k - 1, k), (k - 1, k, k + 1)):
        if trio[0] >= 0 and trio[2] < len(multipliers):
            curved = _root([(multipliers[t], values[t]) for t in trio], lo, hi)
            if curved is not None:
                found.append(curved)
    found.sort()
    return found[len(found) // 2] if len(found) != 2 else 0.5 * (found[0] + found[1])


def _switches(columns: _Columns, k: int, pipes: Sequence[int], surcharge_row: int) -> Tuple[List[float], bool]:
    """Where the given pipes (a path, downstream last) that change regime between
    analyses k-1 and k switch, ascending, and whether all of them are placed (else only
    those below the first that is not)."""
    before, after = columns.regimes[k - 1], columns.regimes[k]
    found: List[float] = []  # the switches further down the path
    changed = [position for position, q in enumerate(pipes) if before[q] != after[q]]
    for position in reversed(changed):
        q = pipes[position]
        # Many conditions share a pipe and what lies below it (the same switches, found
        # in the same order): each is worked out once.
        key = (k, q, len(pipes) - position, len(found), found[-1] if found else 0.0)
        if key not in columns.switches:
            columns.switches[key] = _pipe_switches(columns, k, q, surcharge_row, _distinct(found),
                                                   pipes[position + 1:])
        placed = columns.switches[key]
        if placed is None:
            # Placed only once analyses part the switches further down.
            return sorted(found), False
        found.extend(placed)
    return sorted(found), True


def _pipe_switches(columns: _Columns, k: int, q: int, surcharge_row: int, below: List[float],
                   pipes_below: Sequence[int]) -> Optional[List[float]]:
    """Where pipe q, whose regime differs between analyses k-1 and k, switches (one
    multiplier, or two when a free outlet stops being supercritical before it
    surcharges); None when it cannot be placed. `below` are the switches of the pipes
    below it (`pipes_below`) inside the bracket."""
    before, after = columns.regimes[k - 1][q], columns.regimes[k][q]
    lo, hi = columns.multipliers[k - 1], columns.multipliers[k]
    supercritical, drowned = columns.supercritical[q], columns.drowned[q]
    roots: List[Optional[float]] = []
    extra: List[float] = []
    if (before == 2) != (after == 2):
        # The design flow and the capacity are smooth in m.
        roots.append(_smooth_root(columns.multipliers, columns.margins[surcharge_row + q], k))
        if 1 in (before, after) and (supercritical[k - 1] > 0.0) != (supercritical[k] > 0.0):
            root = _smooth_root(columns.multipliers, supercritical, k)
            if root is not None and lo < root <= hi:
                extra.append(root)
    else:
        if (supercritical[k - 1] > 0.0) != (supercritical[k] > 0.0):
            roots.append(_smooth_root(columns.multipliers, supercritical, k))
        if (drowned[k - 1] > 0.0) != (drowned[k] > 0.0):
            # The outlet level is a grade line too: it jumps where a pipe further down
            # switches; between several, the line across the bracket is a first guess
            # that analyses between the switches will improve.
            jump = _piecewise_root(columns, drowned, k, below, pipes_below) if below else None
            roots.append(jump if jump is not None else _smooth_root(columns.multipliers, drowned, k))
    placed = [r for r in roots if r is not None and lo < r <= hi]
    return extra + [min(placed)] if placed else None


def _distinct(switches: List[float]) -> List[float]:
    """The switches, ascending, those within SAME_JUMP of the one before merged into it."""
    ordered = sorted(switches)
    distinct = ordered[:1]
    for e in ordered[1:]:
        if e > distinct[-1] * (1.0 + SAME_JUMP):
            distinct.append(e)
    return distinct


def _piecewise_root(columns: _Columns, values: Tuple[float, ...], k: int, switches: List[float],
                    pipes: Sequence[int]) -> Optional[float]:
    """The zero between analyses k-1 and k of a margin that jumps at the one switch of the
    given pipes inside; None with several."""
    if len(switches) != 1:
        return None
    e = switches[0]
    left = _piece(columns, values, k - 1, -1, pipes)
    right = _piece(columns, values, k, 1, pipes)
    if len(left) < 2 or len(right) < 2:
        return None
    if _evaluate(left, e) >= 0.0:
        return _bisect(left, columns.multipliers[k - 1], e)
    if _evaluate(right, e) > 0.0:
        return e
    return _bisect(right, e, columns.multipliers[k])


def _piece(columns: _Columns, margins: Tuple[float, ...], start: int, step: int,
           pipes: Sequence[int]) -> List[Tuple[float, float]]:
    """Up to PIECE_POINTS analyses from `start` on (step -1: down, 1: up) at which the
    given pipes keep the regimes they have at `start`: one smooth piece of the margin."""
    regimes = columns.regimes
    points: List[Tuple[float, float]] = []
    i = start
    while 0 <= i < len(columns.multipliers) and len(points) < PIECE_POINTS and math.isfinite(margins[i]):
        if i != start and any(regimes[i][q] != regimes[start][q] for q in pipes):
            break
        points.append((columns.multipliers[i], margins[i]))
        i += step
    return points


def _evaluate(points: List[Tuple[float, float]], x: float) -> float:
    """The polynomial through `points` (one to three, distinct multipliers) at x."""
    total = 0.0
    for i, (mi, gi) in enumerate(points):
        term = gi
        for j, (mj, _) in enumerate(points):
            if j != i:
                term *= (x - mj) / (mi - mj)
        total += term
    return total


def _jump_crossing(columns: _Columns, margins: Tuple[float, ...], k: int, pipes: Sequence[int],
                   surcharge_row: int) -> Optional[_Crossing]:
    """The crossing in the bracket between analyses k-1 and k when pipes among `pipes`
    (those whose regime the margin depends on) switch inside it; None when none does or
    a switch cannot be placed."""
    switches, complete = _switches(columns, k, pipes, surcharge_row)
    distinct = _distinct(switches)
    if not distinct or (not complete and len(distinct) == 1):
        return None
    ms = columns.multipliers
    lo, hi = ms[k - 1], ms[k]
    reach = (ms[max(k - 3, 0)], ms[min(k + 2, len(ms) - 1)])
    if len(distinct) > 1:
        crossing = _Crossing(math.sqrt(lo * hi) if lo > 0.0 else hi / 2.0, False, lo, hi, reach)
        crossing.splits = [math.sqrt(a * b) for a, b in zip(distinct, distinct[1:])]
        return crossing
    e = distinct[0]
    left = _piece(columns, margins, k - 1, -1, pipes)
    right = _piece(columns, margins, k, 1, pipes)
    if not left or not right:
        return None
    if len(left) < 2 or len(right) < 2:
        # A piece known at one analysis only: one next to the switch on that side.
        near = e * (1.0 - ASK_OFFSET) if len(left) < 2 else e * (1.0 + ASK_OFFSET)
        if not lo < near < hi:
            return None
        crossing = _Crossing(e, False, lo, hi, reach)
        crossing.splits = [near]
        return crossing
    if _evaluate(left, e) < 0.0 < _evaluate(right, e):
        crossing = _Crossing(e, True, lo, hi, reach)
        crossing.narrow = True
        return crossing
    # The margin changes sign on one piece, extrapolated from afar: an analysis next to
    # the switch on that side brings the piece's own bracket.
    below = _evaluate(left, e) >= 0.0
    value = _bisect(left, lo, e) if below else _bisect(right, e, hi)
    crossing = _Crossing(value, False, lo, hi, reach)
    near = e * (1.0 - ASK_OFFSET) if below else e * (1.0 + ASK_OFFSET)
    if (e - lo if below else hi - e) <= TOLERANCE * lo or not lo < near < hi:
        crossing.narrow = True
    else:
        crossing.splits = [near]
    return crossing


def _bisect(points: List[Tuple[float, float]], lo: float, hi: float) -> float:
    """The zero of the polynomial through `points` between lo (below zero) and hi, or the
    end nearer to it when it has none there."""
    g_lo, g_hi = _evaluate(points, lo), _evaluate(points, hi)
    if g_lo >= 0.0:
        return lo
    if g_hi < 0.0:
        return hi
    for _ in range(60):
        middle = 0.5 * (lo + hi)
        if _evaluate(points, middle) > 0.0:
            hi = middle
        else:
            lo = middle
    return hi


def _downstream(outgoing: List[List[int]], incoming: List[List[int]], pipe_to: List[int],
                start: int) -> List[int]:
    """The pipes downstream of node `start`, nearest first, each followed by the other
    pipes into the node it ends at."""
    found: List[int] = []
    stack, seen = [start], {start}
    while stack:
        node = stack.pop()
        for q in outgoing[node]:
            found.append(q)
            below = pipe_to[q]
            # The other pipes into the node below set its level too.
            found.extend(s for s in incoming[below] if s != q)
            if below not in seen:
                seen.add(below)
                stack.append(below)
    return found


def _any_between(sorted_values: List[float], lo: float, hi: float) -> bool:
    at = bisect.bisect_right(sorted_values, lo)
    return at < len(sorted_values) and sorted_values[at] < hi


def _events(crossings: Sequence[_Crossing], first_pipe: int) -> List[float]:
    """Where the pipes change regime (surcharge, grade line above crown), ascending. The
    grade line and the velocities jump there, so every other margin may jump too."""
    return sorted(c.value for c in crossings[first_pipe:] if c.value)


def _nearest_events(events: List[float], lo: float, hi: float, estimate: float,
                    own: Optional[float]) -> List[float]:
    """The two events strictly inside (lo, hi) nearest to the estimate, the condition's own
    estimate left out."""
    first, last = bisect.bisect_right(events, lo), bisect.bisect_left(events, hi)
    at = bisect.bisect_left(events, estimate, first, last)
    near = [e for e in events[max(first, at - 3):min(last, at + 3)] if e != own]
    return sorted(near, key=lambda e: abs(math.log(e / estimate)))[:2]


def _asks(crossings: Sequence[_Crossing], first_pipe: int) -> List[float]:
    """The multipliers the open brackets ask for. A bracket across switches asks for what
    parts them. A smooth margin is settled by its estimate when no pipe it depends on
    changes regime inside its bracket, or no event is inside it (a pipe's surcharge
    margin is smooth whatever happens elsewhere); with events inside, the jump at one of
    them may be the crossing: pairs around the two events nearest the estimate. A margin
    that is not smooth asks for its estimate and for the bracket's middle, so that a
    jump nobody predicted is still cornered by halving."""
    events = _events(crossings, first_pipe)
    pipe_count = (len(crossings) - first_pipe) // 2
    asks: List[float] = []
    for index, crossing in enumerate(crossings):
        if crossing.narrow:
            continue
        if crossing.splits:
            asks.extend(crossing.splits)
            continue
        estimate = crossing.value
        assert estimate is not None
        lo, hi = crossing.lo, crossing.hi
        inside = _nearest_events(events, lo, hi, estimate, estimate if index >= first_pipe else None)
        if crossing.smooth and (crossing.steady or not inside or first_pipe <= index < first_pipe + pipe_count):
            continue
        centres = inside or [estimate]
        wanted = [c * f for c in centres for f in (1.0 - ASK_OFFSET, 1.0 + ASK_OFFSET)]
        if not crossing.smooth:
            # A margin that is not smooth: one analysis at the estimate, and the middle.
            wanted = [estimate, math.sqrt(lo * hi) if lo > 0.0 else hi / 2.0]
        asks.extend(m for m in wanted if lo < m < hi)
    return asks


def _groups(asks: List[float]) -> List[List[float]]:
    """The asks, ascending, in groups within CLUSTER of their first: one analysis each."""
    asks.sort()
    groups: List[List[float]] = []
    for m in asks:
        if groups and m <= groups[-1][0] * (1.0 + CLUSTER):
            groups[-1].append(m)
        else:
            groups.append([m])
    return groups


def _splits(crossings: Sequence[_Crossing], budget: int) -> List[float]:
    """Up to `budget` multipliers that split the brackets still open, spread over them by
    how many crossings each holds: a gap between two analyses holding c open brackets,
    split evenly by n new analyses into n + 1 parts, takes the next analysis while that
    narrows the summed (logarithmic) width of the brackets the most."""
    open_in: Dict[Tuple[float, float], int] = {}
    for crossing in crossings:
        if not crossing.narrow and crossing.lo > 0.0:
            gap = (crossing.lo, crossing.hi)
            open_in[gap] = open_in.get(gap, 0) + 1
    shares = {gap: 0 for gap, count in open_in.items() if count >= DENSE_MIN}

    def gain(gap: Tuple[float, float]) -> float:
        n, width = shares[gap], math.log(gap[1] / gap[0])
        if width / (n + 1) <= DENSE_FINEST:
            return 0.0
        return open_in[gap] * width * (1.0 / (n + 1) - 1.0 / (n + 2))

    for _ in range(budget):
        best = max(shares, key=gain, default=None)
        if best is None or gain(best) <= 0.0:
            break
        shares[best] += 1
    points = []
    for (lo, hi), n in shares.items():
        points.extend(lo * (hi / lo) ** (j / (n + 1)) for j in range(1, n + 1))
    return sorted(points)


def _pick(groups: List[List[float]], budget: int) -> List[float]:
    """At most `budget` multipliers, one per group (its middle ask), the most-asked first,
    then the lower multipliers."""
    ranked = sorted(groups, key=lambda g: (-len(g), g[0]))[:max(budget, 0)]
    return sorted(g[len(g) // 2] for g in ranked)


def _crowns(shape: Dict[str, Any]) -> Tuple[List[float], List[float]]:
    """Crown elevations at both ends of every pipe: the pipe's own inverts, else those of
    its end nodes, a repeated node id naming its last node as in the analysis."""
    inverts = {node["id"]: node["invert"] for node in shape["nodes"]}
    up, down = [], []
    for pipe in shape["pipes"]:
        start = pipe["invert_up"] if pipe["invert_up"] is not None else inverts.get(pipe["from"], math.nan)
        end = pipe["invert_dn"] if pipe["invert_dn"] is not None else inverts.get(pipe["to"], math.nan)
        up.append(start + pipe["rise"])
        down.append(end + pipe["rise"])
    return up, down


class _Dependents:
    """The pipes whose regimes a condition's margin depends on: those downstream of the
    structure, or the pipe itself and those downstream of it."""

    def __init__(self, shape: Dict[str, Any], node_count: int) -> None:
        index = {node["id"]: i for i, node in enumerate(shape["nodes"])}  # a repeated id: the last
        self.node_count, self.pipe_count = node_count, len(shape["pipes"])
        self.pipe_to = [index.get(pipe["to"], -1) for pipe in shape["pipes"]]
        self.outgoing: List[List[int]] = [[] for _ in range(node_count)]
        self.incoming: List[List[int]] = [[] for _ in range(node_count)]
        for q, pipe in enumerate(shape["pipes"]):
            if pipe["from"] in index and self.pipe_to[q] >= 0:
                self.outgoing[index[pipe["from"]]].append(q)
                self.incoming[self.pipe_to[q]].append(q)

        self.below: Dict[int, Tuple[int, ...]] = {}

    def pipes(self, condition: int) -> Sequence[int]:
        if condition < self.node_count:
            return self._below(condition)
        q = condition - self.node_count - self.pipe_count
        return (q,) + self._below(self.pipe_to[q])

    def _below(self, start: int) -> Tuple[int, ...]:
        """_downstream of the node, kept: along a chain of nodes with one pipe out each,
        a node's list is its pipe's, the other pipes into the node below, then the list
        of the node below."""
        chain: List[int] = []
        node = start
        while node not in self.below and len(self.outgoing[node]) == 1 and node not in chain:
            chain.append(node)
            node = self.pipe_to[self.outgoing[node][0]]
        if node in chain:  # a loop, which the analysis refuses anyway: walk it in full
            return tuple(_downstream(self.outgoing, self.incoming, self.pipe_to, start))
        if node not in self.below:
            self.below[node] = tuple(_downstream(self.outgoing, self.incoming, self.pipe_to, node))
        for upper in reversed(chain):
            q = self.outgoing[upper][0]
            lower = self.pipe_to[q]
            self.below[upper] = (q,) + tuple(s for s in self.incoming[lower] if s != q) + self.below[lower]
        return self.below[start]


def _grid(max_multiplier: float) -> List[float]:
    ratio = GRID_SPAN ** (1.0 / (GRID_POINTS - 1))
    return [max_multiplier / ratio ** k for k in range(GRID_POINTS - 1, 0, -1)] + [max_multiplier]


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
        # The capacities (a forward pass, counted as an analysis) run while this process
        # reads the records.
        capacity_job = pool.submit(pipe_capacities, network.text, network.format)
        shape = records(network)
        periods = tabulated_return_periods(network)
        outfall = [node["kind"] == "outfall" for node in shape["nodes"]]
        rims = [node["rim"] for node in shape["nodes"]]
        crowns_up, crowns_dn = _crowns(shape)
        node_count, pipe_count = len(rims), len(crowns_up)
        capacities = capacity_job.result()
        rises = [pipe["rise"] for pipe in shape["pipes"]]
        inverts_up = [crown - rise for crown, rise in zip(crowns_up, rises)]
        everything = (network.text, network.format, rims, crowns_up, crowns_dn, capacities, inverts_up, rises)
        shipped = stack.enter_context(shared(pool, everything))

        def analyse(scenarios: Sequence[Tuple[float, Optional[float]]]) -> List[Sample]:
            return run_all(pool, scenario_margins, [(shipped, m, rp) for m, rp in scenarios])

        grid = sorted({0.0, 1.0, *_grid(max_multiplier)})
        first = analyse([(m, None) for m in grid] + [(1.0, float(rp)) for rp in periods])
        samples = _Samples()
        samples.by_multiplier.update(zip(grid, first))
        design = samples.by_multiplier[1.0]
        by_period = first[len(grid):]
        used = 1 + len(first)

        # A crossing is worked out again only when a new analysis falls among those it
        # was made from; a settled bracket only narrows with more analyses, so it is kept.
        crossings: List[Optional[_Crossing]] = [None] * (node_count + 2 * pipe_count)
        dependents = _Dependents(shape, node_count)

        def update(new: List[float]) -> List[_Crossing]:
            if new or (crossings and crossings[0] is None):
                columns = samples.columns(max_multiplier)
                for j, (g, f) in enumerate(zip(columns.margins, columns.flags)):
                    known = crossings[j]
                    if known is None or (not known.narrow and _any_between(new, *known.reach)):
                        found = _crossing(columns.multipliers, g, f)
                        if not found.narrow and not node_count <= j < node_count + pipe_count:
                            k, pipes = f.index(1), dependents.pipes(j)
                            before, after = columns.regimes[k - 1], columns.regimes[k]
                            if any(before[q] != after[q] for q in pipes):
                                found = _jump_crossing(columns, g, k, pipes, node_count) or found
                            else:
                                found.steady = True
                        crossings[j] = found
            return cast(List[_Crossing], crossings)

        fresh: List[float] = []  # analysed since the last update, ascending
        for _ in range(DENSE_ROUNDS):
            current = update(fresh)
            fresh = _splits(current, min(ANALYSIS_BUDGET - used, DENSE_SHARE))
            if not fresh:
                break
            samples.by_multiplier.update(zip(fresh, analyse([(m, None) for m in fresh])))
            used += len(fresh)
        for _ in range(REFINE_ROUNDS):
            current = update(fresh)
            fresh = []
            left = ANALYSIS_BUDGET - used
            if left <= 0:
                break
            groups = _groups(_asks(current, node_count))
            # When the asks far outnumber what is left, later rounds could not serve them
            # either: spend it all now rather than in many small rounds.
            budget = left if len(groups) >= 2 * left else min(left, max(MIN_ROUND, left // ROUND_SHARE))
            fresh = [m for m in _pick(groups, budget) if m not in samples.by_multiplier]
            if not fresh:
                break
            samples.by_multiplier.update(zip(fresh, analyse([(m, None) for m in fresh])))
            used += len(fresh)
        values = [c.value for c in update(fresh)]

    def first_period(index: int) -> Optional[int]:
        return next((rp for rp, (_, held, _) in zip(periods, by_period) if held[index]), None)

    nodes = [{"id": node["id"], "flood_multiplier": values[i], "flood_return_period": first_period(i),
              "freeboard": 0.0 - design[0][i]}
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
