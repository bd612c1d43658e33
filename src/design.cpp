// The design stage from start to end: options checked, catalogue made ready
// for the network's units, pipes given their roles, the sizing and grade-line
// rounds, the violations, the sized text and the result JSON.
#include "design.hpp"
#include "design_cost.hpp"
#include "design_cost_messages.hpp"
#include "design_messages.hpp"
#include "project.hpp"

#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace rillwright::design {

namespace {

Designed failed(bool bad_option, std::string message) {
    Designed designed;
    designed.failure = Failure{bad_option, std::move(message)};
    return designed;
}

LengthUnit unit_of(const LoadedNetwork& loaded) {
    if (!loaded.project) return LengthUnit::rwn_feet;
    return loaded.project->units == UnitSystem::si ? LengthUnit::project_metres : LengthUnit::project_feet;
}

std::vector<Role> pipe_roles(const Network& network, const SizeTables& tables, const Options& options) {
    const std::unordered_set<std::string_view> fixed(options.fixed.begin(), options.fixed.end());
    std::vector<Role> roles;
    roles.reserve(network.pipes.size());
    for (const Pipe& pipe : network.pipes) {
        if (!fixed.empty() && fixed.count(pipe.id)) {
            roles.push_back(Role::fixed);
        } else {
            roles.push_back(tables.listed[pipe.shape.index()] ? Role::sized : Role::not_listed);
        }
    }
    return roles;
}

// With the inverts as given, a pipe without fall (or with an n of 0 or less)
// has no capacity at any size: one that has flow to carry keeps its given size.
void mark_pipes_without_capacity(const Network& given, const Topology& topology, std::vector<Role>& roles) {
    const std::vector<double> total_ca = contributing_ca(given, topology);
    for (std::size_t p = 0; p < roles.size(); ++p) {
        if (roles[p] != Role::sized || !(total_ca[topology.pipe_ends[p].first] > 0.0)) continue;
        if (!(given.pipes[p].n > 0.0 && pipe_slopes(given, topology, p).used_slope > 0.0)) roles[p] = Role::cannot_carry;
    }
}

// The first structure id given twice, for the message.
std::optional<std::string> duplicate_node(const Network& network) {
    std::unordered_map<std::string_view, std::size_t> seen;
    seen.reserve(network.nodes.size());
    for (std::size_t v = 0; v < network.nodes.size(); ++v) {
        const auto [at, fresh] = seen.try_emplace(network.nodes[v].id, v);
        if (!fresh) return messages::duplicate_node(network.nodes[v].id, at->second, v);
    }
    return std::nullopt;
}

// Outfalls, and with the profile the fixed_inverts structures.
std::vector<char> fixed_nodes(const Network& network, const Options& options) {
    const std::unordered_set<std::string_view> fixed(options.fixed_inverts.begin(), options.fixed_inverts.end());
    std::vector<char> flags(network.nodes.size(), 0);
    for (std::size_t v = 0; v < flags.size(); ++v) {
        const Node& node = network.nodes[v];
        flags[v] = node.kind == NodeKind::Outfall || (!fixed.empty() && fixed.count(node.id)) ? 1 : 0;
    }
    return flags;
}

}  // namespace

Options with_profile_defaults(Options options, const Network& network) {
    if (!options.profile) return options;
    if (options.defaulted.max_depth) options.max_depth = kDefaultMaxDepth;
    if (options.defaulted.max_velocity) options.max_velocity = kDefaultMaxVelocity;
    const double network_slope = network.settings.min_slope;
    if (options.defaulted.min_slope && std::isfinite(network_slope) && network_slope > 0.0) {
        options.min_slope = options.max_slope ? std::fmin(network_slope, *options.max_slope) : network_slope;
    }
    return options;
}

