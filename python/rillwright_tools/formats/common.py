"""What every format shares: the report of what an import or export dropped, changed
or could not carry."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import List, Tuple


@dataclass
class ImportReport:
    """What the import left out or changed. Each entry is (kind, id, why)."""

    dropped: List[Tuple[str, str, str]] = field(default_factory=list)
    approximated: List[Tuple[str, str, str]] = field(default_factory=list)
    notes: List[str] = field(default_factory=list)

    def lines(self) -> List[str]:
        out = [f"dropped {kind} {name}: {why}" for kind, name, why in self.dropped]
        out += [f"approximated {kind} {name}: {why}" for kind, name, why in self.approximated]
        return out + [f"note: {note}" for note in self.notes]

    def __str__(self) -> str:
        return "\n".join(self.lines())
