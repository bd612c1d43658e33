// The analysis result records, in pipe order and node order.
#include <cmath>

#include "hydraulics.hpp"
#include "network_passes.hpp"

namespace rillwright {

// Just-full Manning capacity on the slope used by the design.
double full_capacity(double n, const FullSection& full, double used_slope) {
    if (!(n > 0.0)) return 0.0;
    return kManningUs / n * full.area * std::pow(full.hydraulic_radius, 2.0 / 3.0) * slope_term(used_slope);
}

PipeResult pipe_result(const Network& network, const Topology& topology, const DesignFlows& design,
                       const GradeLine& grade, std::size_t p) {
    const Pipe& pipe = network.pipes[p];
    const PipeDesign& d = design.pipes[p];
    const std::size_t upstream = topology.pipe_ends[p].first;
    PipeResult r;
    r.id = pipe.id;
    r.from = pipe.from;
    r.to = pipe.to;
    r.slope = d.slope;
    r.total_ca = design.total_ca[upstream];
    r.tc = design.tc[upstream];
    r.travel_time = d.travel_time;
    r.intensity = d.intensity;
    r.design_q = d.design_q;
    r.capacity = full_capacity(pipe.n, full_section(pipe.shape), d.used_slope);
    r.pct_full = r.capacity > 0.0 ? d.design_q / r.capacity : 0.0;
    r.velocity = d.velocity;
    r.normal_depth = d.normal_depth;
    r.critical_depth = grade.critical_depth[p];
    r.hgl_up = grade.hgl_up[p];
    r.hgl_dn = grade.hgl_dn[p];
    r.surcharged = d.surcharged;
    r.used_slope = d.used_slope;
    return r;
}

NodeResult node_result(const Network& network, const DesignFlows& design, const GradeLine& grade, std::size_t v) {
    const Node& node = network.nodes[v];
    NodeResult r;
    r.id = node.id;
    r.tc = design.tc[v];
    r.rim = node.rim;
    r.hgl = grade.node_hgl[v];
    r.floods = node.kind != NodeKind::Outfall && r.hgl > node.rim;  // false for a NaN grade line
    return r;
}

AnalysisResult assemble_result(const Network& network, const Topology& topology, const DesignFlows& design,
                               const GradeLine& grade) {
    AnalysisResult result;
    result.pipes.reserve(network.pipes.size());
    for (std::size_t p = 0; p < network.pipes.size(); ++p)
        result.pipes.push_back(pipe_result(network, topology, design, grade, p));
    result.nodes.reserve(network.nodes.size());
    for (std::size_t v = 0; v < network.nodes.size(); ++v) result.nodes.push_back(node_result(network, design, grade, v));
    return result;
}

}  // namespace rillwright