Designed design_network(const LoadedNetwork& loaded, std::string_view text, const Options& asked) {
    const Network& given = loaded.network;
    const Options options = with_profile_defaults(asked, given);
    Outcome<SizeTables> tables = size_tables(options, unit_of(loaded));
    if (!tables.ok()) return failed(true, std::move(tables.error));
    if (auto problem = check_limits(options, given)) return failed(true, std::move(*problem));
    const bool least_cost = options.objective == "cost";
    if (!least_cost && options.objective != "shallowest") return failed(true, messages::unknown_objective(options.objective));
    if (least_cost && !options.profile) return failed(true, messages::cost_needs_profile());
    if (!(std::isfinite(options.invert_step) && options.invert_step > 0.0)) {
        return failed(true, messages::bad_invert_step(options.invert_step));
    }

    // Pipes name their structures by id: with one id twice the design and the
    // analysis of its own output could join different structures.
    if (auto problem = duplicate_node(given)) return failed(false, std::move(*problem));
    Outcome<Topology> topology = build_topology(given);
    if (!topology.ok()) return failed(false, analysis_failed(topology.error));
    SizingPlan plan{*tables.value, options, pipe_roles(given, *tables.value, options),
                    std::vector<int>(given.pipes.size(), 0), unit_of(loaded), fixed_nodes(given, options)};
    if (!options.profile) mark_pipes_without_capacity(given, *topology.value, plan.roles);
    if (options.profile && !loaded.project) {
        // A project holds neither a fixed intensity nor an inlet time of 0 or less.
        if (given.settings.intensity) return failed(true, messages::rwn_not_a_project("a fixed INTENSITY"));
        for (const Node& node : given.nodes) {
            if (node.kind != NodeKind::Outfall && !(node.tc_inlet > 0.0)) {
                return failed(true, messages::rwn_not_a_project("node " + messages::quoted(node.id) +
                                                                "'s inlet time of 0 or less"));
            }
        }
    }

    // The sizes the hydraulics must work with are the kept ones and the
    // catalogue's; a given size that will be replaced may be anything.
    Network network = given;
    for (std::size_t p = 0; p < network.pipes.size(); ++p) {
        if (plan.roles[p] != Role::sized) continue;
        const CatalogueSize& first = plan.tables.shapes[network.pipes[p].shape.index()].front();
        network.pipes[p].shape = first.shape;
        network.pipes[p].diameter = first.diameter;
    }
    if (auto problem = check_values(network)) return failed(false, analysis_failed(*problem));
    std::optional<CostModel> model;
    if (options.profile) {
        Outcome<CostModel> made = cost_model(options, plan.tables, plan.roles, network, plan.unit);
        if (!made.ok()) return failed(true, std::move(made.error));
        model = std::move(made.value);
    }
    if (least_cost) {
        if (auto problem = check_cost_network(given, *topology.value, options)) return failed(false, std::move(*problem));
    }
    const Network start = least_cost ? network : Network{};

    Run run = run_design(std::move(network), *topology.value, plan);
    CostSummary cost;
    std::vector<Violation> extra;
    if (least_cost) {
        const double shallowest = design_cost(*model, run.network, *topology.value, run.choices, plan.tables).total;
        CostRun cheapest = run_cost_design(start, *topology.value, plan, *model, run);
        run = std::move(cheapest.run);
        for (const Infeasible& where : cheapest.infeasible) {
            extra.push_back({"infeasible", where.pipe, messages::no_grid_design(where.pipe, where.reason)});
        }
        if (!cheapest.flows_repeat) extra.push_back({"flows", "", messages::flows_do_not_repeat(run.rounds)});
        cost.has_shallowest = true;
        cost.shallowest_total = shallowest;
        cost.flows_repeat = cheapest.flows_repeat;
    }
    std::vector<Violation> found = violations(given, *topology.value, run, plan);
    found.insert(found.end(), extra.begin(), extra.end());
    if (model) {
        CostSummary summary = design_cost(*model, run.network, *topology.value, run.choices, plan.tables);
        summary.objective = options.objective;
        summary.has_shallowest = cost.has_shallowest;
        summary.shallowest_total = cost.shallowest_total;
        summary.flows_repeat = cost.flows_repeat;
        cost = std::move(summary);
    }
    std::string sized;
    if (options.profile) {
        sized = profiled_project(loaded.project ? *loaded.project : project_of(given), given, run, plan);
    } else {
        sized = loaded.project ? sized_project(*loaded.project, given, run, plan.tables)
                               : sized_rwn(text, given, run.network);
    }
    Designed designed;
    designed.json = result_json(given, *topology.value, options.profile, run, found, sized, model ? &cost : nullptr);
    return designed;
}

}  // namespace rillwright::design
