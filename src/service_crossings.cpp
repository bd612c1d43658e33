// A condition's bracket and estimate, smooth or across the jumps of the pipes
// it depends on.
//
// A grade line is smooth in m between the multipliers at which pipes downstream
// change regime (surcharge; a free supercritical outlet drowned or no longer
// supercritical): there it jumps. Each switch is found from a margin that is
// itself smooth (design flow minus the section's largest flow; critical depth
// with its margin minus normal depth; outlet level minus outlet crown). With a
// single switch inside a bracket, the pieces on either side, extrapolated from
// the analyses beside the bracket, place the crossing without more analyses: at
// the switch when the jump carries the margin above zero, else on the piece
// where it changes sign.
//
// The arithmetic follows one fixed order throughout (the results are compared
// exactly between runs): keep it when editing.
#include <algorithm>
#include <cmath>

#include "service_crossings.hpp"

namespace rillwright::service {

namespace {

using Point = std::pair<double, double>;
using Points = std::vector<Point>;

double middle_of(double lo, double hi) { return lo > 0.0 ? std::sqrt(lo * hi) : hi / 2.0; }

// The first of the smallest, as Python's min and max pick.
double first_min(const std::vector<double>& values) {
    double best = values.front();
    for (double v : values)
        if (v < best) best = v;
    return best;
}

std::optional<double> root_of(const Points& points, double lo, double hi) { return root(points, lo, hi); }

// Whether the slope between analyses k-1 and k is within kSlopeRatio of the
// slopes next to it (at least one of which exists).
bool steady_slope(const std::vector<double>& ms, const Series& values, std::size_t k) {
    const double across = (values[k] - values[k - 1]) / (ms[k] - ms[k - 1]);
    bool any = false;
    for (long a : {static_cast<long>(k) - 2, static_cast<long>(k)}) {
        if (a < 0 || static_cast<std::size_t>(a + 1) >= ms.size()) continue;
        const double beside = (values[a + 1] - values[a]) / (ms[a + 1] - ms[a]);
        if (!(std::isfinite(beside) && beside * across > 0.0 && across <= kSlopeRatio * beside &&
              beside <= kSlopeRatio * across))
            return false;
        any = true;
    }
    return any;
}

// The zero between multipliers k-1 and k of a smooth margin: the median of the
// line and the parabolas through the neighbours that find one there. A
// `checked` margin (a grade line, which may jump where nothing predicted it)
// must also look smooth, its slope across the bracket like the slopes beside
// it; nothing when it does not.
std::optional<double> smooth_root(const std::vector<double>& ms, const Series& values, std::size_t k,
                                  bool checked = false) {
    const double lo = ms[k - 1], hi = ms[k];
    const std::optional<double> straight = root_of({{lo, values[k - 1]}, {hi, values[k]}}, lo, hi);
    if (!straight) return std::nullopt;
    if (checked && !steady_slope(ms, values, k)) return std::nullopt;
    std::vector<double> found{*straight};
    for (long first : {static_cast<long>(k) - 2, static_cast<long>(k) - 1}) {
        if (first >= 0 && static_cast<std::size_t>(first + 2) < ms.size()) {
            Points trio;
            for (std::size_t t = first; t < static_cast<std::size_t>(first + 3); ++t) trio.emplace_back(ms[t], values[t]);
            if (auto curved = root_of(trio, lo, hi)) found.push_back(*curved);
        }
    }
    std::stable_sort(found.begin(), found.end());
    return found.size() != 2 ? found[found.size() / 2] : 0.5 * (found[0] + found[1]);
}

// The switches, ascending, those within kSameJump of the one before merged into it.
std::vector<double> distinct(std::vector<double> switches) {
    std::stable_sort(switches.begin(), switches.end());
    std::vector<double> out;
    for (double e : switches)
        if (out.empty() || e > out.back() * (1.0 + kSameJump)) out.push_back(e);
    return out;
}

// Up to kPiecePoints analyses from `start` on (step -1: down, 1: up) at which
// the given pipes keep the regimes they have at `start`: one smooth piece.
Points piece(const Columns& columns, const Series& margins, std::size_t start, int step, Pipes pipes) {
    Points points;
    long i = static_cast<long>(start);
    while (i >= 0 && static_cast<std::size_t>(i) < columns.size() && points.size() < kPiecePoints &&
           std::isfinite(margins[i])) {
        if (static_cast<std::size_t>(i) != start &&
            std::any_of(pipes.begin(), pipes.end(),
                        [&](std::uint32_t q) { return columns.regime(i, q) != columns.regime(start, q); }))
            break;
        points.emplace_back(columns.multipliers[i], margins[i]);
        i += step;
    }
    return points;
}

// The polynomial through `points` (one to three, distinct multipliers) at x.
double evaluate(const Points& points, double x) {
    double total = 0.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        double term = points[i].second;
        for (std::size_t j = 0; j < points.size(); ++j)
            if (j != i) term *= (x - points[j].first) / (points[i].first - points[j].first);
        total += term;
    }
    return total;
}

// The zero of the polynomial through `points` between lo (below zero) and hi,
// or the end nearer to it when it has none there.
double bisect(const Points& points, double lo, double hi) {
    if (evaluate(points, lo) >= 0.0) return lo;
    if (evaluate(points, hi) < 0.0) return hi;
    for (int n = 0; n < 60; ++n) {
        const double middle = 0.5 * (lo + hi);
        if (evaluate(points, middle) > 0.0) {
            hi = middle;
        } else {
            lo = middle;
        }
    }
    return hi;
}

// The zero between analyses k-1 and k of a margin that jumps at the one switch
// of the given pipes inside; nothing with several.
std::optional<double> piecewise_root(const Columns& columns, const Series& values, std::size_t k,
                                     const std::vector<double>& switches, Pipes pipes) {
    if (switches.size() != 1) return std::nullopt;
    const double e = switches[0];
    const Points left = piece(columns, values, k - 1, -1, pipes);
    const Points right = piece(columns, values, k, 1, pipes);
    if (left.size() < 2 || right.size() < 2) return std::nullopt;
    if (evaluate(left, e) >= 0.0) return bisect(left, columns.multipliers[k - 1], e);
    if (evaluate(right, e) > 0.0) return e;
    return bisect(right, e, columns.multipliers[k]);
}

// Where pipe q, whose regime differs between analyses k-1 and k, switches (one
// multiplier, or two when a free outlet stops being supercritical before it
// surcharges); nothing when it cannot be placed. `below` are the switches of
// the pipes below it (`pipes_below`) inside the bracket.
std::optional<std::vector<double>> pipe_switches(const Columns& columns, std::size_t k, std::uint32_t q,
                                                 std::size_t surcharge_row, const std::vector<double>& below,
                                                 Pipes pipes_below) {
    const std::uint8_t before = columns.regime(k - 1, q), after = columns.regime(k, q);
    const std::vector<double>& ms = columns.multipliers;
    const double lo = ms[k - 1], hi = ms[k];
    const Series supercritical = columns.supercritical(q);
    const Series drowned = columns.drowned(q);
    const auto turns = [k](const Series& v) { return (v[k - 1] > 0.0) != (v[k] > 0.0); };
    std::vector<std::optional<double>> roots;
    std::vector<double> extra;
    if ((before == 2) != (after == 2)) {
        // The design flow and the capacity are smooth in m.
        roots.push_back(smooth_root(ms, columns.margin(surcharge_row + q), k));
        if ((before == 1 || after == 1) && turns(supercritical)) {
            const std::optional<double> r = smooth_root(ms, supercritical, k);
            if (r && lo < *r && *r <= hi) extra.push_back(*r);
        }
    } else {
        if (turns(supercritical)) roots.push_back(smooth_root(ms, supercritical, k));
        if (turns(drowned)) {
            // The outlet level is a grade line too: it jumps where a pipe further
            // down switches; between several, the line across the bracket is a
            // first guess that analyses between the switches will improve.
            const std::optional<double> jump =
                below.empty() ? std::nullopt : piecewise_root(columns, drowned, k, below, pipes_below);
            roots.push_back(jump ? jump : smooth_root(ms, drowned, k, true));
        }
    }
    std::vector<double> placed;
    for (const auto& r : roots)
        if (r && lo < *r && *r <= hi) placed.push_back(*r);
    if (placed.empty()) return std::nullopt;
    extra.push_back(first_min(placed));
    return extra;
}

// Where the given pipes (a path, downstream last) that change regime between
// analyses k-1 and k switch, ascending, and whether all of them are placed
// (else only those below the first that is not).
std::pair<std::vector<double>, bool> switches_of(Columns& columns, std::size_t k, Pipes pipes,
                                                  std::size_t surcharge_row) {
    std::vector<double> found;  // the switches further down the path
    bool complete = true;
    for (std::size_t position = pipes.size(); position-- > 0;) {
        const std::uint32_t q = pipes[position];
        if (columns.regime(k - 1, q) == columns.regime(k, q)) continue;
        // Many conditions share a pipe and what lies below it (the same switches,
        // found in the same order): each is worked out once.
        const SwitchKey key{k, q, pipes.size() - position, found.size(), found.empty() ? 0.0 : found.back()};
        auto at = columns.switches.find(key);
        if (at == columns.switches.end())
            at = columns.switches
                     .emplace(key, pipe_switches(columns, k, q, surcharge_row, distinct(found),
                                                 pipes.subspan(position + 1)))
                     .first;
        if (!at->second) {
            // Placed only once analyses part the switches further down.
            complete = false;
            break;
        }
        found.insert(found.end(), at->second->begin(), at->second->end());
    }
    std::stable_sort(found.begin(), found.end());
    return {found, complete};
}

}  // namespace

