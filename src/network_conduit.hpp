// Hydraulics of one conduit of any shape in the network analysis (US customary:
// k = 1.486, g = 32.2): Manning flow, the depth scan, normal and critical depth
// searches, friction slope and velocity head. The searches are plain fixed-step
// loops; their step counts and stop rules set the precision of every result.
#pragma once

#include <optional>

#include "sections.hpp"

namespace rillwright {

inline constexpr double kVelocityHeadDivisor = 64.4;  // 2 g

// A conduit with its Manning factors: Q(y) = A(y) * (1.486 / n) * R(y)^(2/3) * sqrt(S).
struct Conduit {
    PipeShape shape;
    double rise = 0.0;
    double n = 0.0;
    double manning_factor = 0.0;  // 1.486 / n
    double slope_term = 0.0;      // sqrt(slope), 0 for a flat, adverse or NaN slope

    Conduit(const PipeShape& shape, double n, double slope);

    double flow_at(double depth) const;
};

struct DepthScan {
    double max_flow = 0.0;    // largest flow over the scan, NaN never wins
    double peak_depth = 0.0;  // where the running maximum last rose strictly
};

// Manning flow at depths k * rise / 2000, k = 1 ... 2000; all zero when n <= 0.
DepthScan scan_depths(const Conduit& conduit);

// The lower depth that carries q, bisected on [0, peak depth]; empty when the
// pipe cannot carry q.
std::optional<double> normal_depth_search(const Conduit& conduit, const DepthScan& scan, double q);

// Depth at which q^2 T = g A^3, searched on [1e-6, 0.999] times the rise.
double critical_depth_search(const PipeShape& shape, double q);

// Friction slope (Q / K)^2 and velocity head (Q / A)^2 / 64.4 at one section.
struct EnergyTerms {
    double friction_slope = 0.0;
    double velocity_head = 0.0;
};
EnergyTerms energy_terms(const Conduit& conduit, double q, const SectionGeometry& section);

}  // namespace rillwright
