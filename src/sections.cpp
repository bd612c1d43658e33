#include "sections.hpp"

#include <algorithm>
#include <cmath>

namespace rillwright {

namespace {

template <class... Cases>
struct Overloaded : Cases... {
    using Cases::operator()...;
};
template <class... Cases>
Overloaded(Cases...) -> Overloaded<Cases...>;

constexpr int kSimpsonIntervals = 256;

// Depth clamped into [0, rise]; NaN stays NaN, as in the circular relations
// (std::min/std::max below also let a NaN depth through).
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

SectionGeometry box_geometry(const Box& box, double depth) {
    const double y = clamp_to_rise(depth, box.rise);
    return with_radius(y * box.span, 2.0 * y + box.span, box.span);
}

// A circle of diameter `rise` stretched horizontally by span / rise.
SectionGeometry elliptical_geometry(const Elliptical& ellipse, double depth) {
    const double y = clamp_to_rise(depth, ellipse.rise);
    const double theta = 2.0 * circular_half_angle(ellipse.rise, y);
    const double area =
        (theta - std::sin(theta)) * (ellipse.rise * ellipse.rise) * 0.125 * (ellipse.span / ellipse.rise);
    const double perimeter = elliptical_wetted_perimeter(y, ellipse.rise, ellipse.span);
    return with_radius(area, perimeter, ellipse.span * std::sin(theta * 0.5));
}

// Height of the straight walls below the springing line of the crown.
double arch_wall(const Arch& arch) { return std::max(arch.rise - arch.span / 2.0, 0.0); }

// Rectangular walls up to the springing line, then a half-circle of radius span / 2.
SectionGeometry arch_geometry(const Arch& arch, double depth) {
    const double y = clamp_to_rise(depth, arch.rise);
    const double radius = arch.span / 2.0;
    const double wall = arch_wall(arch);
    if (y <= wall) return with_radius(y * arch.span, 2.0 * y + arch.span, arch.span);
    const double g = std::min(y - wall, radius);
    const double half_width = std::sqrt(std::max(radius * radius - g * g, 0.0));
    const double phi = std::asin(clamp_unit(g / radius));
    const double area = arch.span * wall + radius * radius * phi + g * half_width;
    const double perimeter = 2.0 * wall + arch.span + 2.0 * radius * phi;
    return with_radius(area, perimeter, 2.0 * half_width);
}

}  // namespace

double shape_rise(const PipeShape& shape) {
    return std::visit(Overloaded{[](const Circular& c) { return c.diameter; },
                                 [](const auto& other) { return other.rise; }},
                      shape);
}

SectionGeometry geometry_at_depth(const PipeShape& shape, double depth) {
    return std::visit(Overloaded{[&](const Circular& c) { return circular_geometry(c.diameter, depth); },
                                 [&](const Box& b) { return box_geometry(b, depth); },
                                 [&](const Elliptical& e) { return elliptical_geometry(e, depth); },
                                 [&](const Arch& a) { return arch_geometry(a, depth); }},
                      shape);
}

double full_area(const PipeShape& shape) {
    return std::visit(
        Overloaded{[](const Circular& c) { return kPi * c.diameter * c.diameter * 0.25; },
                   [](const Box& b) { return b.rise * b.span; },
                   [](const Elliptical& e) { return kPi * e.rise * e.span * 0.25; },
                   [](const Arch& a) {
                       const double radius = a.span / 2.0;
                       return kPi * radius * radius / 2.0 + arch_wall(a) * a.span;
                   }},
        shape);
}

// The box counts its top here, unlike the part-full section at full depth.
double full_wetted_perimeter(const PipeShape& shape) {
    return std::visit(
        Overloaded{[](const Circular& c) { return kPi * c.diameter; },
                   [](const Box& b) { return 2.0 * (b.rise + b.span); },
                   [](const Elliptical& e) { return elliptical_wetted_perimeter(e.rise, e.rise, e.span); },
                   [](const Arch& a) { return kPi * (a.span / 2.0) + 2.0 * arch_wall(a) + a.span; }},
        shape);
}

double full_hydraulic_radius(const PipeShape& shape) {
    const double perimeter = full_wetted_perimeter(shape);
    return perimeter > 0.0 ? full_area(shape) / perimeter : 0.0;
}

// Arc length of both sides up to the water surface, by Simpson's rule over the
// parameter angle measured from the invert.
double elliptical_wetted_perimeter(double depth, double rise, double span) {
    const double a = span / 2.0;
    const double b = rise / 2.0;
    if (b <= 0.0) return 0.0;
    const double y = clamp_to_rise(depth, rise);
    const double theta = std::acos(clamp_unit(1.0 - y / b));
    const double h = theta / kSimpsonIntervals;
    if (h <= 0.0) return 0.0;
    const double a2 = a * a;
    const double b2 = b * b;
    const auto f = [&](double t) {
        const double c = std::cos(t);
        const double s = std::sin(t);
        return std::sqrt(a2 * (c * c) + b2 * (s * s));
    };
    double sum = f(0.0) + f(theta);
    for (int i = 1; i < kSimpsonIntervals; ++i) sum += (i % 2 == 1 ? 4.0 : 2.0) * f(i * h);
    return 2.0 * (h / 3.0) * sum;
}

}  // namespace rillwright
