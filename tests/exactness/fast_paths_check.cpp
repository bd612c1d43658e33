// Checks that the conduit hydraulics of the network analysis give exactly the
// results of the straightforward computation: the 2000-depth scan evaluated at
// every depth, the bisections on the whole section geometry, and the full
// section from its three separate functions. The straightforward routines are
// kept here as they were first written. Random sections of all four shapes with
// ordinary and degenerate n, slopes and flows; any difference in any bit fails.
//
// Built and run by tests/test_fast_paths.py:  fast_paths_check [sections [seed]]
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <type_traits>
#include <variant>

#include "hydraulics.hpp"
#include "network_conduit.hpp"
#include "sections.hpp"

namespace reference {

using namespace rillwright;

constexpr double kTwoThirds = 2.0 / 3.0;

double clamp_to_rise(double depth, double rise) {
    if (depth < 0.0) return 0.0;
    if (depth > rise) return rise;
    return depth;
}
double clamp_unit(double value) {
    if (value < -1.0) return -1.0;
    if (value > 1.0) return 1.0;
    return value;
}
SectionGeometry with_radius(double area, double perimeter, double top_width) {
    SectionGeometry g;
    g.area = area;
    g.wetted_perimeter = perimeter;
    g.hydraulic_radius = perimeter > 0.0 ? area / perimeter : 0.0;
    g.top_width = top_width;
    return g;
}
double half_angle(double diameter, double depth) {
    const double y = clamp_to_rise(depth, diameter);
    return std::acos(1.0 - (y + y) / diameter);
}
SectionGeometry circular(double diameter, double depth) {
    const double phi = half_angle(diameter, depth);
    const double theta = 2.0 * phi;
    SectionGeometry g;
    g.area = (theta - std::sin(theta)) * (diameter * diameter) * 0.125;
    g.wetted_perimeter = diameter * theta * 0.5;
    g.hydraulic_radius = g.wetted_perimeter > 0.0 ? g.area / g.wetted_perimeter : 0.0;
    g.top_width = diameter * std::sin(theta * 0.5);
    return g;
}
double elliptical_perimeter(double depth, double rise, double span) {
    const double a = span / 2.0;
    const double b = rise / 2.0;
    if (b <= 0.0) return 0.0;
    const double y = clamp_to_rise(depth, rise);
    const double theta = std::acos(clamp_unit(1.0 - y / b));
    const double h = theta / 256;
    if (h <= 0.0) return 0.0;
    const double a2 = a * a;
    const double b2 = b * b;
    const auto f = [&](double t) {
        const double c = std::cos(t);
        const double s = std::sin(t);
        return std::sqrt(a2 * (c * c) + b2 * (s * s));
    };
    double sum = f(0.0) + f(theta);
    for (int i = 1; i < 256; ++i) sum += (i % 2 == 1 ? 4.0 : 2.0) * f(i * h);
    return 2.0 * (h / 3.0) * sum;
}
double arch_wall(const Arch& arch) { return std::max(arch.rise - arch.span / 2.0, 0.0); }

SectionGeometry geometry(const PipeShape& shape, double depth) {
    if (const auto* c = std::get_if<Circular>(&shape)) return circular(c->diameter, depth);
    if (const auto* b = std::get_if<Box>(&shape)) {
        const double y = clamp_to_rise(depth, b->rise);
        return with_radius(y * b->span, 2.0 * y + b->span, b->span);
    }
    if (const auto* e = std::get_if<Elliptical>(&shape)) {
        const double y = clamp_to_rise(depth, e->rise);
        const double theta = 2.0 * half_angle(e->rise, y);
        const double area = (theta - std::sin(theta)) * (e->rise * e->rise) * 0.125 * (e->span / e->rise);
        const double perimeter = elliptical_perimeter(y, e->rise, e->span);
        return with_radius(area, perimeter, e->span * std::sin(theta * 0.5));
    }
    const Arch& a = std::get<Arch>(shape);
    const double y = clamp_to_rise(depth, a.rise);
    const double radius = a.span / 2.0;
    const double wall = arch_wall(a);
    if (y <= wall) return with_radius(y * a.span, 2.0 * y + a.span, a.span);
    const double g = std::min(y - wall, radius);
    const double half_width = std::sqrt(std::max(radius * radius - g * g, 0.0));
    const double phi = std::asin(clamp_unit(g / radius));
    return with_radius(a.span * wall + radius * radius * phi + g * half_width, 2.0 * wall + a.span + 2.0 * radius * phi,
                       2.0 * half_width);
}

double rise_of(const PipeShape& shape) {
    if (const auto* c = std::get_if<Circular>(&shape)) return c->diameter;
    return std::visit([](const auto& s) -> double {
        if constexpr (std::is_same_v<std::decay_t<decltype(s)>, Circular>) return s.diameter;
        else return s.rise;
    }, shape);
}

struct Pipe {
    PipeShape shape;
    double rise, n, manning_factor, slope_term;
    Pipe(const PipeShape& s, double n_, double slope)
        : shape(s), rise(rise_of(s)), n(n_), manning_factor(kManningUs / n_),
          slope_term(slope > 0.0 ? std::sqrt(slope) : 0.0) {}
    double flow_at(double depth) const {
        const SectionGeometry g = geometry(shape, depth);
        return g.area * manning_factor * std::pow(g.hydraulic_radius, kTwoThirds) * slope_term;
    }
};

DepthScan scan(const Pipe& pipe) {
    DepthScan s;
    if (pipe.n <= 0.0) return s;
    for (int k = 1; k <= 2000; ++k) {
        const double depth = k * pipe.rise / 2000;
        const double flow = pipe.flow_at(depth);
        if (s.max_flow < flow) {
            s.max_flow = flow;
            s.peak_depth = depth;
        }
    }
    return s;
}

std::optional<double> normal_depth(const Pipe& pipe, const DepthScan& s, double q) {
    if (q <= 0.0) return 0.0;
    if (pipe.n <= 0.0) return std::nullopt;
    if (q > s.max_flow) return std::nullopt;
    double lo = 0.0, hi = s.peak_depth;
    for (int halvings = 1; halvings <= 200; ++halvings) {
        const double mid = (lo + hi) * 0.5;
        if (pipe.flow_at(mid) > q) hi = mid;
        else lo = mid;
        if (hi - lo < 1e-7) break;
    }
    return (lo + hi) * 0.5;
}

double critical_depth(const PipeShape& shape, double q) {
    if (q <= 0.0) return 0.0;
    const double rise = rise_of(shape);
    const double q2 = q * q;
    double lo = 1e-6 * rise, hi = 0.999 * rise;
    for (int halvings = 1; halvings <= 200; ++halvings) {
        const double mid = (hi + lo) * 0.5;
        const SectionGeometry g = geometry(shape, mid);
        if (g.area > 0.0 && g.top_width > 0.0 && g.top_width * q2 > 32.2 * g.area * g.area * g.area) lo = mid;
        else hi = mid;
        if (hi - lo < 1e-7) break;
    }
    return (hi + lo) * 0.5;
}

}  // namespace reference

