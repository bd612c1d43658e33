// What a design hands back: the result as compact JSON, and the input with the
// new sizes. A .rwn text keeps every byte but the diameters of the resized
// PIPE lines; a project is written again by the project writer.
#include <bit>
#include <cstdint>
#include <unordered_map>

#include "design.hpp"
#include "design_cost.hpp"
#include "json_writer.hpp"
#include "parse.hpp"
#include "project.hpp"

namespace rillwright::design {

namespace {

bool same_double(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// The profile's keys of a pipe row: inverts given and designed, slope, cover.
void write_pipe_profile(JsonWriter& w, const Network& given, const Run& run, const Topology& topology, std::size_t p) {
    const PipeInverts before = pipe_inverts(given, topology, p);
    const PipeInverts after = pipe_inverts(run.network, topology, p);
    const auto [from, to] = topology.pipe_ends[p];
    const double rise = shape_rise(run.network.pipes[p].shape);
    w.number("given_invert_up", before.up);
    w.number("given_invert_dn", before.down);
    w.number("invert_up", after.up);
    w.number("invert_dn", after.down);
    w.number("slope", run.result.pipes[p].slope);
    w.number("cover_up", run.network.nodes[from].rim - (after.up + rise));
    w.number("cover_dn", run.network.nodes[to].rim - (after.down + rise));
    w.text("slope_governed_by", slope_governor_name(run.choices[p].slope_governed));
}

void write_pipe(JsonWriter& w, const Pipe& given, const Pipe& sized, const PipeResult& result,
                const PipeChoice& choice) {
    w.element();
    w.begin_object();
    w.text("id", sized.id);
    w.text("shape", kShapeNames[sized.shape.index()]);
    w.number("given_rise", shape_rise(given.shape));
    w.number("given_span", section_span(given.shape));
    w.number("rise", shape_rise(sized.shape));
    w.number("span", section_span(sized.shape));
    w.number("design_q", result.design_q);
    w.number("capacity", result.capacity);
    w.number("pct_full", result.pct_full);
    w.number("velocity", result.velocity);
    w.text("governed_by", governor_name(choice.governed));
}

// {"total", "pipes", "excavation", "structures", "objective"}, with the least
// cost also the shallowest-first design's total and whether the flows repeated.
void write_cost(JsonWriter& w, const CostSummary& cost) {
    w.key("cost");
    w.begin_object();
    w.number("total", cost.total);
    w.number("pipes", cost.pipes);
    w.number("excavation", cost.excavation);
    w.number("structures", cost.structures);
    w.text("objective", cost.objective);
    if (cost.has_shallowest) {
        w.number("shallowest_total", cost.shallowest_total);
        w.boolean("flows_repeat", cost.flows_repeat);
    }
    w.end_object();
}

void write_node(JsonWriter& w, const NodeResult& node) {
    w.element();
    w.begin_object();
    w.text("id", node.id);
    w.number("hgl", node.hgl);
    w.number("freeboard", node.rim - node.hgl);
    w.boolean("floods", node.floods);
}

}  // namespace

double structure_drop(const Network& network, const Topology& topology, std::size_t v) {
    double drop = 0.0;
    for (const PipeLink& in : topology.incoming[v]) {
        drop = max_of_numbers(drop, pipe_inverts(network, topology, in.pipe).down - network.nodes[v].invert);
    }
    return drop;
}

Project project_of(const Network& network) {
    Project project;
    project.idf_a = network.idf.idf_a;
    project.idf_b = network.idf.idf_b;
    project.idf_c = network.idf.idf_c;
    project.tailwater = network.settings.tailwater;
    project.min_tc = network.settings.min_tc;
    project.junction_k = network.settings.junction_k;
    project.min_slope = network.settings.min_slope;
    project.access_hole_diam_ft = network.settings.access_hole_diam_ft;
    for (const Node& node : network.nodes) {
        ProjectNode out;
        out.id = node.id;
        out.kind = std::string(kNodeKindNames[static_cast<std::size_t>(node.kind)]);
        out.x = node.x;
        out.y = node.y;
        out.invert = node.invert;
        out.rim = node.rim;
        out.area_ac = node.area_ac;
        out.c = node.c;
        out.tc_inlet = node.tc_inlet;
        project.nodes.push_back(std::move(out));
    }
    for (const Pipe& pipe : network.pipes) {
        ProjectPipe out;
        out.id = pipe.id;
        out.from = pipe.from;
        out.to = pipe.to;
        out.length = pipe.length;
        out.diameter = shape_rise(pipe.shape);
        out.n = pipe.n;
        project.pipes.push_back(std::move(out));
    }
    return project;
}

std::string profiled_project(const Project& project, const Network& given, const Run& run, const SizingPlan& plan) {
    Project sized = project;
    const std::string text = sized_project(project, given, run, plan.tables);
    sized = *parse_project(text).value;  // the sizes, as the plain design writes them
    std::vector<std::optional<double>> node_written(sized.nodes.size());
    std::unordered_map<std::string_view, std::size_t> node_index;
    for (std::size_t v = 0; v < run.network.nodes.size(); ++v) node_index.try_emplace(run.network.nodes[v].id, v);
    const auto offer = [&](const std::string& id, double feet, double written) {
        const auto found = node_index.find(id);
        if (found == node_index.end() || plan.fixed_nodes[found->second]) return;
        if (run.network.nodes[found->second].invert == feet) node_written[found->second] = written;
    };
    for (std::size_t p = 0; p < sized.pipes.size() && p < run.choices.size(); ++p) {
        const PipeChoice& choice = run.choices[p];
        const Pipe& pipe = run.network.pipes[p];
        sized.pipes[p].invert_up = choice.written_up;
        sized.pipes[p].invert_dn = choice.written_dn;
        offer(pipe.from, *pipe.invert_up, choice.written_up);
        offer(pipe.to, *pipe.invert_dn, choice.written_dn);
    }
    for (std::size_t v = 0; v < sized.nodes.size(); ++v) {
        if (node_written[v]) sized.nodes[v].invert = *node_written[v];
    }
    return write_project_json(sized);
}

namespace {

void write_node_profile(JsonWriter& w, const Run& run, const Topology& topology, std::size_t v) {
    w.number("invert", run.network.nodes[v].invert);
    w.number("drop", structure_drop(run.network, topology, v));
}

}  // namespace

const char* governor_name(Governor governor) {
    switch (governor) {
        case Governor::capacity: return "capacity";
        case Governor::minimum_size: return "minimum size";
        case Governor::no_smaller_downstream: return "no smaller downstream";
        case Governor::freeboard: return "freeboard";
        case Governor::fixed: return "fixed";
        case Governor::no_size_fits: return "no size fits";
        case Governor::least_cost: return "least cost";
    }
    return "";
}

std::string sized_rwn(std::string_view text, const Network& given, const Network& sized) {
    const std::vector<std::string_view> diameters = rwn_pipe_diameters(text);
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t copied = 0;
    for (std::size_t p = 0; p < diameters.size() && p < sized.pipes.size(); ++p) {
        const double diameter = shape_rise(sized.pipes[p].shape);
        if (same_double(diameter, shape_rise(given.pipes[p].shape))) continue;
        const auto at = static_cast<std::size_t>(diameters[p].data() - text.data());
        out.append(text.substr(copied, at - copied));
        append_shortest(out, diameter);  // reads back to the same double
        copied = at + diameters[p].size();
    }
    out.append(text.substr(copied));
    return out;
}

std::string sized_project(const Project& project, const Network& given, const Run& run, const SizeTables& tables) {
    Project sized = project;
    for (std::size_t p = 0; p < sized.pipes.size() && p < run.choices.size(); ++p) {
        const PipeChoice& choice = run.choices[p];
        if (choice.step < 0) continue;
        const std::size_t shape = given.pipes[p].shape.index();
        const CatalogueSize& size = tables.shapes[shape][static_cast<std::size_t>(choice.step)];
        ProjectPipe& pipe = sized.pipes[p];
        if (shape == 0) {
            pipe.diameter = size.written_rise;
        } else {
            pipe.rise_ft = size.written_rise;
            pipe.span_ft = size.written_span;
        }
    }
    return write_project_json(sized);
}

std::string result_json(const Network& given, const Topology& topology, bool profile, const Run& run,
                        const std::vector<Violation>& found, std::string_view sized, const CostSummary* cost) {
    JsonWriter w(JsonWriter::Style::compact);
    w.begin_object();
    w.key("pipes");
    w.begin_array();
    for (std::size_t p = 0; p < run.network.pipes.size(); ++p) {
        write_pipe(w, given.pipes[p], run.network.pipes[p], run.result.pipes[p], run.choices[p]);
        if (profile) write_pipe_profile(w, given, run, topology, p);
        if (cost) w.number("cost", cost->pipe_costs[p]);
        w.end_object();
    }
    w.end_array();
    w.key("nodes");
    w.begin_array();
    for (std::size_t v = 0; v < run.result.nodes.size(); ++v) {
        write_node(w, run.result.nodes[v]);
        if (profile) write_node_profile(w, run, topology, v);
        w.end_object();
    }
    w.end_array();
    w.key("violations");
    w.begin_array();
    for (const Violation& violation : found) {
        w.element();
        w.begin_object();
        w.text("kind", violation.kind);
        w.text("id", violation.id);
        w.text("message", violation.message);
        w.end_object();
    }
    w.end_array();
    w.integer("rounds", static_cast<std::uint32_t>(run.rounds));
    if (cost) write_cost(w, *cost);
    w.text("sized", sized);
    w.end_object();
    return w.take();
}

}  // namespace rillwright::design
