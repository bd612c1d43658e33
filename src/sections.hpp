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
// The same values as geometry_at_depth, bit for bit, without the parts a caller
// does not need: no top width, or no wetted perimeter and hydraulic radius.
SectionGeometry flow_geometry_at_depth(const PipeShape& shape, double depth);
SectionGeometry surface_geometry_at_depth(const PipeShape& shape, double depth);

double full_area(const PipeShape& shape);
double full_wetted_perimeter(const PipeShape& shape);
double full_hydraulic_radius(const PipeShape& shape);

// The three full-section values at the cost of one perimeter (the elliptical
// perimeter is an integration), equal to the three functions above.
struct FullSection {
    double area = 0.0;
    double wetted_perimeter = 0.0;
    double hydraulic_radius = 0.0;
};
FullSection full_section(const PipeShape& shape);
double elliptical_wetted_perimeter(double depth, double rise, double span);

}  // namespace rillwright
