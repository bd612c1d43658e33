#include "network_losses.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "energy_loss.hpp"
#include "network_conduit.hpp"

namespace rillwright {

namespace {

constexpr double kFullDepthRatio = 3.2;  // relative depth from which the HEC-22 corrections are complete
constexpr double kExitLoss = 0.4;        // of the velocity head at an entering pipe's outlet face

struct Vec {
    double x;
    double y;
};

Vec between(const Node& from, const Node& to) { return {to.x - from.x, to.y - from.y}; }

// Cosine of the angle between two plan directions, 1 when either has no length.
double cosine(Vec u, Vec w) {
    const double length_u = std::sqrt(u.x * u.x + u.y * u.y);
    const double length_w = std::sqrt(w.x * w.x + w.y * w.y);
    if (length_u == 0.0 || length_w == 0.0) return 1.0;
    return std::clamp((u.x * w.x + u.y * w.y) / (length_u * length_w), -1.0, 1.0);
}

// Deflection at the pipe's downstream node I, between the pipe and the first
// pipe leaving I: 0 for a straight run, the whole coefficient for a reversal.
double bend_factor(const Network& network, const Topology& topology, const LossSite& site) {
    const double coefficient = network.settings.bend_loss_coeff;
    const auto& leaving = topology.outgoing[site.downstream];
    if (!(coefficient > 0.0) || leaving.empty()) return 0.0;
    const Node& j = network.nodes[site.upstream];
    const Node& i = network.nodes[site.downstream];
    const Node& next = network.nodes[leaving.front().node];
    return coefficient * (1.0 - cosine(between(j, i), between(i, next))) / 2.0;
}

struct AccessHoleCoefficient {
    double initial = 0.0;
    double depth_correction = 0.0;
    double diameter_correction = 0.0;
    double factor = 0.0;  // the structure-loss factor, when one is applied
    double k = 0.0;
};

// Access-hole loss coefficient; the angle is measured at J, between the first
// pipe entering J and this pipe.
AccessHoleCoefficient hec22_coefficient(const Network& network, const Topology& topology, const LossSite& site) {
    const DesignSettings& settings = network.settings;
    const double outlet_rise = shape_rise(network.pipes[site.pipe].shape);
    if (outlet_rise <= 0.0) return {};

    const Node& j = network.nodes[site.upstream];
    const Node& i = network.nodes[site.downstream];
    double inflow_rise = 0.0;
    double cos_theta = 1.0;
    if (const auto& entering = topology.incoming[site.upstream]; !entering.empty()) {
        const PipeLink inflow = entering.front();
        inflow_rise = shape_rise(network.pipes[inflow.pipe].shape);
        cos_theta = cosine(between(network.nodes[inflow.node], j), between(j, i));
    }

    const double ratio = settings.access_hole_diam_ft / outlet_rise;
    const double depth_ratio = max_of_numbers(site.hgl_up - site.invert_up, 0.0) / outlet_rise;
    const double c = std::clamp(cos_theta, -1.0, 1.0);
    const double sin_theta = std::sqrt(1.0 - c * c);
    AccessHoleCoefficient parts;
    parts.initial = 1.4 * std::pow(ratio, 0.15) * sin_theta + 0.1 * ratio * (1.0 - sin_theta);
    const bool deep = depth_ratio >= kFullDepthRatio;
    parts.depth_correction = deep ? 1.0 : std::clamp(0.5 * std::pow(depth_ratio, 0.6), 0.0, 1.0);
    parts.diameter_correction = 1.0;
    if (deep && inflow_rise > 0.0) {
        const double size_ratio = outlet_rise / inflow_rise;
        parts.diameter_correction = size_ratio * size_ratio * size_ratio;
    }
    double coefficient = parts.diameter_correction * parts.initial * parts.depth_correction;
    if (settings.structure_loss_factor > 0.0) {
        parts.factor = settings.structure_loss_factor;
        coefficient *= settings.structure_loss_factor;
    }
    parts.k = coefficient < 0.0 ? 0.0 : coefficient;
    return parts;
}

}  // namespace

StructureLossParts structure_loss_parts(const Network& network, const Topology& topology, const DesignFlows& design,
                                        const LossSite& site) {
    const double velocity = design.pipes[site.pipe].velocity;
    StructureLossParts parts;
    if (network.settings.hec22_structure_loss) {
        const AccessHoleCoefficient c = hec22_coefficient(network, topology, site);
        parts.k0 = c.initial;
        parts.depth_correction = c.depth_correction;
        parts.diameter_correction = c.diameter_correction;
        parts.factor = c.factor;
        parts.k = c.k;
        parts.loss = c.k * (velocity * velocity) / kVelocityHeadDivisor;
        return parts;
    }
    parts.junction_k = network.settings.junction_k;
    parts.bend = bend_factor(network, topology, site);
    parts.k = parts.junction_k + parts.bend;
    parts.loss = velocity * velocity * parts.k / kVelocityHeadDivisor;
    return parts;
}

double structure_loss(const Network& network, const Topology& topology, const DesignFlows& design,
                      const LossSite& site) {
    return structure_loss_parts(network, topology, design, site).loss;
}

double energy_structure_level(const Network& network, const Topology& topology, const DesignFlows& design,
                              const LossSite& site) {
    return energy_structure_values(network, topology, design, site).egl;
}

EnergyStructure energy_structure_values(const Network& network, const Topology& topology, const DesignFlows& design,
                                        const LossSite& site) {
    const Node& j = network.nodes[site.upstream];
    const Node& i = network.nodes[site.downstream];
    const Pipe& outflow = network.pipes[site.pipe];
    const double outflow_q = design.pipes[site.pipe].design_q;

    // Every pipe entering J, adverse ones included: the forward pass sent
    // their flow on down this pipe too.
    std::vector<EnergyInflow> inflows;
    inflows.reserve(topology.incoming[site.upstream].size());
    double inflow_q = 0.0;
    for (const PipeLink& in : topology.incoming[site.upstream]) {
        const double q = design.pipes[in.pipe].design_q;
        const double cos_deflection = cosine(between(network.nodes[in.node], j), between(j, i));
        inflows.push_back({q, pipe_inverts(network, topology, in.pipe).down, inflow_angle_deg(cos_deflection)});
        inflow_q += q;
    }

    EnergyStructureInputs inputs;
    inputs.outflow_q = outflow_q;
    inputs.outflow_rise = shape_rise(outflow.shape);
    inputs.outflow_full_area = full_area(outflow.shape);
    inputs.outflow_velocity = design.pipes[site.pipe].velocity;
    inputs.outflow_hgl = site.hgl_up;
    inputs.outflow_invert = site.invert_up;
    inputs.outflow_critical_depth = site.critical_depth;
    inputs.inflows = inflows;
    inputs.surface_q = std::max(outflow_q - inflow_q, 0.0);
    inputs.surface_elevation = j.rim;
    inputs.benching = j.benching;
    return energy_structure(inputs);
}

double outlet_face_level(const Network& network, const Topology& topology, const DesignFlows& design,
                         std::size_t pipe, double structure_level) {
    const double invert = pipe_inverts(network, topology, pipe).down;
    if (!(structure_level > invert)) return invert;  // the inflow plunges
    const PipeShape& shape = network.pipes[pipe].shape;
    const double rise = shape_rise(shape);
    const double depth = std::min(structure_level - invert, rise);
    const double area = depth >= rise ? full_area(shape) : flow_geometry_at_depth(shape, depth).area;
    const double velocity = area > 0.0 ? design.pipes[pipe].design_q / area : 0.0;
    const double velocity_head = velocity * velocity / kVelocityHeadDivisor;
    return structure_level + kExitLoss * velocity_head - velocity_head;
}

}  // namespace rillwright
