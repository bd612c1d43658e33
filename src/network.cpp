// One analysis run: topology, value checks, the rational-method forward pass, the
// hydraulic grade line and the result records. Keeps no state between calls.
#include "network.hpp"

#include "network_passes.hpp"

namespace rillwright {

Outcome<AnalysisResult> analyze_network(const Network& network) {
    Outcome<Topology> topology = build_topology(network);
    if (!topology.ok()) return Outcome<AnalysisResult>::failure(std::move(topology.error));
    if (auto problem = check_values(network)) return Outcome<AnalysisResult>::failure(std::move(*problem));

    const DesignFlows design = design_flows(network, *topology.value);
    const GradeLine grade = grade_line(network, *topology.value, design);
    return Outcome<AnalysisResult>::success(assemble_result(network, *topology.value, design, grade));
}

}  // namespace rillwright
