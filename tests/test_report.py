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