Crossing make_crossing(std::optional<double> value, bool smooth, double lo, double hi, double reach_lo,
                       double reach_hi) {
    Crossing c;
    c.value = value;
    c.smooth = smooth;
    c.lo = lo;
    c.hi = hi;
    c.narrow = !value || hi <= lo * (1.0 + kTolerance);
    c.reach_lo = reach_lo;
    c.reach_hi = reach_hi;
    return c;
}

std::optional<double> root(std::span<const Point> points, double lo, double hi) {
    for (const auto& [m, g] : points)
        if (!std::isfinite(g)) return std::nullopt;
    if (points.size() == 2) {
        const auto [m0, g0] = points[0];
        const auto [m1, g1] = points[1];
        if (g1 == g0) return std::nullopt;
        return m0 - g0 * (m1 - m0) / (g1 - g0);
    }
    const auto [m0, g0] = points[0];
    const auto [m1, g1] = points[1];
    const auto [m2, g2] = points[2];
    // Newton's divided differences, then the root of a x^2 + b x + c inside the bracket.
    const double d01 = (g1 - g0) / (m1 - m0), d12 = (g2 - g1) / (m2 - m1);
    const double a = (d12 - d01) / (m2 - m0);
    const double b = d01 - a * (m0 + m1);
    const double c = g0 - m0 * d01 + a * m0 * m1;
    if (a == 0.0) {
        if (b != 0.0) return -c / b;
        return std::nullopt;
    }
    const double disc = b * b - 4.0 * a * c;
    if (disc < 0.0) return std::nullopt;
    const double r = std::sqrt(disc);
    std::vector<double> inside;
    for (double x : {(-b - r) / (2.0 * a), (-b + r) / (2.0 * a)})
        if (lo <= x && x <= hi) inside.push_back(x);
    if (inside.size() == 1) return inside[0];
    return std::nullopt;
}

