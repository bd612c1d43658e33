"""Helpers shared by the project tests: project texts and the round-trip driver.

The driver (support/project_roundtrip.cpp) is compiled once per session from
the project reader and writer sources, so that tests can see what the reader
keeps of a project and how the writer lays it out.
"""

import json
import subprocess

import pytest

import rillwright as rw

DRIVER_SOURCES = ["json_reader.cpp", "json_text.cpp", "project_reader.cpp", "project_writer.cpp", "project_demo.cpp",
                  "inlet_data.cpp", "inlet_names.cpp"]

INVALID = "invalid project JSON: "


def minimal(**changes):
    """The smallest project that reads, as a dict, with keys changed or added."""
    project = {
        "name": "t",
        "idf_a": 60,
        "idf_b": 10,
        "idf_c": 0.8,
        "min_tc": 10,
        "junction_k": 0.5,
        "nodes": [],
        "pipes": [],
    }
    project.update(changes)
    return project


def node(node_id, kind="inlet", invert=100.0, rim=106.0, area_ac=1.0, c=0.5, tc_inlet=10.0, **extra):
    return dict(id=node_id, kind=kind, x=0.0, y=0.0, invert=invert, rim=rim, area_ac=area_ac, c=c,
                tc_inlet=tc_inlet, **extra)


def pipe(pipe_id, src, dst, length=100.0, diameter=1.5, n=0.013, **extra):
    return {"id": pipe_id, "from": src, "to": dst, "length": length, "diameter": diameter, "n": n, **extra}


def analyze(project):
    """analyze_project on a project dict."""
    return rw.analyze_project(json.dumps(project))


def reader_error(text):
    """The reader's message (without the prefix) for a text that must not read."""
    with pytest.raises(ValueError) as info:
        rw.analyze_project(text)
    message = str(info.value)
    assert message.startswith(INVALID), message
    return message[len(INVALID):]


@pytest.fixture(scope="session")
def roundtrip_driver(cpp_program):
    return cpp_program("project_roundtrip", ["tests/support/project_roundtrip.cpp",
                                             *(f"src/{name}" for name in DRIVER_SOURCES)], "-O0")


class RoundTrip:
    def __init__(self, binary):
        self.binary = binary

    def run(self, args, text=""):
        done = subprocess.run([str(self.binary), *args], input=text.encode(), capture_output=True)
        output = done.stdout.decode()
        if done.returncode == 1:
            raise ValueError(output)
        assert done.returncode == 0, "the written text does not read back the same (status %d)" % done.returncode
        return output

    def write(self, project):
        """The writer's text of what the reader keeps of `project` (a dict or a JSON text)."""
        text = project if isinstance(project, str) else json.dumps(project)
        return self.run([], text)

    def demo(self):
        return self.run(["demo"])

    def nonfinite(self):
        return self.run(["nonfinite"])


@pytest.fixture(scope="session")
def roundtrip(roundtrip_driver):
    return RoundTrip(roundtrip_driver)
