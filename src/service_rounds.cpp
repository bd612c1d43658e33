#include "service_rounds.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "network_source.hpp"

namespace rillwright::service {

namespace {

constexpr int kGridPoints = 28;                   // the first batch's grid, as many as a coarse scan
constexpr std::size_t kLatticeLimit = 1'000'000;  // the plan keeps the lattice in memory

std::uint32_t tree_of(const Plan& plan, std::size_t condition) {
    if (condition < plan.node_count) return plan.trees.of_node[condition];
    return plan.trees.of_pipe[(condition - plan.node_count) % plan.pipe_count];
}

// The lattice indices strictly inside condition j's bracket, [first, last]
// (empty when last < first, or when it never held).
std::pair<long, long> inside(const Plan& plan, std::size_t j) {
    if (!plan.hi[j]) return {0, -1};
    const auto& l = plan.lattice;
    const long first = std::upper_bound(l.begin(), l.end(), *plan.lo[j]) - l.begin();
    const long last = (std::lower_bound(l.begin(), l.end(), *plan.hi[j]) - l.begin()) - 1;
    return {first, last};
}

// Condition j analysed at x: held or not. Keeps hi the smallest analysed
// multiplier at which it holds and lo the one just below.
void narrow(Plan& plan, std::size_t j, double x, bool holds, double margin) {
    std::optional<double>& lo = plan.lo[j];
    std::optional<double>& hi = plan.hi[j];
    if (holds && (!hi || x < *hi)) {
        if (!hi || x < *lo) {
            // The first crossing moved below the bracket: lo is the analysis just below x.
            const std::set<double>& seen = plan.analysed[tree_of(plan, j)];
            const auto below = seen.lower_bound(x);
            lo = below == seen.begin() ? x : *std::prev(below);
            plan.margin_lo[j] = std::numeric_limits<double>::quiet_NaN();
        }
        hi = x;
        plan.margin_hi[j] = margin;
    } else if (!holds && hi && *lo < x && x < *hi) {
        lo = x;
        plan.margin_lo[j] = margin;
    }
}

// The lattice index nearest below the zero of the line through the bracket's
// margins, or -1 when they do not give one.
long estimate(const Plan& plan, std::size_t j) {
    const double g_lo = plan.margin_lo[j], g_hi = plan.margin_hi[j];
    if (!(std::isfinite(g_lo) && std::isfinite(g_hi) && g_lo < 0.0 && g_hi > 0.0)) return -1;
    const double zero = *plan.lo[j] + (0.0 - g_lo) * (*plan.hi[j] - *plan.lo[j]) / (g_hi - g_lo);
    return (std::upper_bound(plan.lattice.begin(), plan.lattice.end(), zero) - plan.lattice.begin()) - 1;
}

}  // namespace

Outcome<Plan> make_plan(const Network& network, double max_multiplier, double tolerance) {
    Outcome<Topology> topology = build_topology(network);
    if (!topology.ok()) return Outcome<Plan>::failure(analysis_failed(topology.error));
    Plan plan;
    // Each multiplier is the one below times (1 + tolerance), exactly as a reader
    // checking hi <= (1 + tolerance) * lo computes it.
    const double ratio = 1.0 + tolerance;
    for (double m = max_multiplier / 1000.0; m < max_multiplier; m *= ratio) {
        if (plan.lattice.size() == kLatticeLimit)
            return Outcome<Plan>::failure("tolerance is too fine: more than a million multipliers");
        plan.lattice.push_back(m);
    }
    plan.lattice.push_back(max_multiplier);
    plan.trees = find_trees(network, *topology.value);
    plan.node_count = network.nodes.size();
    plan.pipe_count = network.pipes.size();
    plan.analysed.resize(plan.trees.count);
    plan.lo.resize(plan.node_count + 2 * plan.pipe_count);
    plan.hi.resize(plan.lo.size());
    plan.margin_lo.assign(plan.lo.size(), std::numeric_limits<double>::quiet_NaN());
    plan.margin_hi.assign(plan.lo.size(), std::numeric_limits<double>::quiet_NaN());
    plan.guessed.assign(plan.lo.size(), false);
    return Outcome<Plan>::success(std::move(plan));
}

std::vector<double> first_batch(Plan& plan) {
    const std::size_t top = plan.lattice.size() - 1;
    std::set<double> batch{0.0, 1.0};
    for (std::size_t i = 0; i < kGridPoints; ++i) batch.insert(plan.lattice[(i * top + kGridPoints / 2) / (kGridPoints - 1)]);
    plan.pending.clear();
    for (double m : batch) plan.pending.push_back({m, std::nullopt});
    return {batch.begin(), batch.end()};
}

std::vector<std::size_t> conditions_of(const Plan& plan, const std::optional<std::vector<std::uint32_t>>& trees) {
    std::vector<bool> wanted(plan.trees.count, !trees);
    if (trees)
        for (std::uint32_t t : *trees)
            if (t < wanted.size()) wanted[t] = true;
    std::vector<std::size_t> out;
    for (std::size_t j = 0; j < plan.lo.size(); ++j)
        if (wanted[tree_of(plan, j)]) out.push_back(j);
    return out;
}

Outcome<bool> add_samples(Plan& plan, const std::vector<std::string_view>& samples) {
    if (samples.size() != plan.pending.size())
        return Outcome<bool>::failure("service_round needs one sample for every analysis asked for");
    std::vector<std::vector<std::size_t>> conditions;
    std::vector<Sample> unpacked;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        conditions.push_back(conditions_of(plan, plan.pending[i].trees));
        const std::vector<std::size_t>& c = conditions.back();
        const std::size_t nodes = std::lower_bound(c.begin(), c.end(), plan.node_count) - c.begin();
        Outcome<Sample> s = unpack_sample(samples[i], nodes, (c.size() - nodes) / 2);
        if (!s.ok()) return Outcome<bool>::failure(s.error);
        unpacked.push_back(std::move(*s.value));
    }
    // In ascending order, so that a tree's analyses below x are all known when x is added.
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double x = plan.pending[i].multiplier;
        if (x > plan.lattice.back()) continue;  // the design storm, above a max_multiplier below 1
        for (std::size_t k = 0; k < conditions[i].size(); ++k) narrow(plan, conditions[i][k], x, unpacked[i].flags[k], unpacked[i].margins[k]);
        if (!plan.pending[i].trees) {
            for (std::set<double>& seen : plan.analysed) seen.insert(x);
        } else {
            for (std::uint32_t t : *plan.pending[i].trees)
                if (t < plan.analysed.size()) plan.analysed[t].insert(x);
        }
    }
    plan.pending.clear();
    return Outcome<bool>::success(true);
}

