#include "service_trees.hpp"

#include <numeric>

namespace rillwright {

namespace {

std::size_t root_of(std::vector<std::size_t>& parent, std::size_t v) {
    while (parent[v] != v) v = parent[v] = parent[parent[v]];
    return v;
}

}  // namespace

Trees find_trees(const Network& network, const Topology& topology) {
    std::vector<std::size_t> parent(network.nodes.size());
    std::iota(parent.begin(), parent.end(), std::size_t{0});
    for (const auto& [from, to] : topology.pipe_ends) parent[root_of(parent, from)] = root_of(parent, to);
    Trees trees;
    std::vector<std::uint32_t> number(network.nodes.size(), UINT32_MAX);
    for (std::size_t v = 0; v < network.nodes.size(); ++v) {
        std::uint32_t& n = number[root_of(parent, v)];
        if (n == UINT32_MAX) n = static_cast<std::uint32_t>(trees.count++);
        trees.of_node.push_back(n);
    }
    for (const auto& ends : topology.pipe_ends) trees.of_pipe.push_back(trees.of_node[ends.first]);
    return trees;
}

Network sub_network(const Network& network, const Trees& trees, std::span<const std::uint32_t> chosen) {
    std::vector<bool> wanted(trees.count, false);
    for (std::uint32_t t : chosen)
        if (t < trees.count) wanted[t] = true;
    Network sub;
    sub.idf = network.idf;
    sub.settings = network.settings;
    for (std::size_t v = 0; v < network.nodes.size(); ++v)
        if (wanted[trees.of_node[v]]) sub.nodes.push_back(network.nodes[v]);
    for (std::size_t p = 0; p < network.pipes.size(); ++p)
        if (wanted[trees.of_pipe[p]]) sub.pipes.push_back(network.pipes[p]);
    return sub;
}

}  // namespace rillwright
