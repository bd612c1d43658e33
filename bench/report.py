"""Benchmark of the design report: a generated 2,000-pipe project (five trees of 400
pipes) written as HTML and PDF together, with its plan and every profile.

    python bench/report.py [--pipes 2000]

Prints the seconds for the content (analysis, check, figures), the HTML and the PDF.
"""
from __future__ import annotations

import argparse
import json
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from run import generate  # noqa: E402

from rillwright_tools.inputs import Source  # noqa: E402
from rillwright_tools.submittal.build import build  # noqa: E402
from rillwright_tools.submittal.html import write_html  # noqa: E402
from rillwright_tools.submittal.pdf import write_pdf  # noqa: E402


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--pipes", type=int, default=2000)
    pipes = parser.parse_args().pipes
    network = generate(pipes, "circular")
    project = {"name": f"bench {pipes}", "idf_a": 120.0, "idf_b": 10.0, "idf_c": 0.8, "min_tc": 10.0,
               "junction_k": 0.5, **network}
    source = Source("bench", "project", json.dumps(project))
    tty = sys.stderr.isatty()
    progress = (lambda text: sys.stderr.write(f"\r{text}\033[K")) if tty else None
    start = time.perf_counter()
    content = build(source, progress=progress)
    built = time.perf_counter()
    with tempfile.TemporaryDirectory() as folder:
        write_html(content, str(Path(folder) / "report.html"))
        html = time.perf_counter()
        write_pdf(content, str(Path(folder) / "report.pdf"), progress)
        done = time.perf_counter()
    if tty:
        sys.stderr.write("\r\033[K")
    print(f"{pipes} pipes, {len(content.figures)} figures: content {built - start:.1f} s, "
          f"HTML {html - built:.1f} s, PDF {done - html:.1f} s, total {done - start:.1f} s")


if __name__ == "__main__":
    main()
