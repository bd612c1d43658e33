// Node index, pipe-end validation, adjacency and a topological order of the nodes.
// Iterative throughout: chains of any length stay off the call stack.
#include <string_view>
#include <functional>
#include <vector>

#include "network.hpp"
#include "network_messages.hpp"

namespace rillwright {

namespace {

// Node ids to node positions: one flat table with linear probing, at most half
// full, instead of a node allocation per id. Looked up only, never iterated, so
// its hashing never shows in results. A repeated id resolves to its last node.
class NodeIndex {
public:
    explicit NodeIndex(const std::vector<Node>& nodes) : nodes_(nodes) {
        std::size_t capacity = 16;
        while (capacity < 2 * nodes.size()) capacity *= 2;
        mask_ = capacity - 1;
        slots_.assign(capacity, kEmpty);
        for (std::size_t i = 0; i < nodes.size(); ++i) slots_[slot_of(nodes[i].id)] = i;
    }

    static constexpr std::size_t kEmpty = static_cast<std::size_t>(-1);

    // The node's position, or kEmpty.
    std::size_t find(std::string_view id) const { return slots_[slot_of(id)]; }

private:
    // The slot holding `id`, or the empty slot where it would go.
    std::size_t slot_of(std::string_view id) const {
        std::size_t slot = std::hash<std::string_view>{}(id) & mask_;
        while (slots_[slot] != kEmpty && nodes_[slots_[slot]].id != id) slot = (slot + 1) & mask_;
        return slot;
    }

    const std::vector<Node>& nodes_;
    std::vector<std::size_t> slots_;
    std::size_t mask_ = 0;
};

// Every node's leaving (or entering) pipes, in pipe order, with the node at
// each pipe's other end.
LinkLists link_lists(const std::vector<std::pair<std::size_t, std::size_t>>& pipe_ends, std::size_t node_count,
                     bool leaving) {
    LinkLists lists;
    lists.starts.assign(node_count + 1, 0);
    for (const auto& [from, to] : pipe_ends) ++lists.starts[(leaving ? from : to) + 1];
    for (std::size_t v = 0; v < node_count; ++v) lists.starts[v + 1] += lists.starts[v];
    lists.links.resize(pipe_ends.size());
    std::vector<std::size_t> filled(lists.starts.begin(), lists.starts.end() - 1);
    for (std::size_t p = 0; p < pipe_ends.size(); ++p) {
        const auto [from, to] = pipe_ends[p];
        const std::size_t here = leaving ? from : to;
        lists.links[filled[here]++] = PipeLink{p, leaving ? to : from};
    }
    return lists;
}

}  // namespace

Outcome<Topology> build_topology(const Network& network) {
    const std::size_t node_count = network.nodes.size();
    const std::size_t pipe_count = network.pipes.size();
    const NodeIndex node_index(network.nodes);

    Topology topology;
    topology.pipe_ends.reserve(pipe_count);

    // The whole validation runs before any ordering, so an unknown reference is
    // reported even when the network also has a cycle.
    for (std::size_t p = 0; p < pipe_count; ++p) {
        const Pipe& pipe = network.pipes[p];
        const std::size_t from = node_index.find(pipe.from);
        if (from == NodeIndex::kEmpty) return Outcome<Topology>::failure(messages::unknown_node(pipe.from));
        const std::size_t to = node_index.find(pipe.to);
        if (to == NodeIndex::kEmpty) return Outcome<Topology>::failure(messages::unknown_node(pipe.to));
        topology.pipe_ends.emplace_back(from, to);
    }
    topology.outgoing = link_lists(topology.pipe_ends, node_count, true);
    topology.incoming = link_lists(topology.pipe_ends, node_count, false);
    std::vector<std::size_t> pending_inflows(node_count, 0);
    for (std::size_t i = 0; i < node_count; ++i) pending_inflows[i] = topology.incoming[i].size();

    // Kahn's algorithm with a last-in-first-out stack; the outgoing lists are in
    // pipe order, which fixes the order in which targets are released.
    std::vector<std::size_t> stack;
    for (std::size_t i = 0; i < node_count; ++i) {
        if (pending_inflows[i] == 0) stack.push_back(i);
    }
    topology.order.reserve(node_count);
    while (!stack.empty()) {
        const std::size_t node = stack.back();
        stack.pop_back();
        topology.order.push_back(node);
        for (const PipeLink& link : topology.outgoing[node]) {
            if (--pending_inflows[link.node] == 0) stack.push_back(link.node);
        }
    }
    if (topology.order.size() < node_count) return Outcome<Topology>::failure(std::string(messages::kCycle));
    return Outcome<Topology>::success(std::move(topology));
}

}  // namespace rillwright
