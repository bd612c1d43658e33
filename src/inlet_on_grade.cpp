// Inlets on grade by HEC-22 Eqs 4-16 to 4-25: grates (frontal and side flow),
// curb openings and slotted drains (length for total interception), and
// combination inlets with a sweeper curb opening upstream of the grate. Clogging
// scales the capture as SWMM 5.2 does on grade (HEC-22 gives no on-grade rule).
#include <algorithm>
#include <cmath>

#include "inlet_constants.hpp"
#include "inlet_hydraulics.hpp"

namespace rillwright::inlets {

namespace {

// Eq 4-20a: a grate narrower than the depressed gutter takes the share of the
// gutter's flow area that lies over its own width.
double grate_frontal_ratio(const Gutter& g, const GutterFlow& f, double width) {
    if (g.a <= 0.0 || f.spread <= g.w) return frontal_ratio(width, f.spread);
    if (width >= g.w) return f.eo;
    const double area_over = [&](double x) { return x * f.depth - f.sw * x * x / 2.0; }(width);
    const double area_gutter = g.w * f.depth - f.sw * g.w * g.w / 2.0;
    return f.eo * area_over / area_gutter;
}

void grate_part(const Gutter& g, const Inlet& inlet, double q, OnGrade& r) {
    const GutterFlow f = gutter_at_flow(g, q);
    const double eo = grate_frontal_ratio(g, f, inlet.grate_width);
    const double v = f.velocity;
    const double vo = splash_velocity(inlet, inlet.length);
    const double rf = std::clamp(1.0 - kFrontalKu * (v - vo), 0.0, 1.0);  // Eq 4-18, kept in [0, 1]
    const double rs = inlet.length > 0.0 ? 1.0 / (1.0 + kSideKu * std::pow(v, 1.8) / (g.sx * std::pow(inlet.length, 2.3)))
                                         : 0.0;  // Eq 4-19
    r.eo = eo;
    r.vo = vo;
    r.rf = rf;
    r.rs = rs;
    r.grate_intercepted = q > 0.0 ? (rf * eo + rs * (1.0 - eo)) * q : 0.0;  // Eqs 4-20, 4-21
}

// Curb opening or slotted drain of length `length` on the flow q.
double curb_part(const Gutter& g, const Inlet& inlet, double q, double length, OnGrade& r) {
    if (!(q > 0.0)) {
        r.lt = 0.0;
        r.se = g.sx;
        return 0.0;
    }
    const GutterFlow f = gutter_at_flow(g, q);
    double se = g.sx;
    if (inlet.local_depression > 0.0 && inlet.local_depression_width > 0.0) {
        // The undepressed gutter upstream sets the arriving spread and Eo.
        const double eo = frontal_ratio(inlet.local_depression_width, f.spread);
        se = g.sx + inlet.local_depression / inlet.local_depression_width * eo;  // Eq 4-24
        r.eo = eo;
    } else if (g.a > 0.0) {
        se = g.sx + g.a / g.w * f.eo;
        r.eo = f.eo;
    }
    const double lt = kCurbLengthKu * std::pow(q, 0.42) * std::pow(g.sl, 0.3) * std::pow(1.0 / (g.n * se), 0.6);
    const double e = length >= lt ? 1.0 : 1.0 - std::pow(1.0 - length / lt, 1.8);  // Eq 4-23
    r.lt = lt;
    r.se = se;
    return e * q;
}

}  // namespace

double splash_velocity(const Inlet& inlet, double length) {
    if (inlet.grate == GrateKind::generic) return inlet.splash_velocity;
    const GrateCoefficients& c = kGrates[static_cast<std::size_t>(inlet.grate)];
    return c.alpha + c.beta * length - c.gamma * length * length + c.eta * length * length * length;
}

double open_area_ratio(const Inlet& inlet) {
    if (inlet.grate == GrateKind::generic) return inlet.open_area_ratio;
    return kGrates[static_cast<std::size_t>(inlet.grate)].open_area;
}

OnGrade inlet_on_grade(const Gutter& g, const Inlet& inlet, double q) {
    OnGrade r;
    r.gutter = gutter_at_flow(g, q);
    switch (inlet.type) {
        case InletType::grate:
            grate_part(g, inlet, q, r);
            r.intercepted = *r.grate_intercepted;
            r.grate_intercepted.reset();
            break;
        case InletType::curb:
        case InletType::slotted:
            r.intercepted = curb_part(g, inlet, q, inlet.length, r);
            break;
        case InletType::combination:
            if (inlet.curb_length > 0.0) {  // sweeper: the upstream curb opening first, the grate on the rest
                const double qic = curb_part(g, inlet, q, inlet.curb_length, r);
                grate_part(g, inlet, q - qic, r);
                r.curb_intercepted = qic;
                r.intercepted = qic + *r.grate_intercepted;
            } else {  // side by side: the grate alone
                grate_part(g, inlet, q, r);
                r.intercepted = *r.grate_intercepted;
                r.grate_intercepted.reset();
            }
            break;
    }
    r.intercepted = std::clamp(r.intercepted, 0.0, std::max(q, 0.0));
    if (inlet.clogging > 0.0) {  // SWMM 5.2: a clogged inlet on grade takes (1 - clogging) of its capture
        const double open = 1.0 - inlet.clogging;
        r.intercepted *= open;
        if (r.curb_intercepted) *r.curb_intercepted *= open;
        if (r.grate_intercepted) *r.grate_intercepted *= open;
    }
    r.bypass = std::max(q, 0.0) - r.intercepted;
    r.efficiency = q > 0.0 ? r.intercepted / q : 0.0;
    return r;
}

}  // namespace rillwright::inlets
