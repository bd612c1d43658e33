// The stages of one analysis run, in the order analyze_network calls them, and
// the working arrays they hand on. Owned by the run and dropped with it.
#pragma once

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "network.hpp"

namespace rillwright {

// Every value the analysis computes with must be a finite number, and every
// pipe's shape and length a size the hydraulics can work with; returns the
// message for the first value that is not (settings, nodes, pipes), or nothing.
std::optional<std::string> check_values(const Network& network);

// The larger of two values, where a number wins over NaN.
inline double max_of_numbers(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return a < b ? b : a;
}

// The pipe's inverts: its own when given, else those of its end nodes.
struct PipeInverts {
    double up = 0.0;
    double down = 0.0;
};
inline PipeInverts pipe_inverts(const Network& network, const Topology& topology, std::size_t pipe) {
    const Pipe& p = network.pipes[pipe];
    const auto [from, to] = topology.pipe_ends[pipe];
    return {p.invert_up.value_or(network.nodes[from].invert), p.invert_dn.value_or(network.nodes[to].invert)};
}

struct PipeDesign {
    double slope = 0.0;
    double used_slope = 0.0;
    double intensity = 0.0;
    double design_q = 0.0;
    double max_capacity = 0.0;
    std::optional<double> normal_depth;
    bool surcharged = false;
    double velocity = 0.0;
    double travel_time = 0.0;
};

struct DesignFlows {
    std::vector<double> total_ca;  // per node
    std::vector<double> tc;        // per node
    std::vector<PipeDesign> pipes;
};

// Contributing C*A and the rational-method forward pass, upstream to outfall.
DesignFlows design_flows(const Network& network, const Topology& topology);

// The pieces of the forward pass, for stages that run it pipe by pipe (the
// sizing pass picks each pipe's size just before the pipe is designed).
// Per node: its whole contributing C*A, the frequency factor applied.
std::vector<double> contributing_ca(const Network& network, const Topology& topology);
// Node v's time of concentration; every pipe entering v must be designed.
double time_of_concentration(const Network& network, const Topology& topology, const DesignFlows& flows,
                             std::size_t v);
// The design intensity at a time of concentration.
double node_rainfall(const Network& network, double tc);

struct PipeSlopes {
    double slope = 0.0;       // from the inverts
    double used_slope = 0.0;  // the minimum slope where the pipe is nearly flat
};
PipeSlopes pipe_slopes(const Network& network, const Topology& topology, std::size_t pipe);

// One pipe at the design flow total_ca * rainfall, with its present size.
PipeDesign design_pipe(const Network& network, const Topology& topology, std::size_t pipe, double total_ca,
                       double rainfall);

// The just-full Manning capacity (the analysis' `capacity`) of a section with
// these full-section values, on the slope the design uses; 0 when n <= 0.
double full_capacity(double n, const FullSection& full, double used_slope);

// A part-full pipe whose outlet is not drowned has a free supercritical outlet
// when its critical depth, less this margin, is still above its normal depth
// (or its rise, when it has none).
inline constexpr double kSupercriticalMargin = 0.98;

// Positive exactly when that holds (IEEE subtraction keeps the comparison's sign).
inline double supercritical_outlet_margin(double critical_depth, double normal_or_rise) {
    return kSupercriticalMargin * critical_depth - normal_or_rise;
}

struct GradeLine {
    std::vector<double> node_hgl;  // per node
    std::vector<std::optional<double>> hgl_up;
    std::vector<std::optional<double>> hgl_dn;
    std::vector<double> critical_depth;  // per pipe, of the design flow
};

// The hydraulic grade line, outfalls upstream, with structure losses.
GradeLine grade_line(const Network& network, const Topology& topology, const DesignFlows& design);

// The same pass, recording its energy line and structure losses into `details`
// when given one (network_energy_line.hpp); the grade line is the same either way.
struct GradeLineDetails;
GradeLine grade_line(const Network& network, const Topology& topology, const DesignFlows& design,
                     GradeLineDetails* details);

AnalysisResult assemble_result(const Network& network, const Topology& topology, const DesignFlows& design,
                               const GradeLine& grade);

}  // namespace rillwright
