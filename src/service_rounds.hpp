// The rounds of the level of service: a first batch on a geometric grid of
// rainfall multipliers, rounds that split the gaps many open brackets share,
// then rounds that serve the brackets' asks, each within a share of the
// analyses left. The caller runs the analyses (on any executor) and hands their
// samples back; a plan holds everything in between.
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "service_crossings.hpp"

namespace rillwright::service {

struct Plan {
    Plan(const Network& network, double max_multiplier);

    double max_multiplier;
    std::size_t node_count;
    std::size_t pipe_count;
    Dependents dependents;
    std::map<double, Sample> samples;
    std::vector<double> pending;  // asked for, not yet analysed
    std::vector<double> fresh;    // analysed since the crossings were last worked out, ascending
    // Per condition (nodes flooding, pipes surcharged, pipes above their crowns),
    // once worked out from the first batch. A crossing is worked out again only
    // when a new analysis falls among those it was made from; a settled bracket
    // only narrows with more analyses, so it is kept.
    std::vector<Crossing> crossings;
    bool worked_out = false;
    int dense_rounds = 0;
    int refine_rounds = 0;
};

// The first batch: 0, the design storm 1 and kGridPoints multipliers from
// max_multiplier / kGridSpan to max_multiplier, ascending; the plan's pending analyses.
std::vector<double> first_batch(Plan& plan);

// Adds the samples of the pending analyses, one each, in their order.
void add_samples(Plan& plan, std::vector<Sample> samples);

// The next round's multipliers within `left` analyses, ascending; none when
// the rounds are over.
std::vector<double> next_round(Plan& plan, long left);

// Every condition's crossing: 0 when it holds with no rain, nothing when not
// up to max_multiplier.
std::vector<std::optional<double>> crossing_values(Plan& plan);

}  // namespace rillwright::service
