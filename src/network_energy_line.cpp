// One analysis run whose grade-line pass records its energy line; the node
// grade lines are the pass's own, so they equal the analysis' bit for bit.
#include "network_energy_line.hpp"

#include <algorithm>
#include <cmath>

#include "network_passes.hpp"

namespace rillwright {

double velocity_head_at_depth(const PipeShape& shape, double q, double depth, double smallest_depth) {
    if (!(q > 0.0)) return 0.0;
    const double rise = shape_rise(shape);
    const double area = depth >= rise ? full_area(shape)
                                      : flow_geometry_at_depth(shape, std::clamp(depth, smallest_depth, rise)).area;
    if (!(area > 0.0)) return 0.0;
    const double velocity = q / area;
    return velocity * velocity / kVelocityHeadDivisor;
}

Outcome<AnalysisWithEnergy> analyse_with_energy(const Network& network) {
    Outcome<Topology> topology = build_topology(network);
    if (!topology.ok()) return Outcome<AnalysisWithEnergy>::failure(std::move(topology.error));
    if (auto problem = check_values(network)) return Outcome<AnalysisWithEnergy>::failure(std::move(*problem));

    const DesignFlows design = design_flows(network, *topology.value);
    GradeLineDetails details;
    const GradeLine grade = grade_line(network, *topology.value, design, &details);
    EnergyLine& line = details.line;
    for (std::size_t v = 0; v < network.nodes.size(); ++v) {
        StructureEnergy& s = line.nodes[v];
        s.hgl = grade.node_hgl[v];
        // Under the energy-level method a structure's level is its energy level.
        if (s.method == kEnergyLevelMethod) {
            s.egl = s.hgl;
        } else {
            s.egl = s.hgl + s.velocity_head.value_or(0.0);
        }
    }
    AnalysisResult result = assemble_result(network, *topology.value, design, grade);
    return Outcome<AnalysisWithEnergy>::success(AnalysisWithEnergy{std::move(result), std::move(line)});
}

}  // namespace rillwright
