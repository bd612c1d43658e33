// Rounds of least-cost design and analysis. The design flows depend on the
// travel times and so on the design: the first round takes the flows of the
// shallowest-first design, each round designs every tree for the flows of the
// round before and analyses the result, until a round's flows repeat those it
// was designed for (then the least cost holds for the design's own flows) or
// the rounds run out. A tree with no grid design keeps its shallowest-first design.
#include <algorithm>
#include <limits>
#include <optional>

#include "design_cost.hpp"
#include "design_cost_messages.hpp"

namespace rillwright::design {

namespace {

// Flows that neither repeat nor return to an earlier round's stop the rounds
// here, and the result says so.
constexpr int kMaxRounds = 20;

RoundFlows round_flows(const Network& network, const Topology& topology) {
    const DesignFlows flows = design_flows(network, topology);
    RoundFlows round;
    round.total_ca.resize(network.pipes.size());
    round.rainfall.resize(network.pipes.size());
    for (std::size_t p = 0; p < network.pipes.size(); ++p) {
        const std::size_t from = topology.pipe_ends[p].first;
        round.total_ca[p] = flows.total_ca[from];
        round.rainfall[p] = node_rainfall(network, flows.tc[from]);
    }
    return round;
}

// The flows of the pipes leaving the tree's structures, C*A and rainfall by turns.
std::vector<double> tree_flows(const RoundFlows& flows, const Topology& topology, const std::vector<std::size_t>& nodes) {
    std::vector<double> out;
    for (const std::size_t v : nodes) {
        for (const PipeLink& link : topology.outgoing[v]) {
            out.push_back(flows.total_ca[link.pipe]);
            out.push_back(flows.rainfall[link.pipe]);
        }
    }
    return out;
}

// The flows of the pipes leaving the tree's structures are the same in both rounds.
bool same_tree_flows(const RoundFlows& a, const RoundFlows& b, const Topology& topology,
                     const std::vector<std::size_t>& nodes) {
    for (const std::size_t v : nodes) {
        for (const PipeLink& out : topology.outgoing[v]) {
            if (a.total_ca[out.pipe] != b.total_ca[out.pipe] || a.rainfall[out.pipe] != b.rainfall[out.pipe]) return false;
        }
    }
    return true;
}

// The nodes of each tree in topological order, the tree's end last; trees without pipes left out.
std::vector<std::vector<std::size_t>> trees(const Network& network, const Topology& topology) {
    std::vector<std::size_t> root(network.nodes.size());
    for (auto it = topology.order.rbegin(); it != topology.order.rend(); ++it) {
        const std::size_t v = *it;
        root[v] = topology.outgoing[v].empty() ? v : root[topology.pipe_ends[topology.outgoing[v].front().pipe].second];
    }
    std::vector<std::size_t> tree_of(network.nodes.size(), SIZE_MAX);
    std::vector<std::vector<std::size_t>> found;
    for (const std::size_t v : topology.order) {
        if (topology.outgoing[v].empty() && topology.incoming[v].empty()) continue;
        std::size_t& tree = tree_of[root[v]];
        if (tree == SIZE_MAX) {
            tree = found.size();
            found.emplace_back();
        }
        found[tree].push_back(v);
    }
    return found;
}

void keep_shallowest(Network& network, std::vector<PipeChoice>& choices, const Run& shallowest,
                     const Topology& topology, const std::vector<std::size_t>& nodes) {
    for (const std::size_t v : nodes) {
        network.nodes[v].invert = shallowest.network.nodes[v].invert;
        for (const PipeLink& in : topology.incoming[v]) {
            network.pipes[in.pipe] = shallowest.network.pipes[in.pipe];
            choices[in.pipe] = shallowest.choices[in.pipe];
        }
    }
}

}  // namespace

std::optional<std::string> check_cost_network(const Network& network, const Topology& topology, const Options& options) {
    for (std::size_t v = 0; v < network.nodes.size(); ++v) {
        const Node& node = network.nodes[v];
        if (topology.outgoing[v].size() > 1) return messages::two_ways_out(node.id);
        if (node.kind == NodeKind::Outfall && !topology.outgoing[v].empty()) return messages::outfall_with_way_out(node.id);
        if (node.kind != NodeKind::Outfall && topology.outgoing[v].empty() && !topology.incoming[v].empty() &&
            !options.max_depth && std::find(options.fixed_inverts.begin(), options.fixed_inverts.end(), node.id) ==
                                      options.fixed_inverts.end()) {
            return messages::sink_without_depth(node.id);
        }
    }
    return std::nullopt;
}

CostRun run_cost_design(const Network& start, const Topology& topology, const SizingPlan& plan,
                        const CostModel& model, const Run& shallowest) {
    CostRun out;
    const std::vector<std::vector<std::size_t>> forest = trees(start, topology);
    RoundFlows flows = round_flows(shallowest.network, topology);
    Network network = start;
    std::vector<PipeChoice> choices(start.pipes.size());
    // A tree's flows depend on its own design only: a tree whose flows repeated
    // keeps its design, and only the others are designed again.
    std::vector<std::optional<Infeasible>> none(forest.size());
    std::vector<std::size_t> pending(forest.size());
    for (std::size_t t = 0; t < forest.size(); ++t) pending[t] = t;
    // Per tree still in the rounds: the flows of its pipes it was designed for before.
    std::vector<std::vector<std::vector<double>>> history(forest.size());
    int rounds = 0;
    for (;;) {
        ++rounds;
        for (const std::size_t t : pending) {
            none[t] = least_cost_tree(network, topology, plan, model, flows, forest[t], choices);
            if (none[t]) keep_shallowest(network, choices, shallowest, topology, forest[t]);
        }
        RoundFlows next = round_flows(network, topology);
        std::vector<std::size_t> changed;
        for (const std::size_t t : pending) {
            if (same_tree_flows(next, flows, topology, forest[t])) continue;
            // Flows of an earlier round again: the rounds would only go round the same designs.
            const std::vector<double> now = tree_flows(next, topology, forest[t]);
            const auto& before = history[t];
            const bool cycles = std::find(before.begin(), before.end(), now) != before.end();
            if (cycles) {
                out.flows_repeat = false;
            } else {
                changed.push_back(t);
            }
        }
        if (changed.empty()) break;
        if (rounds == kMaxRounds) {
            out.flows_repeat = false;
            break;
        }
        for (const std::size_t t : changed) history[t].push_back(tree_flows(flows, topology, forest[t]));
        flows = std::move(next);
        pending = std::move(changed);
    }
    for (std::optional<Infeasible>& tree : none) {
        if (tree) out.infeasible.push_back(std::move(*tree));
    }
    const DesignFlows design = design_flows(network, topology);
    const GradeLine grade = grade_line(network, topology, design);
    out.run.rounds = rounds;
    if (const std::optional<double> limit = plan.options.min_freeboard) {
        for (std::size_t v = 0; v < network.nodes.size(); ++v) {
            const Node& node = network.nodes[v];
            if (node.kind != NodeKind::Outfall && node.rim - grade.node_hgl[v] < *limit) {
                out.run.short_structures.push_back(ShortStructure{v, messages::freeboard_not_designed()});
            }
        }
    }
    out.run.result = assemble_result(network, topology, design, grade);
    out.run.choices = std::move(choices);
    out.run.network = std::move(network);
    return out;
}

}  // namespace rillwright::design
