#include "service_sample.hpp"

#include <cmath>
#include <cstring>
#include <limits>

#include "network_passes.hpp"
#include "sections.hpp"

namespace rillwright {

namespace {

// The surcharge flag as results report it: an adverse pipe, or one with neither
// slope nor capacity, is not reported as surcharged.
bool reported_surcharge(const PipeResult& pipe) {
    return pipe.surcharged && !(pipe.used_slope < 0.0) && !(pipe.slope <= 0.0 && pipe.capacity <= 0.0);
}

double difference(const std::optional<double>& value, double reference) {
    return value ? *value - reference : -std::numeric_limits<double>::infinity();
}

// The larger, the first when they are equal or the second is NaN.
double larger(double a, double b) { return b > a ? b : a; }

template <class T>
void put(std::string& out, const std::vector<T>& values) {
    out.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

template <class T>
const char* take(const char* at, std::size_t count, std::vector<T>* values) {
    values->resize(count);
    std::memcpy(values->data(), at, count * sizeof(T));
    return at + count * sizeof(T);
}

Sample reduce(const Network& network, const Topology& topology, const DesignFlows& design,
              const AnalysisResult& result) {
    const std::size_t nodes = network.nodes.size();
    const std::size_t pipes = network.pipes.size();
    Sample s;
    s.margins.reserve(nodes + 2 * pipes);
    s.flags.reserve(nodes + 2 * pipes);
    for (std::size_t v = 0; v < nodes; ++v) {
        s.margins.push_back(result.nodes[v].hgl - network.nodes[v].rim);
        s.flags.push_back(result.nodes[v].floods ? 1 : 0);
    }
    for (std::size_t p = 0; p < pipes; ++p) {
        s.margins.push_back(result.pipes[p].design_q - design.pipes[p].max_capacity);
        s.flags.push_back(reported_surcharge(result.pipes[p]) ? 1 : 0);
    }
    for (std::size_t p = 0; p < pipes; ++p) {
        const PipeResult& pipe = result.pipes[p];
        const double rise = shape_rise(network.pipes[p].shape);
        const PipeInverts inverts = pipe_inverts(network, topology, p);
        const double crown_up = inverts.up + rise;
        const double crown_dn = inverts.down + rise;
        const double above = larger(difference(pipe.hgl_up, crown_up), difference(pipe.hgl_dn, crown_dn));
        s.margins.push_back(above);
        s.flags.push_back(above > 0.0 ? 1 : 0);
    }
    return s;
}

}  // namespace

std::size_t sample_size(std::size_t nodes, std::size_t pipes) {
    return (nodes + 2 * pipes) * (sizeof(double) + 1);
}

std::string pack_sample(const Sample& sample) {
    std::string out;
    out.reserve(sample.margins.size() * (sizeof(double) + 1));
    put(out, sample.margins);
    put(out, sample.flags);
    return out;
}

Outcome<Sample> unpack_sample(std::string_view bytes, std::size_t nodes, std::size_t pipes) {
    if (bytes.size() != sample_size(nodes, pipes))
        return Outcome<Sample>::failure("a sample does not belong to this network");
    const std::size_t conditions = nodes + 2 * pipes;
    Sample s;
    const char* at = bytes.data();
    at = take(at, conditions, &s.margins);
    take(at, conditions, &s.flags);
    return Outcome<Sample>::success(std::move(s));
}

Outcome<Sample> scenario_sample(const Network& network) {
    Outcome<Topology> topology = build_topology(network);
    if (!topology.ok()) return Outcome<Sample>::failure(std::move(topology.error));
    if (auto problem = check_values(network)) return Outcome<Sample>::failure(std::move(*problem));
    // The capacity scan does not depend on the flow: the run's own forward pass
    // gives the capacities the surcharge flag compares with.
    const DesignFlows design = design_flows(network, *topology.value);
    const GradeLine grade = grade_line(network, *topology.value, design);
    const AnalysisResult result = assemble_result(network, *topology.value, design, grade);
    return Outcome<Sample>::success(reduce(network, *topology.value, design, result));
}

}  // namespace rillwright
