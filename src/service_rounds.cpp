#include "service_rounds.hpp"

#include <algorithm>
#include <cmath>
#include <set>

namespace rillwright::service {

namespace {

bool any_between(const std::vector<double>& sorted_values, double lo, double hi) {
    const auto at = std::upper_bound(sorted_values.begin(), sorted_values.end(), lo);
    return at != sorted_values.end() && *at < hi;
}

void update(Plan& plan) {
    std::vector<Crossing>& crossings = plan.crossings;
    if (plan.fresh.empty() && plan.worked_out) return;
    Columns columns = make_columns(plan.samples, plan.max_multiplier);
    const std::size_t nodes = plan.node_count, pipes = plan.pipe_count;
    for (std::size_t j = 0; j < crossings.size(); ++j) {
        const Crossing& known = crossings[j];
        if (plan.worked_out && (known.narrow || !any_between(plan.fresh, known.reach_lo, known.reach_hi))) continue;
        const Series margins = columns.margin(j);
        const Flags flags = columns.flag(j);
        Crossing found = crossing_of(columns.multipliers, margins, flags);
        if (!found.narrow && !(nodes <= j && j < nodes + pipes)) {
            const std::size_t k = first_holding(flags);
            const std::vector<std::uint32_t> below = plan.dependents.pipes(j);
            if (std::any_of(below.begin(), below.end(),
                            [&](std::uint32_t q) { return columns.regime(k - 1, q) != columns.regime(k, q); })) {
                if (auto jump = jump_crossing(columns, margins, k, below, nodes)) found = std::move(*jump);
            } else {
                found.steady = true;
            }
        }
        crossings[j] = std::move(found);
    }
    plan.worked_out = true;
}

}  // namespace

Columns make_columns(const std::map<double, Sample>& samples, double limit) {
    Columns columns;
    for (const auto& [m, sample] : samples) {
        if (!(m <= limit)) continue;
        columns.multipliers.push_back(m);
        columns.rows.push_back(&sample);
    }
    return columns;
}

Plan::Plan(const Network& network, double max_multiplier)
    : max_multiplier(max_multiplier),
      node_count(network.nodes.size()),
      pipe_count(network.pipes.size()),
      dependents(network),
      crossings(node_count + 2 * pipe_count) {}

std::vector<double> first_batch(Plan& plan) {
    const double ratio = std::pow(kGridSpan, 1.0 / (kGridPoints - 1));
    std::set<double> grid{0.0, 1.0, plan.max_multiplier};
    for (int k = kGridPoints - 1; k > 0; --k) grid.insert(plan.max_multiplier / std::pow(ratio, k));
    plan.pending.assign(grid.begin(), grid.end());
    return plan.pending;
}

void add_samples(Plan& plan, std::vector<Sample> samples) {
    for (std::size_t i = 0; i < samples.size(); ++i)
        plan.samples.insert_or_assign(plan.pending[i], std::move(samples[i]));
    plan.pending.clear();
}

std::vector<double> next_round(Plan& plan, long left) {
    while (plan.dense_rounds < kDenseRounds) {
        update(plan);
        plan.fresh = splits(plan.crossings, std::min(left, static_cast<long>(kDenseShare)));
        ++plan.dense_rounds;
        if (plan.fresh.empty()) {
            plan.dense_rounds = kDenseRounds;
            break;
        }
        plan.pending = plan.fresh;
        return plan.fresh;
    }
    if (plan.refine_rounds >= kRefineRounds) return {};
    ++plan.refine_rounds;
    update(plan);
    plan.fresh.clear();
    if (left <= 0) {
        plan.refine_rounds = kRefineRounds;
        return {};
    }
    std::vector<std::vector<double>> wanted = groups(asks(plan.crossings, plan.node_count));
    // When the asks far outnumber what is left, later rounds could not serve them
    // either: spend it all now rather than in many small rounds.
    const long budget = static_cast<long>(wanted.size()) >= 2 * left
                            ? left
                            : std::min(left, std::max(static_cast<long>(kMinRound), left / kRoundShare));
    for (double m : pick(std::move(wanted), budget))
        if (!plan.samples.contains(m)) plan.fresh.push_back(m);
    if (plan.fresh.empty()) plan.refine_rounds = kRefineRounds;
    plan.pending = plan.fresh;
    return plan.fresh;
}

std::vector<std::optional<double>> crossing_values(Plan& plan) {
    update(plan);
    std::vector<std::optional<double>> values;
    for (const Crossing& c : plan.crossings) values.push_back(c.value);
    return values;
}

}  // namespace rillwright::service
