"""From project to network, seen through analyze_project: SI units, node kinds,
pipe shapes, catchments, the IDF curve and frequency factor of the return period."""

import math

import pytest

import rillwright as rw
from project_tool import analyze, minimal, node, pipe

FEET_PER_METRE = 3.280839895013123
N = 0.013


def one_pipe(upstream=None, downstream=None, conduit=None, **project):
    """Inlet A drains through pipe P into outfall OUT."""
    return minimal(
        nodes=[upstream or node("A", invert=101.0, rim=107.0), downstream or node("OUT", kind="outfall")],
        pipes=[conduit or pipe("P", "A", "OUT")],
        **project,
    )


def first_pipe(project):
    return analyze(project)["pipes"][0]


# ---- Units ------------------------------------------------------------------


def test_si_lengths_become_feet():
    us = analyze(one_pipe())
    si = analyze(one_pipe(units="si"))
    assert us["pipes"][0]["slope"] == 0.01
    length = 100 * FEET_PER_METRE
    assert length == 328.0839895013123
    assert si["pipes"][0]["slope"] == (101 * FEET_PER_METRE - 100 * FEET_PER_METRE) / length
    assert [n["rim"] for n in si["nodes"]] == [107 * FEET_PER_METRE, 106 * FEET_PER_METRE]


def test_si_pipe_inverts_and_tailwater_become_feet():
    conduit = pipe("P", "A", "OUT", invert_up=100.8, invert_dn=99.5)
    result = analyze(one_pipe(conduit=conduit, units="si", tailwater=99.75))
    length = 100 * FEET_PER_METRE
    assert result["pipes"][0]["slope"] == (100.8 * FEET_PER_METRE - 99.5 * FEET_PER_METRE) / length
    assert result["nodes"][1]["hgl"] == 99.75 * FEET_PER_METRE


def test_si_areas_become_acres_and_idf_a_inches():
    # With an IDF exponent of 0 the intensity is the coefficient a itself.
    result = first_pipe(one_pipe(units="si", idf_a=60, idf_c=0))
    assert result["intensity"] == 2.3622047244094486
    assert result["total_ca"] == 0.5 * 2.4710516301527603


def test_catchment_coordinates_stay_in_feet_in_si():
    catchment = {"id": "C", "vertices": [[0, 0], [43560, 0], [43560, 1]], "c": 0.5, "flow_length_ft": 0,
                 "slope": 0, "inlet_node_id": "A"}
    us = first_pipe(one_pipe(catchments=[catchment]))
    si = first_pipe(one_pipe(catchments=[catchment], units="si"))
    assert us["total_ca"] == 0.5 * 1.5
    assert si["total_ca"] == 0.5 * (0.5 + 2.4710516301527603)


@pytest.mark.parametrize("units", ["us_customary", "si"])
def test_access_hole_diameter_defaults_to_four_length_units(units):
    def grade_line(diameter):
        project = minimal(
            nodes=[node("A", invert=102.0, rim=120.0, area_ac=20.0, c=0.9), node("J", invert=101.0, rim=120.0),
                   node("OUT", kind="outfall")],
            pipes=[pipe("P1", "A", "J", diameter=1.0), pipe("P2", "J", "OUT", diameter=1.25)],
            hec22_structure_loss=True, access_hole_diam_ft=diameter, units=units, tailwater=101.5)
        return [n["hgl"] for n in analyze(project)["nodes"]]

    assert grade_line(0.0) == grade_line(4.0) == grade_line(-1.0)
    assert grade_line(1.2) != grade_line(4.0)


# ---- Nodes --------------------------------------------------------------------


@pytest.mark.parametrize(
    "kind, total_ca, tc",
    [
        ("inlet", 1.8, 50.0),
        ("junction", 1.8, 50.0),
        ("Outfall", 1.8, 50.0),  # kinds are matched exactly; anything else is an inlet
        ("Junction", 1.8, 50.0),
        ("", 1.8, 50.0),
        ("outfall", 0.0, 10.0),  # an outfall takes neither area, c nor inlet time
    ],
)
def test_node_kind_from_text(kind, total_ca, tc):
    upstream = node("A", kind=kind, invert=101.0, area_ac=2.0, c=0.9, tc_inlet=50.0)
    result = first_pipe(one_pipe(upstream=upstream))
    assert (result["total_ca"], result["tc"]) == (total_ca, tc)


@pytest.mark.parametrize("tc_inlet, tc", [(0.0, 10.0), (-3.0, 10.0), (2.5, 2.5)])
def test_non_positive_inlet_time_takes_the_default(tc_inlet, tc):
    upstream = node("A", invert=101.0, tc_inlet=tc_inlet)
    assert first_pipe(one_pipe(upstream=upstream, min_tc=1.0))["tc"] == tc


