// What the open brackets ask the next round to analyse, and how a round's
// analyses are chosen from the asks.
#include <algorithm>
#include <cmath>
#include <map>

#include "service_crossings.hpp"

namespace rillwright::service {

namespace {

// Where the pipes change regime (surcharge, grade line above crown), ascending.
// The grade line and the velocities jump there, so every other margin may jump too.
std::vector<double> events(const std::vector<Crossing>& crossings, std::size_t first_pipe) {
    std::vector<double> out;
    for (std::size_t j = first_pipe; j < crossings.size(); ++j)
        if (crossings[j].value && *crossings[j].value != 0.0) out.push_back(*crossings[j].value);
    std::stable_sort(out.begin(), out.end());
    return out;
}

// The two events strictly inside (lo, hi) nearest to the estimate, the
// condition's own estimate left out.
std::vector<double> nearest_events(const std::vector<double>& events, double lo, double hi, double estimate,
                                   std::optional<double> own) {
    const auto begin = events.begin();
    const long first = std::upper_bound(begin, events.end(), lo) - begin;
    const long last = std::lower_bound(begin, events.end(), hi) - begin;
    const long at = first <= last ? std::lower_bound(begin + first, begin + last, estimate) - begin : first;
    std::vector<double> near;
    for (long i = std::max(first, at - 3); i < std::min(last, at + 3); ++i)
        if (!own || events[i] != *own) near.push_back(events[i]);
    std::stable_sort(near.begin(), near.end(), [estimate](double a, double b) {
        return std::abs(std::log(a / estimate)) < std::abs(std::log(b / estimate));
    });
    if (near.size() > 2) near.resize(2);
    return near;
}

double middle_of(double lo, double hi) { return lo > 0.0 ? std::sqrt(lo * hi) : hi / 2.0; }

}  // namespace

// A bracket across switches asks for what parts them. A smooth margin is
// settled by its estimate when no pipe it depends on changes regime inside its
// bracket, or no event is inside it (a pipe's surcharge margin is smooth
// whatever happens elsewhere); with events inside, the jump at one of them may
// be the crossing: pairs around the two events nearest the estimate. A margin
// that is not smooth asks for the bracket's middle, so that a jump nobody
// predicted is still cornered by halving.
std::vector<double> asks(const std::vector<Crossing>& crossings, std::size_t first_pipe) {
    const std::vector<double> at = events(crossings, first_pipe);
    const std::size_t pipe_count = (crossings.size() - first_pipe) / 2;
    std::vector<double> out;
    for (std::size_t index = 0; index < crossings.size(); ++index) {
        const Crossing& crossing = crossings[index];
        if (crossing.narrow) continue;
        if (!crossing.splits.empty()) {
            out.insert(out.end(), crossing.splits.begin(), crossing.splits.end());
            continue;
        }
        const double estimate = *crossing.value;
        const double lo = crossing.lo, hi = crossing.hi;
        const std::vector<double> inside =
            nearest_events(at, lo, hi, estimate, index >= first_pipe ? std::optional<double>(estimate) : std::nullopt);
        const bool surcharge = first_pipe <= index && index < first_pipe + pipe_count;
        if (crossing.smooth && (crossing.steady || inside.empty() || surcharge)) continue;
        std::vector<double> wanted;
        if (!crossing.smooth) {
            // The middle only: halving corners a jump nobody predicted, and every
            // condition waiting on the same switch shares the bracket and so the
            // analysis. (Asking for each one's own estimate as well scatters the
            // asks over the bracket, and none of them gets served.)
            wanted = {middle_of(lo, hi)};
        } else {
            for (double c : inside.empty() ? std::vector<double>{estimate} : inside)
                for (double f : {1.0 - kAskOffset, 1.0 + kAskOffset}) wanted.push_back(c * f);
        }
        for (double m : wanted)
            if (lo < m && m < hi) out.push_back(m);
    }
    return out;
}

// The asks, ascending, in groups within kCluster of their first: one analysis each.
std::vector<std::vector<double>> groups(std::vector<double> asks) {
    std::stable_sort(asks.begin(), asks.end());
    std::vector<std::vector<double>> out;
    for (double m : asks) {
        if (!out.empty() && m <= out.back()[0] * (1.0 + kCluster)) {
            out.back().push_back(m);
        } else {
            out.push_back({m});
        }
    }
    return out;
}

// At most `budget` multipliers, one per group (its middle ask), the most-asked
// first, then the lower multipliers.
std::vector<double> pick(std::vector<std::vector<double>> groups, long budget) {
    std::stable_sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) {
        if (a.size() != b.size()) return a.size() > b.size();
        return a[0] < b[0];
    });
    groups.resize(std::min<std::size_t>(groups.size(), static_cast<std::size_t>(std::max(budget, 0L))));
    std::vector<double> out;
    for (const auto& g : groups) out.push_back(g[g.size() / 2]);
    std::stable_sort(out.begin(), out.end());
    return out;
}

// Up to `budget` multipliers that split the brackets still open, spread over
// them by how many crossings each holds: a gap between two analyses holding c
// open brackets, split evenly by n new analyses into n + 1 parts, takes the next
// analysis while that narrows the summed (logarithmic) width of the brackets
// the most.
std::vector<double> splits(const std::vector<Crossing>& crossings, long budget) {
    struct Gap {
        double lo, hi;
        long count = 0;
        long shares = 0;
    };
    std::vector<Gap> gaps;  // in the order first met, as the choice among equal gains depends on it
    std::map<std::pair<double, double>, std::size_t> where;
    for (const Crossing& c : crossings) {
        if (c.narrow || !(c.lo > 0.0)) continue;
        auto [at, fresh] = where.try_emplace({c.lo, c.hi}, gaps.size());
        if (fresh) gaps.push_back({c.lo, c.hi});
        ++gaps[at->second].count;
    }
    std::erase_if(gaps, [](const Gap& g) { return g.count < kDenseMin; });
    const auto gain = [](const Gap& g) {
        const double n = static_cast<double>(g.shares), width = std::log(g.hi / g.lo);
        if (width / (n + 1.0) <= kDenseFinest) return 0.0;
        return static_cast<double>(g.count) * width * (1.0 / (n + 1.0) - 1.0 / (n + 2.0));
    };
    for (long round = 0; round < budget && !gaps.empty(); ++round) {
        Gap* best = &gaps[0];
        double best_gain = gain(*best);
        for (Gap& g : gaps) {
            const double value = gain(g);
            if (value > best_gain) {
                best = &g;
                best_gain = value;
            }
        }
        if (best_gain <= 0.0) break;
        ++best->shares;
    }
    std::vector<double> points;
    for (const Gap& g : gaps) {
        const double n = static_cast<double>(g.shares);
        for (long j = 1; j <= g.shares; ++j)
            points.push_back(g.lo * std::pow(g.hi / g.lo, static_cast<double>(j) / (n + 1.0)));
    }
    std::stable_sort(points.begin(), points.end());
    return points;
}

}  // namespace rillwright::service
