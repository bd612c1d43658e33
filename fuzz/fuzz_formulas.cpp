// The single-pipe and rainfall formulas on arbitrary doubles: no crash, no
// undefined behaviour, and the documented rules for degenerate arguments hold
// (clamped depths, no flow on flat or adverse slopes, NaN handling, solver
// results inside their brackets).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.hpp"
#include "hydraulics.hpp"

using namespace rillwright;

namespace {

// Bit-for-bit equality, with every NaN equal to every other NaN.
bool same(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool same(const SectionGeometry& a, const SectionGeometry& b) {
    return same(a.area, b.area) && same(a.wetted_perimeter, b.wetted_perimeter) &&
           same(a.hydraulic_radius, b.hydraulic_radius) && same(a.top_width, b.top_width);
}

struct Doubles {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t used = 0;

    double next() {
        double value = 0.0;
        if (used + sizeof value <= size) std::memcpy(&value, data + used, sizeof value);
        used += sizeof value;
        return value;
    }
};

// Sizes for which the evaluation order cannot overflow or underflow on the way,
// so the documented exact results are reachable.
bool ordinary_diameter(double d) { return d >= 1e-3 && d <= 1e3; }
bool ordinary_n(double n) { return n >= 1e-4 && n <= 1.0; }

void check_geometry(double d, double depth) {
    const SectionGeometry g = circular_geometry(d, depth);  // any diameter: must not crash
    if (!(d > 0.0) || !std::isfinite(d)) return;
    REQUIRE(g.wetted_perimeter > 0.0 || g.hydraulic_radius == 0.0);
    if (std::isnan(depth)) {
        REQUIRE(std::isnan(g.area) && std::isnan(g.wetted_perimeter) && std::isnan(g.top_width));
        REQUIRE(g.hydraulic_radius == 0.0);
        return;
    }
    if (depth >= d) REQUIRE(same(g, circular_geometry(d, d)));
    if (!ordinary_diameter(d)) return;
    if (depth <= 0.0) {
        REQUIRE(g.area == 0.0 && g.wetted_perimeter == 0.0 && g.hydraulic_radius == 0.0 && g.top_width == 0.0);
        return;
    }
    REQUIRE(g.area >= 0.0 && g.wetted_perimeter >= 0.0 && g.top_width >= 0.0);
    REQUIRE(g.area <= kPi * d * d * 0.25 * (1 + 1e-12));
    REQUIRE(g.wetted_perimeter <= kPi * d * (1 + 1e-12));
    REQUIRE(g.top_width <= d * (1 + 1e-12));
}

void check_flow(double d, double n, double slope, double depth, UnitSystem units) {
    const double flow = circular_flow(d, n, slope, depth, units);
    (void)manning_capacity(d, n, slope, units);
    if (!(d > 0.0) || !std::isfinite(d)) return;
    if (n <= 0.0) REQUIRE(flow == 0.0);
    if (!ordinary_diameter(d) || !ordinary_n(n) || std::isnan(depth)) return;
    if (!(slope > 0.0)) {
        REQUIRE(flow == 0.0);
        REQUIRE(manning_capacity(d, n, slope, units) == 0.0);
    }
    if (depth >= d) REQUIRE(same(flow, circular_flow(d, n, slope, d, units)));
    // An infinite slope times an empty section is NaN by IEEE rules, as written.
    if (!std::isfinite(slope)) return;
    if (depth <= 0.0) REQUIRE(flow == 0.0);
    REQUIRE(flow >= 0.0);
}

void check_normal_depth(double q, double d, double n, double slope, UnitSystem units) {
    const std::optional<double> depth = normal_depth(q, d, n, slope, units);
    // A flow or slope that is not a number has no normal depth.
    if (std::isnan(q) || std::isnan(slope)) {
        REQUIRE(!depth.has_value());
        return;
    }
    if (q <= 0.0) {
        REQUIRE(depth.has_value() && *depth == 0.0);
        return;
    }
    if (!(d > 0.0) || !std::isfinite(d)) return;
    const PeakFlow peak = peak_flow_scan(d, n, slope, manning_k(units));
    REQUIRE(!std::isnan(peak.flow) && peak.flow >= 0.0);  // a NaN flow never wins the scan
    REQUIRE(peak.depth >= 0.0 && peak.depth <= d);
    REQUIRE(depth.has_value() == !(q > peak.flow));
    if (!depth) return;
    REQUIRE(*depth >= 0.0 && *depth <= peak.depth);
    if (!ordinary_diameter(d) || !ordinary_n(n) || !(slope > 0.0) || !std::isfinite(slope) || std::isnan(q)) return;
    // The bisection keeps Q(lo) <= q < Q(hi) and stops within the tolerance; the
    // scan's grid puts the bracket's top within a hair of the true peak.
    const double below = circular_flow(d, n, slope, *depth - kDepthTolerance, units);
    const double above = circular_flow(d, n, slope, std::fmin(*depth + kDepthTolerance, peak.depth), units);
    REQUIRE(below <= q * (1 + 1e-9));
    REQUIRE(above >= q * (1 - 1e-6));
}

void check_critical_depth(double q, double d, UnitSystem units) {
    const double depth = critical_depth(q, d, units);
    if (std::isnan(q)) {
        REQUIRE(std::isnan(depth));  // no bisection can place a flow that is not a number
        return;
    }
    if (q <= 0.0) {
        REQUIRE(depth == 0.0);
        return;
    }
    if (!(d > 0.0) || !std::isfinite(d)) return;
    REQUIRE(depth >= 1e-6 * d && depth <= 0.999 * d);
}

void check_rainfall(double a, double b, double c, double t) {
    const double i = intensity(a, b, c, t);
    if (!(t > 0.0)) REQUIRE(same(i, intensity(a, b, c, 0.0)));
    REQUIRE(same(rational_q(a, b, c), (a * b) * c));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Doubles in{data, size};
    const double d = in.next();
    const double n = in.next();
    const double slope = in.next();
    const double depth = in.next();
    const double q = in.next();
    const double extra = in.next();
    const UnitSystem units = (size % 2 == 0) ? UnitSystem::us_customary : UnitSystem::si;

    REQUIRE(slope_term(slope) >= 0.0);
    check_geometry(d, depth);
    check_flow(d, n, slope, depth, units);
    check_normal_depth(q, d, n, slope, units);
    check_critical_depth(q, d, units);
    check_rainfall(d, n, slope, depth);
    check_rainfall(q, extra, depth, extra);
    return 0;
}
