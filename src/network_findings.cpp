// The check report's findings that need only the records and the topology. The
// analysis stops at the first unknown node, loop or rejected value; this stage
// goes on and lists every one, then the shapes of network that the analysis
// accepts but that an engineer should look at.
#include "names.hpp"
#include "network_findings.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "json_writer.hpp"
#include "network_checks.hpp"
#include "sections.hpp"

namespace rillwright {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
constexpr double kAdverseSlope = -kFlatSlope;  // the analysis's own limit
constexpr double kRimTolerance = 1e-6;          // ft: a crown flush with the rim is not above it

// ---- Messages: every text of this stage ------------------------------------

std::string quoted(std::string_view id) {
    std::string text = "'";
    return text.append(id).append("'");
}

std::string number_text(double value, const char* format) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// "'P1'", "'P1' and 'P2'", "'P1', 'P2' and 'P3'"
std::string id_list(const std::vector<std::string>& ids) {
    std::string text;
    for (std::size_t k = 0; k < ids.size(); ++k) {
        if (k > 0) text.append(k + 1 == ids.size() ? " and " : ", ");
        text.append(quoted(ids[k]));
    }
    return text;
}

std::string times_text(std::size_t count) {
    if (count == 2) return "twice";
    return std::to_string(count) + " times";
}

namespace text {

std::string unknown_node(std::string_view pipe, std::string_view end, std::string_view node) {
    return "pipe " + quoted(pipe) + " names " + std::string(end) + " node " + quoted(node) +
           ", which does not exist";
}

// "loop: C4 J4->J5, P5 J5->J4": each pipe of the loop with its ends, in flow order.
std::string cycle(const std::vector<std::string>& nodes, const std::vector<std::string>& pipes, std::size_t others) {
    std::string text = "loop: ";
    for (std::size_t k = 0; k < pipes.size(); ++k) {
        if (k > 0) text.append(", ");
        text.append(pipes[k]).append(" ").append(nodes[k]).append("->").append(nodes[(k + 1) % nodes.size()]);
    }
    if (others > 0) {
        text.append(" (").append(std::to_string(others)).append(others == 1 ? " more structure" : " more structures");
        text.append(" in loops with it)");
    }
    return text.append("; the analysis is for trees (networks without loops)");
}

std::string duplicate_node(std::string_view id, std::size_t count) {
    return "node id " + quoted(id) + " is used by " + std::to_string(count) +
           " nodes; pipes attach to the last of them, the others are left without pipes";
}

std::string duplicate_pipe(std::string_view id, std::size_t count) {
    return "pipe id " + quoted(id) + " is used by " + std::to_string(count) +
           " pipes; all are analysed, but a look-up by id finds only the first";
}

std::string dead_end(std::string_view node, bool has_inflow) {
    if (!has_inflow) return "structure " + quoted(node) + " is not an outfall and has no pipes; its runoff goes nowhere";
    return "structure " + quoted(node) + " is not an outfall and no pipe leaves it; its water is taken as leaving freely";
}

std::string several_outlets(std::string_view node, const std::vector<std::string>& pipes) {
    return "structure " + quoted(node) + " has " + std::to_string(pipes.size()) + " pipes leaving it (" +
           id_list(pipes) + "); each carries the whole flow from upstream";
}

std::string parallel(const std::vector<std::string>& pipes, std::string_view from, std::string_view to) {
    return "pipes " + id_list(pipes) + (pipes.size() == 2 ? " both" : " all") + " run from " + quoted(from) + " to " + quoted(to) + "; " + quoted(to) +
           " receives the flow from " + quoted(from) + " " + times_text(pipes.size());
}

std::string adverse(std::string_view pipe, std::string_view from, std::string_view to, double slope) {
    return "pipe " + quoted(pipe) + " runs uphill from " + quoted(from) + " to " + quoted(to) + " (slope " +
           number_text(slope, "%.4g") + " ft/ft); it can carry flow only under pressure";
}

std::string zero_length(std::string_view pipe, double min_slope) {
    return "pipe " + quoted(pipe) + " has zero length; it takes the minimum slope " + number_text(min_slope, "%g") +
           " and adds no travel time";
}

std::string flat(std::string_view pipe, double slope, double min_slope) {
    return "pipe " + quoted(pipe) + " is flat (slope " + number_text(slope, "%.3g") +
           " ft/ft); it is analysed at the minimum slope " + number_text(min_slope, "%g");
}

std::string crown_above_rim(std::string_view pipe, std::string_view end, std::string_view node, double height) {
    return "pipe " + quoted(pipe) + " has its crown " + number_text(height, "%.2f") + " ft above the rim of " +
           quoted(node) + " at its " + std::string(end) + " end";
}

std::string unknown_kind(std::string_view node, std::string_view kind) {
    return "node " + quoted(node) + " has kind " + quoted(kind) +
           ", which is read as an inlet (the kinds are inlet, junction and outfall, in lower case)";
}

std::string unknown_shape(std::string_view pipe, std::string_view shape) {
    return "pipe " + quoted(pipe) + " has shape " + quoted(shape) +
           ", which is read as circular (the shapes are circular, box, elliptical and arch, in lower case)";
}

std::string shape_without_size(std::string_view pipe, std::string_view shape, double diameter) {
    return "pipe " + quoted(pipe) + " is " + std::string(shape) + " without a positive rise_ft and span_ft; it is read as " +
           "circular of diameter " + number_text(diameter, "%g");
}

std::string smaller_downstream(std::string_view pipe, double rise, std::string_view node, std::string_view larger,
                               double larger_rise) {
    return "pipe " + quoted(pipe) + " (rise " + number_text(rise, "%.3g") + " ft) leaving " + quoted(node) +
           " is smaller than pipe " + quoted(larger) + " (rise " + number_text(larger_rise, "%.3g") +
           " ft) entering it";
}

std::string catchment_without_inlet(std::string_view catchment) {
    return "catchment " + quoted(catchment) + " names no inlet node; its runoff is left out";
}

std::string catchment_unknown_inlet(std::string_view catchment, std::string_view node) {
    return "catchment " + quoted(catchment) + " drains to node " + quoted(node) +
           ", which does not exist; its runoff is left out";
}

std::string large_area(std::string_view node, double area) {
    return "the contributing area at " + quoted(node) + " is " + number_text(area, "%.1f") +
           " ac, more than the 200 ac the rational method is usually used for";
}

}  // namespace text

// ---- The network as a graph of the pipes whose ends both exist --------------

struct Graph {
    std::vector<std::size_t> node_of_pipe_from;  // per pipe; kNone when missing
    std::vector<std::size_t> node_of_pipe_to;
    std::vector<std::vector<PipeLink>> outgoing;  // per node, in pipe order
    std::vector<std::vector<PipeLink>> incoming;
    std::vector<bool> reachable;  // per node: the last node of its id, the one pipes attach to

