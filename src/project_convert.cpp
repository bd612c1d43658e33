// A project as an analysis network: SI lengths, areas and IDF coefficients to
// US customary, node kinds and pipe shapes from their texts, catchments merged
// into their inlet nodes, the IDF curve and frequency factor of the design
// return period.
#include <cmath>
#include <cstdint>
#include <string_view>
#include <unordered_map>

#include "names.hpp"
#include "project.hpp"

namespace rillwright {

namespace {

constexpr double kAcresPerHectare = 2.4710516301527603;
constexpr double kInchesPerMillimetre = 0.03937007874015748;
constexpr double kSquareFeetPerAcre = 43560.0;
constexpr double kDefaultAccessHoleFt = 4.0;
constexpr double kDefaultAccessHoleSiFt = 13.123359580052492;  // 4 m

constexpr double kKirpichCoefficient = 0.0078;
constexpr double kKirpichLengthExponent = 0.77;
constexpr double kKirpichSlopeExponent = -0.385;

constexpr double kLargestU32 = 4294967295.0;

constexpr std::string_view kEnergyMethod = "hec22_energy";

// Multiplies lengths by the feet-per-metre constant in an SI project only.
struct LengthScale {
    bool si;
    double operator()(double value) const { return si ? value * kFeetPerMetre : value; }
};

// A NaN operand loses to the other.
double max_number(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return a < b ? b : a;
}

Node convert_node(const ProjectNode& source, bool si, LengthScale feet) {
    const double invert = feet(source.invert);
    const double rim = feet(source.rim);
    const double area = si ? source.area_ac * kAcresPerHectare : source.area_ac;
    Node node = source.kind == "junction" ? make_junction(source.id, invert, rim, area, source.c)
                : source.kind == "outfall" ? make_outfall(source.id, invert, rim)
                                           : make_inlet(source.id, invert, rim, area, source.c);
    if (source.tc_inlet > 0.0) node.tc_inlet = source.tc_inlet;
    node.x = feet(source.x);
    node.y = feet(source.y);
    node.benching = source.benching;
    return node;
}

Pipe convert_pipe(const ProjectPipe& source, LengthScale feet) {
    const double length = feet(source.length);
    const bool sized = source.rise_ft > 0.0 && source.span_ft > 0.0;
    Pipe pipe;
    if (sized && source.shape == "elliptical") {
        pipe = make_elliptical_pipe(source.id, source.from, source.to, length, feet(source.rise_ft),
                                    feet(source.span_ft), source.n);
    } else if (sized && source.shape == "arch") {
        pipe = make_arch_pipe(source.id, source.from, source.to, length, feet(source.rise_ft), feet(source.span_ft),
                              source.n);
    } else if (sized && source.shape == "box") {
        pipe = make_box_pipe(source.id, source.from, source.to, length, feet(source.rise_ft), feet(source.span_ft),
                             source.n);
    } else {
        pipe = make_circular_pipe(source.id, source.from, source.to, length, feet(source.diameter), source.n);
    }
    if (source.invert_up) pipe.invert_up = feet(*source.invert_up);
    if (source.invert_dn) pipe.invert_dn = feet(*source.invert_dn);
    return pipe;
}

// Shoelace area of the polygon in square feet; fewer than three corners enclose nothing.
double polygon_area_sqft(const std::vector<Vertex>& vertices) {
    const std::size_t count = vertices.size();
    if (count < 3) return 0.0;
    double sum = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        const Vertex& here = vertices[k];
        const Vertex& next = vertices[(k + 1) % count];
        sum += here.x * next.y - next.x * here.y;
    }
    return std::fabs(sum) * 0.5;
}

// Kirpich time of concentration in minutes; 0 without a positive length and slope.
double kirpich_tc(double flow_length_ft, double slope) {
    if (!(flow_length_ft > 0.0 && slope > 0.0)) return 0.0;
    return std::pow(slope, kKirpichSlopeExponent) *
           (std::pow(flow_length_ft, kKirpichLengthExponent) * kKirpichCoefficient);
}

// The first node of each id, so that many catchments cost one lookup each.
using FirstNodeIndex = std::unordered_map<std::string_view, std::size_t>;

FirstNodeIndex index_first_nodes(const std::vector<Node>& nodes) {
    FirstNodeIndex index;
    index.reserve(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) index.try_emplace(nodes[i].id, i);
    return index;
}

void merge_catchment(std::vector<Node>& nodes, const FirstNodeIndex& first_node, const ProjectCatchment& catchment) {
    if (!catchment.inlet_node_id) return;
    const double area = polygon_area_sqft(catchment.vertices) / kSquareFeetPerAcre;
    if (area == 0.0) return;
    const double tc = kirpich_tc(catchment.flow_length_ft, catchment.slope);
    const auto found = first_node.find(*catchment.inlet_node_id);
    if (found == first_node.end()) return;
    Node& node = nodes[found->second];
    const double total = area + node.area_ac;
    if (total > 0.0) {
        node.c = (area * catchment.c + node.area_ac * node.c) / total;
        node.area_ac = total;
    }
    node.tc_inlet = max_number(node.tc_inlet, tc);
}

// Rounded half away from zero, at least 1 (NaN included), at most the largest u32.
std::uint32_t rounded_return_period(double years) {
    const double rounded = std::round(years);
    if (!(rounded >= 1.0)) return 1;
    if (rounded >= kLargestU32) return UINT32_MAX;
    return static_cast<std::uint32_t>(rounded);
}

// Cut toward zero: negative and NaN give 0, values past the largest u32 saturate.
std::uint32_t truncated_return_period(double years) {
    if (!(years > 0.0)) return 0;
    if (years >= kLargestU32) return UINT32_MAX;
    return static_cast<std::uint32_t>(years);
}

DesignSettings convert_settings(const Project& project, bool si, LengthScale feet) {
    DesignSettings settings;
    if (project.tailwater) {
        settings.tailwater = feet(*project.tailwater);
    } else {
        settings.tailwater.reset();
    }
    settings.intensity.reset();
    settings.min_tc = project.min_tc;
    settings.junction_k = project.junction_k;
    settings.min_slope = project.min_slope;
    settings.bend_loss_coeff = project.bend_loss_coeff;
    settings.access_hole_diam_ft = project.access_hole_diam_ft > 0.0 ? feet(project.access_hole_diam_ft)
                                   : si                              ? kDefaultAccessHoleSiFt
                                                                     : kDefaultAccessHoleFt;
    settings.hec22_structure_loss = project.hec22_structure_loss;
    settings.energy_structure_loss = project.structure_loss_method == kEnergyMethod;
    settings.structure_loss_factor = 1.0;
    settings.frequency_factor = frequency_factor(project.design_return_period_years);
    return settings;
}

}  // namespace

