// The energy line of one analysis and the structure losses behind it, as the
// grade-line pass computed them: per pipe the velocity head and energy line at
// both ends, per structure the loss charged, the coefficients of the method that
// charged it, and its grade and energy lines. US customary units, like the analysis.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "network.hpp"
#include "network_conduit.hpp"
#include "outcome.hpp"

namespace rillwright {

struct PipeEnergy {
    double velocity_head_up = 0.0;
    double velocity_head_dn = 0.0;
    double egl_up = 0.0;
    double egl_dn = 0.0;
    double structure_loss = 0.0;  // ft, charged for this pipe at its upstream structure
};

inline constexpr std::string_view kJunctionMethod = "junction";
inline constexpr std::string_view kAccessHoleMethod = "hec22_access_hole";
inline constexpr std::string_view kEnergyLevelMethod = "hec22_energy_level";
inline constexpr std::string_view kNoLossMethod = "none";  // outfalls

struct StructureEnergy {
    std::string_view method = kNoLossMethod;
    std::vector<std::pair<std::string_view, double>> coefficients;
    double structure_loss = 0.0;           // ft
    std::optional<double> velocity_head;   // of the governing outgoing pipe at this end; none at an outfall
    double hgl = 0.0;                      // the analysis' node grade line
    double egl = 0.0;
    std::optional<std::size_t> pipe;       // the outgoing pipe that set hgl
};

struct EnergyLine {
    std::vector<PipeEnergy> pipes;       // in pipe order
    std::vector<StructureEnergy> nodes;  // in node order
};

// The grade-line pass fills this when handed one; the analysis does not.
struct GradeLineDetails {
    EnergyLine line;
    std::vector<double> levels;  // per node, the level its recorded pipe gave it (NaN: none yet)
};

// The velocity head of flow q at a depth in a section, the section taken as the
// grade-line pass takes it: full at or above the rise, else at the depth clamped
// to no less than `smallest_depth`; 0 without flow or area.
double velocity_head_at_depth(const PipeShape& shape, double q, double depth, double smallest_depth);

// One analysis of the network (the same stages analyze_network runs, so the same
// result), with the energy line its grade-line pass recorded: a report needs both
// and so analyses once.
struct AnalysisWithEnergy {
    AnalysisResult result;
    EnergyLine line;
};
Outcome<AnalysisWithEnergy> analyse_with_energy(const Network& network);

}  // namespace rillwright
