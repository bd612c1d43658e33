// The energy-level structure loss, step by step in the order of the method:
// the energy at the outflow, its inlet- and outlet-control levels, and, when
// inlet control governs, the benching, angled-inflow and plunging terms.
#include "energy_loss.hpp"

#include <algorithm>
#include <cmath>

#include "hydraulics.hpp"
#include "network_conduit.hpp"

namespace rillwright {

namespace {

constexpr double kOutletExpansion = 0.2;        // of the outflow velocity head, under outlet control
constexpr double kUnsubmergedCoefficient = 1.6;
constexpr double kUnsubmergedExponent = 0.67;
constexpr double kShallowRatio = 1.0;           // Eai / Do at and below which benching is "unsubmerged"
constexpr double kDeepRatio = 2.5;              // and at and above which it is "submerged"
constexpr double kAngleCoefficient = 4.5;
constexpr double kPlungeCap = 10.0;             // plunge heights count up to this many outflow rises
constexpr double kRadiansPerDegree = kPi / 180.0;

struct BenchingCoefficients {
    double submerged;
    double unsubmerged;
};

// By Benching, in its order.
constexpr std::array<BenchingCoefficients, 5> kBenchingTable = {{
    {-0.05, -0.05},  // flat
    {0.0, 0.0},      // depressed
    {-0.05, -0.85},  // half
    {-0.25, -0.93},  // full
    {-0.60, -0.98},  // improved
}};

double benching_coefficient(Benching benching, double depth_ratio) {
    const BenchingCoefficients& c = kBenchingTable[static_cast<std::size_t>(benching)];
    if (depth_ratio <= kShallowRatio) return c.unsubmerged;
    if (depth_ratio >= kDeepRatio) return c.submerged;
    return c.unsubmerged + (c.submerged - c.unsubmerged) * ((depth_ratio - kShallowRatio) / (kDeepRatio - kShallowRatio));
}

}  // namespace

double inflow_angle_deg(double cos_deflection) {
    return 180.0 - std::acos(cos_deflection) * (180.0 / kPi);
}

EnergyStructure energy_structure(const EnergyStructureInputs& in) {
    EnergyStructure s;
    const double rise = in.outflow_rise;
    const double velocity_head = in.outflow_velocity * in.outflow_velocity / kVelocityHeadDivisor;

    // 1. Energy in the outflow pipe, and outlet control unless the outflow is
    //    supercritical and part full.
    s.ei = in.outflow_hgl + velocity_head - in.outflow_invert;
    const double depth = in.outflow_hgl - in.outflow_invert;
    const bool outlet_control = depth >= rise || depth >= in.outflow_critical_depth;
    s.eai_outlet = outlet_control ? s.ei + kOutletExpansion * velocity_head : 0.0;

    // 2. Inlet control, submerged and unsubmerged; no flow, no inlet control.
    const double scale = in.outflow_full_area * std::sqrt(kGravityUs * rise);
    s.di = in.outflow_q > 0.0 && scale > 0.0 ? in.outflow_q / scale : 0.0;
    s.eai_submerged = rise * (s.di * s.di);
    s.eai_unsubmerged = kUnsubmergedCoefficient * rise * std::pow(s.di, kUnsubmergedExponent);
    s.eai = std::max(std::max(s.eai_outlet, s.eai_submerged), s.eai_unsubmerged);

    // 3. The structure's own losses, only where inlet control lifts it above Ei.
    if (!(in.outflow_q > 0.0) || s.eai <= s.ei) {
        s.ea = s.ei;
    } else {
        s.cb = benching_coefficient(in.benching, s.eai / rise);
        const auto plunge_height = [&](double zk) { return (std::min(zk, kPlungeCap * rise) - s.eai) / rise; };
        double angled_q = 0.0;
        double angled_q_theta = 0.0;
        double plunging = 0.0;
        for (const EnergyInflow& inflow : in.inflows) {
            const double zk = inflow.invert - in.outflow_invert;
            if (zk > s.eai) {
                plunging += inflow.q * plunge_height(zk);
            } else {
                angled_q += inflow.q;
                angled_q_theta += inflow.q * inflow.angle_deg;
            }
        }
        if (in.surface_q != 0.0) plunging += in.surface_q * plunge_height(in.surface_elevation - in.outflow_invert);
        if (angled_q > 0.0) {  // no inflow that does not plunge: no angle term
            const double theta_w = angled_q_theta / angled_q;
            s.c_theta = kAngleCoefficient * (angled_q / in.outflow_q) * std::cos(theta_w / 2.0 * kRadiansPerDegree);
        }
        s.cp = plunging / in.outflow_q;
        s.ha = std::max(0.0, (s.cb + s.c_theta + s.cp) * (s.eai - s.ei));
        s.ea = std::max(s.eai + s.ha, s.ei);
    }

    // 4. The energy level as an elevation.
    s.egl = s.ea + in.outflow_invert;
    return s;
}

}  // namespace rillwright
