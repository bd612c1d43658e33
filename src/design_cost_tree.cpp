// The least-cost design of one tree, exact on the grid of inverts.
//
// Every structure's inverts take the levels of its window: the multiples of
// the invert step from the tree's floor (the outfall's invert; max_depth below
// the rim) up to the cover, or its one level when it keeps its invert. With
// the flows of the round fixed, the cost and every rule are local to a pipe
// and its two structures, so from the leaves to the outfall:
//   H[s][j]  the least cost of pipe p's structure and everything above it when
//            p has size s and starts at level j of its structure;
//   R[s][k]  that, plus p itself, when p ends at level k of the next one.
// For one start j the rules allow an interval of ends [Dlow(j), Dhigh(j)]
// (capacity, min_slope, min_full_velocity and the cover below hold down to
// Dhigh; max_slope and max_velocity from Dlow), both never falling as j rises,
// so R is a sliding-window minimum over j, linear in the grid. A pipe's cost
// falls as its end rises, and its end only bounds the next pipe's start from
// above (match, min_drop) and, with max_drop, from below: the next structure
// joins each entering pipe by a minimum over the ends between those two
// thresholds, again never falling as its start rises (a suffix minimum, or a
// sliding window with max_drop). A flat pipe is analysed on the project's
// minimum slope; its one or two flat ends are judged on their own.
//
// Every rule is judged on the levels as read back, by the analysis' own
// functions (pipe_slopes, full_capacity, design_pipe), so the analysis of the
// design meets what the design met. Memory: per pipe, the argument of each
// minimum (sizes x window), dropped with the tree.
#include <algorithm>
#include <deque>

#include "design_cost_messages.hpp"
#include "design_cost_tree.hpp"

