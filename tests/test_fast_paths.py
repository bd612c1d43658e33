"""The analysis's fast conduit hydraulics (the refined depth scan, the partial
section geometries, the full section) give exactly the bits of the straightforward
computation. The comparison is a C++ program built from the core sources with the
module's own floating-point flags."""
import subprocess

SOURCES = ["tests/exactness/fast_paths_check.cpp", "src/hydraulics.cpp", "src/sections.cpp",
           "src/network_conduit.cpp"]


def test_fast_paths_equal_the_straightforward_computation(cpp_program):
    exe = cpp_program("fast_paths_check", SOURCES)
    run = subprocess.run([str(exe), "3000"], capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "3000 sections checked, 0 differences" in run.stdout
