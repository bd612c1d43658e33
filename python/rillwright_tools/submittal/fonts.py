"""The report's one font, DejaVu Sans, as matplotlib ships it: the figures' text names it,
the PDF embeds it, and the HTML carries inline the subset of it that the document uses, so
both documents look the same on any machine and ids in any script print."""

from __future__ import annotations

import base64
import io
from pathlib import Path
from typing import Dict, Iterable

FAMILY = "DejaVu Sans"


def font_files() -> Dict[str, Path]:
    """{"": regular, "B": bold} TrueType files."""
    import matplotlib

    folder = Path(matplotlib.get_data_path()) / "fonts" / "ttf"
    return {"": folder / "DejaVuSans.ttf", "B": folder / "DejaVuSans-Bold.ttf"}


def subset(path: Path, characters: Iterable[str]) -> bytes:
    """The font cut down to `characters` (fontTools comes with matplotlib), as WOFF."""
    from fontTools import subset as fonttools_subset

    options = fonttools_subset.Options()
    options.flavor = "woff"  # zlib-compressed: no further library needed
    options.layout_features = ["kern", "liga"]
    options.name_IDs = ["*"]
    options.notdef_outline = True
    options.drop_tables += ["FFTM"]  # a FontForge timestamp the subsetter cannot cut
    font = fonttools_subset.load_font(str(path), options)
    cutter = fonttools_subset.Subsetter(options)
    cutter.populate(unicodes=sorted({ord(c) for c in characters} | {0x20}))
    cutter.subset(font)
    out = io.BytesIO()
    fonttools_subset.save_font(font, out, options)
    return out.getvalue()


def font_face_css(characters: Iterable[str]) -> str:
    """@font-face rules carrying the regular and bold faces cut down to `characters`."""
    characters = set(characters)
    rules = []
    for style, path in font_files().items():
        data = base64.b64encode(subset(path, characters)).decode("ascii")
        weight = "bold" if style == "B" else "normal"
        rules.append(f'@font-face {{ font-family: "{FAMILY}"; font-weight: {weight}; '
                     f'src: url(data:font/woff;base64,{data}) format("woff"); }}')
    return "\n".join(rules)
