// The level of service's search: one bisection shared by every condition
// (a structure floods; a pipe is reported surcharged; a pipe's grade line is
// above its crown). Each condition keeps a bracket [lo, hi] of analysed
// multipliers: hi the smallest at which it holds, lo the largest below hi (every
// analysed multiplier below lo does not hold either). Multipliers come from the
// lattice max_multiplier / 1000 * (1 + tolerance)^k, so a bracket with no
// lattice multiplier inside satisfies hi <= (1 + tolerance) * lo. The caller
// runs the analyses (on any executor) and hands their samples back.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "network_trees.hpp"
#include "outcome.hpp"
#include "service_sample.hpp"

namespace rillwright::service {

// One analysis to run: a multiplier and the trees to analyse (all when none given).
struct Pick {
    double multiplier = 0.0;
    std::optional<std::vector<std::uint32_t>> trees;
};

struct Plan {
    std::vector<double> lattice;  // ascending; the last is max_multiplier
    Trees trees;
    std::size_t node_count = 0;
    std::size_t pipe_count = 0;
    std::vector<std::set<double>> analysed;     // per tree
    std::vector<std::optional<double>> lo, hi;  // per condition; both empty while it never held
    std::vector<double> margin_lo, margin_hi;   // the condition's margins there, NaN when not known
    std::vector<bool> guessed;                  // the last round asked beside an estimate
    std::vector<Pick> pending;                  // asked for, not yet analysed
};

// Fails for a network that cannot be analysed or a lattice of more than a
// million multipliers.
Outcome<Plan> make_plan(const Network& network, double max_multiplier, double tolerance);

// 0, 1 and a grid of lattice multipliers from the lowest to max_multiplier,
// ascending, every tree each; the plan's pending analyses.
std::vector<double> first_batch(Plan& plan);

// The conditions a sample of these trees holds, in their order (all when none given).
std::vector<std::size_t> conditions_of(const Plan& plan, const std::optional<std::vector<std::uint32_t>>& trees);

// Narrows the brackets with the samples of the pending analyses, one each, in
// their order; fails when one does not belong to its analysis.
Outcome<bool> add_samples(Plan& plan, const std::vector<std::string_view>& samples);

// The brackets with a lattice multiplier inside.
std::size_t open_brackets(const Plan& plan);

// The next round, ascending, at most `left` analyses: the fewest lattice
// multipliers that serve every open bracket, each with the trees whose brackets
// take it; none when every bracket is closed. A bracket whose margins are known
// at both ends asks for the two lattice multipliers around the zero of the line
// through them (one analysis either side: it closes when the estimate is good);
// when that has not closed it, the next round it takes any multiplier in its
// middle third (in lattice steps), so it shrinks to two thirds at least.
std::vector<Pick> next_round(Plan& plan, long left);

}  // namespace rillwright::service
