// The separate trees of a network (its weakly connected components): water in
// one never reaches another, so a scenario can be analysed tree by tree.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "network.hpp"

namespace rillwright {

struct Trees {
    std::vector<std::uint32_t> of_node;  // tree index, numbered in order of each tree's first node
    std::vector<std::uint32_t> of_pipe;
    std::size_t count = 0;
};

Trees find_trees(const Network& network, const Topology& topology);

// The nodes and pipes of the given trees, in their original order, with the
// network's settings: its analysis gives bit for bit the values of the whole
// network's analysis (tests/test_service_core.py checks it).
Network sub_network(const Network& network, const Trees& trees, std::span<const std::uint32_t> chosen);

}  // namespace rillwright
