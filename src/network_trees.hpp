// The separate trees of a network (its weakly connected components, the basins
// of its outfalls): water in one never reaches another, so each can be analysed,
// designed or searched on its own, and trees on different threads.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "network.hpp"
#include "network_passes.hpp"

namespace rillwright {

struct Trees {
    std::vector<std::uint32_t> of_node;  // tree index, numbered in order of each tree's first node
    std::vector<std::uint32_t> of_pipe;
    std::size_t count = 0;
};

// The one union-find over pipe ends that analysis, design and the level of
// service split networks with.
Trees find_trees(const Network& network, const Topology& topology);

// Positions in the whole network of the nodes and pipes of some trees, ascending.
struct TreeMembers {
    std::vector<std::size_t> nodes;
    std::vector<std::size_t> pipes;
};

// The groups of trees that up to `threads` worker threads take one after another,
// in that order. Trees go by descending pipe count, and each group holds about
// half the work not yet grouped shared out between the threads (factoring:
// Hummel, Schonberg and Flynn, Communications of the ACM 35(8), 1992), so the
// groups shrink to single small trees and no thread waits long for the last one.
// No group of several trees exceeds a quarter of a thread's even share, which
// bounds the copies alive at once. Each group is non-empty; its members are in
// the order of the whole network.
std::vector<TreeMembers> schedule_trees(const Trees& trees, std::size_t threads);

// The listed nodes and pipes, in that order, with the network's settings.
Network pick_members(const Network& network, const TreeMembers& members);

// The nodes and pipes of the given trees, in their original order, with the
// network's settings: its analysis gives bit for bit the values of the whole
// network's analysis (tests/test_model.py and tests/test_service_core.py check it).
Network sub_network(const Network& network, const Trees& trees, std::span<const std::uint32_t> chosen);


// One group of trees analysed: its network, passes, and where its nodes and
// pipes sit in the whole network (no lists: the group is the whole network).
struct TreeRun {
    const Network& network;
    const Topology& topology;
    const DesignFlows& flows;
    const GradeLine& grade;
    const std::vector<std::size_t>* nodes = nullptr;
    const std::vector<std::size_t>* pipes = nullptr;

    std::size_t node_at(std::size_t k) const { return nodes ? (*nodes)[k] : k; }
    std::size_t pipe_at(std::size_t k) const { return pipes ? (*pipes)[k] : k; }
};

// Threads for a request: 0 stands for one per hardware thread; never below one.
std::size_t thread_count(std::size_t requested);

// Checks the whole network's values, then runs the forward pass and the grade
// line tree group by tree group on up to `threads` threads, handing each group
// to `sink` on the thread that ran it; groups are disjoint, so sinks that write
// each value at its place in the whole network never collide and give the one
// thread's values bit for bit. Returns the analysis error, or nothing. Touches
// no Python object: callers may run it without the interpreter lock.
std::optional<std::string> analyze_trees(const Network& network, const Topology& topology, const Trees& trees,
                                         std::size_t threads, const std::function<void(const TreeRun&)>& sink);

// The whole analysis result, its trees analysed on up to `threads` threads.
Outcome<AnalysisResult> analyze_network(const Network& network, const Topology& topology, const Trees& trees,
                                        std::size_t threads);

}  // namespace rillwright
