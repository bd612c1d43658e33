// The profile's violations: what a fixed invert, the matching or a bound left
// unmet. Pipes in pipe order (the arrival below a fixed structure, the match
// and drop at the upstream structure, the depth below the rim, the slope
// bounds, the full velocity), then structures in node order (drop).
#include "design.hpp"
#include "design_messages.hpp"

namespace rillwright::design {

namespace {

const char* match_name(const std::string& match) { return match == "0.8" ? "0.8-depth" : match.c_str(); }

void check_pipe(const Run& run, const Topology& topology, const SizingPlan& plan, std::size_t p,
                std::vector<Violation>& found) {
    const Options& options = plan.options;
    const Network& network = run.network;
    const Pipe& pipe = network.pipes[p];
    const auto [from, to] = topology.pipe_ends[p];
    const double up = *pipe.invert_up;
    const double dn = *pipe.invert_dn;
    if (plan.fixed_nodes[to] && dn < network.nodes[to].invert) {
        const Node& end = network.nodes[to];
        found.push_back({"invert", pipe.id, messages::below_fixed(pipe.id, end.id, dn, end.invert - dn)});
    }
    const double m = match_fraction(options.match);
    const double rise = shape_rise(pipe.shape);
    for (const PipeLink& in : topology.incoming[from]) {
        const Pipe& entering = network.pipes[in.pipe];
        const double dn_in = *entering.invert_dn;
        if (!(up <= dn_in + m * shape_rise(entering.shape) - m * rise)) {
            found.push_back({"match", pipe.id, messages::above_match(pipe.id, entering.id, match_name(options.match))});
        }
        if (!(up <= dn_in - options.min_drop)) {
            found.push_back({"drop", pipe.id, messages::short_drop(pipe.id, entering.id, dn_in - up, options.min_drop)});
        }
    }
    if (options.max_depth) {
        // The deeper end, rim to invert; the upstream end on a tie.
        const double depth_up = network.nodes[from].rim - up;
        const double depth_dn = network.nodes[to].rim - dn;
        const bool upstream = !(depth_dn > depth_up);
        const double depth = upstream ? depth_up : depth_dn;
        if (!(depth <= *options.max_depth)) {
            const Node& end = network.nodes[upstream ? from : to];
            found.push_back({"depth", pipe.id, messages::too_deep(pipe.id, end.id, upstream, depth, *options.max_depth)});
        }
    }
    const PipeResult& result = run.result.pipes[p];
    if (options.min_slope && result.slope < *options.min_slope) {
        found.push_back({"slope", pipe.id, messages::slope_out_of_bounds(pipe.id, result.slope, true, *options.min_slope)});
    }
    if (options.max_slope && result.slope > *options.max_slope) {
        found.push_back({"slope", pipe.id, messages::slope_out_of_bounds(pipe.id, result.slope, false, *options.max_slope)});
    }
    if (options.min_full_velocity) {
        const FullSection full = full_section(pipe.shape);
        const double velocity = full_capacity(pipe.n, full, result.used_slope) / full.area;
        if (!(velocity >= *options.min_full_velocity)) {
            found.push_back({"velocity", pipe.id, messages::slow_full(pipe.id, velocity, *options.min_full_velocity)});
        }
    }
}

}  // namespace

void profile_violations(const Run& run, const Topology& topology, const SizingPlan& plan, std::vector<Violation>& found) {
    for (std::size_t p = 0; p < run.network.pipes.size(); ++p) check_pipe(run, topology, plan, p, found);
    const Options& options = plan.options;
    for (std::size_t v = 0; v < run.network.nodes.size(); ++v) {
        const Node& node = run.network.nodes[v];
        const double drop = structure_drop(run.network, topology, v);
        if (options.max_drop && drop > *options.max_drop) {
            found.push_back({"drop", node.id, messages::drop_structure(node.id, drop, *options.max_drop)});
        }
    }
}

}  // namespace rillwright::design