namespace rillwright::design {

namespace cost_tree {

namespace {

// The grid index of the highest level with `ok`, searching down from near `feet`.
template <class Ok>
long long highest_with(double feet, double step, LengthUnit unit, Ok ok) {
    const double per = unit == LengthUnit::project_metres ? project_length_feet(1.0, UnitSystem::si) : 1.0;
    auto k = static_cast<long long>(std::floor(feet / per / step)) + 1;
    while (!ok(grid_level(k, step, unit).feet)) --k;
    while (ok(grid_level(k + 1, step, unit).feet)) ++k;
    return k;
}

}  // namespace

// A size that cannot carry the flow even on the steepest slope the two windows
// allow (the highest start to the lowest end, or max_slope) has no design: the
// capacity only grows with the slope. Kept pipes keep their one size.
void TreeDesigner::drop_sizes_too_small(std::size_t p) {
    auto& sizes = tables_[p].sizes;
    const auto [from, to] = topo_.pipe_ends[p];
    const Levels& up = levels_[from];
    const Levels& dn = levels_[to];
    if (sizes.size() < 2 || up.count == 0 || dn.count == 0) return;
    Pipe& pipe = net_.pipes[p];
    pipe.invert_up = up.feet_at(up.count - 1);
    pipe.invert_dn = dn.feet_at(0);
    const PipeSlopes steepest = pipe_slopes(net_, topo_, p);
    if (!(steepest.slope > 0.0) || steepest.used_slope != steepest.slope) return;
    const double slope = opt_.max_slope ? std::fmin(steepest.slope, *opt_.max_slope) : steepest.slope;
    const double q = flows_.total_ca[p] * flows_.rainfall[p];
    std::vector<SizeOption> kept;
    for (SizeOption& size : sizes) {
        if (q <= opt_.max_fill * full_capacity(pipe.n, size.full, slope)) kept.push_back(std::move(size));
    }
    sizes = std::move(kept);
}

void TreeDesigner::set_windows(std::size_t root) {
    const double step = opt_.invert_step;
    const LengthUnit unit = plan_.unit;
    const Node& bottom = net_.nodes[root];
    double floor = bottom.kind == NodeKind::Outfall || plan_.fixed_nodes[root]
                       ? readable_at_most(bottom.invert, unit).feet
                       : bottom.rim - *opt_.max_depth;
    if (bottom.kind == NodeKind::Outfall) floor = bottom.invert;
    for (const std::size_t v : nodes_) {
        const Node& node = net_.nodes[v];
        Levels& levels = levels_[v];
        levels.step = step;
        levels.unit = unit;
        const bool is_root = topo_.outgoing[v].empty();
        if (plan_.fixed_nodes[v] && !(is_root && node.kind == NodeKind::Outfall)) {
            levels.fixed = true;
            levels.fixed_level = readable_at_most(node.invert, unit);
            levels.count = 1;
            levels.feet.assign(1, levels.fixed_level.feet);
            continue;
        }
        double lowest = floor;
        const bool deep_limited = opt_.max_depth && node.kind != NodeKind::Outfall;
        if (deep_limited) lowest = std::fmax(lowest, node.rim - *opt_.max_depth);
        const long long k_low = lowest_at_or_above(lowest, step, unit);
        // Depth: rim - invert <= max_depth, judged as the checks judge it.
        long long k = k_low;
        if (deep_limited) {
            while (node.rim - grid_level(k, step, unit).feet > *opt_.max_depth) ++k;
        }
        const double limit = cover();
        const long long k_high = highest_with(node.rim - limit, step, unit,
                                              [&](double level) { return node.rim - (level + 0.0) >= limit; });
        levels.k0 = k;
        levels.count = static_cast<int>(std::max<long long>(0, k_high - k + 1));
        levels.feet.resize(static_cast<std::size_t>(levels.count));
        for (int j = 0; j < levels.count; ++j) levels.feet[static_cast<std::size_t>(j)] = levels.at(j).feet;
    }
}

std::vector<SizeOption> TreeDesigner::size_options(std::size_t p) const {
    const Pipe& pipe = net_.pipes[p];
    std::vector<SizeOption> sizes;
    const auto add = [&](int step, const PipeShape& shape, double diameter, const FullSection& full, double price) {
        SizeOption option;
        option.step = step;
        option.shape = shape;
        option.diameter = diameter;
        option.rise = shape_rise(shape);
        option.span = section_span(shape);
        option.price = price;
        option.full = full;
        sizes.push_back(std::move(option));
    };
    if (plan_.roles[p] != Role::sized) {
        add(-1, pipe.shape, pipe.diameter, full_section(pipe.shape), model_.kept_price_per_ft[p]);
        return sizes;
    }
    const std::size_t shape = pipe.shape.index();
    const auto& catalogue = plan_.tables.shapes[shape];
    for (std::size_t i = 0; i < catalogue.size(); ++i) {
        const CatalogueSize& size = catalogue[i];
        if (opt_.min_size && !(size.rise_in >= *opt_.min_size)) continue;
        add(static_cast<int>(i), size.shape, size.diameter, size.full, model_.price_per_ft[shape][i]);
    }
    return sizes;
}

// The join at structure v: for each size of the pipe leaving it (none at the
// end of the tree) and each of its start levels, the structure's own cost plus
// the least cost of every entering pipe that the rules allow with it.
std::vector<std::vector<double>> TreeDesigner::join(std::size_t v, const std::vector<SizeOption>* out_sizes) {
    const Node& node = net_.nodes[v];
    const Levels& levels = levels_[v];
    const int J = levels.count;
    const int S = out_sizes ? static_cast<int>(out_sizes->size()) : 1;
    const double m = match_fraction(opt_.match);
    const bool is_outfall = node.kind == NodeKind::Outfall;
    std::vector<std::vector<double>> H(static_cast<std::size_t>(S), std::vector<double>(static_cast<std::size_t>(J), 0.0));

    // The structure itself: cover of the leaving pipe, depth, cost.
    for (int t = 0; t < S; ++t) {
        const double* rise = out_sizes ? &(*out_sizes)[t].rise : nullptr;
        for (int j = 0; j < J; ++j) H[t][j] = structure_at(v, j, rise);
    }
    const auto node_invert = [&](double level) { return levels.fixed || is_outfall ? node.invert : level; };
    std::vector<double> best(static_cast<std::size_t>(J));
    std::vector<std::int32_t> best_size(static_cast<std::size_t>(J)), best_end(static_cast<std::size_t>(J));
    std::deque<int> window;
    for (const PipeLink& in : topo_.incoming[v]) {
        PipeTables& entering = tables_[in.pipe];
        const int K = J;  // the entering pipe ends on this structure's levels
        entering.chosen.assign(static_cast<std::size_t>(S), std::vector<Choice>(static_cast<std::size_t>(J)));
        // Suffix minima of each size's ends, for the join without max_drop.
        std::vector<std::vector<double>> suffix;
        std::vector<std::vector<std::int32_t>> suffix_at;
        if (!opt_.max_drop) {
            for (const auto& R : entering.R) {
                std::vector<double> low(static_cast<std::size_t>(K) + 1, kInf);
                std::vector<std::int32_t> at(static_cast<std::size_t>(K) + 1, -1);
                for (int k = K - 1; k >= 0; --k) {
                    low[k] = low[k + 1];
                    at[k] = at[k + 1];
                    if (R[k] < low[k]) {
                        low[k] = R[k];
                        at[k] = k;
                    }
                }
                suffix.push_back(std::move(low));
                suffix_at.push_back(std::move(at));
            }
        }
        // Where each size's ends have a finite cost: nothing outside can be a minimum.
        std::vector<std::pair<int, int>> finite(entering.R.size(), {K, -1});
        for (std::size_t si = 0; si < entering.R.size(); ++si) {
            for (int k = 0; k < K; ++k) {
                if (entering.R[si][k] == kInf) continue;
                finite[si].first = std::min(finite[si].first, k);
                finite[si].second = k;
            }
        }
        // The entering sizes cheapest first by their least cost at any end: once a
        // size's least cost is above the best found at every start, no later size
        // can better any of them. Ties go to the first size in catalogue order, as
        // a scan in that order would give.
        std::vector<double> least(entering.R.size(), kInf);
        for (std::size_t si = 0; si < entering.R.size(); ++si) {
            for (int k = finite[si].first; k <= finite[si].second; ++k) least[si] = std::fmin(least[si], entering.R[si][k]);
        }
        std::vector<std::size_t> cheapest_first(entering.R.size());
        for (std::size_t si = 0; si < cheapest_first.size(); ++si) cheapest_first[si] = si;
        std::stable_sort(cheapest_first.begin(), cheapest_first.end(),
                         [&](std::size_t a, std::size_t b) { return least[a] < least[b]; });
        bool any = false;
        for (int s = 0; s < S; ++s) {
            std::fill(best.begin(), best.end(), kInf);
            std::fill(best_size.begin(), best_size.end(), -1);
            int j_first = 0, j_last = J - 1;
            while (j_first < J && H[s][j_first] == kInf) ++j_first;
            while (j_last >= j_first && H[s][j_last] == kInf) --j_last;
            const double rise_out = out_sizes ? (*out_sizes)[s].rise : 0.0;
            for (const std::size_t si : cheapest_first) {
                if (least[si] == kInf) break;
                // The starts this size might better: from the first to the last whose best is not below its least.
                const auto open = [&](int j) { return H[s][j] < kInf && best[j] >= least[si]; };
                int ja = j_first, jb = j_last;
                while (ja <= jb && !open(ja)) ++ja;
                if (ja > jb) break;
                while (!open(jb)) --jb;
                const double rise_in = entering.sizes[si].rise;
                if (out_sizes && opt_.no_smaller_downstream && !(rise_out >= rise_in)) continue;
                const std::vector<double>& R = entering.R[si];
                const auto [k_first, k_last] = finite[si];
                if (k_first > k_last) continue;
                // The start's bound from below on the end (match, min_drop; at the
                // end of a tree the structure's own invert) and from above (max_drop).
                const auto lower_ok = [&](double start, double end) {
                    if (!out_sizes) return levels.fixed || is_outfall || end >= start;
                    return start <= end + m * rise_in - m * rise_out && start <= end - opt_.min_drop;
                };
                const auto upper_ok = [&](double start, double end) {
                    return !(end - node_invert(start) > *opt_.max_drop);
                };
                // Below k_first every end costs infinity, so the lower bound may start
                // there; for the first start it is found by doubling and halving steps.
                int lo = k_first, hi = k_first - 1;
                bool first = true;
                window.clear();
                for (int j = ja; j <= jb; ++j) {
                    if (H[s][j] == kInf) continue;
                    const double start = levels.feet_at(j);
                    if (first) {
                        lo = first_true(lo, k_last + 1, [&](int k) { return lower_ok(start, levels.feet_at(k)); });
                        hi = lo - 1;  // the ends below lo are below it for every higher start too
                        first = false;
                    }
                    while (lo <= k_last && !lower_ok(start, levels.feet_at(lo))) ++lo;
                    if (lo > k_last) break;  // no end left for this start or any higher one
                    double value = kInf;
                    int at = -1;
                    if (!opt_.max_drop) {
                        if (lo < K) {
                            value = suffix[si][lo];
                            at = suffix_at[si][lo];
                        }
                    } else {
                        while (hi + 1 <= k_last && upper_ok(start, levels.feet_at(hi + 1))) {
                            ++hi;
                            if (R[hi] == kInf) continue;
                            while (!window.empty() && R[window.back()] >= R[hi]) window.pop_back();
                            window.push_back(hi);
                        }
                        while (!window.empty() && window.front() < lo) window.pop_front();
                        if (!window.empty()) {
                            at = window.front();
                            value = R[at];
                        }
                    }
                    if (value < best[j] || (value == best[j] && value < kInf && static_cast<std::int32_t>(si) < best_size[j])) {
                        best[j] = value;
                        best_size[j] = static_cast<std::int32_t>(si);
                        best_end[j] = at;
                    }
                }
            }
            for (int j = 0; j < J; ++j) {
                H[s][j] += best[j];
                if (best[j] < kInf) any = true;
                entering.chosen[s][j] = Choice{best_size[j], best_end[j]};
            }
        }
        entering.R.clear();
        entering.R.shrink_to_fit();
        if (!any) {
            const bool arrival = !out_sizes;
            fail(arrival ? in.pipe : out_pipe(v), arrival ? messages::no_arrival(node.id) : messages::no_join(node.id));
        }
    }
    return H;
}

// Pipe p's ends for each size and start: R and the start of each minimum.
void TreeDesigner::pipe_stage(std::size_t p, const std::vector<std::vector<double>>& H) {
    PipeTables& tables = tables_[p];
    const auto [from, to] = topo_.pipe_ends[p];
    const Levels& up = levels_[from];
    const Levels& dn = levels_[to];
    const int J = up.count, K = dn.count;
    Pipe& pipe = net_.pipes[p];
    const double rim_up = net_.nodes[from].rim, rim_dn = net_.nodes[to].rim;
    tables.R.assign(tables.sizes.size(), std::vector<double>());
    tables.start.assign(tables.sizes.size(), std::vector<std::int32_t>());
    std::vector<double> A(static_cast<std::size_t>(J));
    std::vector<int> high(static_cast<std::size_t>(J)), low(static_cast<std::size_t>(J));
    std::deque<int> window;
    bool any_start = false, any_end = false;
    for (std::size_t s = 0; s < tables.sizes.size(); ++s) {
        const SizeOption& size = tables.sizes[s];
        pipe.shape = size.shape;
        pipe.diameter = size.diameter;
        // The pipe's cost split between its ends, each half of the trench at the depth of one end.
        for (int j = 0; j < J; ++j) {
            const double depth = rim_up - up.feet_at(j);
            A[j] = H[s][j] == kInf ? kInf
                                   : H[s][j] + (pipe.length * size.price + model_.excavation_per_cuft *
                                                                               trench_volume(model_, pipe.length, size.span, depth, 0.0));
            if (A[j] < kInf) any_start = true;
        }
        int j_first = 0, j_last = J - 1;
        while (j_first < J && A[j_first] == kInf) ++j_first;
        while (j_last >= j_first && A[j_last] == kInf) --j_last;
        std::vector<double>& R = tables.R[s];
        std::vector<std::int32_t>& from_start = tables.start[s];
        R.assign(static_cast<std::size_t>(K), kInf);
        from_start.assign(static_cast<std::size_t>(K), -1);
        if (j_first > j_last) continue;  // no start: every end costs infinity
        PairRules rules(net_, topo_, opt_, flows_, p, size, up, dn, cover(), j_first, j_last, true);
        rules.judge_extremes();
        int h = -1, l = 0;
        std::fill(high.begin(), high.end(), -1);
        std::fill(low.begin(), low.end(), K);
        for (int j = j_first; j <= j_last; ++j) {
            while (h + 1 < K && rules.high_ok(j, h + 1)) ++h;
            while (l < K && !rules.low_ok(j, l)) ++l;
            high[j] = h;
            low[j] = l;
        }
        int jlo = j_first, jhi = j_first - 1;
        window.clear();
        for (int k = 0; k < K; ++k) {
            while (jhi + 1 <= j_last && low[jhi + 1] <= k) {
                ++jhi;
                if (A[jhi] == kInf) continue;
                while (!window.empty() && A[window.back()] >= A[jhi]) window.pop_back();
                window.push_back(jhi);
            }
            while (jlo <= j_last && high[jlo] < k) ++jlo;
            while (!window.empty() && window.front() < jlo) window.pop_front();
            if (window.empty()) continue;
            const int j = window.front();
            const double depth = rim_dn - dn.feet_at(k);
            R[k] = A[j] + model_.excavation_per_cuft * trench_volume(model_, pipe.length, size.span, 0.0, depth);
            from_start[k] = j;
        }
        // Flat ends: the analysis takes the project's minimum slope for them. A
        // min_slope of at least the flat limit refuses every flat pair.
        const bool flat_refused = opt_.min_slope && *opt_.min_slope >= kFlatSlope;
        for (int j = j_first; j <= j_last && !flat_refused; ++j) {
            if (A[j] == kInf) continue;
            const double start = up.feet_at(j);
            const int centre = flat_centre(up, dn, j);
            for (int k = std::max(0, centre - 1); k <= std::min(K - 1, centre + 1); ++k) {
                const double end = dn.feet_at(k);
                const PipeSlopes sl = rules.slopes_of(start, end);
                if (sl.used_slope == sl.slope) continue;
                if (k >= low[j] && k <= high[j]) continue;  // already among the candidates
                if (!rules.meets(start, end)) continue;
                const double value = A[j] + model_.excavation_per_cuft *
                                                trench_volume(model_, pipe.length, size.span, 0.0, rim_dn - end);
                if (value < R[k]) {
                    R[k] = value;
                    from_start[k] = j;
                }
            }
        }
        for (int k = 0; k < K; ++k) {
            if (R[k] < kInf) any_end = true;
        }
    }
    check_pipe(p, any_start, any_end);
}

void TreeDesigner::check_pipe(std::size_t p, bool any_start, bool any_end) {
    const auto [from, to] = topo_.pipe_ends[p];
    if (tables_[p].sizes.empty()) {
        fail(p, messages::no_slope());
    } else if (!any_start) {
        fail(p, levels_[from].count == 0 ? messages::no_room(net_.nodes[from].id) : messages::no_size_at_cover());
    } else if (!any_end) {
        fail(p, levels_[to].count == 0 ? messages::no_room(net_.nodes[to].id) : messages::no_slope());
    }
}

double TreeDesigner::structure_at(std::size_t v, int j, const double* rise) const {
    const Node& node = net_.nodes[v];
    const Levels& levels = levels_[v];
    const bool is_outfall = node.kind == NodeKind::Outfall;
    const double level = levels.feet_at(j);
    if (rise && !(node.rim - (level + *rise) >= cover())) return kInf;
    if (opt_.max_depth && node.rim - (levels.fixed || is_outfall ? node.invert : level) > *opt_.max_depth) return kInf;
    if (is_outfall) return 0.0;
    return structure_cost(model_, node.rim - (levels.fixed ? std::fmin(node.invert, level) : level));
}

void TreeDesigner::set_pipe(std::size_t p, const SizeOption& option, const Level& up, const Level& dn,
                            std::vector<PipeChoice>& choices) const {
    Pipe& pipe = net_.pipes[p];
    pipe.shape = option.shape;
    pipe.diameter = option.diameter;
    pipe.invert_up = up.feet;
    pipe.invert_dn = dn.feet;
    PipeChoice& choice = choices[p];
    choice.step = option.step;
    choice.governed = option.step < 0 ? (plan_.roles[p] == Role::fixed ? Governor::fixed : Governor::no_size_fits)
                                      : Governor::least_cost;
    choice.written_up = up.written;
    choice.written_dn = dn.written;
    choice.slope_governed = SlopeGovernor::least_cost;
}

Infeasible TreeDesigner::no_design(std::size_t root) const {
    const std::size_t pipe = failure_ ? failure_->pipe : topo_.incoming[root].front().pipe;
    return Infeasible{net_.pipes[pipe].id, failure_ ? failure_->reason : messages::no_arrival(net_.nodes[root].id)};
}

// Each structure's invert: the lowest of the pipes at it, unless it keeps its own.
void TreeDesigner::set_structure_inverts() {
    for (const std::size_t v : nodes_) {
        if (plan_.fixed_nodes[v]) continue;
        double lowest = kInf;
        for (const PipeLink& in : topo_.incoming[v]) lowest = std::fmin(lowest, *net_.pipes[in.pipe].invert_dn);
        for (const PipeLink& out : topo_.outgoing[v]) lowest = std::fmin(lowest, *net_.pipes[out.pipe].invert_up);
        if (std::isfinite(lowest)) net_.nodes[v].invert = lowest;
    }
}

std::optional<Infeasible> TreeDesigner::run(std::vector<PipeChoice>& choices) {
    set_windows(nodes_.back());
    // Without max_drop a higher end is never dearer for what lies below it, so
    // each structure's cost above it is a few steps: the frontier carries them
    // alone. With max_drop an end may have to be lower: every level is kept.
    return opt_.max_drop ? run_grid(choices) : run_frontier(choices);
}

std::optional<Infeasible> TreeDesigner::run_grid(std::vector<PipeChoice>& choices) {
    const std::size_t root = nodes_.back();
    for (const std::size_t v : nodes_) {
        if (v == root) break;
        const std::size_t p = out_pipe(v);
        tables_[p].sizes = size_options(p);
        drop_sizes_too_small(p);
        const std::vector<std::vector<double>> H = join(v, &tables_[p].sizes);
        pipe_stage(p, H);
    }
    // The end of the tree: the structure's levels (one for an outfall or a kept invert).
    const std::vector<std::vector<double>> H = join(root, nullptr);
    const auto& totals = H.front();
    int best = -1;
    for (int j = 0; j < static_cast<int>(totals.size()); ++j) {
        if (totals[j] < kInf && (best < 0 || totals[j] < totals[best])) best = j;
    }
    if (best < 0) return no_design(root);

    // Down from the end of the tree: each entering pipe's size and end, then its start.
    std::vector<Pending> stack{{root, 0, best}};
    while (!stack.empty()) {
        const Pending at = stack.back();
        stack.pop_back();
        for (const PipeLink& in : topo_.incoming[at.node]) {
            PipeTables& tables = tables_[in.pipe];
            const Choice chosen = tables.chosen[at.size][static_cast<std::size_t>(at.level)];
            const auto size = static_cast<std::size_t>(chosen.size);
            const int start = tables.start[size][static_cast<std::size_t>(chosen.end)];
            const std::size_t from = topo_.pipe_ends[in.pipe].first;
            set_pipe(in.pipe, tables.sizes[size], levels_[from].at(start), levels_[at.node].at(chosen.end), choices);
            stack.push_back({from, size, start});
        }
    }
    set_structure_inverts();
    return std::nullopt;
}

}  // namespace cost_tree

std::optional<Infeasible> least_cost_tree(Network& network, const Topology& topology, const SizingPlan& plan,
                                          const CostModel& model, const RoundFlows& flows,
                                          const std::vector<std::size_t>& tree_nodes,
                                          std::vector<PipeChoice>& choices) {
    cost_tree::TreeDesigner designer(network, topology, plan, model, flows, tree_nodes);
    return designer.run(choices);
}

}  // namespace rillwright::design
