// Node index, pipe-end validation, adjacency and a topological order of the nodes.
// Iterative throughout: chains of any length stay off the call stack.
#include <string_view>
#include <unordered_map>

#include "network.hpp"
#include "network_messages.hpp"

namespace rillwright {

Outcome<Topology> build_topology(const Network& network) {
    const std::size_t node_count = network.nodes.size();
    const std::size_t pipe_count = network.pipes.size();

    // Looked up only, never iterated, so its hashing never shows in results.
    // A repeated id resolves to its last node.
    std::unordered_map<std::string_view, std::size_t> node_index;
    node_index.reserve(node_count);
    for (std::size_t i = 0; i < node_count; ++i) node_index[network.nodes[i].id] = i;

    Topology topology;
    topology.pipe_ends.reserve(pipe_count);
    topology.outgoing.resize(node_count);
    topology.incoming.resize(node_count);
    std::vector<std::size_t> pending_inflows(node_count, 0);

    // The whole validation runs before any ordering, so an unknown reference is
    // reported even when the network also has a cycle.
    for (std::size_t p = 0; p < pipe_count; ++p) {
        const Pipe& pipe = network.pipes[p];
        const auto from = node_index.find(pipe.from);
        if (from == node_index.end()) return Outcome<Topology>::failure(messages::unknown_node(pipe.from));
        const auto to = node_index.find(pipe.to);
        if (to == node_index.end()) return Outcome<Topology>::failure(messages::unknown_node(pipe.to));
        topology.pipe_ends.emplace_back(from->second, to->second);
        topology.outgoing[from->second].push_back({p, to->second});
        topology.incoming[to->second].push_back({p, from->second});
        ++pending_inflows[to->second];
    }

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
