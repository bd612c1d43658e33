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
    assert all("Pipe From To Shape Size" in page and "ft/ft" in page for page in table_pages)


def test_designed_and_level_of_service_reports_carry_their_results(tmp_path):
    text, options = rillwright.demo_project_json(), {"min_cover": 2.0, "min_freeboard": 1.0}
    content = rwt.report(None, tmp_path / "r.html", text=text, format="rwproj", design=options, service=True)
    tables = {t.id: t for t in content.tables}
    designed = rwt.design(text=text, format="rwproj", **options)
    assert [row[0] for row in tables["design"].rows] == [p["id"] for p in designed["pipes"]]
    assert ["Least cover at either pipe end (min_cover)", "2.00 ft"] in content.section("Design").pairs
    served = rwt.level_of_service(text=designed["sized"], format="rwproj")["nodes"]
    margin = sorted(served, key=lambda n: (n["flood_multiplier"] is None, n["flood_multiplier"] or 0.0))
    assert [row[:2] for row in tables["level-of-service"].rows] == [
        [n["id"], "never" if n["flood_multiplier"] is None else
         "–".join(dict.fromkeys(f"{n[k]:.3f}" for k in ("flood_multiplier_low", "flood_multiplier")))]
        for n in margin]
    page = (tmp_path / "r.html").read_text()
    assert all(f'<table id="{anchor}">' in page for anchor in tables)


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


# The report's tables against the analysis, key by key, at the printed precision.
from html.parser import HTMLParser  # noqa: E402

from rillwright_tools.check import pipe_marks  # noqa: E402
from rillwright_tools.inputs import Source, geometry  # noqa: E402

SI = {"ft": 0.3048, "cfs": 0.3048 ** 3, "ft/s": 0.3048}
CHECKED = {"pipes": ("length", "invert_up", "slope", "design_q", "capacity", "pct_full", "velocity",
                     "normal_depth", "hgl_up", "hgl_dn"),
           "structures": ("rim", "hgl", "freeboard")}


class Tables(HTMLParser):
    """{table id: (data-keys, units, [rows of cell texts])} of a report page, outside the figures."""

    def __init__(self):
        super().__init__()
        self.tables, self.current, self.cell, self.svg, self.text = {}, None, None, 0, []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.svg += tag in ("svg", "style")
        if tag == "table" and "id" in attrs:
            self.current = self.tables.setdefault(attrs["id"], ([], [], []))
        elif self.current is not None and tag == "th" and "data-key" in attrs:
            self.current[0].append(attrs["data-key"])
        elif self.current is not None and tag == "tr":
            self.row = []
        elif self.current is not None and tag in ("td", "th"):
            self.cell = []

    def handle_endtag(self, tag):
        self.svg -= tag in ("svg", "style")
        if tag == "table":
            self.current = None
        elif self.current is not None and tag in ("td", "th") and self.cell is not None:
            self.row.append("".join(self.cell).strip())
            self.cell = None
        elif self.current is not None and tag == "tr":
            if self.row and len(self.row) == len(self.current[0]) and not self.current[1]:
                self.current[1].extend(self.row)  # the units row follows the headings
            elif self.row and any(self.row) and self.row != self.current[1] and "data-key" not in self.row:
                self.current[2].append(self.row)

    def handle_data(self, data):
        if self.cell is not None:
            self.cell.append(data)
        if not self.svg:
            self.text.append(data)


def _si(text):
    project = json.loads(text)
    project["units"] = "si"
    return json.dumps(project)


import json  # noqa: E402

TABLE_CASES = [("demo", rillwright.demo_project_json()), ("generated", generated(200, 11)),
               ("inlets", open(os.path.join(os.path.dirname(__file__), "..", "docs", "inlets-example.rwproj")).read()),
               ("si", _si(generated(60, 5)))]


@pytest.fixture(scope="module", params=TABLE_CASES, ids=[c[0] for c in TABLE_CASES])
def page(request, tmp_path_factory):
    html = tmp_path_factory.mktemp(request.param[0]) / "report.html"
    rwt.report(None, html, text=request.param[1], format="rwproj")
    parser = Tables()
    parser.feed(html.read_text())
    source = Source("<text>", "project", request.param[1])
    inlet_aware = request.param[0] == "inlets"
    result = rwt.inlets(text=request.param[1], format="rwproj") if inlet_aware else rillwright.analyze_project(
        request.param[1])
    return request.param[0], parser, source, result