std::size_t first_holding(const Flags& flags) {
    std::size_t k = 0;
    while (k < flags.size() && flags[k] != 1) ++k;
    return k;
}

Crossing crossing_of(const std::vector<double>& ms, const Series& margins, const Flags& flags) {
    if (flags[0]) return make_crossing(0.0, true);  // ms[0] is 0: it holds with no rain
    const std::size_t k = first_holding(flags);
    if (k == flags.size()) return make_crossing(std::nullopt, true);
    const std::size_t n = ms.size();
    const double lo = ms[k - 1], hi = ms[k];
    const double reach_lo = ms[k >= 2 ? k - 2 : 0], reach_hi = ms[std::min(k + 1, n - 1)];
    const std::optional<double> straight = root_of({{lo, margins[k - 1]}, {hi, margins[k]}}, lo, hi);
    // It does not hold at lo, so the crossing lies above it (and above 0).
    double estimate = middle_of(lo, hi);
    if (straight && *straight > 0.0) {
        const double up = lo > *straight ? lo : *straight;
        estimate = hi < up ? hi : up;
    }
    if (hi <= lo * (1.0 + kTolerance)) return make_crossing(estimate, true, lo, hi, reach_lo, reach_hi);
    if (!straight || !(lo < *straight && *straight <= hi))
        return make_crossing(estimate, false, lo, hi, reach_lo, reach_hi);
    // Smooth: the slope across the bracket is like the slopes next to it (a jump
    // makes it much steeper), and the parabolas through the neighbours find the same zero.
    const double slope = (margins[k] - margins[k - 1]) / (hi - lo);
    std::vector<std::optional<double>> curved;
    bool alike = true;
    for (std::size_t i : {k - 1, k + 1}) {
        if (!(1 <= i && i < n && (i < k || flags[i]))) continue;
        const std::size_t a = i < k ? i - 1 : k, b = i < k ? i : i;
        const double beside = (margins[b] - margins[a]) / (ms[b] - ms[a]);
        alike = alike && std::isfinite(beside) && beside > 0.0 && slope <= 3.0 * beside && beside <= 3.0 * slope;
        const long first = i < k ? static_cast<long>(k) - 2 : static_cast<long>(k) - 1;
        if (first >= 0) {
            Points trio;
            for (std::size_t t = first; t < static_cast<std::size_t>(first + 3); ++t) trio.emplace_back(ms[t], margins[t]);
            curved.push_back(root_of(trio, lo, hi));
        }
    }
    const bool smooth = alike && !curved.empty() && std::all_of(curved.begin(), curved.end(), [&](const auto& c) {
                            return c && std::abs(*c - *straight) <= 0.25 * kTolerance * *straight;
                        });
    if (smooth) {
        double sum = 0.0;
        for (const auto& c : curved) sum += *c;
        estimate = sum / static_cast<double>(curved.size());
    }
    return make_crossing(estimate, smooth, lo, hi, reach_lo, reach_hi);
}