    bool resolved(std::size_t pipe) const { return node_of_pipe_from[pipe] != kNone && node_of_pipe_to[pipe] != kNone; }
};

Graph build_graph(const Network& network, std::vector<Finding>& errors) {
    const std::size_t node_count = network.nodes.size();
    std::unordered_map<std::string_view, std::size_t> index;
    index.reserve(node_count);
    for (std::size_t i = 0; i < node_count; ++i) index[network.nodes[i].id] = i;  // the last id wins

    Graph graph;
    graph.outgoing.resize(node_count);
    graph.incoming.resize(node_count);
    graph.reachable.assign(node_count, false);
    for (const auto& [id, i] : index) graph.reachable[i] = true;
    const auto find = [&](const Pipe& pipe, const std::string& node, std::string_view end) {
        const auto found = index.find(node);
        if (found != index.end()) return found->second;
        errors.push_back({Severity::error, "unknown-node", {pipe.id, node}, text::unknown_node(pipe.id, end, node)});
        return kNone;
    };
    for (std::size_t p = 0; p < network.pipes.size(); ++p) {
        const Pipe& pipe = network.pipes[p];
        const std::size_t from = find(pipe, pipe.from, "upstream");
        const std::size_t to = find(pipe, pipe.to, "downstream");
        graph.node_of_pipe_from.push_back(from);
        graph.node_of_pipe_to.push_back(to);
        if (from == kNone || to == kNone) continue;
        graph.outgoing[from].push_back(PipeLink{p, to});
        graph.incoming[to].push_back(PipeLink{p, from});
    }
    return graph;
}

// Strongly connected components (Tarjan, iterative): per node, its component.
std::vector<std::size_t> components(const Graph& graph) {
    const std::size_t n = graph.outgoing.size();
    std::vector<std::size_t> component(n, kNone), low(n, 0), order(n, kNone);
    std::vector<bool> on_stack(n, false);
    std::vector<std::size_t> stack;
    std::vector<std::pair<std::size_t, std::size_t>> calls;  // (node, next link)
    std::size_t counter = 0, count = 0;
    for (std::size_t root = 0; root < n; ++root) {
        if (order[root] != kNone) continue;
        calls.emplace_back(root, 0);
        while (!calls.empty()) {
            auto& [v, next] = calls.back();
            if (next == 0 && order[v] == kNone) {
                order[v] = low[v] = counter++;
                stack.push_back(v);
                on_stack[v] = true;
            }
            if (next < graph.outgoing[v].size()) {
                const std::size_t w = graph.outgoing[v][next++].node;
                if (order[w] == kNone) {
                    calls.emplace_back(w, 0);
                } else if (on_stack[w]) {
                    low[v] = std::min(low[v], order[w]);
                }
                continue;
            }
            const std::size_t done = v;
            calls.pop_back();
            if (!calls.empty()) low[calls.back().first] = std::min(low[calls.back().first], low[done]);
            if (low[done] == order[done]) {
                std::size_t w;
                do {
                    w = stack.back();
                    stack.pop_back();
                    on_stack[w] = false;
                    component[w] = count;
                } while (w != done);
                ++count;
            }
        }
    }
    return component;
}

// The shortest loop through `start` inside its component, as (nodes, pipes) in flow order.
std::pair<std::vector<std::size_t>, std::vector<std::size_t>> loop_through(const Graph& graph,
                                                                          const std::vector<std::size_t>& component,
                                                                          std::size_t start) {
    std::map<std::size_t, PipeLink> came_from;  // node -> (pipe, previous node)
    std::vector<std::size_t> queue{start};
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::size_t u = queue[head];
        for (const PipeLink& link : graph.outgoing[u]) {
            if (component[link.node] != component[start]) continue;
            if (link.node == start) {
                std::vector<std::size_t> nodes, pipes{link.pipe};
                for (std::size_t v = u; v != start; v = came_from.at(v).node) {
                    nodes.push_back(v);
                    pipes.push_back(came_from.at(v).pipe);
                }
                nodes.push_back(start);
                std::reverse(nodes.begin(), nodes.end());
                std::reverse(pipes.begin(), pipes.end());
                return {nodes, pipes};
            }
            if (link.node != start && !came_from.count(link.node)) {
                came_from.emplace(link.node, PipeLink{link.pipe, u});
                queue.push_back(link.node);
            }
        }
    }
    return {};  // not reached: every node of a loop's component lies on a loop through start
}

