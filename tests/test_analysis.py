"""The network analysis through analyze_rwn: design flows, grade line, topology errors."""
import math

import pytest

import rillwright as rw

PREFIX = "analysis failed: "


def analyze(*lines):
    return rw.analyze_rwn("\n".join(lines))


def by_id(records):
    return {r["id"]: r for r in records}


def analysis_error(*lines):
    with pytest.raises(ValueError) as info:
        analyze(*lines)
    message = str(info.value)
    assert message.startswith(PREFIX)
    return message[len(PREFIX):]


def example(out_invert=99.0, area=1.0, *extra):
    """Inlet N1 draining through one 1.5 ft pipe of 100 ft into outfall OUT."""
    return analyze(
        *extra,
        f"NODE N1 inlet 0 0 100.0 106.0 {area} 0.5",
        f"NODE OUT outfall 100 0 {out_invert} 104.0",
        "PIPE P1 N1 OUT 100 1.5 0.013",
    )


def junction_loss(velocity, k=0.5):
    return velocity * velocity * k / 64.4


def full_pipe_friction(q, diameter, n, length):
    area = math.pi * diameter * diameter * 0.25
    perimeter = math.pi * diameter
    conveyance = 1.486 / n * area * (area / perimeter) ** (2.0 / 3.0)
    return (q / conveyance) * (q / conveyance) * length


# ---- The worked example and its variants -----------------------------------


def test_free_outlet_takes_normal_depth_without_loss():
    result = example()
    p = result["pipes"][0]
    nodes = by_id(result["nodes"])
    assert p["slope"] == 0.01 and p["tc"] == 10.0 and p["total_ca"] == 0.5
    assert p["intensity"] == pytest.approx(10.9, abs=0.05)
    assert p["design_q"] == pytest.approx(5.46, abs=0.005)
    assert p["normal_depth"] == pytest.approx(0.768, abs=5e-4)
    assert p["velocity"] == pytest.approx(6.00, abs=0.005)
    assert p["travel_time"] == pytest.approx(0.278, abs=5e-4)
    assert p["capacity"] == pytest.approx(10.5, abs=0.05)
    assert p["pct_full"] == pytest.approx(0.520, abs=5e-4)
    assert p["critical_depth"] == pytest.approx(0.901, abs=5e-4)
    assert p["surcharged"] is False
    assert p["hgl_dn"] == 99.0
    assert p["hgl_up"] == 100.0 + p["normal_depth"] == nodes["N1"]["hgl"]
    assert nodes["N1"]["freeboard"] == 106.0 - nodes["N1"]["hgl"]
    assert nodes["OUT"]["hgl"] == 99.0
    assert nodes["OUT"]["tc"] == 10.0 + p["travel_time"]


def test_surcharged_pipe_runs_full_from_the_outlet_crown():
    p = example(99.9)["pipes"][0]
    assert p["slope"] == pytest.approx(0.001)
    assert p["surcharged"] is True and p["normal_depth"] is None
    assert p["velocity"] == pytest.approx(3.09, abs=0.005)
    assert p["capacity"] == pytest.approx(3.32, abs=0.005)
    assert p["pct_full"] == pytest.approx(1.64, abs=0.005)
    friction = full_pipe_friction(p["design_q"], 1.5, 0.013, 100.0)
    assert friction == pytest.approx(0.270, abs=5e-4)
    assert junction_loss(p["velocity"]) == pytest.approx(0.0742, abs=5e-5)
    assert p["hgl_up"] == (99.9 + 1.5) + friction + junction_loss(p["velocity"])


def test_part_full_profile_rises_from_critical_depth():
    p = example(99.9, 0.25)["pipes"][0]
    assert p["design_q"] == pytest.approx(1.37, abs=0.005)
    assert p["normal_depth"] == pytest.approx(0.670, abs=5e-4)
    assert p["critical_depth"] == pytest.approx(0.438, abs=5e-4)
    assert p["velocity"] == pytest.approx(1.79, abs=0.005)
    assert junction_loss(p["velocity"]) == pytest.approx(0.0248, abs=5e-5)
    assert p["hgl_up"] - 100.0 == pytest.approx(0.643, abs=5e-4)
    assert 99.9 + p["critical_depth"] < p["hgl_up"] - junction_loss(p["velocity"]) < 100.0 + p["normal_depth"]


