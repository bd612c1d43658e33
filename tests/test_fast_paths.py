"""The analysis's fast conduit hydraulics (the refined depth scan, the partial
section geometries, the full section) give exactly the bits of the straightforward
computation. The comparison is a C++ program built from the core sources with the
module's own floating-point flags."""
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
SOURCES = ["tests/exactness/fast_paths_check.cpp", "src/hydraulics.cpp", "src/sections.cpp",
           "src/network_conduit.cpp"]


def test_fast_paths_equal_the_straightforward_computation(tmp_path):
    compiler = shutil.which("g++") or shutil.which("c++")
    if compiler is None:
        pytest.skip("no C++ compiler")
    exe = tmp_path / "fast_paths_check"
    build = [compiler, "-std=c++20", "-O2", "-ffp-contract=off", f"-I{ROOT / 'src'}",
             *(str(ROOT / s) for s in SOURCES), "-o", str(exe)]
    subprocess.run(build, check=True, capture_output=True, text=True)
    run = subprocess.run([str(exe), "3000"], capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "3000 sections checked, 0 differences" in run.stdout
