"""How every companion function takes its network: a path, or text with a format."""

import json
from pathlib import Path

import pytest

import rillwright
from rillwright_tools.inputs import records, resolve

from conftest import SMALL_RWN as RWN

DEMO = rillwright.demo_project_json()


@pytest.mark.parametrize("name, content, kind", [
    ("net.rwn", RWN, "rwn"), ("net.rwproj", DEMO, "project"), ("net.txt", DEMO, "project"), ("net", RWN, "rwn"),
])
def test_paths_are_told_apart_as_the_command_tells_them(tmp_path, name, content, kind):
    path = tmp_path / name
    path.write_text(content, encoding="utf-8")
    for given in (path, str(path)):
        assert resolve(given).kind == kind


@pytest.mark.parametrize("kwargs, error", [
    ({"text": RWN}, ValueError),
    ({"text": RWN, "format": "inp"}, ValueError),
    ({"source": "x.rwn", "text": RWN, "format": "rwn"}, TypeError),
    ({}, TypeError),
    ({"source": "/no/such/file.rwn"}, OSError),
])
def test_bad_sources_are_refused(kwargs, error):
    with pytest.raises(error):
        resolve(**kwargs)


def test_records_are_the_analysed_network_in_us_units():
    project = json.loads(DEMO)
    project["units"] = "si"
    network = records(resolve(text=json.dumps(project), format="rwproj"))
    by_id = {n["id"]: n for n in network["nodes"]}
    first = project["nodes"][0]
    assert by_id[first["id"]]["invert"] == pytest.approx(first["invert"] / 0.3048)
    result = rillwright.analyze_project(json.dumps(project))
    assert [p["id"] for p in network["pipes"]] == [p["id"] for p in result["pipes"]]


def test_records_carry_the_readers_messages():
    with pytest.raises(ValueError, match=r"^cannot parse \.rwn: line 1"):
        records(resolve(text="PIPE\n", format="rwn"))
    with pytest.raises(ValueError, match=r"^invalid project JSON: "):
        records(resolve(text="{", format="rwproj"))
