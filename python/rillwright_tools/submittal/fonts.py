"""The report's one font, DejaVu Sans, as matplotlib ships it: the figures' text names it,
the PDF embeds it, and the HTML carries it inline, so both documents look the same on any
machine and ids in any script print."""

from __future__ import annotations

import base64
from pathlib import Path
from typing import Dict

FAMILY = "DejaVu Sans"


def font_files() -> Dict[str, Path]:
    """{"": regular, "B": bold} TrueType files."""
    import matplotlib

    folder = Path(matplotlib.get_data_path()) / "fonts" / "ttf"
    return {"": folder / "DejaVuSans.ttf", "B": folder / "DejaVuSans-Bold.ttf"}


def font_face_css() -> str:
    rules = []
    for style, path in font_files().items():
        data = base64.b64encode(path.read_bytes()).decode("ascii")
        weight = "bold" if style == "B" else "normal"
        rules.append(f'@font-face {{ font-family: "{FAMILY}"; font-weight: {weight}; '
                     f'src: url(data:font/ttf;base64,{data}) format("truetype"); }}')
    return "\n".join(rules)
