// The violations of a design: pipes no catalogue size could satisfy, that no
// size can make carry their flow, or that keep a given size too small for it, checks
// reported rather than forced (velocity, cover), and structures the grade-line
// rounds could not bring to min_freeboard. Pipes first, in pipe order, then
// structures in node order.
#include "design.hpp"
#include "design_messages.hpp"

namespace rillwright::design {

namespace {

std::string size_violation(const Pipe& sized, const PipeResult& result, const SizingPlan& plan) {
    const std::size_t shape = sized.shape.index();
    const std::string_view shape_name = kShapeNames[shape];
    const CatalogueSize& largest = plan.tables.shapes[shape].back();
    const std::string largest_text = messages::size_text(shape == 0, largest.rise_in, largest.span_in);
    // The largest size carries the flow: the bounds left no size at all.
    if (result.design_q <= plan.options.max_fill * result.capacity) {
        return messages::no_size_large_enough(sized.id, shape_name, largest_text);
    }
    return messages::no_size_carries(sized.id, shape_name, result.design_q, result.slope, plan.options.max_fill,
                                     largest_text);
}

void check_cover(const Network& network, const Topology& topology, std::size_t p, double limit,
                 std::vector<Violation>& found) {
    const Pipe& pipe = network.pipes[p];
    const PipeInverts inverts = pipe_inverts(network, topology, p);
    const double rise = shape_rise(pipe.shape);
    const auto [from, to] = topology.pipe_ends[p];
    const double up = network.nodes[from].rim - (inverts.up + rise);
    const double down = network.nodes[to].rim - (inverts.down + rise);
    const bool upstream = !(down < up);
    const double cover = upstream ? up : down;
    if (cover < limit) found.push_back({"cover", pipe.id, messages::shallow(pipe.id, cover, upstream, limit)});
}

}  // namespace

std::vector<Violation> violations(const Network& given, const Topology& topology, const Run& run,
                                  const SizingPlan& plan) {
    const Options& options = plan.options;
    std::vector<Violation> found;
    for (std::size_t p = 0; p < run.network.pipes.size(); ++p) {
        const Pipe& pipe = run.network.pipes[p];
        const PipeResult& result = run.result.pipes[p];
        if (!run.choices[p].finite) {
            // Its flow, velocity and capacity say nothing more; its cover still does.
            found.push_back({"value", pipe.id, messages::not_finite(pipe.id, result.design_q)});
            check_cover(run.network, topology, p, options.min_cover.value_or(kDefaultProfileCover), found);
            continue;
        }
        if (plan.roles[p] == Role::not_listed) {
            found.push_back({"size", pipe.id, messages::not_listed(pipe.id, kShapeNames[given.pipes[p].shape.index()])});
        } else if (plan.roles[p] == Role::sized && run.choices[p].governed == Governor::no_size_fits) {
            found.push_back({"size", pipe.id, size_violation(pipe, result, plan)});
        }
        if (plan.roles[p] == Role::cannot_carry && result.design_q > 0.0) {
            found.push_back({"size", pipe.id, messages::cannot_carry(pipe.id, result.design_q, result.slope, pipe.n)});
        } else if (plan.roles[p] != Role::sized && !(result.design_q <= options.max_fill * result.capacity)) {
            found.push_back({"size", pipe.id,
                             messages::kept_too_small(pipe.id, result.design_q, options.max_fill, result.capacity)});
        }
        if (options.min_velocity && result.velocity < *options.min_velocity) {
            found.push_back({"velocity", pipe.id, messages::slow(pipe.id, result.velocity, *options.min_velocity)});
        }
        if (options.max_velocity && result.velocity > *options.max_velocity) {
            found.push_back({"velocity", pipe.id, messages::fast(pipe.id, result.velocity, *options.max_velocity)});
        }
        if (options.min_cover || options.profile) {
            check_cover(run.network, topology, p, options.min_cover.value_or(kDefaultProfileCover), found);
        }
    }
    if (options.profile) profile_violations(run, topology, plan, found);
    for (const ShortStructure& structure : run.short_structures) {
        const NodeResult& node = run.result.nodes[structure.node];
        found.push_back({"freeboard", node.id,
                         messages::short_freeboard(node.id, node.rim - node.hgl, *options.min_freeboard,
                                                   structure.reason)});
    }
    return found;
}

}  // namespace rillwright::design
