// Hydraulics of one circular pipe and the rational-method rainfall formulas.
// Pure functions of their arguments; evaluation order is part of the behaviour.
#pragma once

#include <optional>
#include <utility>

namespace rillwright {

enum class UnitSystem { us_customary, si };

inline constexpr double kManningUs = 1.486;
inline constexpr double kManningSi = 1.0;
inline constexpr double kGravityUs = 32.2;
inline constexpr double kGravitySi = 9.81;
inline constexpr double kPi = 3.14159265358979323846;

constexpr double manning_k(UnitSystem units) {
    return units == UnitSystem::si ? kManningSi : kManningUs;
}
constexpr double gravity(UnitSystem units) {
    return units == UnitSystem::si ? kGravitySi : kGravityUs;
}

// Geometry of a flow cross-section at one depth.
struct SectionGeometry {
    double area = 0.0;
    double wetted_perimeter = 0.0;
    double hydraulic_radius = 0.0;
    double top_width = 0.0;
};

// Half-angle phi of the wetted arc of a circle of diameter `diameter` filled to
// `depth`, the depth first clamped into [0, diameter] (NaN stays NaN).
double circular_half_angle(double diameter, double depth);

SectionGeometry circular_geometry(double diameter, double depth);

// The parts of a section that a computation needs, each with exactly the bits of
// the whole geometry: `flow` leaves the top width 0 (Manning flow, friction),
// `surface` leaves the wetted perimeter and hydraulic radius 0 (critical depth, areas).
enum class SectionParts { all, flow, surface };
SectionGeometry circular_flow_geometry(double diameter, double depth);
SectionGeometry circular_surface_geometry(double diameter, double depth);

// sqrt(slope) for a positive slope, else 0 (NaN included): flat and adverse
// pipes carry nothing.
double slope_term(double slope);

// R^(2/3) from area and wetted perimeter; 0 when the perimeter is not positive.
double radius_two_thirds(double area, double wetted_perimeter);

double manning_capacity(double diameter, double n, double slope, UnitSystem units);
double circular_flow(double diameter, double n, double slope, double depth, UnitSystem units);

struct PeakFlow {
    double flow = 0.0;
    double depth = 0.0;
};
// Largest Manning flow over the 2000-depth scan and the (smallest) depth where it occurs.
PeakFlow peak_flow_scan(double diameter, double n, double slope, double k);

// Depth at which the pipe carries q; empty when it cannot.
std::optional<double> normal_depth(double q, double diameter, double n, double slope, UnitSystem units);
double critical_depth(double q, double diameter, UnitSystem units);

double intensity(double a, double b, double c, double t_min);
double rational_q(double c, double i, double area);

// Shared search limits: the scan's depth count and the bisection stop rules.
inline constexpr int kScanSteps = 2000;
inline constexpr double kDepthTolerance = 1e-7;
inline constexpr int kMaxHalvings = 200;

// The bracket of every critical-depth search, as fractions of the rise: just above
// the invert and just below the crown, where the top width closes.
inline constexpr double kCriticalLowFraction = 1e-6;
inline constexpr double kCriticalHighFraction = 0.999;

// Critical depth of q > 0 in a section of the given rise, by bisection on
// Q^2 T > g A^3 (the flow is supercritical at the depth), where `section(depth)`
// gives {area, top_width} at a depth. The one search of the circular formula and
// of every shape, so that circular pipes agree bit for bit.
template <class Section>
double critical_depth_bisection(double q, double rise, double g, Section section) {
    const double q_squared = q * q;
    double lo = kCriticalLowFraction * rise;
    double hi = kCriticalHighFraction * rise;
    for (int halvings = 1; halvings <= kMaxHalvings; ++halvings) {
        const double mid = (hi + lo) * 0.5;
        const auto [area, top_width] = section(mid);
        const bool supercritical = area > 0.0 && top_width > 0.0 && top_width * q_squared > g * area * area * area;
        if (supercritical) {
            lo = mid;
        } else {
            hi = mid;
        }
        if (hi - lo < kDepthTolerance) break;
    }
    return (hi + lo) * 0.5;
}

}  // namespace rillwright
