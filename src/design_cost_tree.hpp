// The least-cost design of one tree, shared by its two ways of joining the
// structures: a structure's grid of levels, the options of sizes of a pipe,
// the rules judged on a pair of levels, and the designer's tables.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "design_cost.hpp"
#include "project.hpp"

namespace rillwright::design::cost_tree {

inline constexpr double kInf = std::numeric_limits<double>::infinity();

struct Levels {
    bool fixed = false;
    Level fixed_level;
    long long k0 = 0;
    int count = 0;
    double step = 0.01;
    LengthUnit unit = LengthUnit::rwn_feet;

    std::vector<double> feet;  // of every level, while the tree is designed

    double feet_at(int j) const { return feet[static_cast<std::size_t>(j)]; }
    Level at(int j) const {
        if (fixed) return fixed_level;
        const double written = static_cast<double>(k0 + j) * step;
        const double feet = unit == LengthUnit::project_metres ? project_length_feet(written, UnitSystem::si) : written;
        return Level{feet, written};
    }
};

inline Level grid_level(long long k, double step, LengthUnit unit) {
    Levels one;
    one.k0 = k;
    one.step = step;
    one.unit = unit;
    return one.at(0);
}

// The grid index of the lowest level at or above `feet`.
inline long long lowest_at_or_above(double feet, double step, LengthUnit unit) {
    const double per = unit == LengthUnit::project_metres ? project_length_feet(1.0, UnitSystem::si) : 1.0;
    auto k = static_cast<long long>(std::floor(feet / per / step));
    while (grid_level(k, step, unit).feet < feet) ++k;
    while (grid_level(k - 1, step, unit).feet >= feet) --k;
    return k;
}

// For a test true on [0, last] and false after it (last >= from, -1 when
// none): `last`, found from `from` by doubling steps and then halving them, so
// a frontier that moves little from one start to the next costs few tests.
template <class Test>
int last_true(int from, int count, Test test) {
    int step = 1, good = from;
    int bad = count;
    while (good + step < count && test(good + step)) {
        good += step;
        step *= 2;
    }
    bad = std::min(count, good + step);
    while (bad - good > 1) {
        const int mid = good + (bad - good) / 2;
        (test(mid) ? good : bad) = mid;
    }
    return good;
}

// For a test false below `first` and true from it on (count when never): `first`, searched from `from`.
template <class Test>
int first_true(int from, int count, Test test) {
    if (from >= count || test(from)) return from;
    return last_true(from, count, [&](int k) { return !test(k); }) + 1;
}

// For a test true up to some index of [0, count) and false above it: the last index where it holds (-1: none).
template <class Test>
int last_true_of(int count, Test test) {
    int good = -1, bad = count;
    while (bad - good > 1) {
        const int mid = good + (bad - good) / 2;
        (test(mid) ? good : bad) = mid;
    }
    return good;
}

// The end level nearest a start (the grid index of the start), where a flat pair may lie.
inline int flat_centre(const Levels& up, const Levels& dn, int j) {
    if (!dn.fixed && !up.fixed) return static_cast<int>((up.k0 + j) - dn.k0);
    if (!dn.fixed) return static_cast<int>(lowest_at_or_above(up.feet_at(j), dn.step, dn.unit) - dn.k0);
    return 0;
}

struct SizeOption {
    int step = -1;  // -1: the pipe keeps its size
    PipeShape shape;
    double diameter = 0.0;
    double rise = 0.0;
    double span = 0.0;
    double price = 0.0;
    FullSection full;
};

// The slope bounds judged once per size: the smallest slope known to meet the
// rule and the largest known to fail it (each rule's quantity grows with the slope).
struct SlopeCache {
    double ok = kInf;
    double bad = -kInf;
};

// The rules of one pipe of one size on a pair of levels (its start j, its end
// k), each judged on the levels as read back by the analysis' own arithmetic,
// and cached by slope where the rule's quantity grows with it.
class PairRules {
public:
    PairRules(Network& network, const Topology& topology, const Options& options, const RoundFlows& flows,
              std::size_t p, const SizeOption& size, const Levels& up, const Levels& dn, double limit, int j_first,
              int j_last, bool every_start, bool velocity = true)
        : net_(network), topo_(topology), opt_(options), flows_(flows), p_(p), pipe_(network.pipes[p]), size_(size),
          up_(up), dn_(dn), q_(flows.total_ca[p] * flows.rainfall[p]),
          rim_dn_(network.nodes[topology.pipe_ends[p].second].rim), limit_(limit), j_first_(j_first), j_last_(j_last),
          K_(dn.count), every_start_(every_start), velocity_judged_(velocity) {}

