// Grade-line rounds. After the sizing pass the grade line is run; while a
// structure other than an outfall has less freeboard than min_freeboard, one
// pipe on its path to the outfall grows by one catalogue step, and the sizing
// pass runs again with every present size as a lower bound. Floors only rise
// and each round raises one, so the rounds end.
//
// The path of a structure follows, from node to node, the outgoing pipe that
// sets the node's grade line (the highest upstream grade line; the first such
// pipe on a tie) down to an outfall. On it the pipe to grow is the one with
// the largest positive head loss (grade line at its upstream end minus that at
// its downstream end: its friction and the loss of the structure it leaves)
// among the pipes that can still grow (sized, not fixed, not yet at the
// largest size); on equal losses, the one nearest the structure. A pipe grows
// at most one step per round, whichever structures ask for it. A structure
// still short when nothing on its path can grow is reported with the reason:
// the water level at the outfall, every pipe fixed or at its largest, or no
// head loss left that a larger pipe could reduce.
//
// Parts of the network that no pipe joins (the trees of separate outfalls) go
// through their rounds one by one, each only as many rounds as it needs; the
// sizes are those of rounds on the whole network (a test holds the two equal).
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "design.hpp"
#include "design_messages.hpp"
#include "network_trees.hpp"

namespace rillwright::design {

namespace {

double freeboard(const Network& network, const GradeLine& grade, std::size_t v) {
    return network.nodes[v].rim - grade.node_hgl[v];
}

bool short_of_freeboard(const Network& network, const GradeLine& grade, std::size_t v, double limit) {
    return network.nodes[v].kind != NodeKind::Outfall && freeboard(network, grade, v) < limit;  // false for NaN
}

// The pipe that sets node v's grade line, or none (no outgoing pipe with a grade line).
std::optional<std::size_t> controlling_pipe(const Topology& topology, const GradeLine& grade, std::size_t v) {
    std::optional<std::size_t> best;
    for (const PipeLink& out : topology.outgoing[v]) {
        const auto& level = grade.hgl_up[out.pipe];
        if (!level) continue;
        if (!best || *grade.hgl_up[*best] < *level) best = out.pipe;
    }
    return best;
}

struct PathEnd {
    std::size_t node = 0;                // where the path stops: an outfall, or a node without a way on
    std::optional<std::size_t> to_grow;  // the pipe to grow, if any
    bool any_growable = false;           // some pipe could grow but has no head loss
};

bool can_grow(const SizingPlan& plan, const Network& network, const std::vector<PipeChoice>& choices,
              std::size_t p) {
    if (plan.roles[p] != Role::sized) return false;
    const auto& sizes = plan.tables.shapes[network.pipes[p].shape.index()];
    return static_cast<std::size_t>(choices[p].step) + 1 < sizes.size();
}

PathEnd walk_path(const Network& network, const Topology& topology, const GradeLine& grade,
                  const SizingPlan& plan, const std::vector<PipeChoice>& choices, std::size_t v) {
    PathEnd end;
    double largest_loss = 0.0;
    std::size_t node = v;
    while (network.nodes[node].kind != NodeKind::Outfall) {
        const std::optional<std::size_t> pipe = controlling_pipe(topology, grade, node);
        if (!pipe) break;
        if (can_grow(plan, network, choices, *pipe)) {
            end.any_growable = true;
            const double loss = *grade.hgl_up[*pipe] - *grade.hgl_dn[*pipe];
            if (loss > largest_loss) {
                largest_loss = loss;
                end.to_grow = *pipe;
            }
        }
        node = topology.pipe_ends[*pipe].second;
    }
    end.node = node;
    return end;
}

// The water level where the path ends leaves the structure short. Told only
// once nothing can grow: a larger pipe can still drop the grade line below a
// high tailwater where its outlet runs free.
bool outlet_too_high(const Network& network, const GradeLine& grade, std::size_t v, const PathEnd& end,
                     double limit) {
    return network.nodes[end.node].kind == NodeKind::Outfall &&
           !(network.nodes[v].rim - grade.node_hgl[end.node] >= limit);
}

// Why a structure the rounds left short of freeboard cannot be helped.
std::string reason(const Network& network, const GradeLine& grade, std::size_t v, const PathEnd& end,
                   double limit) {
    const Node& last = network.nodes[end.node];
    if (outlet_too_high(network, grade, v, end, limit)) {
        return messages::outlet_too_high(last.id, grade.node_hgl[end.node]);
    }
    return end.any_growable ? messages::path_without_loss(last.id) : messages::path_at_largest(last.id);
}

// The rounds on one network, from its first sizing pass and grade line to the
// last round; the plan keeps the floors of the last sizing pass.
int grow_rounds(Network& network, const Topology& topology, SizingPlan& plan, std::vector<PipeChoice>& choices,
                DesignFlows& flows, GradeLine& grade, double limit) {
    int rounds = 0;
    std::vector<char> grows(network.pipes.size(), 0);
    for (;;) {
        bool any = false;
        for (std::size_t v = 0; v < network.nodes.size(); ++v) {
            if (!short_of_freeboard(network, grade, v, limit)) continue;
            const PathEnd end = walk_path(network, topology, grade, plan, choices, v);
            if (end.to_grow) {
                grows[*end.to_grow] = 1;
                any = true;
            }
        }
        if (!any) return rounds;
        for (std::size_t p = 0; p < network.pipes.size(); ++p) {
            if (plan.roles[p] != Role::sized) continue;
            plan.floors[p] = choices[p].step + grows[p];
            grows[p] = 0;
        }
        flows = size_forward(network, topology, plan, choices);
        grade = grade_line(network, topology, flows);
        ++rounds;
    }
}

// The nodes and pipes (in their order) of each part of the network that no
// pipe joins to another; parts without pipes are left out.
struct Part {
    std::vector<std::size_t> nodes;
    std::vector<std::size_t> pipes;
};

std::vector<Part> parts_with_pipes(const Network& network, const Topology& topology) {
    const Trees trees = find_trees(network, topology);
    std::vector<std::size_t> part_of(trees.count, SIZE_MAX);
    std::vector<Part> parts;
    for (std::size_t p = 0; p < network.pipes.size(); ++p) {
        std::size_t& part = part_of[trees.of_pipe[p]];
        if (part == SIZE_MAX) {
            part = parts.size();
            parts.emplace_back();
        }
        parts[part].pipes.push_back(p);
    }
    for (std::size_t v = 0; v < network.nodes.size(); ++v) {
        if (const std::size_t part = part_of[trees.of_node[v]]; part != SIZE_MAX) parts[part].nodes.push_back(v);
    }
    return parts;
}

// The rounds part by part. Parts share no pipe, so a part's sizes, flows and
// grade line never depend on another part, and the rounds of the whole
// network are, for each part, the rounds of that part alone: a part that has
// stopped growing is sized again to the very same sizes while the others grow.
// Each part leaves in the plan the floors of its last pass; returns the most
// rounds any part took, which is what the whole network takes.
int rounds_by_part(const Network& network, const std::vector<Part>& parts, SizingPlan& plan, double limit) {
    int rounds = 0;
    for (const Part& part : parts) {
        Network piece;
        piece.idf = network.idf;
        piece.settings = network.settings;
        SizingPlan piece_plan{plan.tables, plan.options, {}, std::vector<int>(part.pipes.size(), 0), plan.unit, {}};
        for (const std::size_t v : part.nodes) {
            piece.nodes.push_back(network.nodes[v]);
            piece_plan.fixed_nodes.push_back(plan.fixed_nodes[v]);
        }
        for (const std::size_t p : part.pipes) {
            piece.pipes.push_back(network.pipes[p]);
            piece_plan.roles.push_back(plan.roles[p]);
        }
        // Cannot fail: the whole network has a topology, and a part keeps all
        // the nodes its pipes name.
        const Outcome<Topology> topology = build_topology(piece);
        std::vector<PipeChoice> choices;
        DesignFlows flows = size_forward(piece, *topology.value, piece_plan, choices);
        GradeLine grade = grade_line(piece, *topology.value, flows);
        rounds = std::max(rounds, grow_rounds(piece, *topology.value, piece_plan, choices, flows, grade, limit));
        for (std::size_t k = 0; k < part.pipes.size(); ++k) plan.floors[part.pipes[k]] = piece_plan.floors[k];
    }
    return rounds;
}

}  // namespace

Run run_design(Network network, const Topology& topology, SizingPlan& plan) {
    Run run;
    const std::optional<double> limit = plan.options.min_freeboard;
    std::vector<Part> parts;
    if (limit && !plan.options.whole_network) parts = parts_with_pipes(network, topology);
    const bool by_part = parts.size() > 1;
    if (by_part) run.rounds = rounds_by_part(network, parts, plan, *limit);

    DesignFlows flows = size_forward(network, topology, plan, run.choices);
    GradeLine grade = grade_line(network, topology, flows);
    if (limit) {
        if (!by_part) run.rounds = grow_rounds(network, topology, plan, run.choices, flows, grade, *limit);
        for (std::size_t v = 0; v < network.nodes.size(); ++v) {
            if (!short_of_freeboard(network, grade, v, *limit)) continue;
            const PathEnd end = walk_path(network, topology, grade, plan, run.choices, v);
            run.short_structures.push_back(ShortStructure{v, reason(network, grade, v, end, *limit)});
        }
    }
    run.result = assemble_result(network, topology, flows, grade);
    run.network = std::move(network);
    return run;
}

}  // namespace rillwright::design
