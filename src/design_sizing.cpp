// The forward pass with sizing: nodes in topological order, and each pipe,
// when its design flow is known (it depends only on what is upstream), gets
// the first size of its shape's list that carries that flow within the bounds,
// and is then designed with that size exactly as the analysis designs it, so
// the times of concentration further down see the chosen sizes.
#include <algorithm>
#include <cmath>
#include <limits>

#include "design.hpp"

namespace rillwright::design {

namespace {

// Whether each step carries the pipe's flow, each step judged at most once.
class StepFits {
public:
    void reset(const std::vector<CatalogueSize>& sizes, double n, double used_slope, double q, double max_fill) {
        sizes_ = &sizes;
        n_ = n;
        used_slope_ = used_slope;
        q_ = q;
        max_fill_ = max_fill;
        known_.assign(sizes.size(), -1);
    }
    // The criterion: design_q <= max_fill * the just-full capacity.
    bool operator()(std::size_t step) {
        signed char& known = known_[step];
        if (known < 0) known = q_ <= max_fill_ * full_capacity(n_, (*sizes_)[step].full, used_slope_) ? 1 : 0;
        return known == 1;
    }

private:
    const std::vector<CatalogueSize>* sizes_ = nullptr;
    double n_ = 0.0;
    double used_slope_ = 0.0;
    double q_ = 0.0;
    double max_fill_ = 1.0;
    std::vector<signed char> known_;
};

struct Bounds {
    std::optional<double> min_rise_in;
    double entering_rise = 0.0;  // ft: the largest rise entering the upstream node, 0 when not applied
    int floor = 0;               // the smallest step the grade-line rounds allow
};

// The first step that carries the flow within every bound. The governor is the
// last bound that moved the choice: with only the capacity criterion the
// choice would be smaller, adding the minimum size, then the pipes entering
// the node, then the floor of the rounds, each moves it up or leaves it.
PipeChoice choose_step(const std::vector<CatalogueSize>& sizes, const Bounds& bounds, StepFits& fits) {
    const int count = static_cast<int>(sizes.size());
    const auto big_enough = [&](int i) { return !bounds.min_rise_in || sizes[i].rise_in >= *bounds.min_rise_in; };
    const auto not_smaller = [&](int i) { return shape_rise(sizes[i].shape) >= bounds.entering_rise; };
    const auto first = [&](int from, auto allowed) {
        for (int i = from; i < count; ++i) {
            if (allowed(i) && fits(static_cast<std::size_t>(i))) return i;
        }
        return -1;
    };
    const int chosen = first(bounds.floor, [&](int i) { return big_enough(i) && not_smaller(i); });
    if (chosen < 0) return PipeChoice{count - 1, Governor::no_size_fits};
    if (first(0, [](int) { return true; }) == chosen) return PipeChoice{chosen, Governor::capacity};
    if (first(0, big_enough) == chosen) return PipeChoice{chosen, Governor::minimum_size};
    if (first(0, [&](int i) { return big_enough(i) && not_smaller(i); }) == chosen) {
        return PipeChoice{chosen, Governor::no_smaller_downstream};
    }
    return PipeChoice{chosen, Governor::freeboard};
}

// The profile's choice: of the steps allowed by every bound, the one whose
// downstream invert is highest (the smaller on a tie); the governor as above.
PipeChoice choose_profile_step(const std::vector<CatalogueSize>& sizes, const Bounds& bounds,
                               const std::vector<ProfileCandidate>& candidates) {
    const int count = static_cast<int>(sizes.size());
    const auto big_enough = [&](int i) { return !bounds.min_rise_in || sizes[i].rise_in >= *bounds.min_rise_in; };
    const auto not_smaller = [&](int i) { return shape_rise(sizes[i].shape) >= bounds.entering_rise; };
    const auto best = [&](int from, auto allowed) {
        int chosen = -1;
        for (int i = from; i < count; ++i) {
            if (!allowed(i) || !candidates[i].allowed) continue;
            if (chosen < 0 || candidates[i].dn.feet > candidates[chosen].dn.feet) chosen = i;
        }
        return chosen;
    };
    const auto all = [&](int i) { return big_enough(i) && not_smaller(i); };
    const int chosen = best(bounds.floor, all);
    if (chosen < 0) return PipeChoice{count - 1, Governor::no_size_fits};
    if (best(0, [](int) { return true; }) == chosen) return PipeChoice{chosen, Governor::capacity};
    if (best(0, big_enough) == chosen) return PipeChoice{chosen, Governor::minimum_size};
    if (best(0, all) == chosen) return PipeChoice{chosen, Governor::no_smaller_downstream};
    return PipeChoice{chosen, Governor::freeboard};
}

void keep_profile(Pipe& pipe, PipeChoice& choice, const ProfileCandidate& candidate) {
    pipe.invert_up = candidate.up.feet;
    pipe.invert_dn = candidate.dn.feet;
    choice.written_up = candidate.up.written;
    choice.written_dn = candidate.dn.written;
    choice.slope_governed = candidate.governed;
}

// A structure's invert: the lowest of the pipes at it, unless it keeps its own.
void set_node_invert(Network& network, const Topology& topology, const SizingPlan& plan, std::size_t v) {
    if (plan.fixed_nodes[v]) return;
    double lowest = std::numeric_limits<double>::infinity();
    for (const PipeLink& in : topology.incoming[v]) lowest = std::fmin(lowest, *network.pipes[in.pipe].invert_dn);
    for (const PipeLink& out : topology.outgoing[v]) lowest = std::fmin(lowest, *network.pipes[out.pipe].invert_up);
    if (std::isfinite(lowest)) network.nodes[v].invert = lowest;
}

// The sizing criterion on the pipe as designed: design_q <= max_fill * capacity.
bool carries(const SizingPlan& plan, const Pipe& pipe, const PipeChoice& choice, const PipeDesign& design) {
    const FullSection full = choice.step >= 0
                                 ? plan.tables.shapes[pipe.shape.index()][static_cast<std::size_t>(choice.step)].full
                                 : full_section(pipe.shape);
    return design.design_q <= plan.options.max_fill * full_capacity(pipe.n, full, design.used_slope);
}

void install(Pipe& pipe, const CatalogueSize& size) {
    pipe.shape = size.shape;
    pipe.diameter = size.diameter;
}

bool finite_levels(const ProfileCandidate& candidate) {
    return std::isfinite(candidate.up.feet) && std::isfinite(candidate.dn.feet);
}

// A pipe whose flow (or a level computed from it) is not a finite number is
// laid as a pipe without flow: by the cover, the structures' rules and the
// slope limits. Should even that not be finite, it runs between the inverts
// its structures have.
ProfileCandidate by_the_ground(Network& network, const Topology& topology, const SizingPlan& plan, std::size_t p,
                               const CatalogueSize* size) {
    ProfileCandidate laid = profile_candidate(network, topology, plan, p, size, 0.0);
    if (!finite_levels(laid)) {
        const auto [from, to] = topology.pipe_ends[p];
        laid.up = readable_at_most(network.nodes[from].invert, plan.unit);
        laid.dn = readable_at_most(network.nodes[to].invert, plan.unit);
        network.pipes[p].invert_up = laid.up.feet;
        network.pipes[p].invert_dn = laid.dn.feet;
    }
    return laid;
}

// One pipe's size and profile: every catalogue size judged once.
void size_profile(Network& network, const Topology& topology, const SizingPlan& plan, std::size_t p, double q,
                  const Bounds& bounds, PipeChoice& choice, std::vector<ProfileCandidate>& candidates) {
    Pipe& pipe = network.pipes[p];
    if (plan.roles[p] != Role::sized) {
        choice.governed = plan.roles[p] == Role::fixed ? Governor::fixed : Governor::no_size_fits;
        const ProfileCandidate kept = profile_candidate(network, topology, plan, p, nullptr, q);
        choice.finite = std::isfinite(q) && finite_levels(kept);
        keep_profile(pipe, choice, choice.finite ? kept : by_the_ground(network, topology, plan, p, nullptr));
        return;
    }
    const auto& sizes = plan.tables.shapes[pipe.shape.index()];
    candidates.clear();
    for (const CatalogueSize& size : sizes) candidates.push_back(profile_candidate(network, topology, plan, p, &size, q));
    const PipeChoice chosen = choose_profile_step(sizes, bounds, candidates);
    const auto step = static_cast<std::size_t>(chosen.step);
    if (!std::isfinite(q) || !finite_levels(candidates[step])) {
        choice.step = 0;
        choice.governed = Governor::no_size_fits;
        install(pipe, sizes.front());
        keep_profile(pipe, choice, by_the_ground(network, topology, plan, p, &sizes.front()));
        choice.finite = false;
        return;
    }
    choice.step = chosen.step;
    choice.governed = chosen.governed;
    install(pipe, sizes[step]);
    keep_profile(pipe, choice, candidates[step]);
}

}  // namespace

DesignFlows size_forward(Network& network, const Topology& topology, const SizingPlan& plan,
                         std::vector<PipeChoice>& choices) {
    const Options& options = plan.options;
    choices.assign(network.pipes.size(), PipeChoice{});
    DesignFlows flows;
    flows.total_ca = contributing_ca(network, topology);
    flows.tc.assign(network.nodes.size(), 0.0);
    flows.pipes.assign(network.pipes.size(), PipeDesign{});
    StepFits fits;
    std::vector<ProfileCandidate> candidates;

    for (const std::size_t v : topology.order) {
        flows.tc[v] = time_of_concentration(network, topology, flows, v);
        const double rainfall = node_rainfall(network, flows.tc[v]);
        Bounds bounds;
        bounds.min_rise_in = options.min_size;
        if (options.no_smaller_downstream) {
            for (const PipeLink& in : topology.incoming[v]) {
                if (!choices[in.pipe].carries) continue;  // an overloaded size is no size to keep
                bounds.entering_rise = max_of_numbers(bounds.entering_rise, shape_rise(network.pipes[in.pipe].shape));
            }
        }
        for (const PipeLink& out : topology.outgoing[v]) {
            const std::size_t p = out.pipe;
            Pipe& pipe = network.pipes[p];
            const double q = flows.total_ca[v] * rainfall;  // as design_pipe computes it
            if (options.profile) {
                bounds.floor = plan.floors[p];
                size_profile(network, topology, plan, p, q, bounds, choices[p], candidates);
                flows.pipes[p] = design_pipe(network, topology, p, flows.total_ca[v], rainfall);
                choices[p].carries = carries(plan, pipe, choices[p], flows.pipes[p]);
                continue;
            }
            switch (plan.roles[p]) {
                case Role::fixed: choices[p].governed = Governor::fixed; break;
                case Role::not_listed:
                case Role::cannot_carry: choices[p].governed = Governor::no_size_fits; break;
                case Role::sized: {
                    const auto& sizes = plan.tables.shapes[pipe.shape.index()];
                    fits.reset(sizes, pipe.n, pipe_slopes(network, topology, p).used_slope, q, options.max_fill);
                    bounds.floor = plan.floors[p];
                    choices[p] = choose_step(sizes, bounds, fits);
                    install(pipe, sizes[static_cast<std::size_t>(choices[p].step)]);
                    break;
                }
            }
            flows.pipes[p] = design_pipe(network, topology, p, flows.total_ca[v], rainfall);
            choices[p].carries = carries(plan, network.pipes[p], choices[p], flows.pipes[p]);
        }
        if (options.profile) set_node_invert(network, topology, plan, v);
    }
    return flows;
}

}  // namespace rillwright::design