// One finding per group of structures caught in loops, naming its shortest
// loop through the first of them in input order. Returns whether any loop exists.
bool find_loops(const Network& network, const Graph& graph, std::vector<Finding>& out) {
    const std::vector<std::size_t> component = components(graph);
    std::vector<std::size_t> size(network.nodes.size() + 1, 0);
    for (std::size_t c : component) ++size[c];
    std::vector<bool> reported(size.size(), false);
    bool any = false;
    for (std::size_t i = 0; i < network.nodes.size(); ++i) {
        const std::size_t c = component[i];
        if (reported[c]) continue;
        const bool self_loop = std::any_of(graph.outgoing[i].begin(), graph.outgoing[i].end(),
                                           [&](const PipeLink& link) { return link.node == i; });
        if (size[c] < 2 && !self_loop) continue;
        reported[c] = true;
        any = true;
        const auto [nodes, pipes] = loop_through(graph, component, i);
        Finding finding{Severity::error, "cycle", {}, {}};
        std::vector<std::string> node_ids, pipe_ids;
        for (std::size_t k = 0; k < nodes.size(); ++k) {
            node_ids.push_back(network.nodes[nodes[k]].id);
            pipe_ids.push_back(network.pipes[pipes[k]].id);
            finding.ids.push_back(node_ids.back());
            finding.ids.push_back(pipe_ids.back());
        }
        finding.message = text::cycle(node_ids, pipe_ids, size[c] - nodes.size());
        out.push_back(std::move(finding));
    }
    return any;
}

