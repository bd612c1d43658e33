#include "network_trees.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <numeric>
#include <system_error>
#include <thread>

namespace rillwright {

namespace {

std::size_t root_of(std::vector<std::size_t>& parent, std::size_t v) {
    while (parent[v] != v) v = parent[v] = parent[parent[v]];
    return v;
}


// Groups of several trees hold at most 1/kGroupsPerThread of a thread's even
// share: only a few groups' copies of their nodes and pipes are alive at once.
constexpr std::size_t kGroupsPerThread = 4;

void run_group(const Network& network, const TreeMembers& members, const std::function<void(const TreeRun&)>& sink) {
    const Network part = pick_members(network, members);
    // Cannot fail: the whole network has a topology, and a group keeps every
    // node its pipes name (a repeated id resolves to the same last node).
    const Outcome<Topology> topology = build_topology(part);
    const DesignFlows flows = design_flows(part, *topology.value);
    const GradeLine grade = grade_line(part, *topology.value, flows);
    sink(TreeRun{part, *topology.value, flows, grade, &members.nodes, &members.pipes});
}

}  // namespace

Trees find_trees(const Network& network, const Topology& topology) {
    std::vector<std::size_t> parent(network.nodes.size());
    std::iota(parent.begin(), parent.end(), std::size_t{0});
    for (const auto& [from, to] : topology.pipe_ends) parent[root_of(parent, from)] = root_of(parent, to);
    Trees trees;
    trees.of_node.reserve(network.nodes.size());
    trees.of_pipe.reserve(network.pipes.size());
    std::vector<std::uint32_t> number(network.nodes.size(), UINT32_MAX);
    for (std::size_t v = 0; v < network.nodes.size(); ++v) {
        std::uint32_t& n = number[root_of(parent, v)];
        if (n == UINT32_MAX) n = static_cast<std::uint32_t>(trees.count++);
        trees.of_node.push_back(n);
    }
    for (const auto& ends : topology.pipe_ends) trees.of_pipe.push_back(trees.of_node[ends.first]);
    return trees;
}

std::vector<TreeMembers> schedule_trees(const Trees& trees, std::size_t threads) {
    if (threads == 0) threads = 1;
    // The work of a tree is its pipe count (a tree without pipes counts as one, so
    // a network of bare nodes is shared out too).
    std::vector<std::size_t> work(trees.count, 0);
    for (std::uint32_t t : trees.of_pipe) ++work[t];
    std::size_t total = 0;
    for (std::size_t& w : work) total += w == 0 ? (w = 1) : w;
    std::vector<std::uint32_t> order(trees.count);
    std::iota(order.begin(), order.end(), std::uint32_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return work[a] > work[b]; });

    const std::size_t largest = std::max<std::size_t>(1, total / (kGroupsPerThread * threads));
    std::vector<std::size_t> group_of(trees.count);
    std::size_t groups = 0;
    std::size_t left = total;
    for (std::size_t k = 0; k < order.size();) {
        // One round: a group per thread, each of half the remaining work over the threads.
        const std::size_t share = std::clamp<std::size_t>(left / (2 * threads), 1, largest);
        for (std::size_t g = 0; g < threads && k < order.size(); ++g, ++groups) {
            std::size_t taken = 0;
            do {
                group_of[order[k]] = groups;
                taken += work[order[k++]];
            } while (k < order.size() && taken + work[order[k]] <= share);
            left -= taken;
        }
    }
    std::vector<TreeMembers> members(groups);
    for (std::size_t v = 0; v < trees.of_node.size(); ++v) members[group_of[trees.of_node[v]]].nodes.push_back(v);
    for (std::size_t p = 0; p < trees.of_pipe.size(); ++p) members[group_of[trees.of_pipe[p]]].pipes.push_back(p);
    return members;
}

Network pick_members(const Network& network, const TreeMembers& members) {
    Network sub;
    sub.idf = network.idf;
    sub.settings = network.settings;
    sub.nodes.reserve(members.nodes.size());
    sub.pipes.reserve(members.pipes.size());
    for (std::size_t v : members.nodes) sub.nodes.push_back(network.nodes[v]);
    for (std::size_t p : members.pipes) sub.pipes.push_back(network.pipes[p]);
    return sub;
}

Network sub_network(const Network& network, const Trees& trees, std::span<const std::uint32_t> chosen) {
    std::vector<bool> wanted(trees.count, false);
    for (std::uint32_t t : chosen)
        if (t < trees.count) wanted[t] = true;
    TreeMembers members;
    for (std::size_t v = 0; v < network.nodes.size(); ++v)
        if (wanted[trees.of_node[v]]) members.nodes.push_back(v);
    for (std::size_t p = 0; p < network.pipes.size(); ++p)
        if (wanted[trees.of_pipe[p]]) members.pipes.push_back(p);
    return pick_members(network, members);
}

std::size_t thread_count(std::size_t requested) {
    if (requested != 0) return requested;
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware == 0 ? 1 : hardware;
}

std::optional<std::string> analyze_trees(const Network& network, const Topology& topology, const Trees& trees,
                                         std::size_t threads, const std::function<void(const TreeRun&)>& sink) {
    if (auto problem = check_values(network)) return problem;
    threads = thread_count(threads);
    if (threads == 1 || trees.count < 2) {
        const DesignFlows flows = design_flows(network, topology);
        const GradeLine grade = grade_line(network, topology, flows);
        sink(TreeRun{network, topology, flows, grade});
        return std::nullopt;
    }
    const std::vector<TreeMembers> groups = schedule_trees(trees, threads);
    threads = std::min(threads, groups.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::exception_ptr> faults(threads);
    const auto work = [&](std::size_t worker) {
        try {
            for (std::size_t g = next++; g < groups.size(); g = next++) run_group(network, groups[g], sink);
        } catch (...) {
            faults[worker] = std::current_exception();
            next = groups.size();  // the others stop after their present group
        }
    };
    {
        std::vector<std::jthread> workers;
        try {
            for (std::size_t w = 1; w < threads; ++w) workers.emplace_back(work, w);
        } catch (const std::system_error&) {
            // Fewer threads than asked for: the started ones and this one take every group.
        }
        work(0);
    }  // joined here
    for (const std::exception_ptr& fault : faults)
        if (fault) std::rethrow_exception(fault);
    return std::nullopt;
}

}  // namespace rillwright