    PipeSlopes slopes_of(double start, double end) const {
        PipeSlopes sl;
        sl.slope = pipe_.length > 0.0 ? (start - end) / pipe_.length : 0.0;
        sl.used_slope = std::fabs(sl.slope) < kFlatSlope ? net_.settings.min_slope : sl.slope;
        return sl;
    }
    // Capacity and min_full_velocity on a slope, the analysis' own way.
    bool carries(double used_slope) const {
        const double full = full_capacity(pipe_.n, size_.full, used_slope);
        if (!(q_ <= opt_.max_fill * full)) return false;
        return !opt_.min_full_velocity || full / size_.full.area >= *opt_.min_full_velocity;
    }
    // Monotone in the end: true at and below the highest end the start allows.
    // A flat pipe's own slope stands in for its used slope here.
    bool high_ok(int j, int k) {
        const double end = dn_.feet_at(k);
        if (!(rim_dn_ - (end + size_.rise) >= limit_)) return false;
        const PipeSlopes sl = slopes_of(up_.feet_at(j), end);
        if (opt_.min_slope && !(sl.slope >= *opt_.min_slope)) return false;
        return carries_at(j, k);
    }
    // Monotone in the end: true at and above the lowest end the start allows. A
    // flat pair is judged on its own (meets), on the project's minimum slope: the
    // rules may fail there and hold on either side, so it bounds no frontier.
    bool low_ok(int j, int k) {
        const PipeSlopes sl = slopes_of(up_.feet_at(j), dn_.feet_at(k));
        if (sl.used_slope != sl.slope) return true;
        if (opt_.max_slope && !(sl.slope <= *opt_.max_slope)) return false;
        if (!opt_.max_velocity || !velocity_judged_) return true;
        return slow_enough_at(j, k, sl);
    }
    // The whole rule set on the used slope, for flat ends.
    bool meets(double start, double end) {
        if (!(rim_dn_ - (end + size_.rise) >= limit_)) return false;
        const PipeSlopes sl = slopes_of(start, end);
        if (opt_.min_slope && !(sl.slope >= *opt_.min_slope)) return false;
        if (opt_.max_slope && !(sl.slope <= *opt_.max_slope)) return false;
        // Only the flat pipe's used slope (the project's minimum) enters the hydraulics:
        // the same for every flat pair of this size, judged once.
        const bool fast_ok = !opt_.max_velocity || !velocity_judged_;
        if (sl.used_slope == sl.slope) {
            if (!carries(sl.used_slope)) return false;
            return fast_ok || fast_enough_ok(start, end);
        }
        if (flat_meets_ == -1) flat_meets_ = carries(sl.used_slope) && (fast_ok || fast_enough_ok(start, end)) ? 1 : 0;
        return flat_meets_ == 1;
    }
    // The steepest and the flattest pair of the windows judged first: when a
    // rule holds (or fails) at both, every pair between is known without judging it.
    void judge_extremes() {
        for (const auto& [j, k] : {std::pair<int, int>{j_last_, 0}, std::pair<int, int>{j_first_, K_ - 1}}) {
            high_ok(j, k);
            low_ok(j, k);
        }
    }

private:
    Network& net_;
    const Topology& topo_;
    const Options& opt_;
    const RoundFlows& flows_;
    std::size_t p_;
    Pipe& pipe_;
    const SizeOption& size_;
    const Levels& up_;
    const Levels& dn_;
    double q_, rim_dn_, limit_;
    int j_first_, j_last_, K_;
    bool every_start_;  // every start of the window is judged (the grid): judge ahead for the later ones
    bool velocity_judged_;  // false: max_velocity taken as met (ends to be judged again if they matter)
    SlopeCache capacity_;
    SlopeCache velocity_{-kInf, kInf};  // here the largest slope known fast enough, the smallest known too fast
    int flat_meets_ = -1;               // unknown, no, yes

