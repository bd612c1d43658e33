// The least-cost design of one tree on the steps of its cost functions alone.
//
// Without max_drop a pipe's end only bounds the next pipe's start from above
// (match, min_drop), so a higher end is never dearer for anything below it,
// and a lower start never asks more of anything above it. The least cost of a
// structure and everything above it, for a start level j of the pipe leaving
// it, is then the structure's own cost at j plus a sum that changes only where
// some entering pipe's cheapest allowed end stops being allowed: a step
// function with a few steps. A pipe's start within a step is best at the
// highest level its rules allow, and its end at the highest level the start
// allows. So each pipe keeps, per size, the few ends worth keeping (no other
// end both higher and no dearer), each structure the steps of its sum, and
// the work is in the steps instead of the levels of the grid.
//
// The costs are the grid's own sums, term by term in its order, at the levels
// the grid's minima fall on, with its ties (the higher level, the first size
// of the catalogue); so the design is the one the grid gives.
#include <algorithm>
#include <functional>

#include "design_cost_messages.hpp"
#include "design_cost_tree.hpp"


namespace rillwright::design::cost_tree {

namespace {

// An entering pipe's end of one size, with the highest start of the pipe
// leaving the structure that the end allows.
struct Option {
    int highest_start = -1;
    double cost = kInf;
    std::int32_t size = -1;
    std::int32_t end = -1;  // index into the size's ends
};

// The options worth keeping, highest start first: each one cheaper (or as
// cheap, of an earlier size) than every option allowing a higher start.
std::vector<Option> keep_improving(std::vector<Option> options) {
    std::sort(options.begin(), options.end(), [](const Option& a, const Option& b) {
        if (a.highest_start != b.highest_start) return a.highest_start > b.highest_start;
        if (a.cost != b.cost) return a.cost < b.cost;
        return a.size < b.size;
    });
    std::vector<Option> kept;
    for (const Option& option : options) {
        if (kept.empty() || option.cost < kept.back().cost ||
            (option.cost == kept.back().cost && option.size < kept.back().size)) {
            kept.push_back(option);
        }
    }
    return kept;
}

// Of two ends at one level: the cheaper; at one cost a sloped pair before a
// flat one and the higher start (the grid's ties).
bool better_end(const EndPoint& a, const EndPoint& b) {
    if (a.cost != b.cost) return a.cost < b.cost;
    if (a.flat != b.flat) return !a.flat;
    return a.start > b.start;
}

// The ends worth keeping, lowest first: sorted by level, the best at each
// level, then those that no higher end matches or betters.
std::vector<EndPoint> keep_frontier(std::vector<EndPoint> ends) {
    std::sort(ends.begin(), ends.end(), [](const EndPoint& a, const EndPoint& b) {
        if (a.end != b.end) return a.end > b.end;
        return better_end(a, b);
    });
    std::vector<EndPoint> kept;
    for (const EndPoint& end : ends) {
        if (!kept.empty() && (kept.back().end == end.end || !(end.cost < kept.back().cost))) continue;
        kept.push_back(end);
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

}  // namespace

// The least cost of structure v and everything above it at level j, on a step
// of the leaving size: its own cost, then each entering pipe's, in the grid's order of sums.
double TreeDesigner::cost_at(std::size_t v, std::size_t out_size, std::size_t step, int j, const double* rise) const {
    double h = structure_at(v, j, rise);
    for (const PipeLink& in : topo_.incoming[v]) {
        const PipeTables& entering = tables_[in.pipe];
        const Choice& choice = entering.chosen[out_size][step];
        h += entering.ends[static_cast<std::size_t>(choice.size)][static_cast<std::size_t>(choice.end)].cost;
    }
    return h;
}

// The steps of structure v per size of the pipe leaving it (one set at the
// end of the tree), and each entering pipe's choice on each step.
void TreeDesigner::join_steps(std::size_t v, const std::vector<SizeOption>* out_sizes) {
    const Node& node = net_.nodes[v];
    const Levels& levels = levels_[v];
    const int J = levels.count;
    const std::size_t S = out_sizes ? out_sizes->size() : 1;
    const double m = match_fraction(opt_.match);
    const bool is_outfall = node.kind == NodeKind::Outfall;
    const auto& incoming = topo_.incoming[v];
    std::vector<Steps>& all = steps_[v];
    all.assign(S, Steps{});
    for (const PipeLink& in : incoming) tables_[in.pipe].chosen.assign(S, {});
    // Per entering pipe: whether some size of the pipe leaving v allows it an end,
    // with every entering pipe before it (the grid's order of failures).
    std::vector<bool> any(incoming.size(), false);
    std::vector<std::vector<Option>> kept(incoming.size());
    for (std::size_t t = 0; t < S; ++t) {
        const double* rise = out_sizes ? &(*out_sizes)[t].rise : nullptr;
        Steps& steps = all[t];
        // The levels the structure allows: from the bottom of the window up to the leaving pipe's cover.
        // (The window keeps the depth: only a kept invert or an outfall's can fail it, on every level alike.)
        int bottom = 0;
        while (bottom < J && structure_at(v, bottom, rise) == kInf) ++bottom;
        const int top = bottom + last_true_of(J - bottom, [&](int i) { return structure_at(v, bottom + i, rise) < kInf; });
        steps.bottom = bottom;
        if (top < bottom) continue;
        const double rise_out = rise ? *rise : 0.0;
        int reach = top;  // the highest start every entering pipe so far allows
        // An entering pipe's options: each end of each size the leaving pipe allows,
        // with the highest start it allows in turn.
        const auto options_of = [&](const PipeTables& entering) {
            std::vector<Option> options;
            for (std::size_t si = 0; si < entering.ends.size(); ++si) {
                const double rise_in = entering.sizes[si].rise;
                if (out_sizes && opt_.no_smaller_downstream && !(rise_out >= rise_in)) continue;
                for (std::size_t e = 0; e < entering.ends[si].size(); ++e) {
                    const double end = levels.feet_at(entering.ends[si][e].end);
                    // The start's bound from below on the end: match, min_drop; at the end of
                    // the tree the structure's own invert.
                    const auto allows = [&](int i) {
                        const double start = levels.feet_at(i);
                        if (!out_sizes) return levels.fixed || is_outfall || end >= start;
                        return start <= end + m * rise_in - m * rise_out && start <= end - opt_.min_drop;
                    };
                    const int highest = std::min(top, last_true_of(J, allows));
                    if (highest < bottom) continue;
                    options.push_back(Option{highest, entering.ends[si][e].cost, static_cast<std::int32_t>(si),
                                             static_cast<std::int32_t>(e)});
                }
            }
            return keep_improving(std::move(options));
        };
        for (std::size_t n = 0; n < incoming.size(); ++n) {
            const std::size_t pipe = incoming[n].pipe;
            PipeTables& entering = tables_[pipe];
            // A size kept here whose ends took max_velocity as met is judged in full, and the options again.
            for (bool again = true; again;) {
                kept[n] = options_of(entering);
                again = false;
                for (const Option& option : kept[n]) {
                    const auto size = static_cast<std::size_t>(option.size);
                    if (entering.judged[size]) continue;
                    entering.ends[size] = ends_of_size(pipe, size, true);
                    entering.judged[size] = 1;
                    again = true;
                }
            }
            const int allowed = kept[n].empty() ? bottom - 1 : kept[n].front().highest_start;
            if (reach >= bottom && allowed >= bottom) any[n] = true;
            reach = std::min(reach, allowed);
        }
        if (reach < bottom) continue;
        // The steps: every level where some entering pipe's choice changes, from the highest down.
        std::vector<int> tops;
        for (const auto& options : kept) {
            for (const Option& option : options) {
                if (option.highest_start <= reach) tops.push_back(option.highest_start);
            }
        }
        tops.push_back(reach);
        std::sort(tops.begin(), tops.end(), std::greater<int>());
        tops.erase(std::unique(tops.begin(), tops.end()), tops.end());
        std::vector<std::size_t> at(incoming.size(), 0);  // each pipe's choice: its last option allowing the level
        for (const int level : tops) {
            for (std::size_t n = 0; n < incoming.size(); ++n) {
                while (at[n] + 1 < kept[n].size() && kept[n][at[n] + 1].highest_start >= level) ++at[n];
                const Option& option = kept[n][at[n]];
                tables_[incoming[n].pipe].chosen[t].push_back(Choice{option.size, option.end});
            }
            steps.top.push_back(level);
        }
        std::reverse(steps.top.begin(), steps.top.end());
        for (const PipeLink& in : incoming) {
            auto& chosen = tables_[in.pipe].chosen[t];
            std::reverse(chosen.begin(), chosen.end());
        }
    }
    for (std::size_t n = 0; n < incoming.size(); ++n) {
        if (any[n]) continue;
        const bool arrival = !out_sizes;
        fail(arrival ? incoming[n].pipe : out_pipe(v), arrival ? messages::no_arrival(node.id) : messages::no_join(node.id));
    }
}

// Pipe p's ends worth keeping, per size. With max_velocity, the sizes are
// first judged with it taken as met: that only adds ends (or raises them), so
// a size none of whose ends a join keeps would be kept no more when judged in
// full, and only the sizes a join keeps are judged again (join_steps).
void TreeDesigner::pipe_ends(std::size_t p) {
    PipeTables& tables = tables_[p];
    const std::size_t from = topo_.pipe_ends[p].first;
    const bool velocity = !(lazy_ && opt_.max_velocity);
    tables.ends.assign(tables.sizes.size(), {});
    tables.judged.assign(tables.sizes.size(), velocity ? 1 : 0);
    bool any_start = false, any_end = false;
    for (std::size_t s = 0; s < tables.sizes.size(); ++s) {
        if (steps_[from][s].top.empty()) continue;
        any_start = true;
        tables.ends[s] = ends_of_size(p, s, velocity);
        if (!tables.ends[s].empty()) any_end = true;
    }
    check_pipe(p, any_start, any_end);
}

// On each step of the upstream structure the highest start the rules allow,
// to its highest end, and the flat pairs the analysis judges on the project's minimum slope.
std::vector<EndPoint> TreeDesigner::ends_of_size(std::size_t p, std::size_t s, bool velocity) {
    PipeTables& tables = tables_[p];
    const std::size_t from = topo_.pipe_ends[p].first, to = topo_.pipe_ends[p].second;  // (lambdas capture them)
    const Levels& up = levels_[from];
    const Levels& dn = levels_[to];
    const int K = dn.count;
    Pipe& pipe = net_.pipes[p];
    const double rim_up = net_.nodes[from].rim, rim_dn = net_.nodes[to].rim;
    const double limit = cover();
    const bool flat_refused = opt_.min_slope && *opt_.min_slope >= kFlatSlope;
    const SizeOption& size = tables.sizes[s];
    const Steps& steps = steps_[from][s];
    pipe.shape = size.shape;
    pipe.diameter = size.diameter;
    const auto start_cost = [&](std::size_t step, int j) {
        const double h = cost_at(from, s, step, j, &size.rise);
        const double depth = rim_up - up.feet_at(j);
        return h == kInf ? kInf
                         : h + (pipe.length * size.price +
                                model_.excavation_per_cuft * trench_volume(model_, pipe.length, size.span, depth, 0.0));
    };
    const auto end_cost = [&](double a, int k) {
        return a + model_.excavation_per_cuft * trench_volume(model_, pipe.length, size.span, 0.0, rim_dn - dn.feet_at(k));
    };
    PairRules rules(net_, topo_, opt_, flows_, p, size, up, dn, limit, steps.bottom, steps.top.back(), false,
                    velocity);
    // The highest end level whose cover the size keeps (flat pairs end no higher).
    const int cover_top = last_true_of(K, [&](int k) { return rim_dn - (dn.feet_at(k) + size.rise) >= limit; });
    const auto highest_end = [&](int j) { return last_true_of(K, [&](int k) { return rules.high_ok(j, k); }); };
    // Each step's highest start to its highest end, the steepest of them judged
    // first: the rules that fail from a slope up are then known for the others
    // (one solution of the normal depth per size, not one per step).
    std::vector<int> top_end(steps.top.size(), -1);
    int steepest = -1;
    for (std::size_t n = 0; n < steps.top.size() && K > 0; ++n) {
        top_end[n] = highest_end(steps.top[n]);
        if (top_end[n] >= 0 && (steepest < 0 || up.feet_at(steps.top[n]) - dn.feet_at(top_end[n]) >
                                                    up.feet_at(steps.top[steepest]) - dn.feet_at(top_end[steepest]))) {
            steepest = static_cast<int>(n);
        }
    }
    if (steepest >= 0) rules.low_ok(steps.top[steepest], top_end[steepest]);
    std::vector<EndPoint> ends;
    bool sloped_left = K > 0;  // below a start without any end no lower start has one
    for (std::size_t n = steps.top.size(); n-- > 0;) {
        const int lo = n == 0 ? steps.bottom : steps.top[n - 1] + 1;
        const int hi = steps.top[n];
        for (int j = hi; j >= lo && sloped_left; --j) {
            const int highest = j == hi ? top_end[n] : highest_end(j);
            if (highest < 0) {
                sloped_left = false;
                break;
            }
            if (!rules.low_ok(j, highest)) continue;  // too steep: a lower start
            ends.push_back(EndPoint{highest, j, end_cost(start_cost(n, j), highest), false});
            break;
        }
        if (flat_refused || cover_top < 0) continue;
        // Flat pairs: the highest starts of the step whose nearest ends keep their cover.
        const int near_top = up.fixed ? 0 : static_cast<int>(lowest_at_or_above(dn.feet_at(cover_top), up.step, up.unit) - up.k0) + 1;
        for (int j = std::min(hi, near_top); j >= std::max(lo, std::min(hi, near_top) - 2); --j) {
            const double start = up.feet_at(j);
            const int centre = flat_centre(up, dn, j);
            bool found = false;
            for (int k = std::max(0, centre - 1); k <= std::min(K - 1, centre + 1); ++k) {
                const double end = dn.feet_at(k);
                const PipeSlopes sl = rules.slopes_of(start, end);
                if (sl.used_slope == sl.slope || !rules.meets(start, end)) continue;
                ends.push_back(EndPoint{k, j, end_cost(start_cost(n, j), k), true});
                found = true;
            }
            if (found) break;
        }
    }
    return keep_frontier(std::move(ends));
}

std::optional<Infeasible> TreeDesigner::run_frontier(std::vector<PipeChoice>& choices) {
    const std::size_t root = nodes_.back();
    steps_.resize(net_.nodes.size());
    for (const std::size_t v : nodes_) {
        if (v == root) break;
        const std::size_t p = out_pipe(v);
        tables_[p].sizes = size_options(p);
        drop_sizes_too_small(p);
        join_steps(v, &tables_[p].sizes);
        pipe_ends(p);
    }
    // The end of the tree: the lowest level of least cost, as the grid takes it.
    join_steps(root, nullptr);
    const Steps& steps = steps_[root].front();
    int best = -1;
    double least = kInf;
    for (std::size_t n = 0; n < steps.top.size(); ++n) {
        const double value = cost_at(root, 0, n, steps.top[n], nullptr);
        if (!(value < least)) continue;
        least = value;
        // The structure's cost falls as its level rises: the lowest level of the step costing as little.
        const int lo = n == 0 ? steps.bottom : steps.top[n - 1] + 1;
        best = lo + last_true_of(steps.top[n] - lo, [&](int i) { return !(cost_at(root, 0, n, lo + i, nullptr) <= value); }) + 1;
    }
    if (best < 0 && lazy_ && opt_.max_velocity) {
        // No design: the reason as every rule judged at once gives it.
        lazy_ = false;
        failure_.reset();
        return run_frontier(choices);
    }
    if (best < 0) return no_design(root);
    // Down from the end of the tree: on each structure's step at the level chosen,
    // each entering pipe's size and end, then its start.
    std::vector<Pending> stack{{root, 0, best}};
    while (!stack.empty()) {
        const Pending at = stack.back();
        stack.pop_back();
        const auto& tops = steps_[at.node][at.size].top;
        const auto step = static_cast<std::size_t>(std::lower_bound(tops.begin(), tops.end(), at.level) - tops.begin());
        for (const PipeLink& in : topo_.incoming[at.node]) {
            const PipeTables& tables = tables_[in.pipe];
            const Choice chosen = tables.chosen[at.size][step];
            const EndPoint& end = tables.ends[static_cast<std::size_t>(chosen.size)][static_cast<std::size_t>(chosen.end)];
            const std::size_t from = topo_.pipe_ends[in.pipe].first;
            set_pipe(in.pipe, tables.sizes[static_cast<std::size_t>(chosen.size)], levels_[from].at(end.start),
                     levels_[at.node].at(end.end), choices);
            stack.push_back({from, static_cast<std::size_t>(chosen.size), end.start});
        }
    }
    set_structure_inverts();
    return std::nullopt;
}

}  // namespace rillwright::design::cost_tree
