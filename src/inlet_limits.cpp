// Whether a gutter or inlet result satisfies its own equations. At extreme inputs
// (a slope of 1e308, an n of 1e-300) the powers overflow or underflow and the
// searches run out of bracket; such a result is refused, never returned.
#include <cmath>
#include <initializer_list>
#include <utility>

#include "inlet_limits.hpp"
#include "inlet_messages.hpp"

namespace rillwright::inlets {

namespace {

// A uniform gutter's spread is Eq 4-2 inverted with the manual's exponent 0.375 for
// 1/2.67; the flow at that spread departs from the given one by (Q/K)^0.00125 - 1,
// under 5 % across 17 decades of Q/K, which holds every street.
constexpr double kUniformTolerance = 0.05;
// A composite gutter's spread and a sag's depth are bisected to about 1e-12 of
// themselves: the flow must lie between the flows a millionth below and above (a
// jump in capacity, as a slotted drain's at 0.2 ft, is passed at the jump).
constexpr double kBracket = 1e-6;

template <class FlowAt>
bool brackets(FlowAt flow_at, double x, double q) {
    return x > 0.0 && flow_at(x * (1.0 - kBracket)) <= q && q <= flow_at(x * (1.0 + kBracket));
}

using Named = std::pair<const char*, double>;

std::optional<std::string> not_finite(std::initializer_list<Named> values) {
    for (const auto& [name, value] : values)
        if (!std::isfinite(value)) return message::not_finite(name, value);
    return std::nullopt;
}

std::optional<std::string> optional_not_finite(std::initializer_list<std::pair<const char*, std::optional<double>>> values) {
    for (const auto& [name, value] : values)
        if (value && !std::isfinite(*value)) return message::not_finite(name, *value);
    return std::nullopt;
}

std::optional<std::string> gutter_values(const GutterFlow& f) {
    return not_finite({{"q", f.q}, {"spread", f.spread}, {"depth", f.depth}, {"area", f.area},
                       {"velocity", f.velocity}, {"sw", f.sw}, {"eo", f.eo}, {"w_over_t", f.w_over_t}});
}

}  // namespace

std::optional<std::string> gutter_flow_problem(const Gutter& g, double q, const GutterFlow& f) {
    if (auto problem = gutter_values(f)) return problem;
    if (!(q > 0.0)) return std::nullopt;
    if (!(f.spread > 0.0 && f.depth > 0.0 && f.area > 0.0)) return message::flow_without_spread(q);
    const auto flow_at = [&](double spread) { return gutter_at_spread(g, spread).q; };
    const bool holds = g.a > 0.0 ? brackets(flow_at, f.spread, q)
                                 : std::fabs(flow_at(f.spread) - q) <= kUniformTolerance * q;
    if (!holds) return message::spread_carries(q, f.spread, flow_at(f.spread));
    return std::nullopt;
}

std::optional<std::string> gutter_spread_problem(double spread, const GutterFlow& f) {
    if (auto problem = gutter_values(f)) return problem;
    if (spread > 0.0 && !(f.q > 0.0 && f.area > 0.0)) return message::spread_without_flow(spread);
    return std::nullopt;
}

std::optional<std::string> on_grade_problem(const Gutter& g, double q, const OnGrade& r) {
    if (auto problem = gutter_flow_problem(g, q, r.gutter)) return problem;
    if (auto problem = optional_not_finite({{"eo", r.eo}, {"splash_velocity", r.vo}, {"rf", r.rf}, {"rs", r.rs},
                                            {"lt", r.lt}, {"se", r.se}, {"curb_intercepted", r.curb_intercepted},
                                            {"grate_intercepted", r.grate_intercepted}}))
        return problem;
    return not_finite({{"efficiency", r.efficiency}, {"intercepted", r.intercepted}, {"bypass", r.bypass}});
}

std::optional<std::string> sag_problem(const Gutter& g, const Inlet& inlet, double q, const InSag& s) {
    if (auto problem = not_finite({{"depth", s.depth}, {"spread", s.spread}, {"weir_q", s.weir_q},
                                   {"orifice_q", s.orifice_q}}))
        return problem;
    if (!(q > 0.0)) return std::nullopt;
    const auto flow_at = [&](double d) { return sag_capacity(g, inlet, d).q; };
    const double d = s.spread * g.sx;  // the depth above the cross slope at the curb
    // With a depression the inlet may pass q before the water reaches the cross slope
    // (d = 0): the search ends at the bottom of its range, the depth of the depression.
    if (flow_at(0.0) >= q) return std::nullopt;
    if (!brackets(flow_at, d, q)) return message::depth_passes(q, s.depth, flow_at(d));
    return std::nullopt;
}

}  // namespace rillwright::inlets