    bool fast_enough_ok(double start, double end) {
        pipe_.invert_up = start;
        pipe_.invert_dn = end;
        return design_pipe(net_, topo_, p_, flows_.total_ca[p_], flows_.rainfall[p_]).velocity <= *opt_.max_velocity;
    }
    double slope_at(int j, int k) const {
        return pipe_.length > 0.0 ? (up_.feet_at(j) - dn_.feet_at(k)) / pipe_.length : 0.0;
    }
    // Capacity (and min_full_velocity): met from a slope up.
    bool carries_at(int j, int k) {
        const double s = slope_at(j, k);
        if (s >= capacity_.ok) return true;
        if (s <= capacity_.bad) return false;
        const bool ok = carries(s);
        (ok ? capacity_.ok : capacity_.bad) = s;
        return ok;
    }
    // max_velocity at the design flow: met up to a slope. Flat pipes are not
    // cached (their used slope differs). One pair judged, cached by its slope.
    bool judge_velocity(int j, int k) {
        const PipeSlopes sl = slopes_of(up_.feet_at(j), dn_.feet_at(k));
        if (sl.slope <= velocity_.ok) return true;
        if (sl.slope >= velocity_.bad) return false;
        const bool ok = fast_enough_ok(up_.feet_at(j), dn_.feet_at(k));
        if (sl.used_slope == sl.slope) (ok ? velocity_.ok : velocity_.bad) = sl.slope;
        return ok;
    }
    // The pair of (j, k)'s drop (same grid steps between start and end) with the greatest or least slope.
    std::pair<int, int> extreme_of_drop(int j, int k, bool steepest) const {
        int at_j = j;
        double extreme = slope_at(j, k);
        for (int jj = j_first_; jj <= j_last_; ++jj) {
            const int kk = k + (jj - j);
            if (kk < 0 || kk >= K_) continue;
            const double other = slope_at(jj, kk);
            if (steepest ? other > extreme : other < extreme) {
                extreme = other;
                at_j = jj;
            }
        }
        return {at_j, k + (at_j - j)};
    }
    // A judgment between the known bounds narrows them to two neighbouring
    // drops: halving along the starts at this end (steeper upward), then the
    // steepest pair of the drop met and the flattest of the drop failed, whose
    // slopes the later starts repeat to the last bits. A few solutions of the
    // normal depth per size instead of one per start.
    bool slow_enough_at(int j, int k, const PipeSlopes& sl) {
        if (sl.slope <= velocity_.ok) return true;
        if (sl.slope >= velocity_.bad) return false;
        const bool ok = judge_velocity(j, k);
        if (!every_start_ || sl.used_slope != sl.slope || up_.fixed || dn_.fixed) return ok;
        int good = ok ? j : j_first_ - 1, bad = ok ? j_last_ + 1 : j;  // along the starts at end k
        if (!ok) {
            // Down to a start that meets it (or none).
            int step = 1;
            while (bad - step >= j_first_ && !judge_velocity(bad - step, k)) {
                bad -= step;
                step *= 2;
            }
            good = std::max(j_first_ - 1, bad - step);
        }
        while (bad - good > 1) {
            const int mid = good + (bad - good) / 2;
            (judge_velocity(mid, k) ? good : bad) = mid;
        }
        if (good >= j_first_) {
            const auto [jj, kk] = extreme_of_drop(good, k, true);
            judge_velocity(jj, kk);
        }
        if (bad <= j_last_) {
            const auto [jj, kk] = extreme_of_drop(bad, k, false);
            judge_velocity(jj, kk);
        }
        return ok;
    }
};

// One incoming pipe's choice at a start level of the pipe leaving its structure.
struct Choice {
    std::int32_t size = -1;  // index into the pipe's sizes
    std::int32_t end = -1;   // the grid: its end level; the frontier: index into its ends of that size
};

// An end of a pipe of one size worth keeping: no other end of the size is both
// higher and no dearer. `cost` is the pipe and everything above it.
struct EndPoint {
    std::int32_t end = 0;    // level at the downstream structure
    std::int32_t start = 0;  // level at the upstream structure
    double cost = 0.0;
    bool flat = false;
};

struct PipeTables {
    std::vector<SizeOption> sizes;
    // The grid: per size, per level of the downstream window, the least cost and the start of that minimum.
    std::vector<std::vector<double>> R;
    std::vector<std::vector<std::int32_t>> start;
    // The frontier: per size, its ends worth keeping, lowest first (their costs rise with them),
    // and whether they were judged by every rule (or with max_velocity taken as met).
    std::vector<std::vector<EndPoint>> ends;
    std::vector<char> judged;
    // Filled at the downstream structure's join, per size of the pipe leaving
    // it: on the grid per start level, on the frontier per step of that structure.
    std::vector<std::vector<Choice>> chosen;
};

// A structure's least cost above it, per size of the pipe leaving it, as steps:
// at a level j the entering pipes' choices are those of the lowest step at or
// above j (higher levels ask more of them), and the structure's own cost is
// that of j. `top` is the step's level.
struct Steps {
    std::int32_t bottom = 0;  // the lowest level the structure allows
    std::vector<std::int32_t> top;
};

struct Failure {
    std::size_t pipe = 0;
    std::string reason;
};

// A structure reached on the way down from the end of the tree: the size and start level of the pipe leaving it.
struct Pending {
    std::size_t node;
    std::size_t size;  // 0 at the end of the tree
    int level;
};

class TreeDesigner {
public:
    TreeDesigner(Network& network, const Topology& topology, const SizingPlan& plan, const CostModel& model,
                 const RoundFlows& flows, const std::vector<std::size_t>& nodes)
        : net_(network), topo_(topology), plan_(plan), opt_(plan.options), model_(model), flows_(flows),
          nodes_(nodes), tables_(network.pipes.size()), levels_(network.nodes.size()) {}

