"""Fixtures every test module may use: the networks most tests start from and the one
harness that compiles the C++ programs some tests run."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

import rillwright

ROOT = Path(__file__).resolve().parent.parent

# A one-pipe .rwn network: an inlet draining to an outfall.
SMALL_RWN = "NODE A inlet 0 0 100 106 1 0.5\nNODE OUT outfall 100 0 99 104\nPIPE P1 A OUT 100 1.5 0.013\n"


@pytest.fixture(scope="session")
def demo_text() -> str:
    """The built-in demo project as project JSON."""
    return rillwright.demo_project_json()


@pytest.fixture(scope="session")
def small_rwn() -> str:
    return SMALL_RWN


@pytest.fixture(scope="session")
def cpp_program(tmp_path_factory):
    """build(name, sources, optimisation="-O2") compiles `sources` (paths from the top of the
    checkout) with the core's include path and floating-point flags, once per session and
    name, and returns the program's path; the test is skipped without a C++ compiler."""
    built = {}

    def build(name, sources, optimisation="-O2"):
        if name not in built:
            compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++")
            if compiler is None:
                pytest.skip("no C++ compiler")
            program = tmp_path_factory.mktemp(name) / name
            subprocess.run([compiler, "-std=c++20", optimisation, "-ffp-contract=off", "-I", str(ROOT / "src"),
                            "-o", str(program), *(str(ROOT / source) for source in sources)],
                           check=True, capture_output=True, text=True)
            built[name] = program
        return built[name]

    return build