void find_rejected_values(const Network& network, std::vector<Finding>& out) {
    for (RejectedValue& value : rejected_values(network, kNone)) {
        Finding finding{Severity::error, "rejected-value", {}, std::move(value.message)};
        if (value.owner == RejectedValue::Owner::node) finding.ids.push_back(network.nodes[value.index].id);
        if (value.owner == RejectedValue::Owner::pipe) finding.ids.push_back(network.pipes[value.index].id);
        out.push_back(std::move(finding));
    }
}

// Ids used more than once, in the order of their first use, with their counts.
template <class Record>
std::vector<std::pair<std::string_view, std::size_t>> repeated_ids(const std::vector<Record>& records) {
    std::unordered_map<std::string_view, std::size_t> counts;
    for (const Record& r : records) ++counts[r.id];
    std::vector<std::pair<std::string_view, std::size_t>> repeated;
    for (const Record& r : records) {
        auto found = counts.find(r.id);
        if (found->second > 1) {
            repeated.emplace_back(r.id, found->second);
            found->second = 0;  // report each id once
        }
    }
    return repeated;
}

void find_duplicates(const Network& network, std::vector<Finding>& out) {
    for (const auto& [id, count] : repeated_ids(network.nodes)) {
        out.push_back({Severity::warning, "duplicate-node", {std::string(id)}, text::duplicate_node(id, count)});
    }
    for (const auto& [id, count] : repeated_ids(network.pipes)) {
        out.push_back({Severity::warning, "duplicate-pipe", {std::string(id)}, text::duplicate_pipe(id, count)});
    }
}

void find_outlets(const Network& network, const Graph& graph, std::vector<Finding>& out) {
    for (std::size_t i = 0; i < network.nodes.size(); ++i) {
        const Node& node = network.nodes[i];
        if (!graph.reachable[i]) continue;  // a shadowed duplicate, reported as such
        if (graph.outgoing[i].empty() && node.kind != NodeKind::Outfall) {
            out.push_back({Severity::warning, "dead-end", {node.id}, text::dead_end(node.id, !graph.incoming[i].empty())});
        }
    }
    for (std::size_t i = 0; i < network.nodes.size(); ++i) {
        if (graph.outgoing[i].size() < 2) continue;
        Finding finding{Severity::warning, "several-outlets", {network.nodes[i].id}, {}};
        std::vector<std::string> pipes;
        for (const PipeLink& link : graph.outgoing[i]) pipes.push_back(network.pipes[link.pipe].id);
        finding.ids.insert(finding.ids.end(), pipes.begin(), pipes.end());
        finding.message = text::several_outlets(network.nodes[i].id, pipes);
        out.push_back(std::move(finding));
    }
    for (std::size_t i = 0; i < network.nodes.size(); ++i) {
        std::map<std::size_t, std::vector<std::string>> by_target;  // keeps the first pipe's order below
        std::vector<std::size_t> targets;
        for (const PipeLink& link : graph.outgoing[i]) {
            auto& pipes = by_target[link.node];
            if (pipes.empty()) targets.push_back(link.node);
            pipes.push_back(network.pipes[link.pipe].id);
        }
        for (std::size_t target : targets) {
            const auto& pipes = by_target[target];
            if (pipes.size() < 2) continue;
            out.push_back({Severity::warning, "parallel-pipes", pipes,
                           text::parallel(pipes, network.nodes[i].id, network.nodes[target].id)});
        }
    }
}

