#include "hydraulics.hpp"

#include <cmath>

namespace rillwright {

namespace {

constexpr double kTwoThirds = 2.0 / 3.0;

double clamp_depth(double depth, double diameter) {
    if (depth < 0.0) return 0.0;
    if (depth > diameter) return diameter;
    return depth;  // also NaN, which stays NaN
}

// Flow at a clamped depth: s * ((k / n) * A * R^(2/3)).
double flow_at(double diameter, double k_over_n, double s, double depth) {
    const double theta = 2.0 * circular_half_angle(diameter, depth);
    const double area = (theta - std::sin(theta)) * (diameter * diameter) * 0.125;
    const double perimeter = diameter * theta * 0.5;
    return s * (k_over_n * area * radius_two_thirds(area, perimeter));
}

}  // namespace

double circular_half_angle(double diameter, double depth) {
    const double y = clamp_depth(depth, diameter);
    return std::acos(1.0 - (y + y) / diameter);
}

// One body for the whole section and its parts, so that every caller gets the
// same bits for the values it asks for.
template <SectionParts parts>
SectionGeometry circular_parts(double diameter, double depth) {
    const double phi = circular_half_angle(diameter, depth);
    const double theta = 2.0 * phi;
    SectionGeometry g;
    g.area = (theta - std::sin(theta)) * (diameter * diameter) * 0.125;
    if constexpr (parts != SectionParts::surface) {
        g.wetted_perimeter = diameter * theta * 0.5;
        g.hydraulic_radius = g.wetted_perimeter > 0.0 ? g.area / g.wetted_perimeter : 0.0;
    }
    if constexpr (parts != SectionParts::flow) g.top_width = diameter * std::sin(theta * 0.5);
    return g;
}

SectionGeometry circular_geometry(double diameter, double depth) {
    return circular_parts<SectionParts::all>(diameter, depth);
}

SectionGeometry circular_flow_geometry(double diameter, double depth) {
    return circular_parts<SectionParts::flow>(diameter, depth);
}

SectionGeometry circular_surface_geometry(double diameter, double depth) {
    return circular_parts<SectionParts::surface>(diameter, depth);
}

double slope_term(double slope) { return slope > 0.0 ? std::sqrt(slope) : 0.0; }

double radius_two_thirds(double area, double wetted_perimeter) {
    return wetted_perimeter > 0.0 ? std::pow(area / wetted_perimeter, kTwoThirds) : 0.0;
}

double manning_capacity(double diameter, double n, double slope, UnitSystem units) {
    const double area_full = kPi * diameter * diameter * 0.25;
    const double radius_full = diameter * 0.25;
    return std::pow(radius_full, kTwoThirds) * ((manning_k(units) / n) * area_full) * slope_term(slope);
}

double circular_flow(double diameter, double n, double slope, double depth, UnitSystem units) {
    if (n <= 0.0) return 0.0;
    return flow_at(diameter, manning_k(units) / n, slope_term(slope), depth);
}

PeakFlow peak_flow_scan(double diameter, double n, double slope, double k) {
    PeakFlow peak;
    if (n <= 0.0) return peak;
    const double k_over_n = k / n;
    const double s = slope_term(slope);
    for (int i = 1; i <= kScanSteps; ++i) {
        const double y = i * diameter / kScanSteps;
        const double q = flow_at(diameter, k_over_n, s, y);
        if (peak.flow < q) {  // NaN never wins; ties keep the smaller depth
            peak.flow = q;
            peak.depth = y;
        }
    }
    return peak;
}

std::optional<double> normal_depth(double q, double diameter, double n, double slope, UnitSystem units) {
    // A flow or slope that is not a number has no depth that carries it.
    if (std::isnan(q) || std::isnan(slope)) return std::nullopt;
    if (q <= 0.0) return 0.0;
    const double k = manning_k(units);
    const PeakFlow peak = peak_flow_scan(diameter, n, slope, k);
    if (q > peak.flow) return std::nullopt;
    // n > 0 here: a non-positive n has a zero peak, which every positive q exceeds.
    const double k_over_n = k / n;
    const double s = slope_term(slope);
    double lo = 0.0;
    double hi = peak.depth;
    for (int halvings = 1; halvings <= kMaxHalvings; ++halvings) {
        const double mid = (lo + hi) * 0.5;
        if (flow_at(diameter, k_over_n, s, mid) > q) {
            hi = mid;
        } else {
            lo = mid;
        }
        if (hi - lo < kDepthTolerance) break;
    }
    return (lo + hi) * 0.5;
}

double critical_depth(double q, double diameter, UnitSystem units) {
    if (std::isnan(q)) return q;  // no bisection can place a flow that is not a number
    if (q <= 0.0) return 0.0;
    return critical_depth_bisection(q, diameter, gravity(units), [&](double depth) {
        const double theta = 2.0 * circular_half_angle(diameter, depth);
        const double area = (theta - std::sin(theta)) * (diameter * diameter) * 0.125;
        const double top_width = std::sin(theta * 0.5) * diameter;
        return std::pair{area, top_width};
    });
}

double intensity(double a, double b, double c, double t_min) {
    const double t = t_min > 0.0 ? t_min : 0.0;  // negative and NaN durations count as 0
    return a / std::pow(b + t, c);
}

double rational_q(double c, double i, double area) { return c * i * area; }

}  // namespace rillwright
