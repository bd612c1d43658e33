"""The single-pipe hydraulics and rainfall formulas."""
import math

import pytest

import rillwright as rw

D, N, S = 1.0, 0.013, 0.01


def test_manning_capacity_matches_full_depth_flow():
    full = rw.manning_capacity(D, N, S)
    assert full == pytest.approx(3.5628, abs=1e-4)
    assert rw.circular_flow(D, N, S, 1.0) == pytest.approx(full, rel=1e-14)
    assert rw.circular_flow(D, N, S, 0.5) == pytest.approx(full / 2, rel=1e-12)


@pytest.mark.parametrize("slope", [0.0, -0.01, math.nan])
def test_flat_adverse_or_undefined_slope_carries_nothing(slope):
    assert rw.manning_capacity(D, N, slope) == 0.0
    assert rw.circular_flow(D, N, slope, 0.5) == 0.0
    assert rw.normal_depth(0.1, D, N, slope) is None


def test_depth_is_clamped_into_the_pipe():
    assert rw.circular_flow(D, N, S, 2.0) == rw.circular_flow(D, N, S, 1.0)
    assert rw.circular_flow(D, N, S, -1.0) == 0.0


@pytest.mark.parametrize(
    "q, expected",
    [(2.0, 0.536), (3.5628046538, 0.820), (0.0, 0.0), (-1.0, 0.0)],
)
def test_normal_depth(q, expected):
    assert rw.normal_depth(q, D, N, S) == pytest.approx(expected, abs=1e-3)


def test_normal_depth_near_the_peak_stays_below_the_crown():
    # The scan's peak lies at 938/2000 of the diameter, about 7.6 % above just full.
    peak = rw.circular_flow(D, N, S, 0.938)
    assert peak == pytest.approx(1.076 * rw.manning_capacity(D, N, S), rel=1e-3)
    assert rw.normal_depth(peak, D, N, S) == pytest.approx(0.938, abs=1e-6)
    assert rw.normal_depth(5.0, D, N, S) is None


def test_normal_depth_carries_its_flow():
    depth = rw.normal_depth(2.0, D, N, S)
    assert rw.circular_flow(D, N, S, depth) == pytest.approx(2.0, rel=1e-6)


@pytest.mark.parametrize(
    "q, expected",
    [(2.0, 0.6034), (1000.0, 0.999), (0.0, 0.0), (-3.0, 0.0), (1e-12, 1e-6)],
)
def test_critical_depth(q, expected):
    assert rw.critical_depth(q, D) == pytest.approx(expected, abs=1e-4)


def test_si_switches_manning_constant_and_gravity():
    assert rw.manning_capacity(0.3, N, S, si=True) == pytest.approx(0.0967, abs=1e-4)
    assert rw.manning_capacity(0.3, N, S, si=True) == pytest.approx(rw.manning_capacity(0.3, N, S) / 1.486)
    assert rw.critical_depth(0.05, 0.3, si=True) != rw.critical_depth(0.05, 0.3)
    assert rw.manning_capacity(D, N, S, si=False) == rw.manning_capacity(D, N, S)


def test_circular_geometry_half_and_full():
    half = rw.circular_geometry(1.0, 0.5)
    assert list(half) == ["area", "wetted_perimeter", "hydraulic_radius", "top_width"]
    assert half == {"area": math.pi / 8, "wetted_perimeter": math.pi / 2, "hydraulic_radius": 0.25, "top_width": 1.0}
    full = rw.circular_geometry(1.0, 1.0)
    assert full["area"] == pytest.approx(math.pi / 4, rel=1e-15)
    assert full["wetted_perimeter"] == math.pi
    assert 0 < full["top_width"] < 1e-15  # sin(pi) in doubles
    assert rw.circular_geometry(1.0, 7.0) == full


@pytest.mark.parametrize("depth", [0.0, -0.5, -math.inf])
def test_circular_geometry_empty(depth):
    assert rw.circular_geometry(1.0, depth) == {
        "area": 0.0, "wetted_perimeter": 0.0, "hydraulic_radius": 0.0, "top_width": 0.0,
    }


def test_circular_geometry_nan_depth():
    g = rw.circular_geometry(1.0, math.nan)
    assert math.isnan(g["area"]) and math.isnan(g["wetted_perimeter"]) and math.isnan(g["top_width"])
    assert g["hydraulic_radius"] == 0.0


@pytest.mark.parametrize("t_min, expected", [(10, 10.92), (60, 4.01), (0, 19.02)])
def test_intensity(t_min, expected):
    assert rw.intensity(120, 10, 0.8, t_min) == pytest.approx(expected, abs=0.01)


@pytest.mark.parametrize("t_min", [-5.0, math.nan])
def test_intensity_counts_negative_or_undefined_duration_as_zero(t_min):
    assert rw.intensity(120, 10, 0.8, t_min) == rw.intensity(120, 10, 0.8, 0)


def test_intensity_follows_ieee_arithmetic():
    assert rw.intensity(60, 0, 0.8, 0) == math.inf
    assert math.isnan(rw.intensity(60, -5, 0.5, 0))
    assert rw.intensity(60, 3, 0.0, 7) == 60.0


@pytest.mark.parametrize("args, expected", [((0.5, 4.0, 10.0), 20.0), ((0.0, 4.0, 10.0), 0.0), ((-0.5, 4.0, 10.0), -20.0)])
def test_rational_q(args, expected):
    assert rw.rational_q(*args) == expected