// A crown above the rim of the structure it enters or leaves: the pipe sticks out of
// the ground there (outfalls, whose rim is often nominal, are left out).
void find_crowns_above_rims(const Network& network, const Graph& graph, std::vector<Finding>& out) {
    for (std::size_t p = 0; p < network.pipes.size(); ++p) {
        const Pipe& pipe = network.pipes[p];
        if (!graph.resolved(p)) continue;
        const double rise = shape_rise(pipe.shape);
        const struct {
            std::size_t node;
            std::optional<double> invert;
            const char* end;
        } ends[] = {{graph.node_of_pipe_from[p], pipe.invert_up, "upstream"},
                    {graph.node_of_pipe_to[p], pipe.invert_dn, "downstream"}};
        for (const auto& end : ends) {
            const Node& node = network.nodes[end.node];
            const double above = end.invert.value_or(node.invert) + rise - node.rim;
            if (node.kind != NodeKind::Outfall && above > kRimTolerance) {
                out.push_back({Severity::warning, "crown-above-rim", {pipe.id, node.id},
                               text::crown_above_rim(pipe.id, end.end, node.id, above)});
            }
        }
    }
}

// Kind and shape texts that the conversion reads as its fallback: a capitalised word
// in a stored file changes the analysis without a word otherwise.
void find_texts(const Network& network, const Project& project, std::vector<Finding>& out) {
    for (const ProjectNode& node : project.nodes) {
        if (std::find(kNodeKindNames.begin(), kNodeKindNames.end(), node.kind) == kNodeKindNames.end())
            out.push_back({Severity::warning, "unknown-kind", {node.id}, text::unknown_kind(node.id, node.kind)});
    }
    for (std::size_t p = 0; p < project.pipes.size() && p < network.pipes.size(); ++p) {
        const ProjectPipe& pipe = project.pipes[p];
        if (std::find(kShapeNames.begin(), kShapeNames.end(), pipe.shape) == kShapeNames.end()) {
            out.push_back({Severity::warning, "unknown-shape", {pipe.id}, text::unknown_shape(pipe.id, pipe.shape)});
        } else if (pipe.shape != "circular" && !(pipe.rise_ft > 0.0 && pipe.span_ft > 0.0)) {
            out.push_back({Severity::warning, "shape-without-size", {pipe.id},
                           text::shape_without_size(pipe.id, pipe.shape, network.pipes[p].diameter)});
        }
    }
}

void find_pipe_shapes(const Network& network, const Graph& graph, std::vector<Finding>& out) {
    for (std::size_t p = 0; p < network.pipes.size(); ++p) {
        const Pipe& pipe = network.pipes[p];
        if (!graph.resolved(p)) continue;
        const double up = pipe.invert_up.value_or(network.nodes[graph.node_of_pipe_from[p]].invert);
        const double down = pipe.invert_dn.value_or(network.nodes[graph.node_of_pipe_to[p]].invert);
        const double slope = pipe.length > 0.0 ? (up - down) / pipe.length : 0.0;
        if (slope < kAdverseSlope) {
            out.push_back({Severity::warning, "adverse", {pipe.id}, text::adverse(pipe.id, pipe.from, pipe.to, slope)});
        } else if (pipe.length > 0.0 && std::fabs(slope) < kFlatSlope) {
            out.push_back({Severity::warning, "flat", {pipe.id}, text::flat(pipe.id, slope, network.settings.min_slope)});
        }
    }
    for (const Pipe& pipe : network.pipes) {
        if (pipe.length == 0.0)
            out.push_back({Severity::warning, "zero-length", {pipe.id}, text::zero_length(pipe.id, network.settings.min_slope)});
    }
    find_crowns_above_rims(network, graph, out);
    for (std::size_t p = 0; p < network.pipes.size(); ++p) {
        if (!graph.resolved(p)) continue;
        const std::size_t node = graph.node_of_pipe_from[p];
        const double rise = shape_rise(network.pipes[p].shape);
        std::size_t largest = kNone;
        for (const PipeLink& in : graph.incoming[node]) {
            const double in_rise = shape_rise(network.pipes[in.pipe].shape);
            if (in_rise > rise && (largest == kNone || in_rise > shape_rise(network.pipes[largest].shape))) {
                largest = in.pipe;
            }
        }
        if (largest == kNone) continue;
        const Pipe& pipe = network.pipes[p];
        const Pipe& entering = network.pipes[largest];
        out.push_back({Severity::warning, "smaller-downstream", {pipe.id, entering.id},
                       text::smaller_downstream(pipe.id, rise, network.nodes[node].id, entering.id,
                                                shape_rise(entering.shape))});
    }
}

