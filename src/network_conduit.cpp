#include "network_conduit.hpp"

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>

#include "hydraulics.hpp"

namespace rillwright {

namespace {

constexpr double kTwoThirds = 2.0 / 3.0;

// Conveyance (1.486 / n) * A * R^(2/3); 0 when n <= 0.
double conveyance(const Conduit& conduit, const SectionGeometry& section) {
    if (!(conduit.n > 0.0)) return 0.0;
    return conduit.manning_factor * section.area * std::pow(section.hydraulic_radius, kTwoThirds);
}

}  // namespace

Conduit::Conduit(const PipeShape& shape_, double n_, double slope)
    : shape(shape_), rise(rillwright::shape_rise(shape_)), n(n_), manning_factor(kManningUs / n_),
      slope_term(rillwright::slope_term(slope)) {}

double Conduit::flow_at(double depth) const {
    const SectionGeometry g = flow_geometry_at_depth(shape, depth);
    return g.area * manning_factor * std::pow(g.hydraulic_radius, kTwoThirds) * slope_term;
}

namespace {

double scan_depth(const Conduit& conduit, int k) { return k * conduit.rise / kScanSteps; }

// Every depth of the scan, in order: the definition of the scan's result.
DepthScan scan_every_depth(const Conduit& conduit) {
    DepthScan scan;
    for (int k = 1; k <= kScanSteps; ++k) {
        const double depth = scan_depth(conduit, k);
        const double flow = conduit.flow_at(depth);
        if (scan.max_flow < flow) {
            scan.max_flow = flow;
            scan.peak_depth = depth;
        }
    }
    return scan;
}

// The scan's flows, each evaluated at most once.
class ScanFlows {
public:
    explicit ScanFlows(const Conduit& conduit) : conduit_(conduit) {}
    double operator()(int k) {
        if (!known_[k]) {
            flows_[k] = conduit_.flow_at(scan_depth(conduit_, k));
            known_[k] = true;
        }
        return flows_[k];
    }

private:
    const Conduit& conduit_;
    std::array<double, kScanSteps + 1> flows_;
    std::bitset<kScanSteps + 1> known_;
};

// Grid strides of the refinement, each dividing the one before and the scan's 2000.
constexpr std::array<int, 4> kRefinementStrides = {125, 25, 5, 1};

// The scan's result found from about 40 of its 2000 flows.
//
// Every section's flow curve rises to a single peak and falls after it (or rises
// all the way to the crown, as a box does). So: evaluate every 125th depth; if
// those flows are finite and strictly rise then strictly fall, the peak lies
// within one stride of the largest of them, and every depth outside that window
// carries markedly less than the depths inside it (a stride from the peak, the
// curve has dropped by far more than the rounding of a flow). Repeat with strides
// 25 and 5 inside the window, then evaluate every depth of the last window
// exactly as the full scan does: the first of equal flows wins, so the peak depth
// is where the running maximum of the full scan last rose.
//
// Anything that breaks the argument gives up and the caller runs the full scan:
// a flow that is not finite (NaN, or infinite for an n so small that 1.486 / n
// overflows), equal neighbours on a coarse grid (flat or all-zero curves), a
// second rise, or a largest flow that is not positive.
std::optional<DepthScan> refine_scan(const Conduit& conduit) {
    ScanFlows flows(conduit);
    int first = kRefinementStrides[0];
    int last = kScanSteps;
    for (std::size_t level = 0; level < kRefinementStrides.size(); ++level) {
        const int stride = kRefinementStrides[level];
        double best = 0.0;
        int best_k = 0;
        bool falling = false;
        double previous = 0.0;
        for (int k = first; k <= last; k += stride) {
            const double flow = flows(k);
            if (!std::isfinite(flow)) return std::nullopt;
            if (stride > 1 && k > first) {
                if (flow == previous) return std::nullopt;
                if (flow > previous && falling) return std::nullopt;
                if (flow < previous) falling = true;
            }
            if (best_k == 0 || best < flow) {  // strict: the first of equal flows stays
                best = flow;
                best_k = k;
            }
            previous = flow;
        }
        if (!(best > 0.0)) return std::nullopt;
        if (stride == 1) return DepthScan{best, scan_depth(conduit, best_k)};
        const int next_stride = kRefinementStrides[level + 1];
        first = std::max(best_k - stride, next_stride);
        last = std::min(best_k + stride, kScanSteps);
    }
    return std::nullopt;  // not reached: the last stride is 1
}

}  // namespace

DepthScan scan_depths(const Conduit& conduit) {
    if (conduit.n <= 0.0) return DepthScan{};
    // A flat or adverse slope (s = 0), n = +inf or a NaN n: every flow is 0 or
    // NaN, so the maximum never rises from 0 at depth 0.
    if (!(conduit.slope_term > 0.0) || !(conduit.manning_factor > 0.0)) return DepthScan{};
    if (const auto refined = refine_scan(conduit)) return *refined;
    return scan_every_depth(conduit);
}

std::optional<double> normal_depth_search(const Conduit& conduit, const DepthScan& scan, double q) {
    if (q <= 0.0) return 0.0;
    if (conduit.n <= 0.0) return std::nullopt;
    if (q > scan.max_flow) return std::nullopt;
    double lo = 0.0;
    double hi = scan.peak_depth;
    for (int halvings = 1; halvings <= kMaxHalvings; ++halvings) {
        const double mid = (lo + hi) * 0.5;
        if (conduit.flow_at(mid) > q) {
            hi = mid;
        } else {
            lo = mid;
        }
        if (hi - lo < kDepthTolerance) break;
    }
    return (lo + hi) * 0.5;
}

double critical_depth_search(const PipeShape& shape, double q) {
    if (q <= 0.0) return 0.0;
    return critical_depth_bisection(q, shape_rise(shape), kGravityUs, [&](double depth) {
        const SectionGeometry g = surface_geometry_at_depth(shape, depth);
        return std::pair{g.area, g.top_width};
    });
}

EnergyTerms energy_terms(const Conduit& conduit, double q, const SectionGeometry& section) {
    EnergyTerms terms;
    const double k = conveyance(conduit, section);
    if (k > 0.0) {
        const double ratio = q / k;
        terms.friction_slope = ratio * ratio;
    }
    if (section.area > 0.0) {
        const double velocity = q / section.area;
        terms.velocity_head = velocity * velocity / kVelocityHeadDivisor;
    }
    return terms;
}

}  // namespace rillwright