double project_length_feet(double value, UnitSystem units) { return LengthScale{units == UnitSystem::si}(value); }

double frequency_factor(double design_return_period_years) {
    const std::uint32_t years = truncated_return_period(design_return_period_years);
    if (years <= 10) return 1.0;
    if (years <= 25) return 1.1;
    if (years <= 50) return 1.2;
    return 1.25;
}

IdfCurve select_idf_curve(const Project& project) {
    const std::uint32_t rp = rounded_return_period(project.design_return_period_years);
    IdfCurve curve{project.idf_a, project.idf_b, project.idf_c};
    for (const IdfCurveEntry& entry : project.idf_curves) {
        if (entry.rp_years == rp) {
            curve = IdfCurve{entry.a, entry.b, entry.c};
            break;
        }
    }
    if (project.units == UnitSystem::si) curve.idf_a *= kInchesPerMillimetre;
    return curve;
}

Network convert_project(const Project& project) {
    const bool si = project.units == UnitSystem::si;
    const LengthScale feet{si};
    Network network;
    network.nodes.reserve(project.nodes.size());
    for (const ProjectNode& node : project.nodes) network.nodes.push_back(convert_node(node, si, feet));
    network.pipes.reserve(project.pipes.size());
    for (const ProjectPipe& pipe : project.pipes) network.pipes.push_back(convert_pipe(pipe, feet));
    if (!project.catchments.empty()) {
        const FirstNodeIndex first_node = index_first_nodes(network.nodes);
        for (const ProjectCatchment& catchment : project.catchments) {
            merge_catchment(network.nodes, first_node, catchment);
        }
    }
    network.idf = select_idf_curve(project);
    network.settings = convert_settings(project, si, feet);
    return network;
}

}  // namespace rillwright