def test_table_values_equal_the_analysis_at_their_printed_precision(page):
    name, parser, source, result = page
    for anchor, rows_of in (("pipes", result["pipes"]), ("structures", result["nodes"])):
        keys, units, rows = parser.tables[anchor]
        assert [row[0] for row in rows] == [r["id"] for r in rows_of]
        for key in CHECKED[anchor]:
            k = keys.index(key)
            factor = (SI.get({"ft/ft": ""}.get(units[k], units[k].replace("m³/s", "cfs").replace("m/s", "ft/s")
                                                 .replace("m", "ft")), 1.0) if name == "si" else 1.0)
            factor *= 100.0 if key == "pct_full" else 1.0
            for row, expected in zip(rows, rows_of):
                value = expected[key] if key in expected else None
                if value is None:
                    continue
                decimals = len(row[k].partition(".")[2])
                assert float(row[k]) == pytest.approx(value * factor, abs=0.51 * 10 ** -decimals), (anchor, key)


def test_the_pipe_table_flags_every_pipe_as_run_prints_it(page):
    name, parser, source, result = page
    keys, _, rows = parser.tables["pipes"]
    marks = pipe_marks(geometry(source), result)
    assert [row[keys.index("flags")] for row in rows] == marks
    floods = [row[-1] == "FLOODED" for row in parser.tables["structures"][2]]
    assert floods == [n["floods"] for n in result["nodes"]]


def test_an_si_report_has_no_us_unit_and_every_table_carries_its_keys(page):
    name, parser, _, _ = page
    words = set(" ".join(parser.text).replace(",", " ").replace("(", " ").replace(")", " ").split())
    us = {"ft", "cfs", "ft/s", "ac", "in/hr", "ft/ft"}
    if name == "si":
        assert not us & words and {"m", "m³/s", "ha", "mm"} <= words
    else:
        assert {"ft", "cfs"} <= words
    assert {"review-first", "findings", "drainage-areas", "pipes", "structures", "grade-line"} <= set(parser.tables)
    assert ("inlets" in parser.tables) == (name == "inlets")
    assert all(keys for keys, _, _ in parser.tables.values())


def test_pdf_bookmarks_every_section_and_figure_with_review_first_up_front(written):
    _, content, _, pdf = written
    reader = pypdf.PdfReader(pdf)

    def titles(outline, out):
        for item in outline:
            titles(item, out) if isinstance(item, list) else out.append((item.title, reader.get_destination_page_number(item)))
        return out

    marks = dict(titles(reader.outline, []))
    assert {s.title for s in content.sections} | {f.title for f in content.figures} <= set(marks)
    assert {f.group for f in content.figures if f.group} <= set(marks)  # one per profile, its sheets under it
    plan = [title for title in marks if title.startswith("Plan sheet ")]
    assert len(plan) == sum(1 for f in content.figures if f.title.startswith("Plan sheet "))
    assert (len(plan) > 1) == (content.title != "Demo Trunk Line")
    # Where labels crowd, detail sheets: each bookmarked, in the contents, after the plan sheets.
    details = [title for title in marks if title.startswith("Detail ")]
    assert (len(details) > 0) == (content.title != "Demo Trunk Line")
    assert all(marks[d] > max(marks[p] for p in plan) for d in details)
    contents = " ".join(p.extract_text() for p in reader.pages[1:4])
    assert all(d.split(":")[0] in contents for d in details[:3])
    assert marks["Review first"] <= 3 and "Review first" in " ".join(p.extract_text() for p in reader.pages[:4])
    assert "Contents" in reader.pages[1].extract_text()
    # The sheets are drawn, their text as text: match lines and the vertical exaggeration read back.
    sheet_text = " ".join(reader.pages[marks[f.title]].extract_text() for f in content.figures)
    assert "V.E. " in sheet_text and ("MATCH LINE" in sheet_text) == (len(plan) > 1)


@pytest.mark.parametrize("points, pattern", [([(0, 0), (10, 0)], (3, 1)), ([(0, 0), (7, 0), (7, 5.5)], (10, 3, 2, 3)),
                                             ([(0, 0), (4, 3), (4, 9), (0, 9)], (1.5,))])
def test_pdf_dash_pieces_cover_what_the_pattern_leaves_drawn(points, pattern):
    import math

    from rillwright_tools.submittal.pdf_svg import dashes

    cycle = list(pattern) * (1 if len(pattern) % 2 == 0 else 2)
    legs = [math.dist(a, b) for a, b in zip(points, points[1:])]

    def drawn(d):  # a point of the path `d` along it: on a dash?
        d %= sum(cycle)
        for k, length in enumerate(cycle):
            if d < length:
                return k % 2 == 0
            d -= length

    step = 1e-3
    expected = sum(step for k in range(int(sum(legs) / step)) if drawn((k + 0.5) * step))
    pieces = list(dashes(points, pattern))
    assert sum(math.dist(a, b) for piece in pieces for a, b in zip(piece, piece[1:])) == pytest.approx(expected, abs=0.01)
    assert all(len(piece) >= 2 for piece in pieces)


