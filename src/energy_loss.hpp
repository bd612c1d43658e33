// The HEC-22 (2009) energy-level method at one structure, from plain values:
// the grade-line pass and the companion's calculator both run this one
// function, so a structure checked by hand gives exactly what the analysis
// gives. US customary units, g = 32.2 ft/s^2, velocity heads V^2 / 64.4.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>

namespace rillwright {

// The floor of a structure, shaped to guide the flow into the outflow pipe.
enum class Benching { flat, depressed, half, full, improved };

inline constexpr std::array<std::string_view, 5> kBenchingNames = {"flat", "depressed", "half", "full", "improved"};

inline std::string_view benching_name(Benching benching) {
    return kBenchingNames[static_cast<std::size_t>(benching)];
}

// The benching of a text form, matched exactly; nothing for any other text.
inline std::optional<Benching> benching_from_text(std::string_view text) {
    for (std::size_t i = 0; i < kBenchingNames.size(); ++i) {
        if (kBenchingNames[i] == text) return static_cast<Benching>(i);
    }
    return std::nullopt;
}

// One pipe entering the structure.
struct EnergyInflow {
    double q = 0.0;          // cfs
    double invert = 0.0;     // its downstream (outlet) invert, ft
    double angle_deg = 180.0;  // between inflow and outflow: 180 for a straight run
};

struct EnergyStructureInputs {
    // The outflow pipe: design flow, rise, full area, forward-pass velocity, its
    // grade line and invert at the structure, and critical depth.
    double outflow_q = 0.0;
    double outflow_rise = 0.0;
    double outflow_full_area = 0.0;
    double outflow_velocity = 0.0;
    double outflow_hgl = 0.0;
    double outflow_invert = 0.0;
    double outflow_critical_depth = 0.0;
    std::span<const EnergyInflow> inflows;  // summed in this order
    double surface_q = 0.0;                 // always plunging; left out when 0
    double surface_elevation = 0.0;         // where it falls from: the rim
    Benching benching = Benching::flat;
};

// Every intermediate value, in ft of energy above the outflow invert unless
// named otherwise (di, cb, c_theta, cp are ratios; egl is an elevation).
struct EnergyStructure {
    double ei = 0.0;
    double di = 0.0;
    double eai_outlet = 0.0;
    double eai_submerged = 0.0;
    double eai_unsubmerged = 0.0;
    double eai = 0.0;
    double cb = 0.0;
    double c_theta = 0.0;
    double cp = 0.0;
    double ha = 0.0;
    double ea = 0.0;
    double egl = 0.0;
};

EnergyStructure energy_structure(const EnergyStructureInputs& inputs);

// The angle between inflow and outflow, in degrees, from the cosine of the
// deflection between the two plan directions: 180 - deflection.
double inflow_angle_deg(double cos_deflection);

}  // namespace rillwright