def test_junction_loss_is_added_in_the_part_full_regime():
    base = example(99.9, 0.25, "JUNCTIONK 0")["pipes"][0]
    lossy = example(99.9, 0.25, "JUNCTIONK 0.5")["pipes"][0]
    assert lossy["hgl_up"] - base["hgl_up"] == pytest.approx(junction_loss(base["velocity"]), rel=1e-12)


def test_drowned_free_outlet_is_solved_part_full_with_loss():
    free = example(99.0, 1.0, "JUNCTIONK 5")["pipes"][0]
    drowned = example(99.0, 1.0, "JUNCTIONK 5", "TAILWATER 101.0")["pipes"][0]
    assert free["hgl_up"] == 100.0 + free["normal_depth"]
    assert drowned["hgl_dn"] == 101.0
    assert drowned["hgl_up"] > 101.0 + junction_loss(drowned["velocity"], 5.0)


def test_tailwater_below_the_outfall_invert_is_reported_as_given():
    plain = example(99.9, 0.25)
    low = example(99.9, 0.25, "TAILWATER 99.0")
    assert by_id(low["nodes"])["OUT"]["hgl"] == 99.0 == low["pipes"][0]["hgl_dn"]
    # The water surface still starts at least critical depth above the outlet invert.
    assert low["pipes"][0]["hgl_up"] == plain["pipes"][0]["hgl_up"]


def test_adverse_pipe_is_solved_as_a_full_pipe_and_raises_its_upstream_node():
    result = analyze(
        "NODE A inlet 0 0 99.0 104.0 1.0 0.5",
        "NODE OUT outfall 100 0 99.5 104.0",
        "PIPE P A OUT 100 1.5 0.013",
    )
    p = result["pipes"][0]
    assert p["capacity"] == 0.0 and p["pct_full"] == 0.0 and p["normal_depth"] is None
    assert p["surcharged"] is False  # the flag is set, but not reported on an adverse pipe
    # From the outlet crown, full-pipe friction plus the junction loss, like any surcharged pipe.
    expected = 99.5 + 1.5 + full_pipe_friction(p["design_q"], 1.5, 0.013, 100) + junction_loss(p["velocity"])
    assert p["hgl_dn"] == 99.5 and p["hgl_up"] == pytest.approx(expected, rel=1e-12)
    assert by_id(result["nodes"])["A"]["hgl"] == p["hgl_up"]


@pytest.mark.parametrize("tailwater, levels, flooded", [
    ("", {"A": 100.0, "B": 110.0, "OUT": 105.0}, set()),  # a dry structure's level is no water
    ("TAILWATER 112", {"A": 112.0, "B": 112.0, "OUT": 112.0}, {"A"}),  # water really stands at A
])
def test_dry_pipe_climbing_to_a_structure_carries_only_standing_water(tailwater, levels, flooded):
    result = analyze("IDF 120 10 0.8", tailwater, "NODE A inlet 0 0 100 101 0 0", "NODE B junction 100 0 110 115 0 0",
                     "NODE OUT outfall 200 0 105 112", "PIPE P1 A B 100 1 0.013", "PIPE P2 B OUT 100 1 0.013")
    nodes = by_id(result["nodes"])
    assert {k: n["hgl"] for k, n in nodes.items()} == levels
    assert {k for k, n in nodes.items() if n["floods"]} == flooded
    assert by_id(result["pipes"])["P1"]["hgl_up"] == levels["A"]


def test_flooding_needs_a_grade_line_above_the_rim_of_a_structure():
    result = example(99.9, 1.0, "TAILWATER 106.0", "NODE BRIM junction 0 0 90 90 0 0")
    nodes = by_id(result["nodes"])
    assert nodes["N1"]["hgl"] > 106.0 and nodes["N1"]["floods"] is True
    assert nodes["N1"]["freeboard"] == 106.0 - nodes["N1"]["hgl"] < 0
    assert nodes["OUT"]["hgl"] == 106.0 > 104.0 and nodes["OUT"]["floods"] is False
    assert nodes["BRIM"]["hgl"] == 90.0 and nodes["BRIM"]["floods"] is False


