// The rational-method pass: contributing C*A, times of concentration and every
// pipe's design flow, capacity scan, normal depth, velocity and travel time.
#include <cmath>

#include "hydraulics.hpp"
#include "network_conduit.hpp"
#include "network_passes.hpp"

namespace rillwright {

// A node's whole total goes down each of its pipes: nothing is split, and a
// node joined twice to the same node is counted twice there.
std::vector<double> contributing_ca(const Network& network, const Topology& topology) {
    const double frequency_factor = network.settings.frequency_factor;
    std::vector<double> total_ca(network.nodes.size(), 0.0);
    for (const std::size_t v : topology.order) {
        const Node& node = network.nodes[v];
        // fmin: a NaN product gives 1.0.
        double ca = std::fmin(node.c * frequency_factor, 1.0) * node.area_ac;
        for (const PipeLink& in : topology.incoming[v]) ca += total_ca[in.node];
        total_ca[v] = ca;
    }
    return total_ca;
}

double time_of_concentration(const Network& network, const Topology& topology, const DesignFlows& flows,
                             std::size_t v) {
    const Node& node = network.nodes[v];
    double longest = node.kind == NodeKind::Outfall ? 0.0 : node.tc_inlet;
    for (const PipeLink& in : topology.incoming[v]) {
        longest = max_of_numbers(longest, flows.tc[in.node] + flows.pipes[in.pipe].travel_time);
    }
    return max_of_numbers(longest, network.settings.min_tc);
}

double node_rainfall(const Network& network, double tc) {
    const IdfCurve& idf = network.idf;
    return network.settings.intensity ? *network.settings.intensity
                                      : intensity(idf.idf_a, idf.idf_b, idf.idf_c, tc);
}

PipeSlopes pipe_slopes(const Network& network, const Topology& topology, std::size_t p) {
    const Pipe& pipe = network.pipes[p];
    const PipeInverts inverts = pipe_inverts(network, topology, p);
    PipeSlopes s;
    s.slope = pipe.length > 0.0 ? (inverts.up - inverts.down) / pipe.length : 0.0;
    s.used_slope = std::fabs(s.slope) < kFlatSlope ? network.settings.min_slope : s.slope;
    return s;
}

PipeDesign design_pipe(const Network& network, const Topology& topology, std::size_t p, double total_ca,
                       double rainfall) {
    const Pipe& pipe = network.pipes[p];
    const PipeSlopes slopes = pipe_slopes(network, topology, p);
    PipeDesign d;
    d.slope = slopes.slope;
    d.used_slope = slopes.used_slope;
    d.intensity = rainfall;
    d.design_q = total_ca * rainfall;

    const Conduit conduit(pipe.shape, pipe.n, d.used_slope);
    const DepthScan scan = scan_depths(conduit);
    d.max_capacity = scan.max_flow;
    d.normal_depth = normal_depth_search(conduit, scan, d.design_q);
    d.surcharged = d.design_q > d.max_capacity;

    double area;
    if (d.surcharged) {
        area = full_area(pipe.shape);
    } else {
        area = surface_geometry_at_depth(pipe.shape, d.normal_depth.value_or(conduit.rise)).area;
    }
    d.velocity = area > 0.0 ? d.design_q / area : 0.0;
    d.travel_time = d.velocity > 0.0 ? pipe.length / d.velocity / 60.0 : 0.0;
    return d;
}

DesignFlows design_flows(const Network& network, const Topology& topology) {
    DesignFlows flows;
    flows.total_ca = contributing_ca(network, topology);
    flows.tc.assign(network.nodes.size(), 0.0);
    flows.pipes.assign(network.pipes.size(), PipeDesign{});

    // Every pipe entering a node has its travel time before the node is visited.
    for (const std::size_t v : topology.order) {
        flows.tc[v] = time_of_concentration(network, topology, flows, v);
        const double rainfall = node_rainfall(network, flows.tc[v]);
        for (const PipeLink& out : topology.outgoing[v]) {
            flows.pipes[out.pipe] = design_pipe(network, topology, out.pipe, flows.total_ca[v], rainfall);
        }
    }
    return flows;
}

}  // namespace rillwright