def test_least_cost_report_shows_the_cost_in_parts_and_per_pipe(tmp_path):
    text, options = rillwright.demo_project_json(), {"profile": True, "objective": "cost"}
    content = rwt.report(None, tmp_path / "r.html", text=text, format="rwproj", design=options)
    designed = rwt.design(text=text, format="rwproj", **options)
    tables = {t.id: t for t in content.tables}
    cost = designed["cost"]
    assert [row[1] for row in tables["design-cost"].rows[:4]] == [
        f"{cost[k]:,.0f}" for k in ("pipes", "excavation", "structures", "total")]
    column = tables["design"].keys.index("cost")
    assert [row[column] for row in tables["design"].rows] == [f"{p['cost']:,.0f}" for p in designed["pipes"]]
    assert "least cost" in tables["design-cost"].note and f"{cost['shallowest_total']:,.0f}" in tables["design-cost"].rows[4]


def test_report_pdf_without_a_name_writes_the_input_stem(tmp_path, capsys):
    from rillwright_tools.cli import main

    network = tmp_path / "street.rwproj"
    network.write_text(rillwright.demo_project_json())
    assert main(["report", str(network), "--pdf"]) == 0
    assert (tmp_path / "street.pdf").stat().st_size > 0 and (tmp_path / "street.html").exists()


def test_every_adverse_pipe_is_drawn_in_a_profile_with_its_fill():
    from field_network import field_network
    from rillwright_tools.drawing.profile_sheet import ADVERSE_FILL
    from rillwright_tools.inputs import resolve
    from rillwright_tools.submittal.build import build

    content = build(resolve(text=field_network(), format="rwn"))  # two uphill laterals of three pipes
    pipes = next(t for t in content.tables if t.id == "pipes")
    adverse = {row[0] for row in pipes.rows if "ADVERSE" in row[-1]}
    drawn = {p.key for f in content.figures if f.group and any(s.fill == ADVERSE_FILL for s in f.drawing.shapes)
             for p in f.drawing.labels}
    assert adverse and adverse <= drawn


def test_pdf_places_every_sheet_at_its_own_size(written):
    """Upright text of each sheet lands where the sheet puts it, shifted alike: one point of
    the drawing is one point of the page, so its scale bar is true."""
    from collections import Counter

    _, content, _, pdf = written
    reader = pypdf.PdfReader(pdf)
    pages = {reader.get_destination_page_number(item): item.title for item in reader.outline if not isinstance(item, list)}
    pages.update({reader.get_destination_page_number(i): i.title for group in reader.outline if isinstance(group, list)
                  for i in group if not isinstance(i, list)})
    for figure in content.figures[:3]:
        number = next(k for k, title in pages.items() if title == figure.title)
        seen = {}
        reader.pages[number].extract_text(visitor_text=lambda text, cm, tm, *_: seen.setdefault(
            text.strip(), (tm[4] * cm[0] + cm[4], tm[5] * cm[3] + cm[5])) if cm[1] == 0 and tm[1] == 0 else None)
        counts = Counter(t.text for t in figure.drawing.texts)
        upright = [t for t in figure.drawing.texts
                   if t.anchor == "start" and not t.vertical and t.text in seen and counts[t.text] == 1]
        shifts = {(round(seen[t.text][0] - t.x, 1), round(seen[t.text][1] - t.y, 1)) for t in upright}
        assert len(upright) >= 2 and len(shifts) == 1, figure.title


@pytest.mark.parametrize("lines", [1, 17, 18, 19, 30, 55, 56, 57, 58, 117, 118, 119, 600])
def test_pdf_contents_take_the_pages_reserved_for_them(lines):
    """fpdf2 refuses a document whose contents do not fill exactly the pages reserved."""
    import io

    from rillwright_tools.submittal import pdf as P

    document = P._document("t")
    document.add_page()
    document.add_page()
    document.insert_toc_placeholder(P._contents, pages=P._contents_layout(document, lines)[1])
    document.add_page()
    for k in range(lines):
        document.start_section(f"Section {k}", level=k % 2)
    document.output(io.BytesIO())
