// Inlets in a sag by HEC-22 Eqs 4-26 to 4-35: the capacity at a ponded depth,
// and the depth that passes a flow, found by bisection (capacity grows with depth).
#include <algorithm>
#include <cmath>

#include "inlet_constants.hpp"
#include "inlet_hydraulics.hpp"

namespace rillwright::inlets {

namespace {

double orifice(double area, double head) { return head > 0.0 ? kOrificeCo * area * std::sqrt(2.0 * kGravity * head) : 0.0; }

// `d` is the depth above the normal cross slope at the curb (T = d / Sx).
struct Depths {
    double curb;  // at the curb, with a continuous depression
    double lip;   // at the inlet, with every depression
};
Depths depths(const Gutter& g, const Inlet& inlet, double d) { return {d + g.a, d + g.a + inlet.local_depression}; }

// Eqs 4-26, 4-27 with the clogged share of the width lost.
void grate_capacity(const Gutter& g, const Inlet& inlet, double d, InSag& s) {
    const double open_width = (1.0 - inlet.clogging) * inlet.grate_width;
    const double across = g.a > 0.0 && inlet.grate_width <= g.w ? g.sx + g.a / g.w : g.sx;
    const double mean = std::max(depths(g, inlet, d).lip - inlet.grate_width / 2.0 * across, 0.0);
    s.weir_q = kGrateWeirCw * (2.0 * open_width + inlet.length) * std::pow(mean, 1.5);
    s.orifice_q = orifice(open_width * inlet.length * open_area_ratio(inlet), mean);
}

double curb_orifice(const Gutter& g, const Inlet& inlet, double d, double length) {
    const double h = inlet.opening_height;
    return orifice(h * length, depths(g, inlet, d).lip - h / 2.0);  // Eq 4-31, head on the opening's centre
}

// Eqs 4-28 to 4-31: weir up to d = h, orifice from d = 1.4 h, linear between.
double curb_capacity(const Gutter& g, const Inlet& inlet, double d, InSag& s) {
    const double length = inlet.length;
    const double a = g.a + inlet.local_depression;
    const double w = inlet.local_depression > 0.0 ? inlet.local_depression_width : g.w;
    const bool depressed = a > 0.0 && length <= kLongCurbOpening;
    const auto weir = [&](double depth) {
        return depressed ? kCurbWeirDepressed * (length + 1.8 * w) * std::pow(depth, 1.5)
                         : kCurbWeirUndepressed * length * std::pow(depth, 1.5);
    };
    const double h = inlet.opening_height;
    s.weir_q = weir(d);
    s.orifice_q = curb_orifice(g, inlet, d, length);
    if (d <= h) {
        s.regime = "weir";
        return s.weir_q;
    }
    if (d >= kTransitionTop * h) {
        s.regime = "orifice";
        return s.orifice_q;
    }
    s.regime = "transition";
    const double low = weir(h);
    const double high = curb_orifice(g, inlet, kTransitionTop * h, length);
    return low + (high - low) * (d - h) / ((kTransitionTop - 1.0) * h);
}

// Eqs 4-32, 4-33: weir up to 0.2 ft, the orifice equation above.
double slot_capacity(const Gutter& g, const Inlet& inlet, double d, InSag& s) {
    const double depth = depths(g, inlet, d).lip;
    s.weir_q = kSlotWeirCw * inlet.length * std::pow(depth, 1.5);
    s.orifice_q = kSlotOrificeC * inlet.length * inlet.grate_width * std::sqrt(2.0 * kGravity * depth);
    s.regime = depth <= kSlotWeirLimit ? "weir" : "orifice";
    return depth <= kSlotWeirLimit ? s.weir_q : s.orifice_q;
}

double capacity(const Gutter& g, const Inlet& inlet, double d, InSag& s) {
    switch (inlet.type) {
        case InletType::curb: return curb_capacity(g, inlet, d, s);
        case InletType::slotted: return slot_capacity(g, inlet, d, s);
        case InletType::combination: {  // Eq 4-35 in orifice flow; the grate alone as a weir
            grate_capacity(g, inlet, d, s);
            const double curb_length = inlet.curb_length > 0.0 ? inlet.curb_length : inlet.length;
            s.orifice_q += curb_orifice(g, inlet, d, curb_length);
            break;
        }
        case InletType::grate: grate_capacity(g, inlet, d, s); break;
    }
    // Over the transition the true capacity is below both: the smaller governs.
    s.regime = s.weir_q <= s.orifice_q ? "weir" : "orifice";
    return std::min(s.weir_q, s.orifice_q);
}

}  // namespace

InSag sag_capacity(const Gutter& g, const Inlet& inlet, double d) {
    InSag s;
    s.q = capacity(g, inlet, std::max(d, 0.0), s);
    s.depth = depths(g, inlet, std::max(d, 0.0)).curb;
    s.spread = std::max(d, 0.0) / g.sx;
    return s;
}

InSag inlet_in_sag(const Gutter& g, const Inlet& inlet, double q) {
    if (!(q > 0.0)) return sag_capacity(g, inlet, 0.0);
    double low = 0.0;
    double high = 0.1;
    while (sag_capacity(g, inlet, high).q < q && high < 1e4) high *= 2.0;
    for (int k = 0; k < 200 && high - low > 1e-13 * high; ++k) {
        const double mid = 0.5 * (low + high);
        (sag_capacity(g, inlet, mid).q < q ? low : high) = mid;
    }
    InSag s = sag_capacity(g, inlet, 0.5 * (low + high));
    s.q = q;
    return s;
}

}  // namespace rillwright::inlets
