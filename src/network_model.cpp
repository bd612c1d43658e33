// Node and pipe constructors: every producer of a Network builds through these,
// so the fields a kind or shape does not take always hold the same values.
#include <cmath>

#include "network.hpp"

namespace rillwright {

namespace {

constexpr double kDefaultInletTime = 10.0;

Node make_node(std::string id, NodeKind kind, double invert, double rim, double area_ac, double c,
               double tc_inlet) {
    Node node;
    node.id = std::move(id);
    node.kind = kind;
    node.invert = invert;
    node.rim = rim;
    node.area_ac = area_ac;
    node.c = c;
    node.tc_inlet = tc_inlet;
    return node;
}

Pipe make_pipe(std::string id, std::string from, std::string to, double length, double diameter, double n,
               PipeShape shape) {
    Pipe pipe;
    pipe.id = std::move(id);
    pipe.from = std::move(from);
    pipe.to = std::move(to);
    pipe.length = length;
    pipe.diameter = diameter;
    pipe.n = n;
    pipe.shape = shape;
    return pipe;
}

// Diameter of the circle with the given area.
double equivalent_diameter(double area) { return std::sqrt(4.0 * area / kPi); }

}  // namespace

Node make_inlet(std::string id, double invert, double rim, double area_ac, double c) {
    return make_node(std::move(id), NodeKind::Inlet, invert, rim, area_ac, c, kDefaultInletTime);
}

Node make_junction(std::string id, double invert, double rim, double area_ac, double c) {
    return make_node(std::move(id), NodeKind::Junction, invert, rim, area_ac, c, kDefaultInletTime);
}

Node make_outfall(std::string id, double invert, double rim) {
    return make_node(std::move(id), NodeKind::Outfall, invert, rim, 0.0, 0.0, 0.0);
}

Pipe make_circular_pipe(std::string id, std::string from, std::string to, double length, double diameter, double n) {
    return make_pipe(std::move(id), std::move(from), std::move(to), length, diameter, n, Circular{diameter});
}

Pipe make_box_pipe(std::string id, std::string from, std::string to, double length, double rise, double span,
                   double n) {
    return make_pipe(std::move(id), std::move(from), std::move(to), length, std::sqrt(4.0 * rise * span / kPi), n,
                     Box{rise, span});
}

Pipe make_elliptical_pipe(std::string id, std::string from, std::string to, double length, double rise, double span,
                          double n) {
    return make_pipe(std::move(id), std::move(from), std::move(to), length, std::sqrt(rise * span), n,
                     Elliptical{rise, span});
}

Pipe make_arch_pipe(std::string id, std::string from, std::string to, double length, double rise, double span,
                    double n) {
    const Arch arch{rise, span};
    return make_pipe(std::move(id), std::move(from), std::move(to), length, equivalent_diameter(full_area(arch)), n,
                     arch);
}

}  // namespace rillwright
