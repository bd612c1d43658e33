// The level of service's crossings: from the analyses so far (samples at
// rainfall multipliers), for every condition the bracket of its first crossing
// and an estimate inside it, and the multipliers the next round should analyse.
// The rounds themselves are in service_rounds.{hpp,cpp}.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "service_sample.hpp"

namespace rillwright::service {

// Tuning, in one place.
inline constexpr int kGridPoints = 28;
inline constexpr double kGridSpan = 1000.0;  // the grid runs from max_multiplier / kGridSpan to max_multiplier
inline constexpr double kTolerance = 0.009;  // a bracket this narrow (relative) is settled: the accuracy aimed at
inline constexpr double kAskOffset = 0.004;  // a refinement asks for estimate * (1 -/+ kAskOffset)
inline constexpr double kCluster = 0.002;    // asks closer than this (relative) share one analysis
inline constexpr double kSameJump = 0.002;   // pipes switching regime this close together (relative) make one jump
inline constexpr std::size_t kPiecePoints = 2;  // a piece beside a bracket is extrapolated from this many analyses
inline constexpr int kRefineRounds = 12;
inline constexpr double kSlopeRatio = 5.0;    // a grade line this much steeper or flatter across a bracket jumps
inline constexpr double kConfirmWidth = 0.02;  // a crossing placed at a switch in a wider bracket is confirmed
inline constexpr int kDenseRounds = 2;       // rounds that split open brackets evenly,
inline constexpr int kDenseShare = 10;       // each with at most this many analyses,
inline constexpr int kDenseMin = 4;          // in gaps holding at least this many open brackets,
inline constexpr double kDenseFinest = 0.04;  // into parts no narrower than this
inline constexpr int kRoundShare = 2;        // a round uses at most half of the analyses left,
inline constexpr int kMinRound = 8;          // but at least this many, so that large networks need few rounds

using Pipes = std::span<const std::uint32_t>;

// What the analyses so far say about one condition's first crossing.
struct Crossing {
    std::optional<double> value;
    bool smooth = true;
    bool narrow = true;
    double lo = 0.0;
    double hi = 0.0;
    double reach_lo = 0.0;  // the analyses it was made from lie in [reach_lo, reach_hi]
    double reach_hi = 0.0;
    std::vector<double> splits;  // analyses that would part the jumps inside the bracket
    bool steady = false;         // no pipe it depends on changes regime inside the bracket
};
Crossing make_crossing(std::optional<double> value, bool smooth, double lo = 0.0, double hi = 0.0,
                       double reach_lo = 0.0, double reach_hi = 0.0);

using SwitchKey = std::tuple<std::size_t, std::uint32_t, std::size_t, std::size_t, double>;

// One value of every analysis (a condition's margins or flags, a pipe's switch
// margins), read from the samples where it is looked at: after the first round
// only the brackets a new analysis falls in are, and only next to the bracket.
template <class T>
class Column {
public:
    Column(const std::vector<const Sample*>& rows, const std::vector<T> Sample::*field, std::size_t index)
        : rows_(&rows), field_(field), index_(index) {}
    T operator[](std::size_t i) const { return ((*rows_)[i]->*field_)[index_]; }
    std::size_t size() const { return rows_->size(); }

private:
    const std::vector<const Sample*>* rows_;
    const std::vector<T> Sample::*field_;
    std::size_t index_;
};
using Series = Column<double>;
using Flags = Column<std::uint8_t>;

// The analysed multipliers up to the limit, in order, with their samples.
struct Columns {
    std::vector<double> multipliers;
    std::vector<const Sample*> rows;
    std::map<SwitchKey, std::optional<std::vector<double>>> switches;  // worked out once per key

    std::size_t size() const { return multipliers.size(); }
    Series margin(std::size_t j) const { return {rows, &Sample::margins, j}; }
    Flags flag(std::size_t j) const { return {rows, &Sample::flags, j}; }
    Series supercritical(std::uint32_t q) const { return {rows, &Sample::supercritical, q}; }
    Series drowned(std::uint32_t q) const { return {rows, &Sample::drowned, q}; }
    std::uint8_t regime(std::size_t i, std::uint32_t q) const { return rows[i]->regimes[q]; }
};

// The first analysis at which the condition holds; flags.size() when none.
std::size_t first_holding(const Flags& flags);

Columns make_columns(const std::map<double, Sample>& samples, double limit);

// The zero in [lo, hi] of the polynomial through two or three (m, g) points.
std::optional<double> root(std::span<const std::pair<double, double>> points, double lo, double hi);

Crossing crossing_of(const std::vector<double>& multipliers, const Series& margins, const Flags& flags);
// The crossing when pipes among `pipes` switch regime between analyses k-1 and
// k; nothing when none does or a switch cannot be placed.
std::optional<Crossing> jump_crossing(Columns& columns, const Series& margins, std::size_t k, Pipes pipes,
                                      std::size_t surcharge_row);

// The multipliers the open brackets ask for; first_pipe is the node count.
std::vector<double> asks(const std::vector<Crossing>& crossings, std::size_t first_pipe);
std::vector<std::vector<double>> groups(std::vector<double> asks);
std::vector<double> pick(std::vector<std::vector<double>> groups, long budget);
std::vector<double> splits(const std::vector<Crossing>& crossings, long budget);

// The pipes whose regimes a condition's margin depends on: those downstream of
// the structure, or the pipe itself and those downstream of it.
class Dependents {
public:
    Dependents(const Network& network);
    std::vector<std::uint32_t> pipes(std::size_t condition);
    // The pipes downstream of node `start`, walked afresh (pipes() keeps them per node).
    std::vector<std::uint32_t> downstream(std::size_t start) const;

private:
    const std::vector<std::uint32_t>& below(std::size_t start);

    std::size_t node_count_;
    std::size_t pipe_count_;
    std::vector<long> pipe_to_;
    std::vector<std::vector<std::uint32_t>> outgoing_;
    std::vector<std::vector<std::uint32_t>> incoming_;
    std::vector<std::optional<std::vector<std::uint32_t>>> below_;
    std::vector<std::uint32_t> looped_;
};

}  // namespace rillwright::service