namespace {

using namespace rillwright;

std::uint64_t bits(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

int failures = 0;
std::string describe;

void expect_same(const char* what, double got, double want) {
    if (bits(got) == bits(want)) return;
    if (++failures <= 20) std::printf("DIFFERENT %s: %.17g vs %.17g (%s)\n", what, got, want, describe.c_str());
}
void expect_same(const char* what, const std::optional<double>& got, const std::optional<double>& want) {
    if (got.has_value() != want.has_value()) {
        if (++failures <= 20) std::printf("DIFFERENT %s presence (%s)\n", what, describe.c_str());
        return;
    }
    if (got) expect_same(what, *got, *want);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

int main(int argc, char** argv) {
    const int sections = argc > 1 ? std::atoi(argv[1]) : 4000;
    std::mt19937_64 rng(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261208);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto log_uniform = [&](double lo, double hi) { return lo * std::pow(hi / lo, unit(rng)); };
    int scans = 0;

    for (int i = 0; i < sections; ++i) {
        // Elliptical sections cost 256 perimeter terms per flow in the reference
        // scan: one in eight of them.
        const int kind = i % 8 == 7 ? 2 : std::array<int, 3>{0, 1, 3}[i % 3];
        const double rise = unit(rng) < 0.05 ? log_uniform(1e-4, 1e-2) : log_uniform(0.3, 25.0);
        const double span = rise * (unit(rng) < 0.1 ? log_uniform(0.01, 100.0) : log_uniform(0.2, 5.0));
        PipeShape shape;
        switch (kind) {
            case 0: shape = Circular{rise}; break;
            case 1: shape = Box{rise, span}; break;
            case 2: shape = Elliptical{rise, span}; break;
            default: shape = Arch{rise, span}; break;
        }
        const double r = unit(rng);
        const double n = r < 0.80 ? log_uniform(0.008, 0.04)
                         : r < 0.84 ? 0.0
                         : r < 0.88 ? -0.013
                         : r < 0.91 ? kNaN
                         : r < 0.94 ? 1e-320  // 1.486 / n overflows
                         : r < 0.97 ? std::numeric_limits<double>::infinity()
                                    : log_uniform(1e-6, 1e3);
        const double t = unit(rng);
        const double slope = t < 0.80 ? log_uniform(1e-7, 0.5)
                             : t < 0.85 ? 0.0
                             : t < 0.90 ? -log_uniform(1e-6, 0.1)
                             : t < 0.93 ? kNaN
                             : t < 0.96 ? log_uniform(1.0, 1e6)
                                        : std::numeric_limits<double>::infinity();
        describe = "shape " + std::to_string(kind) + " rise " + std::to_string(rise) + " span " +
                   std::to_string(span) + " n " + std::to_string(n) + " slope " + std::to_string(slope);

        const Conduit conduit(shape, n, slope);
        const reference::Pipe pipe(shape, n, slope);
        const DepthScan fast = scan_depths(conduit);
        const DepthScan slow = reference::scan(pipe);
        expect_same("max flow", fast.max_flow, slow.max_flow);
        expect_same("peak depth", fast.peak_depth, slow.peak_depth);
        ++scans;

        // Flows around and beyond the peak, exact ties with it, degenerate ones.
        const double peak = slow.max_flow;
        const double flows[] = {peak * unit(rng), peak * (0.9 + 0.1 * unit(rng)), peak, std::nextafter(peak, 0.0),
                                peak * 1.01 + 1e-9, 0.0, -1.0, kNaN, log_uniform(1e-6, 1e4),
                                std::numeric_limits<double>::infinity()};
        for (const double q : flows) {
            expect_same("normal depth", normal_depth_search(conduit, fast, q), reference::normal_depth(pipe, slow, q));
        }
        for (const double q : {flows[0], flows[2], flows[8], 1e-9, 1e6, 0.0, -2.0, kNaN}) {
            expect_same("critical depth", critical_depth_search(shape, q), reference::critical_depth(shape, q));
        }

        // The partial geometries against the whole section, the full section
        // against its separate functions.
        for (const double depth : {rise * unit(rng), rise * 1.5, -0.5, 0.0, rise, kNaN}) {
            const SectionGeometry whole = reference::geometry(shape, depth);
            expect_same("geometry area", geometry_at_depth(shape, depth).area, whole.area);
            expect_same("geometry top width", geometry_at_depth(shape, depth).top_width, whole.top_width);
            const SectionGeometry flow = flow_geometry_at_depth(shape, depth);
            expect_same("flow area", flow.area, whole.area);
            expect_same("flow perimeter", flow.wetted_perimeter, whole.wetted_perimeter);
            expect_same("flow radius", flow.hydraulic_radius, whole.hydraulic_radius);
            const SectionGeometry surface = surface_geometry_at_depth(shape, depth);
            expect_same("surface area", surface.area, whole.area);
            expect_same("surface top width", surface.top_width, whole.top_width);
        }
        const FullSection full = full_section(shape);
        expect_same("full area", full.area, full_area(shape));
        expect_same("full perimeter", full.wetted_perimeter, full_wetted_perimeter(shape));
        expect_same("full radius", full.hydraulic_radius, full_hydraulic_radius(shape));
    }
    std::printf("%d sections checked, %d differences\n", scans, failures);
    return failures == 0 ? 0 : 1;
}
