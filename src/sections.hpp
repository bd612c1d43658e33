// Closed conduit shapes and their flow geometry at any depth. The circular case
// uses exactly the relations of the single-pipe formulas, so both agree bit for bit.
#pragma once

#include <variant>

#include "hydraulics.hpp"

namespace rillwright {

struct Circular {
    double diameter = 0.0;
};
struct Box {
    double rise = 0.0;
    double span = 0.0;
};
struct Elliptical {
    double rise = 0.0;
    double span = 0.0;
};
// A rectangle of the full span topped by a half-circle of radius span / 2.
struct Arch {
    double rise = 0.0;
    double span = 0.0;
};

using PipeShape = std::variant<Circular, Box, Elliptical, Arch>;

double shape_rise(const PipeShape& shape);

SectionGeometry geometry_at_depth(const PipeShape& shape, double depth);
double full_area(const PipeShape& shape);
double full_wetted_perimeter(const PipeShape& shape);
double full_hydraulic_radius(const PipeShape& shape);
double elliptical_wetted_perimeter(double depth, double rise, double span);

}  // namespace rillwright
