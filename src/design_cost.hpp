// Least-cost profile design. A cost model prices every pipe (its length at
// the price of its size, and its trench) and every structure (by its depth);
// on each tree of the network, with the design flows of a round known, dynamic
// programming from the leaves to the outfall finds the cheapest sizes and
// inverts on a grid that meet every profile rule, and rounds of design and
// analysis repeat until the flows do.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "design.hpp"

namespace rillwright::design {

// ---- The cost model ------------------------------------------------------------------

// Internally in feet, whatever the project's units: prices per ft, per cu ft.
struct CostModel {
    std::array<std::vector<double>, 4> price_per_ft;  // per shape, per catalogue step
    std::vector<double> kept_price_per_ft;            // per pipe: the price of a size it keeps (NaN otherwise)
    double excavation_per_cuft = 0.0;
    double trench_side_ft = 0.0;
    double structure_each = 0.0;
    double structure_per_ft = 0.0;
};

// The model of the options (or the default one) for this network and
// catalogue, or the message of a bad model (a key, a value, a size it does not price).
Outcome<CostModel> cost_model(const Options& options, const SizeTables& tables, const std::vector<Role>& roles,
                              const Network& network, LengthUnit unit);

// A pipe's width for its trench: its span, in ft.
double section_span(const PipeShape& shape);
// The trench of a pipe: length x (span + 2 x side) x its mean depth (rim - invert at its ends).
// (Inline: the least-cost design prices every grid level of every size with it.)
inline double trench_volume(const CostModel& model, double length, double span, double depth_up, double depth_dn) {
    return length * (span + 2.0 * model.trench_side_ft) * ((depth_up + depth_dn) / 2.0);
}
// A structure that is not an outfall: each + per ft of depth (rim - its lowest invert).
inline double structure_cost(const CostModel& model, double depth) {
    return model.structure_each + model.structure_per_ft * depth;
}

struct CostSummary {
    double total = 0.0;
    double pipes = 0.0;
    double excavation = 0.0;
    double structures = 0.0;
    std::vector<double> pipe_costs;  // per pipe: its price and its trench
    std::string objective = "shallowest";
    bool has_shallowest = false;  // with the least cost: the shallowest-first design's total beside it
    double shallowest_total = 0.0;
    bool flows_repeat = true;     // the last round's flows are those of the design
};

// The cost of a designed network (sizes, pipe inverts, structure inverts set).
CostSummary design_cost(const CostModel& model, const Network& network, const Topology& topology,
                        const std::vector<PipeChoice>& choices, const SizeTables& tables);

// ---- The least-cost design -----------------------------------------------------------------

// The flows of one round: per pipe, its upstream node's C*A and rainfall, as
// design_pipe takes them (design_q = total_ca * rainfall).
struct RoundFlows {
    std::vector<double> total_ca;
    std::vector<double> rainfall;
};

// Where a tree has no grid design that meets the rules.
struct Infeasible {
    std::string pipe;    // the first pipe, upstream to downstream, left without one
    std::string reason;  // the rule
};

// One tree's least-cost design, written into `network` and `choices` (the
// tree's pipes and structures only); returns the reason when there is none.
std::optional<Infeasible> least_cost_tree(Network& network, const Topology& topology, const SizingPlan& plan,
                                          const CostModel& model, const RoundFlows& flows,
                                          const std::vector<std::size_t>& tree_nodes,
                                          std::vector<PipeChoice>& choices);

// The least-cost design from the shallowest-first run: rounds until the flows
// repeat. Trees without a grid design keep the shallowest-first design and
// say why in `infeasible`.
struct CostRun {
    Run run;
    std::vector<Infeasible> infeasible;
    bool flows_repeat = true;
};
CostRun run_cost_design(const Network& start, const Topology& topology, const SizingPlan& plan,
                        const CostModel& model, const Run& shallowest);

// The message of a network the least-cost design cannot take (a structure
// with two outgoing pipes, a tree ending in a structure without max_depth), or nothing.
std::optional<std::string> check_cost_network(const Network& network, const Topology& topology, const Options& options);

}  // namespace rillwright::design