# ---- Pipe shapes ----------------------------------------------------------------


def full_capacity(area, perimeter, slope=0.01):
    return area * (1.486 / N) * (area / perimeter) ** (2.0 / 3.0) * math.sqrt(slope)


def capacity(conduit, units="us_customary"):
    return first_pipe(one_pipe(conduit=conduit, units=units))["capacity"]


def test_box_capacity_is_that_of_its_full_rectangle():
    box = pipe("P", "A", "OUT", shape="box", rise_ft=2.0, span_ft=3.0)
    assert capacity(box) == pytest.approx(full_capacity(6.0, 10.0), rel=1e-12)


def test_arch_capacity_is_that_of_its_full_section():
    arch = pipe("P", "A", "OUT", shape="arch", rise_ft=2.0, span_ft=3.0)
    radius, wall = 1.5, 0.5
    area = math.pi * radius**2 / 2 + wall * 3.0
    perimeter = math.pi * radius + 2 * wall + 3.0
    assert capacity(arch) == pytest.approx(full_capacity(area, perimeter), rel=1e-12)


def test_elliptical_with_equal_rise_and_span_is_a_circle():
    ellipse = first_pipe(one_pipe(conduit=pipe("P", "A", "OUT", shape="elliptical", rise_ft=1.5, span_ft=1.5)))
    circle = first_pipe(one_pipe(conduit=pipe("P", "A", "OUT", diameter=1.5)))
    for key in ("capacity", "normal_depth", "velocity", "critical_depth", "hgl_up"):
        assert ellipse[key] == pytest.approx(circle[key], rel=1e-6), key


@pytest.mark.parametrize(
    "shape, rise, span",
    [("box", 0.0, 3.0), ("box", 2.0, 0.0), ("arch", -1.0, 3.0), ("Box", 2.0, 3.0), ("oval", 2.0, 3.0),
     ("circular", 2.0, 3.0)],
)
def test_unsized_or_unknown_shapes_are_circular_by_diameter(shape, rise, span):
    conduit = pipe("P", "A", "OUT", diameter=1.25, shape=shape, rise_ft=rise, span_ft=span)
    assert first_pipe(one_pipe(conduit=conduit)) == first_pipe(one_pipe(conduit=pipe("P", "A", "OUT", diameter=1.25)))


@pytest.mark.parametrize("shape", ["circular", "box", "elliptical", "arch"])
def test_si_shapes_equal_their_sizes_in_feet(shape):
    def project(units, feet, acres, inches):
        conduit = pipe("P", "A", "OUT", length=100.0 * feet, diameter=0.5 * feet, shape=shape,
                       rise_ft=0.5 * feet, span_ft=0.75 * feet)
        upstream = node("A", invert=101.0 * feet, rim=107.0 * feet, area_ac=1.0 * acres)
        downstream = node("OUT", kind="outfall", invert=100.0 * feet, rim=106.0 * feet)
        return one_pipe(upstream=upstream, downstream=downstream, conduit=conduit, units=units,
                        access_hole_diam_ft=4.0 * feet, tailwater=100.2 * feet, idf_a=60.0 * inches)

    assert analyze(project("si", 1.0, 1.0, 1.0)) == analyze(
        project("us_customary", FEET_PER_METRE, 2.4710516301527603, 0.03937007874015748))


# ---- Catchments -------------------------------------------------------------------

TRIANGLE = [[-40, 80], [40, 80], [0, 140]]


def catchment(vertices=TRIANGLE, c=0.7, flow_length_ft=100, slope=0.01, inlet_node_id="A"):
    return {"id": "C", "vertices": vertices, "c": c, "flow_length_ft": flow_length_ft, "slope": slope,
            "inlet_node_id": inlet_node_id}


def test_catchment_merges_into_its_inlet():
    upstream = node("A", invert=101.0, area_ac=1.0, c=0.7, tc_inlet=12.0)
    result = first_pipe(one_pipe(upstream=upstream, catchments=[catchment()]))
    area = 2400 / 43560.0
    assert area == 0.05509641873278237
    assert 1.0 + area == 1.0550964187327825
    assert result["total_ca"] == 0.6999999999999998 * 1.0550964187327825
    assert result["tc"] == 12.0


def test_catchment_kirpich_time_raises_the_inlet_time():
    upstream = node("A", invert=101.0, area_ac=1.0, c=0.7, tc_inlet=1.0)
    result = first_pipe(one_pipe(upstream=upstream, catchments=[catchment()], min_tc=0.5))
    assert result["tc"] == 1.592555596842233