void find_catchments(const Network& network, const Project& project, std::vector<Finding>& out) {
    std::unordered_map<std::string_view, bool> ids;
    for (const Node& node : network.nodes) ids.emplace(node.id, true);
    for (const ProjectCatchment& catchment : project.catchments) {
        if (!catchment.inlet_node_id) {
            out.push_back({Severity::warning, "catchment-without-inlet", {catchment.id},
                           text::catchment_without_inlet(catchment.id)});
        } else if (!ids.count(*catchment.inlet_node_id)) {
            out.push_back({Severity::warning, "catchment-without-inlet", {catchment.id, *catchment.inlet_node_id},
                           text::catchment_unknown_inlet(catchment.id, *catchment.inlet_node_id)});
        }
    }
}

// The structures where the contributing area first rises above the rational
// method's range; the ones below them are larger still and not repeated.
void find_large_areas(const Network& network, const Graph& graph, std::vector<Finding>& out) {
    const std::size_t n = network.nodes.size();
    std::vector<std::size_t> pending(n);
    std::vector<std::size_t> ready;
    for (std::size_t i = 0; i < n; ++i) {
        pending[i] = graph.incoming[i].size();
        if (pending[i] == 0) ready.push_back(i);
    }
    std::vector<double> area(n, 0.0);
    std::vector<bool> first_above(n, false);
    while (!ready.empty()) {
        const std::size_t v = ready.back();
        ready.pop_back();
        double total = network.nodes[v].area_ac;
        bool above_upstream = false;
        for (const PipeLink& in : graph.incoming[v]) {
            total += area[in.node];
            above_upstream = above_upstream || area[in.node] > kLargestRationalArea;
        }
        area[v] = total;
        first_above[v] = total > kLargestRationalArea && !above_upstream;
        for (const PipeLink& link : graph.outgoing[v]) {
            if (--pending[link.node] == 0) ready.push_back(link.node);
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (first_above[i]) {
            out.push_back({Severity::warning, "large-area", {network.nodes[i].id},
                           text::large_area(network.nodes[i].id, area[i])});
        }
    }
}

}  // namespace

const char* severity_name(Severity severity) {
    switch (severity) {
        case Severity::error: return "error";
        case Severity::warning: return "warning";
        case Severity::note: return "note";
    }
    return "note";
}

std::vector<Finding> network_findings(const Network& network, const Project* project) {
    std::vector<Finding> found;
    const Graph graph = build_graph(network, found);
    const bool loops = find_loops(network, graph, found);
    find_rejected_values(network, found);
    find_duplicates(network, found);
    find_outlets(network, graph, found);
    find_pipe_shapes(network, graph, found);
    if (project) find_texts(network, *project, found);
    if (project) find_catchments(network, *project, found);
    if (!loops) find_large_areas(network, graph, found);
    return found;
}

std::string findings_json(const std::vector<Finding>& findings) {
    JsonWriter w(JsonWriter::Style::compact);
    w.begin_array();
    for (const Finding& f : findings) {
        w.element();
        w.begin_object();
        w.text("severity", severity_name(f.severity));
        w.text("code", f.code);
        w.key("ids");
        w.begin_array();
        for (const std::string& id : f.ids) {
            w.element();
            w.text(id);
        }
        w.end_array();
        w.text("message", f.message);
        w.end_object();
    }
    w.end_array();
    return w.take();
}

}  // namespace rillwright