    std::optional<Infeasible> run(std::vector<PipeChoice>& choices);

private:
    Network& net_;
    const Topology& topo_;
    const SizingPlan& plan_;
    const Options& opt_;
    const CostModel& model_;
    const RoundFlows& flows_;
    const std::vector<std::size_t>& nodes_;
    std::vector<PipeTables> tables_;  // per pipe of the network; only the tree's are filled
    std::vector<Levels> levels_;      // per node
    std::vector<std::vector<Steps>> steps_;  // the frontier: per node, per size of the pipe leaving it
    std::optional<Failure> failure_;

    double cover() const { return opt_.min_cover.value_or(kDefaultProfileCover); }
    void set_windows(std::size_t root);
    std::vector<SizeOption> size_options(std::size_t p) const;
    void drop_sizes_too_small(std::size_t p);
    void fail(std::size_t pipe, std::string reason) {
        if (!failure_) failure_ = Failure{pipe, std::move(reason)};
    }
    std::size_t out_pipe(std::size_t v) const { return topo_.outgoing[v].front().pipe; }
    // The structure's own cost at level j when the pipe leaving it has `rise`
    // (none at the end of the tree): infinity where its cover or depth fails.
    double structure_at(std::size_t v, int j, const double* rise) const;
    // The failure of a pipe left without a start or an end.
    void check_pipe(std::size_t p, bool any_start, bool any_end);
    void set_pipe(std::size_t p, const SizeOption& option, const Level& up, const Level& dn,
                  std::vector<PipeChoice>& choices) const;
    void set_structure_inverts();
    // The tree without a design: the first pipe, upstream to downstream, left without one, and the rule.
    Infeasible no_design(std::size_t root) const;

    // On the grid of every level (the joins with max_drop).
    std::vector<std::vector<double>> join(std::size_t v, const std::vector<SizeOption>* out_sizes);
    void pipe_stage(std::size_t p, const std::vector<std::vector<double>>& H);
    std::optional<Infeasible> run_grid(std::vector<PipeChoice>& choices);

    // On the steps alone (without max_drop): see design_cost_frontier.cpp.
    void join_steps(std::size_t v, const std::vector<SizeOption>* out_sizes);
    double cost_at(std::size_t v, std::size_t out_size, std::size_t step, int j, const double* rise) const;
    void pipe_ends(std::size_t p);
    std::vector<EndPoint> ends_of_size(std::size_t p, std::size_t s, bool velocity);
    bool lazy_ = true;  // max_velocity judged only on the ends a join keeps
    std::optional<Infeasible> run_frontier(std::vector<PipeChoice>& choices);
};

}  // namespace rillwright::design::cost_tree