def test_catchments_merge_in_order_and_clockwise_polygons_count():
    upstream = node("A", invert=101.0, area_ac=0.0, c=0.0)
    square = [[0, 0], [0, 43560], [1, 43560], [1, 0]]  # clockwise, one acre
    result = first_pipe(one_pipe(upstream=upstream, catchments=[catchment(square, c=0.5), catchment(square, c=0.9)]))
    assert result["total_ca"] == ((1.0 * 0.9 + 1.0 * 0.5) / 2.0) * 2.0


@pytest.mark.parametrize(
    "changes",
    [
        {"vertices": [[0, 0], [100, 100]]},
        {"vertices": [[0, 0], [1, 1], [2, 2]]},  # no area
        {"inlet_node_id": None},
        {"inlet_node_id": "a"},
        {"inlet_node_id": "A "},
    ],
)
def test_catchment_without_area_or_node_changes_nothing(changes):
    upstream = node("A", invert=101.0, area_ac=1.0, c=0.7, tc_inlet=12.0)
    alone = first_pipe(one_pipe(upstream=upstream))
    assert first_pipe(one_pipe(upstream=upstream, catchments=[catchment(**changes)])) == alone


def test_catchment_without_slope_adds_area_but_no_time():
    upstream = node("A", invert=101.0, area_ac=1.0, c=0.7, tc_inlet=3.0)
    result = first_pipe(one_pipe(upstream=upstream, catchments=[catchment(slope=0)], min_tc=0.5))
    assert result["total_ca"] == 0.6999999999999998 * 1.0550964187327825
    assert result["tc"] == 3.0


def test_catchment_goes_to_the_first_node_of_that_id():
    nodes = [node("A", invert=101.0, area_ac=0.0), node("A", invert=100.5, area_ac=0.0),
             node("OUT", kind="outfall")]
    project = minimal(nodes=nodes, pipes=[pipe("P0", "A", "OUT")], catchments=[catchment()])
    # The pipe attaches to the later "A"; the catchment went to the earlier one.
    assert analyze(project)["pipes"][0]["total_ca"] == 0.0


# ---- Return period: IDF curve and frequency factor ----------------------------------

CURVES = [{"rp_years": rp, "a": float(rp), "b": 10.0, "c": 0.0} for rp in (1, 2, 11, 26, 4294967295)]
CURVES.append({"rp_years": 2, "a": 99.0, "b": 10.0, "c": 0.0})  # a later duplicate never counts


@pytest.mark.parametrize(
    "years, a, factor",
    [
        (0.2, 1.0, 1.0),
        (-7.0, 1.0, 1.0),
        (1.5, 2.0, 1.0),
        (2.4, 2.0, 1.0),
        (10.0, 60.0, 1.0),  # no entry for 10 years: the project's coefficients
        (10.5, 11.0, 1.0),  # rounded for the table, cut for the factor
        (11.0, 11.0, 1.1),
        (25.0, 60.0, 1.1),
        (25.5, 26.0, 1.1),
        (26.0, 26.0, 1.2),
        (50.0, 60.0, 1.2),
        (51.0, 60.0, 1.25),
        (100.0, 60.0, 1.25),
        (1e300, 4294967295.0, 1.25),
    ],
)
def test_return_period_picks_curve_and_factor(years, a, factor):
    project = one_pipe(idf_a=60.0, idf_c=0.0, idf_curves=CURVES, design_return_period_years=years)
    result = first_pipe(project)
    assert result["intensity"] == a
    assert result["total_ca"] == min(0.5 * factor, 1.0) * 1.0


def test_si_curve_entry_a_is_converted():
    project = one_pipe(units="si", idf_curves=[{"rp_years": 10, "a": 60.0, "b": 5.0, "c": 0.0}])
    assert first_pipe(project)["intensity"] == 60.0 * 0.03937007874015748


# ---- Driver -------------------------------------------------------------------------


def test_analysis_errors_carry_their_prefix():
    with pytest.raises(ValueError, match=r"^analysis failed: pipe references unknown node 'B'$"):
        analyze(minimal(nodes=[node("A")], pipes=[pipe("P", "A", "B")]))


def test_empty_project_analyses_to_empty_lists():
    assert analyze(minimal(name="empty")) == {"name": "empty", "pipes": [], "nodes": []}


def test_analyze_file_reads_a_project(tmp_path):
    path = tmp_path / "demo.rwproj"
    path.write_text(rw.demo_project_json(), encoding="utf-8")
    assert rw.analyze_file(str(path)) == rw.analyze_project(rw.demo_project_json())


def test_every_catchment_of_a_large_project_finds_its_node():
    count = 3000
    nodes = [node("N%d" % i, tc_inlet=1.0) for i in range(count)]
    catchments = [catchment(inlet_node_id="N%d" % i) for i in reversed(range(count))]
    result = analyze(minimal(nodes=nodes, catchments=catchments, min_tc=0.5))
    assert {n["tc"] for n in result["nodes"]} == {1.592555596842233}