# ---- Network shapes ---------------------------------------------------------


def test_several_outfalls_each_start_at_their_own_level():
    result = analyze(
        "NODE A inlet 0 0 100 106 0.5 0.5",
        "NODE B inlet 0 0 100 106 0.5 0.5",
        "NODE O1 outfall 0 0 95 100",
        "NODE O2 outfall 0 0 96 100",
        "NODE LONE junction 0 0 90 100 0 0",
        "PIPE P1 A O1 100 1 0.013",
        "PIPE P2 B O2 100 1 0.013",
    )
    nodes = by_id(result["nodes"])
    assert [nodes[k]["hgl"] for k in ("O1", "O2", "LONE")] == [95.0, 96.0, 90.0]
    assert [p["hgl_dn"] for p in result["pipes"]] == [95.0, 96.0]


def test_parallel_pipes_count_twice_and_split_nothing():
    result = analyze(
        "NODE A inlet 0 0 102 110 1.0 0.5 12",
        "NODE B junction 0 0 101 110 0.2 0.5",
        "NODE OUT outfall 0 0 99 110",
        "NODE OUT2 outfall 0 0 99 110",
        "PIPE P1 A B 100 1.5 0.013",
        "PIPE P2 A B 300 1.5 0.013",
        "PIPE P3 B OUT 100 1.5 0.013",
        "PIPE P4 B OUT2 100 1.5 0.013",
    )
    p1, p2, p3, p4 = result["pipes"]
    assert p1["design_q"] == p2["design_q"]
    assert p3["total_ca"] == 0.1 + 0.5 + 0.5
    assert p3["tc"] == max(12.0 + p1["travel_time"], 12.0 + p2["travel_time"])
    assert p3["design_q"] == p4["design_q"] and p3["total_ca"] == p4["total_ca"]


def test_duplicate_node_id_resolves_to_the_last_node():
    result = analyze(
        "NODE A inlet 0 0 100 106 5.0 0.9 25",
        "NODE A inlet 0 0 100 106 1.0 0.5",
        "NODE OUT outfall 0 0 99 104",
        "PIPE P1 A OUT 100 1.5 0.013",
    )
    assert result["pipes"][0]["total_ca"] == 0.5
    first, second, _ = result["nodes"]
    assert first["tc"] == 25.0 and first["hgl"] == 100.0  # isolated
    assert second["hgl"] == result["pipes"][0]["hgl_up"]


def test_zero_area_network_carries_nothing():
    result = analyze(
        "MINTC 5",
        "NODE A inlet 0 0 102 110 0 0.5 7",
        "NODE B junction 0 0 101 110 0 0.5 3",
        "NODE OUT outfall 0 0 99 110 0 0 50",
        "PIPE P1 A B 100 1.5 0.013",
        "PIPE P2 B OUT 100 1.5 0.013",
    )
    for p in result["pipes"]:
        assert (p["design_q"], p["normal_depth"], p["velocity"], p["travel_time"]) == (0.0, 0.0, 0.0, 0.0)
    assert [n["tc"] for n in result["nodes"]] == [7.0, 7.0, 7.0]


def test_long_chain_is_handled_without_recursion():
    count = 100_000
    lines = [f"NODE N{i} junction 0 0 {1000 - 0.001 * i} 2000 0.001 0.5 10" for i in range(count)]
    lines.append(f"NODE OUT outfall 0 0 {1000 - 0.001 * count} 2000")
    lines += [f"PIPE P{i} N{i} N{i + 1} 10 1 0" for i in range(count - 1)]
    lines.append(f"PIPE P{count - 1} N{count - 1} OUT 10 1 0")
    result = rw.analyze_rwn("\n".join(lines))
    assert len(result["pipes"]) == count
    last = result["pipes"][-1]
    assert last["total_ca"] == pytest.approx(count * 0.0005)
    assert math.isfinite(result["nodes"][0]["hgl"])


