// The network model, its topology and the design analysis (rational-method
// forward pass, hydraulic grade line backward pass). Always US customary units:
// ft, acres, minutes, in/hr, cfs.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "energy_loss.hpp"
#include "outcome.hpp"
#include "sections.hpp"

namespace rillwright {

enum class NodeKind { Inlet, Junction, Outfall };

struct Node {
    std::string id;
    NodeKind kind = NodeKind::Inlet;
    double x = 0.0;
    double y = 0.0;
    double invert = 0.0;
    double rim = 0.0;
    double area_ac = 0.0;
    double c = 0.0;
    double tc_inlet = 0.0;
    Benching benching = Benching::flat;  // read only by the energy-level structure loss
};

Node make_inlet(std::string id, double invert, double rim, double area_ac, double c);
Node make_junction(std::string id, double invert, double rim, double area_ac, double c);
Node make_outfall(std::string id, double invert, double rim);

struct Pipe {
    std::string id;
    std::string from;
    std::string to;
    double length = 0.0;
    double diameter = 0.0;  // equivalent diameter for non-circular shapes
    double n = 0.0;
    PipeShape shape;
    std::optional<double> invert_up;
    std::optional<double> invert_dn;
};

Pipe make_circular_pipe(std::string id, std::string from, std::string to, double length, double diameter, double n);
Pipe make_box_pipe(std::string id, std::string from, std::string to, double length, double rise, double span, double n);
Pipe make_elliptical_pipe(std::string id, std::string from, std::string to, double length, double rise, double span,
                          double n);
Pipe make_arch_pipe(std::string id, std::string from, std::string to, double length, double rise, double span, double n);

struct IdfCurve {
    double idf_a = 120.0;
    double idf_b = 10.0;
    double idf_c = 0.8;
};

// Defaults are the plain-text format's start values.
struct DesignSettings {
    std::optional<double> tailwater;
    std::optional<double> intensity;
    double min_tc = 10.0;
    double junction_k = 0.5;
    double min_slope = 0.001;
    double bend_loss_coeff = 0.0;
    double access_hole_diam_ft = 4.0;
    bool hec22_structure_loss = false;
    bool energy_structure_loss = false;  // the 2009 energy-level method; overrides the two above
    double structure_loss_factor = 1.0;
    double frequency_factor = 1.0;
};

struct Network {
    std::vector<Node> nodes;
    std::vector<Pipe> pipes;
    IdfCurve idf;
    DesignSettings settings;
};

// A pipe whose slope is smaller than this in magnitude is flat: the analysis
// uses the minimum slope for it; one below -kFlatSlope runs uphill (adverse).
inline constexpr double kFlatSlope = 1e-6;

struct PipeLink {
    std::size_t pipe;
    std::size_t node;  // the node at the other end of the pipe
};

// One list of links per node, all in one array (no allocation per node).
struct LinkLists {
    std::vector<std::size_t> starts;  // node v's links are links[starts[v] .. starts[v + 1])
    std::vector<PipeLink> links;

    std::span<const PipeLink> operator[](std::size_t node) const {
        return {links.data() + starts[node], links.data() + starts[node + 1]};
    }
};

struct Topology {
    std::vector<std::pair<std::size_t, std::size_t>> pipe_ends;  // (from, to) node indices
    LinkLists outgoing;                                           // per node, in pipe order
    LinkLists incoming;                                           // per node, in pipe order
    std::vector<std::size_t> order;                               // upstream before downstream
};

// Resolves pipe ends and orders the nodes; fails on an unknown node or a cycle.
Outcome<Topology> build_topology(const Network& network);

struct PipeResult {
    std::string id;
    std::string from;
    std::string to;
    double slope = 0.0;
    double total_ca = 0.0;
    double tc = 0.0;
    double travel_time = 0.0;
    double intensity = 0.0;
    double design_q = 0.0;
    double capacity = 0.0;
    double pct_full = 0.0;
    double velocity = 0.0;
    std::optional<double> normal_depth;
    double critical_depth = 0.0;
    std::optional<double> hgl_up;
    std::optional<double> hgl_dn;
    bool surcharged = false;
    double used_slope = 0.0;
};

struct NodeResult {
    std::string id;
    double tc = 0.0;
    double rim = 0.0;
    double hgl = 0.0;
    bool floods = false;
};

struct AnalysisResult {
    std::vector<PipeResult> pipes;
    std::vector<NodeResult> nodes;
};

Outcome<AnalysisResult> analyze_network(const Network& network);

}  // namespace rillwright
