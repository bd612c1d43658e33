// One analysis run: topology, value checks, the rational-method forward pass, the
// hydraulic grade line and the result records. Keeps no state between calls.
#include "network.hpp"

#include "network_passes.hpp"
#include "network_trees.hpp"

namespace rillwright {

Outcome<AnalysisResult> analyze_network(const Network& network) {
    Outcome<Topology> topology = build_topology(network);
    if (!topology.ok()) return Outcome<AnalysisResult>::failure(std::move(topology.error));
    if (auto problem = check_values(network)) return Outcome<AnalysisResult>::failure(std::move(*problem));

    const DesignFlows design = design_flows(network, *topology.value);
    const GradeLine grade = grade_line(network, *topology.value, design);
    return Outcome<AnalysisResult>::success(assemble_result(network, *topology.value, design, grade));
}

Outcome<AnalysisResult> analyze_network(const Network& network, const Topology& topology, const Trees& trees,
                                        std::size_t threads) {
    AnalysisResult result;
    result.pipes.resize(network.pipes.size());
    result.nodes.resize(network.nodes.size());
    const auto place = [&](const TreeRun& run) {
        AnalysisResult part = assemble_result(run.network, run.topology, run.flows, run.grade);
        for (std::size_t k = 0; k < part.pipes.size(); ++k) result.pipes[run.pipe_at(k)] = std::move(part.pipes[k]);
        for (std::size_t k = 0; k < part.nodes.size(); ++k) result.nodes[run.node_at(k)] = std::move(part.nodes[k]);
    };
    if (auto problem = analyze_trees(network, topology, trees, threads, place))
        return Outcome<AnalysisResult>::failure(std::move(*problem));
    return Outcome<AnalysisResult>::success(std::move(result));
}

}  // namespace rillwright
