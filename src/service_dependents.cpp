// The pipes whose regimes a condition's margin depends on.
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "service_crossings.hpp"

namespace rillwright::service {

Dependents::Dependents(const Network& network)
    : node_count_(network.nodes.size()),
      pipe_count_(network.pipes.size()),
      outgoing_(network.nodes.size()),
      incoming_(network.nodes.size()),
      below_(network.nodes.size()) {
    std::unordered_map<std::string, std::size_t> index;  // a repeated id names its last node
    for (std::size_t v = 0; v < node_count_; ++v) index[network.nodes[v].id] = v;
    for (const Pipe& pipe : network.pipes) {
        const auto to = index.find(pipe.to);
        pipe_to_.push_back(to == index.end() ? -1 : static_cast<long>(to->second));
    }
    for (std::uint32_t q = 0; q < pipe_count_; ++q) {
        const auto from = index.find(network.pipes[q].from);
        if (from != index.end() && pipe_to_[q] >= 0) {
            outgoing_[from->second].push_back(q);
            incoming_[pipe_to_[q]].push_back(q);
        }
    }
}

std::vector<std::uint32_t> Dependents::pipes(std::size_t condition) {
    if (condition < node_count_) return below(condition);
    const std::uint32_t q = static_cast<std::uint32_t>(condition - node_count_ - pipe_count_);
    std::vector<std::uint32_t> out{q};
    // A pipe into no known node fails every analysis before its crossings are asked for.
    if (pipe_to_[q] < 0) return out;
    const std::vector<std::uint32_t>& rest = below(static_cast<std::size_t>(pipe_to_[q]));
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

// downstream(start), kept: along a chain of nodes with one pipe out each, a
// node's list is its pipe's, the other pipes into the node below, then the list
// of the node below.
const std::vector<std::uint32_t>& Dependents::below(std::size_t start) {
    std::vector<std::size_t> chain;
    std::unordered_set<std::size_t> in_chain;
    std::size_t node = start;
    while (!below_[node] && outgoing_[node].size() == 1 && !in_chain.contains(node)) {
        chain.push_back(node);
        in_chain.insert(node);
        node = static_cast<std::size_t>(pipe_to_[outgoing_[node][0]]);
    }
    if (in_chain.contains(node)) {
        // A loop, which the analysis refuses anyway: walk it in full, and keep nothing.
        looped_ = downstream(start);
        return looped_;
    }
    if (!below_[node]) below_[node] = downstream(node);
    for (auto upper = chain.rbegin(); upper != chain.rend(); ++upper) {
        const std::uint32_t q = outgoing_[*upper][0];
        const std::size_t lower = static_cast<std::size_t>(pipe_to_[q]);
        std::vector<std::uint32_t> list{q};
        for (std::uint32_t s : incoming_[lower])
            if (s != q) list.push_back(s);
        list.insert(list.end(), below_[lower]->begin(), below_[lower]->end());
        below_[*upper] = std::move(list);
    }
    return *below_[start];
}

// The pipes downstream of node `start`, nearest first, each followed by the
// other pipes into the node it ends at.
std::vector<std::uint32_t> Dependents::downstream(std::size_t start) const {
    std::vector<std::uint32_t> found;
    std::vector<std::size_t> stack{start};
    std::vector<bool> seen(node_count_, false);
    seen[start] = true;
    while (!stack.empty()) {
        const std::size_t node = stack.back();
        stack.pop_back();
        for (std::uint32_t q : outgoing_[node]) {
            found.push_back(q);
            const std::size_t lower = static_cast<std::size_t>(pipe_to_[q]);
            // The other pipes into the node below set its level too.
            for (std::uint32_t s : incoming_[lower])
                if (s != q) found.push_back(s);
            if (!seen[lower]) {
                seen[lower] = true;
                stack.push_back(lower);
            }
        }
    }
    return found;
}

}  // namespace rillwright::service