# ---- Agreement with the single-pipe formulas ----------------------------------


@pytest.mark.parametrize("area", [0.05, 0.3, 0.6, 0.65, 0.69, 0.71, 2.0])
def test_circular_depths_match_the_formula_functions_exactly(area):
    p = analyze(
        f"NODE A inlet 0 0 100 106 {area} 1.0",
        "NODE B outfall 0 0 99 104",
        "PIPE P A B 100 1.0 0.013",
    )["pipes"][0]
    assert p["normal_depth"] == rw.normal_depth(p["design_q"], 1.0, 0.013, p["slope"])
    assert p["critical_depth"] == rw.critical_depth(p["design_q"], 1.0)


# ---- Errors -------------------------------------------------------------------


@pytest.mark.parametrize(
    "lines, message",
    [
        (["PIPE P1 A B 10 1 0.013"], "pipe references unknown node 'A'"),
        (["NODE A inlet 0 0 1 2 0 0", "PIPE P1 X Y 10 1 0.013"], "pipe references unknown node 'X'"),
        (["NODE A inlet 0 0 1 2 0 0", "PIPE P1 A Y 10 1 0.013"], "pipe references unknown node 'Y'"),
        (["NODE A inlet 0 0 1 2 0 0", "PIPE P1 A a 10 1 0.013"], "pipe references unknown node 'a'"),
        (["NODE A inlet 0 0 1 2 0 0", "PIPE P1 A A 10 1 0.013"], "network contains a cycle"),
        (
            ["NODE A inlet 0 0 1 2 0 0", "NODE B inlet 0 0 1 2 0 0", "PIPE P1 A B 10 1 0.013",
             "PIPE P2 B A 10 1 0.013", "PIPE P3 B C 10 1 0.013"],
            "pipe references unknown node 'C'",
        ),
        (
            ["NODE A inlet 0 0 1 2 0 0", "NODE B inlet 0 0 1 2 0 0", "PIPE P1 A B 10 1 0.013",
             "PIPE P2 B A 10 1 0.013"],
            "network contains a cycle",
        ),
        # Topology errors come before size errors.
        (["NODE A inlet 0 0 1 2 0 0", "PIPE P1 A A 10 0 0.013"], "network contains a cycle"),
    ],
)
def test_topology_errors(lines, message):
    assert analysis_error(*lines) == message


@pytest.mark.parametrize(
    "length, diameter, message",
    [
        ("100", "0", "pipe 'P7' has a rise below 0.0001 ft"),
        ("100", "0.00009", "pipe 'P7' has a rise below 0.0001 ft"),
        ("100", "-1.5", "pipe 'P7' has a rise below 0.0001 ft"),
        ("100", "nan", "pipe 'P7' has a rise that is not a finite number"),
        ("100", "inf", "pipe 'P7' has a rise that is not a finite number"),
        ("-1", "1.5", "pipe 'P7' has a negative length"),
        ("inf", "1.5", "pipe 'P7' has a length that is not a finite number"),
        ("nan", "1.5", "pipe 'P7' has a length that is not a finite number"),
        ("-1", "0", "pipe 'P7' has a rise below 0.0001 ft"),
    ],
)
def test_unusable_pipe_sizes_are_rejected(length, diameter, message):
    assert analysis_error(
        "NODE A inlet 0 0 100 106 1 0.5",
        "NODE B outfall 0 0 99 104",
        "PIPE P6 A B 100 1.5 0.013",
        f"PIPE P7 A B {length} {diameter} 0.013",
    ) == message


@pytest.mark.parametrize("length, diameter", [("0", "0.0001"), ("-0", "1.5")])
def test_smallest_accepted_sizes(length, diameter):
    result = analyze(
        "NODE A inlet 0 0 100 106 1 0.5",
        "NODE B outfall 0 0 99 104",
        f"PIPE P A B {length} {diameter} 0.013",
    )
    assert result["pipes"][0]["slope"] == 0.0
