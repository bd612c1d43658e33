// Gutter flow by HEC-22 Eqs 4-2 to 4-6: the uniform (triangular) section, and
// the composite section of a continuously depressed gutter.
#include <cmath>

#include "inlet_constants.hpp"
#include "inlet_hydraulics.hpp"

namespace rillwright::inlets {

namespace {

// Eq 4-2 on a triangular section of cross slope s.
double triangle_q(double s, double sl, double n, double spread) {
    return kGutterKu / n * std::pow(s, 1.67) * std::sqrt(sl) * std::pow(spread, 2.67);
}

}  // namespace

double frontal_ratio(double w, double spread) {
    if (spread <= 0.0 || w >= spread) return 1.0;
    return 1.0 - std::pow(1.0 - w / spread, 2.67);
}

GutterFlow gutter_at_spread(const Gutter& g, double spread) {
    GutterFlow f;
    f.spread = spread;
    if (spread <= 0.0) return f;
    f.w_over_t = g.w / spread;
    if (g.a <= 0.0) {
        f.sw = g.sx;
        f.q = triangle_q(g.sx, g.sl, g.n, spread);
        f.depth = spread * g.sx;
        f.area = spread * spread * g.sx / 2.0;
        f.eo = frontal_ratio(g.w, spread);
    } else {
        f.sw = g.sx + g.a / g.w;
        if (spread <= g.w) {  // the water stays within the depressed width
            f.q = triangle_q(f.sw, g.sl, g.n, spread);
            f.depth = spread * f.sw;
            f.area = spread * spread * f.sw / 2.0;
            f.eo = 1.0;
        } else {
            const double ratio = f.sw / g.sx;
            f.eo = 1.0 / (1.0 + ratio / (std::pow(1.0 + ratio / (spread / g.w - 1.0), 2.67) - 1.0));  // Eq 4-4
            const double qs = triangle_q(g.sx, g.sl, g.n, spread - g.w);
            f.q = qs / (1.0 - f.eo);  // Eq 4-6
            f.depth = spread * g.sx + g.a;
            f.area = spread * spread * g.sx / 2.0 + g.a * g.w / 2.0;
        }
    }
    f.qw = f.eo * f.q;
    f.qs = f.q - f.qw;
    f.velocity = f.area > 0.0 ? f.q / f.area : 0.0;
    return f;
}

GutterFlow gutter_at_flow(const Gutter& g, double q) {
    if (!(q > 0.0)) return gutter_at_spread(g, 0.0);
    if (g.a <= 0.0) {  // Eq 4-2 inverted
        const double spread = std::pow(q * g.n / (kGutterKu * std::pow(g.sx, 1.67) * std::sqrt(g.sl)), 0.375);
        GutterFlow f = gutter_at_spread(g, spread);
        f.q = q;
        return f;
    }
    // Q grows with T: bracket, then halve to the last bit.
    double low = 0.0;
    double high = 1.0;
    while (gutter_at_spread(g, high).q < q && high < 1e6) high *= 2.0;
    for (int k = 0; k < 200 && high - low > 1e-12 * high; ++k) {
        const double mid = 0.5 * (low + high);
        (gutter_at_spread(g, mid).q < q ? low : high) = mid;
    }
    return gutter_at_spread(g, 0.5 * (low + high));
}

}  // namespace rillwright::inlets
