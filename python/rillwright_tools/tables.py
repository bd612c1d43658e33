"""Design tables, the one-line summary, CSV files and JSON of an analysis result."""

from __future__ import annotations

import csv
import json
import math
from typing import Any, Callable, Dict, Iterable, List, Optional, Sequence, TextIO, Tuple

PIPE_KEYS = (
    "id", "from", "to", "slope", "total_ca", "tc", "travel_time", "intensity", "design_q", "capacity",
    "pct_full", "velocity", "normal_depth", "critical_depth", "hgl_up", "hgl_dn", "surcharged",
)
NODE_KEYS = ("id", "tc", "rim", "hgl", "freeboard", "floods")


def _text(value: Any) -> str:
    return "-" if value is None else str(value)


def _fixed(decimals: int, scale: float = 1.0) -> Callable[[Any], str]:
    def format_value(value: Any) -> str:
        return "-" if value is None else f"{value * scale:.{decimals}f}"
    return format_value


def _flag(word: str) -> Callable[[Any], str]:
    return lambda value: word if value else ""


# (name, unit, key, format, numeric): numbers are right-aligned, texts left-aligned.
Column = Tuple[str, str, str, Callable[[Any], str], bool]

PIPE_COLUMNS: Sequence[Column] = (
    ("Pipe", "", "id", _text, False),
    ("From", "", "from", _text, False),
    ("To", "", "to", _text, False),
    ("Slope", "ft/ft", "slope", _fixed(4), True),
    ("CA", "ac", "total_ca", _fixed(3), True),
    ("Tc", "min", "tc", _fixed(2), True),
    ("Travel", "min", "travel_time", _fixed(2), True),
    ("i", "in/hr", "intensity", _fixed(2), True),
    ("Q", "cfs", "design_q", _fixed(2), True),
    ("Capacity", "cfs", "capacity", _fixed(2), True),
    ("Full", "%", "pct_full", _fixed(0, 100.0), True),
    ("V", "ft/s", "velocity", _fixed(2), True),
    ("Normal d", "ft", "normal_depth", _fixed(3), True),
    ("Crit. d", "ft", "critical_depth", _fixed(3), True),
    ("HGL up", "ft", "hgl_up", _fixed(2), True),
    ("HGL down", "ft", "hgl_dn", _fixed(2), True),
    ("", "", "surcharged", _flag("SURCHARGED"), False),
)

NODE_COLUMNS: Sequence[Column] = (
    ("Node", "", "id", _text, False),
    ("Tc", "min", "tc", _fixed(2), True),
    ("Rim", "ft", "rim", _fixed(2), True),
    ("HGL", "ft", "hgl", _fixed(2), True),
    ("Freeboard", "ft", "freeboard", _fixed(2), True),
    ("", "", "floods", _flag("FLOODED"), False),
)


def table(rows: Iterable[Dict[str, Any]], columns: Sequence[Column]) -> List[str]:
    """Lines of an aligned table: a name line, a unit line, a rule, then one line per row."""
    cells = [[fmt(row[key]) for _, _, key, fmt, _ in columns] for row in rows]
    widths = [max([len(name), len(unit)] + [len(line[i]) for line in cells])
              for i, (name, unit, _, _, _) in enumerate(columns)]

    def line(values: Sequence[str]) -> str:
        parts = [v.rjust(w) if column[4] else v.ljust(w) for v, w, column in zip(values, widths, columns)]
        return "  ".join(parts).rstrip()

    return [
        line([c[0] for c in columns]),
        line([c[1] for c in columns]),
        "  ".join("-" * w for w in widths if w).rstrip(),
        *(line(values) for values in cells),
    ]


def _count(number: int, noun: str) -> str:
    return f"{number} {noun}" if number == 1 else f"{number} {noun}s"


def _number(value: Any) -> bool:
    return isinstance(value, float) and not math.isnan(value)


def summary(result: Dict[str, Any]) -> str:
    pipes, nodes = result["pipes"], result["nodes"]
    parts = [
        f"{_count(len(pipes), 'pipe')} ({sum(1 for p in pipes if p['surcharged'])} surcharged)",
        f"{_count(len(nodes), 'node')} ({sum(1 for n in nodes if n['floods'])} flooded)",
    ]
    fullest = _extreme(pipes, "pct_full", max)
    parts.append("fullest pipe: none" if fullest is None
                 else f"fullest pipe {fullest['id']} at {fullest['pct_full'] * 100:.0f}% full")
    tightest = _extreme(nodes, "freeboard", min)
    parts.append("smallest freeboard: none" if tightest is None
                 else f"smallest freeboard {tightest['freeboard']:.2f} ft at {tightest['id']}")
    return "; ".join(parts)


def _extreme(rows: List[Dict[str, Any]], key: str, pick: Callable[..., Any]) -> Optional[Dict[str, Any]]:
    candidates = [row for row in rows if _number(row[key])]
    return pick(candidates, key=lambda row: row[key]) if candidates else None


def print_report(result: Dict[str, Any], title: str, out: TextIO, marks: Optional[Sequence[str]] = None,
                 footer: Sequence[str] = ()) -> None:
    """The design tables and summary; `marks` (one text per pipe) replaces the SURCHARGED
    column, and `footer` lines follow the summary."""
    pipes, pipe_columns = result["pipes"], PIPE_COLUMNS
    if marks is not None:
        pipes = [dict(row, marks=mark) for row, mark in zip(pipes, marks)]
        pipe_columns = (*PIPE_COLUMNS[:-1], ("", "", "marks", _text, False))
    lines = [title, "", "Pipes", *table(pipes, pipe_columns),
             "", "Nodes", *table(result["nodes"], NODE_COLUMNS), "", summary(result), *footer]
    out.write("\n".join(lines) + "\n")


def csv_value(value: Any) -> str:
    if value is None:
        return ""
    if isinstance(value, float):
        return repr(value)  # shortest text that reads back to the same number
    return str(value)


def csv_cells(row: Dict[str, Any], keys: Sequence[str]) -> List[str]:
    return [csv_value(row[key]) for key in keys]


def write_csv(out: TextIO, rows: Iterable[Dict[str, Any]], keys: Sequence[str]) -> None:
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(keys)
    writer.writerows(csv_cells(row, keys) for row in rows)


def _finite_or_none(value: Any) -> Any:
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, dict):
        return {key: _finite_or_none(item) for key, item in value.items()}
    if isinstance(value, list):
        return [_finite_or_none(item) for item in value]
    return value


def to_json(result: Dict[str, Any]) -> str:
    """Standard JSON: a number that is not finite becomes null, as JSON has no such numbers."""
    return json.dumps(_finite_or_none(result), indent=2, ensure_ascii=False, allow_nan=False)
