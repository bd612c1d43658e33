#include "network_conduit.hpp"

#include <cmath>

#include "hydraulics.hpp"

namespace rillwright {

namespace {

constexpr double kTwoThirds = 2.0 / 3.0;
constexpr double kCriticalLowFraction = 1e-6;
constexpr double kCriticalHighFraction = 0.999;

// Conveyance (1.486 / n) * A * R^(2/3); 0 when n <= 0.
double conveyance(const Conduit& conduit, const SectionGeometry& section) {
    if (!(conduit.n > 0.0)) return 0.0;
    return conduit.manning_factor * section.area * std::pow(section.hydraulic_radius, kTwoThirds);
}

}  // namespace

Conduit::Conduit(const PipeShape& shape_, double n_, double slope)
    : shape(shape_), rise(rillwright::shape_rise(shape_)), n(n_), manning_factor(kManningUs / n_),
      slope_term(rillwright::slope_term(slope)) {}

double Conduit::flow_at(double depth) const {
    const SectionGeometry g = geometry_at_depth(shape, depth);
    return g.area * manning_factor * std::pow(g.hydraulic_radius, kTwoThirds) * slope_term;
}

DepthScan scan_depths(const Conduit& conduit) {
    DepthScan scan;
    if (conduit.n <= 0.0) return scan;
    for (int k = 1; k <= kScanSteps; ++k) {
        const double depth = k * conduit.rise / kScanSteps;
        const double flow = conduit.flow_at(depth);
        if (scan.max_flow < flow) {
            scan.max_flow = flow;
            scan.peak_depth = depth;
        }
    }
    return scan;
}

std::optional<double> normal_depth_search(const Conduit& conduit, const DepthScan& scan, double q) {
    if (q <= 0.0) return 0.0;
    if (conduit.n <= 0.0) return std::nullopt;
    if (q > scan.max_flow) return std::nullopt;
    double lo = 0.0;
    double hi = scan.peak_depth;
    for (int halvings = 1; halvings <= kMaxHalvings; ++halvings) {
        const double mid = (lo + hi) * 0.5;
        if (conduit.flow_at(mid) > q) {
            hi = mid;
        } else {
            lo = mid;
        }
        if (hi - lo < kDepthTolerance) break;
    }
    return (lo + hi) * 0.5;
}

double critical_depth_search(const PipeShape& shape, double q) {
    if (q <= 0.0) return 0.0;
    const double rise = shape_rise(shape);
    const double q_squared = q * q;
    double lo = kCriticalLowFraction * rise;
    double hi = kCriticalHighFraction * rise;
    for (int halvings = 1; halvings <= kMaxHalvings; ++halvings) {
        const double mid = (hi + lo) * 0.5;
        const SectionGeometry g = geometry_at_depth(shape, mid);
        // Same grouping as the single-pipe critical depth, so circular pipes agree bit for bit.
        const bool supercritical = g.area > 0.0 && g.top_width > 0.0 &&
                                   g.top_width * q_squared > kGravityUs * g.area * g.area * g.area;
        if (supercritical) {
            lo = mid;
        } else {
            hi = mid;
        }
        if (hi - lo < kDepthTolerance) break;
    }
    return (hi + lo) * 0.5;
}

EnergyTerms energy_terms(const Conduit& conduit, double q, const SectionGeometry& section) {
    EnergyTerms terms;
    const double k = conveyance(conduit, section);
    if (k > 0.0) {
        const double ratio = q / k;
        terms.friction_slope = ratio * ratio;
    }
    if (section.area > 0.0) {
        const double velocity = q / section.area;
        terms.velocity_head = velocity * velocity / kVelocityHeadDivisor;
    }
    return terms;
}

}  // namespace rillwright
