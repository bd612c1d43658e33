"""The design report: HTML that a browser renders, a PDF whose text holds the analysis."""

import os
import shutil
import subprocess

import pytest

import rillwright
import rillwright_tools as rwt

from interchange_networks import generated

pytest.importorskip("fpdf")
pytest.importorskip("jinja2")
pypdf = pytest.importorskip("pypdf")

CASES = [("demo", rillwright.demo_project_json()), ("generated", generated(200, 11))]


@pytest.fixture(scope="module", params=CASES, ids=[c[0] for c in CASES])
def written(request, tmp_path_factory):
    folder = tmp_path_factory.mktemp(request.param[0])
    html, pdf = folder / "report.html", folder / "report.pdf"
    content = rwt.report(None, html, pdf, text=request.param[1], format="rwproj")
    return request.param[1], content, html, pdf


def test_pdf_text_holds_every_id_and_the_values_at_their_printed_precision(written):
    text, content, _, pdf = written
    words = set(" ".join(page.extract_text() for page in pypdf.PdfReader(pdf).pages).split())
    result = rillwright.analyze_project(text)
    assert {p["id"] for p in result["pipes"]} | {n["id"] for n in result["nodes"]} <= words
    for pipe in result["pipes"]:
        assert {f"{pipe['design_q']:.2f}", f"{pipe['capacity']:.2f}", f"{pipe['hgl_up']:.2f}"} <= words
    for node in result["nodes"]:
        assert {f"{node['rim']:.2f}", f"{node['hgl']:.2f}"} <= words


def test_html_is_self_contained_and_renders_every_figure_without_console_errors(written):
    _, content, html, _ = written
    page = html.read_text()
    assert page.count("<svg") == len(content.figures) >= 2 and "http://" not in page.split("<svg", 1)[0]
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        if os.environ.get("CI") == "true":
            pytest.fail("chromium is missing in CI")
        pytest.skip("chromium is not installed")
    run = subprocess.run([browser, "--headless", "--disable-gpu", "--no-sandbox", "--enable-logging=stderr",
                          "--v=0", "--dump-dom", html.as_uri()], capture_output=True, text=True, timeout=120,
                         # the browser is not ours to run under the sanitizers the suite may preload
                         env={k: v for k, v in os.environ.items() if k != "LD_PRELOAD"})
    assert run.stdout.count("<svg") == len(content.figures)
    assert "CONSOLE" not in run.stderr and "Uncaught" not in run.stderr


def test_a_missing_library_names_the_extra(monkeypatch, tmp_path, capsys):
    import builtins

    real = builtins.__import__

    def no_jinja(name, *args, **kwargs):
        if name == "jinja2":
            raise ImportError(name)
        return real(name, *args, **kwargs)

    monkeypatch.setattr(builtins, "__import__", no_jinja)
    from rillwright_tools.cli import main

    assert main(["report", "-o", str(tmp_path / "r.html")]) == 1
    assert 'pip install "rillwright[report]"' in capsys.readouterr().err


def test_pdf_tables_repeat_their_headings_on_every_page(written):
    text, content, _, pdf = written
    pages = [page.extract_text() for page in pypdf.PdfReader(pdf).pages]
    rows = {f"{p['id']} {p['from']} {p['to']}" for p in rillwright.analyze_project(text)["pipes"]}
    table_pages = [page for page in pages if any(row in page for row in rows)]
    assert len(table_pages) >= (4 if len(rows) == 200 else 1)
    assert all("Pipe From To Slope" in page and "ft/ft" in page for page in table_pages)


def test_designed_and_level_of_service_reports_carry_their_results(tmp_path):
    text, options = rillwright.demo_project_json(), {"min_cover": 2.0, "min_freeboard": 1.0}
    content = rwt.report(None, tmp_path / "r.html", text=text, format="rwproj", design=options, service=True)
    tables = {t.title: t for t in content.tables}
    designed = rwt.design(text=text, format="rwproj", **options)
    assert [row[0] for row in tables["Design choices"].rows] == [p["id"] for p in designed["pipes"]]
    assert ["min_cover", "2.0"] in [[label.split()[-1], value] for label, value in content.criteria]
    served = rwt.level_of_service(text=designed["sized"], format="rwproj")["nodes"]
    assert [row[:2] for row in tables["Level of service"].rows] == [
        [n["id"], "never" if n["flood_multiplier"] is None else f"{n['flood_multiplier']:.2f}"] for n in served]
    page = (tmp_path / "r.html").read_text()
    assert all(f"<h2>{title}</h2>" in page for title in tables)


def test_pdf_figures_keep_images_upright_in_place_and_clip_to_rectangles():
    """fpdf2 ignores image transforms and path clips: the SVG handed to it must place the
    same pixels on the same rectangle as matplotlib does."""
    import base64
    import io
    import re

    import numpy as np
    from matplotlib.collections import LineCollection
    from matplotlib.figure import Figure
    from matplotlib.patches import PathPatch
    from matplotlib.path import Path
    from PIL import Image

    from rillwright_tools.submittal.pdf_svg import drawable

    figure = Figure(figsize=(4, 3), dpi=72)  # one display pixel is one SVG point
    axes = figure.add_axes([0.1, 0.1, 0.8, 0.8])
    pixels = np.arange(12, dtype=float).reshape(3, 4)
    axes.imshow(pixels, extent=(0, 4, 0, 3), origin="upper", interpolation="nearest")
    lines = LineCollection([[(-1, -1), (5, 4)]])
    axes.add_collection(lines)
    frame = Path([(1, 0.5), (3, 0.5), (3, 2), (1, 2), (1, 0.5)], closed=True)  # as the DXF backdrop clips
    lines.set_clip_path(PathPatch(frame, transform=axes.transData))
    axes.set_xlim(-1, 5), axes.set_ylim(-1, 4)
    out = io.StringIO()
    figure.savefig(out, format="svg")
    before, after = out.getvalue(), drawable(out.getvalue())

    def image(svg):
        tag = re.search(r"<image\b[^>]*>", svg).group(0)
        data = re.search(r"base64,([^\"]+)", tag).group(1)
        return tag, np.asarray(Image.open(io.BytesIO(base64.b64decode(data))))

    (_, old), (tag, new) = image(before), image(after)
    assert "transform" not in tag and (new == old[::-1]).all()
    y, height = (float(re.search(rf'\b{k}="([-0-9.e]+)"', tag).group(1)) for k in ("y", "height"))
    top, bottom = (figure.bbox.height - axes.transData.transform((0, v))[1] for v in (3, 0))  # SVG y grows downwards
    assert (y, y + height) == pytest.approx((top, bottom), abs=1.0)
    def rectangles(svg):
        found = re.findall(r'<clipPath id="[^"]*">\s*<rect x="([-0-9.e]+)" y="([-0-9.e]+)" width="([-0-9.e]+)" '
                           r'height="([-0-9.e]+)"', svg)
        return [[float(v) for v in r] for r in found]

    (x0, y0), (x1, y1) = axes.transData.transform([(1, 2), (3, 0.5)])
    extent = pytest.approx([x0, figure.bbox.height - y0, x1 - x0, y0 - y1], abs=0.01)
    assert extent not in rectangles(before) and extent in rectangles(after)