std::optional<Crossing> jump_crossing(Columns& columns, const Series& margins, std::size_t k, Pipes pipes,
                                      std::size_t surcharge_row) {
    const auto [switches, complete] = switches_of(columns, k, pipes, surcharge_row);
    const std::vector<double> apart = distinct(switches);
    if (apart.empty() || (!complete && apart.size() == 1)) return std::nullopt;
    const std::vector<double>& ms = columns.multipliers;
    const double lo = ms[k - 1], hi = ms[k];
    const double reach_lo = ms[k >= 3 ? k - 3 : 0], reach_hi = ms[std::min(k + 2, ms.size() - 1)];
    if (apart.size() > 1) {
        Crossing crossing = make_crossing(middle_of(lo, hi), false, lo, hi, reach_lo, reach_hi);
        for (std::size_t i = 0; i + 1 < apart.size(); ++i) crossing.splits.push_back(std::sqrt(apart[i] * apart[i + 1]));
        return crossing;
    }
    const double e = apart[0];
    const Points left = piece(columns, margins, k - 1, -1, pipes);
    const Points right = piece(columns, margins, k, 1, pipes);
    if (left.empty() || right.empty()) return std::nullopt;
    if (left.size() < 2 || right.size() < 2) {
        // A piece known at one analysis only: one next to the switch on that side.
        const double near = left.size() < 2 ? e * (1.0 - kAskOffset) : e * (1.0 + kAskOffset);
        if (!(lo < near && near < hi)) return std::nullopt;
        Crossing crossing = make_crossing(e, false, lo, hi, reach_lo, reach_hi);
        crossing.splits = {near};
        return crossing;
    }
    if (evaluate(left, e) < 0.0 && 0.0 < evaluate(right, e)) {
        // At the switch. Across a wide bracket the switch itself may be misplaced:
        // the analyses beside it, shared by every crossing there, confirm it.
        Crossing crossing = make_crossing(e, true, lo, hi, reach_lo, reach_hi);
        const double before = e * (1.0 - kAskOffset), after = e * (1.0 + kAskOffset);
        if (hi <= lo * (1.0 + kConfirmWidth) || !(lo < before && before < after && after < hi)) {
            crossing.narrow = true;
        } else {
            crossing.splits = {before, after};
        }
        return crossing;
    }
    // The margin changes sign on one piece, extrapolated from afar: an analysis
    // next to the switch on that side brings the piece's own bracket.
    const bool below = evaluate(left, e) >= 0.0;
    Crossing crossing = make_crossing(below ? bisect(left, lo, e) : bisect(right, e, hi), false, lo, hi, reach_lo,
                                      reach_hi);
    const double near = below ? e * (1.0 - kAskOffset) : e * (1.0 + kAskOffset);
    if ((below ? e - lo : hi - e) <= kTolerance * lo || !(lo < near && near < hi)) {
        crossing.narrow = true;
    } else {
        crossing.splits = {near};
    }
    return crossing;
}

}  // namespace rillwright::service