std::size_t open_brackets(const Plan& plan) {
    std::size_t open = 0;
    for (std::size_t j = 0; j < plan.lo.size(); ++j) {
        const auto [first, last] = inside(plan, j);
        open += first <= last;
    }
    return open;
}

std::vector<Pick> next_round(Plan& plan, long left) {
    // What every open bracket takes, in lattice indices: (end, start, tree).
    std::vector<std::tuple<long, long, std::uint32_t>> wanted;
    for (std::size_t j = 0; j < plan.lo.size(); ++j) {
        const auto [first, last] = inside(plan, j);
        if (first > last) continue;
        const long below = plan.guessed[j] ? -1 : estimate(plan, j);
        plan.guessed[j] = below >= 0;
        if (below >= 0) {
            for (long k : {below, below + 1}) {
                const long at = std::clamp(k, first, last);
                wanted.emplace_back(at, at, tree_of(plan, j));
            }
            continue;
        }
        const long span = last - first + 2;  // from lo's place to hi's
        wanted.emplace_back(first - 1 + 2 * span / 3, first - 1 + (span + 2) / 3, tree_of(plan, j));
    }
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    // Interval stabbing: the end of the first interval not yet served, and so on.
    std::vector<long> at;
    for (const auto& [end, start, tree] : wanted)
        if (at.empty() || start > at.back()) at.push_back(end);
    if (static_cast<long>(at.size()) > left) at.resize(static_cast<std::size_t>(std::max(left, 0L)));
    std::vector<std::vector<std::uint32_t>> trees(at.size());
    // Each bracket is served by one analysis of its tree (the first it takes), so
    // that a tree is analysed only as often as its own brackets need.
    for (const auto& [end, start, tree] : wanted) {
        const auto k = std::lower_bound(at.begin(), at.end(), start);
        if (k != at.end() && *k <= end) trees[k - at.begin()].push_back(tree);
    }
    plan.pending.clear();
    for (std::size_t k = 0; k < at.size(); ++k) {
        std::sort(trees[k].begin(), trees[k].end());
        trees[k].erase(std::unique(trees[k].begin(), trees[k].end()), trees[k].end());
        plan.pending.push_back({plan.lattice[static_cast<std::size_t>(at[k])], std::move(trees[k])});
    }
    return plan.pending;
}

}  // namespace rillwright::service
