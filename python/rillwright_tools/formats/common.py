"""What every format shares: the report of what an import or export dropped, changed
or could not carry."""

from __future__ import annotations

import contextlib
import json
import os
import tempfile
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable, Dict, List, Tuple, Union


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


def write_atomically(path: Union[str, "os.PathLike[str]"], write: Callable[[Path], None]) -> None:
    """Calls `write` with a temporary path beside `path` and renames it to `path` only when
    `write` returns, so a conversion that fails leaves no output file (and an older file of
    that name stays as it was)."""
    target = Path(os.fspath(path))
    handle, temporary = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".part", dir=target.parent or None)
    os.close(handle)
    try:
        write(Path(temporary))
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def project_text(project: Dict[str, Any]) -> str:
    """The imported project as JSON text, once the project reader has taken it: a value of a
    foreign file that the reader would refuse (a setting of the wrong type, an inlet key out
    of range) is a ValueError here, never a written project that cannot be read."""
    from ..inputs import Source, records

    text = json.dumps(project, indent=1)
    try:
        records(Source("<import>", "project", text))
    except ValueError as error:
        raise ValueError(f"the file's values make a project that cannot be read: {error}") from None
    return text


def mark_import(project: Dict[str, Any], source_format: str, report: ImportReport, storm_given: bool) -> None:
    """Notes in the project what the report must say of an import: the format it came from,
    whether the design storm is the importer's placeholder (the file carried none), and the
    elements dropped. The project reader skips the key."""
    project["imported"] = {"from": source_format, "design_storm": "given" if storm_given else "placeholder",
                           "dropped": [f"{kind} {name}: {why}" for kind, name, why in report.dropped]}
