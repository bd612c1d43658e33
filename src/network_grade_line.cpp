// The hydraulic grade line, walked from the outfalls upstream. Each pipe is
// solved as a free supercritical outlet, a surcharged full pipe, or a part-full
// standard-step profile, and the loss of its upstream structure is added; under
// the energy-level method the structure takes its energy level instead, and the
// pipes entering it start from their own outlet faces.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cmath>
#include <limits>
#include <vector>

#include "network_conduit.hpp"
#include "network_energy_line.hpp"
#include "network_losses.hpp"
#include "network_passes.hpp"

namespace rillwright {

namespace {

constexpr double kNotSet = std::numeric_limits<double>::quiet_NaN();
constexpr double kShortestProfile = 1e-9;  // ft: shorter pipes carry the water surface straight up
constexpr double kSmallestDepth = 1e-4;    // ft: section values are taken at no less than this depth
constexpr int kReaches = 12;
constexpr int kMaxReachHalvings = 80;

// +1 or -1 by the sign bit (so -0 is negative); NaN for a NaN residual, which
// equals no sign.
double sign_of(double residual) {
    if (std::isnan(residual)) return residual;
    return std::signbit(residual) ? -1.0 : 1.0;
}

double clamp_depth(double depth, double rise) { return std::clamp(depth, kSmallestDepth, rise); }

// Everything one pipe's profile needs besides the downstream grade line.
struct PipeProfile {
    const Conduit& conduit;
    double q;
    double length;
    double invert_up;
    double invert_dn;
    double normal_or_rise;  // h0
    double critical;        // yc
};

// Energy terms at a depth, the section taken at the depth clamped into [1e-4, rise].
//
// Each section of one pipe's profile is computed once: every reach starts its
// bisection from the same critical depth, every trial above the crown takes the
// full section, and neighbouring reaches retrace the same first trial depths.
// The terms are a pure function of the clamped depth, so a remembered value is
// exactly the value a new computation would give.
class ProfileSections {
public:
    explicit ProfileSections(const PipeProfile& pipe) : pipe_(pipe) {}

    EnergyTerms terms_at(double depth) {
        const double section_depth = clamp_depth(depth, pipe_.conduit.rise);
        if (section_depth == pipe_.conduit.rise) {  // the full section, the commonest by far
            if (!full_) full_ = compute(section_depth);
            return *full_;
        }
        const auto key = std::bit_cast<std::uint64_t>(section_depth);
        Slot& slot = slots_[(key * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits)];
        if (slot.filled && slot.key == key) return slot.terms;
        slot = Slot{key, true, compute(section_depth)};
        return slot.terms;
    }

private:
    EnergyTerms compute(double section_depth) const {
        const SectionGeometry section = flow_geometry_at_depth(pipe_.conduit.shape, section_depth);
        return energy_terms(pipe_.conduit, pipe_.q, section);
    }

    static constexpr int kSlotBits = 6;
    struct Slot {
        std::uint64_t key = 0;
        bool filled = false;
        EnergyTerms terms;
    };
    const PipeProfile& pipe_;
    std::optional<EnergyTerms> full_;
    std::array<Slot, std::size_t{1} << kSlotBits> slots_{};
};

// One reach of the standard-step profile: the depth at the reach's upstream end.
double step_reach(const PipeProfile& pipe, ProfileSections& sections, double depth, double z_down, double z_up,
                  double dx, double critical, double fallback) {
    const EnergyTerms down = sections.terms_at(depth);
    const double energy_down = depth + z_down + down.velocity_head;
    // Depths above the crown use the full section: the excess is pressure head.
    const auto residual = [&](double trial) {
        const EnergyTerms up = sections.terms_at(trial);
        return trial + z_up + up.velocity_head -
               (energy_down + 0.5 * (down.friction_slope + up.friction_slope) * dx);
    };

    double lo = critical;
    double residual_lo = residual(lo);
    if (residual_lo == 0.0) return critical;
    double hi = std::max(depth + 2.0, 2.0 * pipe.conduit.rise);
    if (sign_of(residual_lo) == sign_of(residual(hi))) return fallback;
    for (int halvings = 1; halvings <= kMaxReachHalvings; ++halvings) {
        const double mid = (lo + hi) / 2.0;
        const double residual_mid = residual(mid);
        if (sign_of(residual_mid) == sign_of(residual_lo)) {
            lo = mid;
            residual_lo = residual_mid;
        } else {
            hi = mid;
        }
        if (hi - lo < kDepthTolerance) break;
    }
    return std::max((lo + hi) / 2.0, critical);
}

// Part-full flow, subcritical or with a drowned outlet: the water surface
// starts no lower than critical depth above the outlet invert.
double part_full_hgl_up(const PipeProfile& pipe, double hgl_down) {
    const double critical = std::max(pipe.critical, kSmallestDepth);
    const double start = max_of_numbers(hgl_down, pipe.invert_dn + critical);
    if (pipe.q <= 0.0 || pipe.length <= kShortestProfile) return start + (pipe.invert_up - pipe.invert_dn);

    const double s0 = (pipe.invert_up - pipe.invert_dn) / pipe.length;
    const double dx = pipe.length / kReaches;
    const double fallback = std::max(pipe.normal_or_rise, critical);
    double depth = std::max(start - pipe.invert_dn, critical);
    ProfileSections sections(pipe);
    for (int j = 0; j < kReaches; ++j) {
        const double z_down = pipe.invert_dn + j * dx * s0;
        const double z_up = pipe.invert_dn + (j + 1) * dx * s0;
        depth = step_reach(pipe, sections, depth, z_down, z_up, dx, critical, fallback);
    }
    return pipe.invert_up + depth;
}

// Full-pipe friction from the higher of the downstream grade line and the outlet crown.
double surcharged_hgl_up(const PipeProfile& pipe, double hgl_down) {
    const PipeShape& shape = pipe.conduit.shape;
    const FullSection f = full_section(shape);
    const SectionGeometry full{f.area, f.wetted_perimeter, f.hydraulic_radius, 0.0};
    const double friction = energy_terms(pipe.conduit, pipe.q, full).friction_slope;
    const double crown = pipe.invert_dn + pipe.conduit.rise;
    return max_of_numbers(hgl_down, crown) + friction * pipe.length;
}

// The grade line a pipe starts from at its outlet: node I's level, or the
// level at its own outlet face when I's level is an energy level.
double starting_level(const Network& network, const Topology& topology, const DesignFlows& design,
                      const std::vector<char>& energy_level, std::size_t pipe, std::size_t i, double hgl) {
    if (energy_level.empty() || !energy_level[i]) return hgl;
    return outlet_face_level(network, topology, design, pipe, hgl);
}

// The method that charges structure losses under these settings.
std::string_view loss_method(const DesignSettings& settings) {
    if (settings.energy_structure_loss) return kEnergyLevelMethod;
    return settings.hec22_structure_loss ? kAccessHoleMethod : kJunctionMethod;
}

void prepare_details(const Network& network, GradeLineDetails& details) {
    details.line.pipes.assign(network.pipes.size(), PipeEnergy{});
    details.line.nodes.assign(network.nodes.size(), StructureEnergy{});
    details.levels.assign(network.nodes.size(), kNotSet);
}

// One pipe's ends: velocity heads from the depths the pass took there, energy
// lines over the analysis' grade lines at those ends.
void record_pipe(GradeLineDetails& details, std::size_t pipe, double velocity_head_up, double velocity_head_dn,
                 double hgl_up, double hgl_dn, double structure_loss) {
    details.line.pipes[pipe] = {velocity_head_up, velocity_head_dn, hgl_up + velocity_head_up, hgl_dn + velocity_head_dn,
                                structure_loss};
}

// What structure J took from one pipe leaving it; kept when this pipe sets J's
// level as max_of_numbers does (the first of equal levels, a number over NaN).
void record_structure(GradeLineDetails& details, std::size_t node, StructureEnergy structure, double level) {
    double& kept = details.levels[node];
    const bool first = !details.line.nodes[node].pipe.has_value();
    const bool higher = kept < level || (std::isnan(kept) && !std::isnan(level));
    if (!first && !higher) return;
    kept = level;
    details.line.nodes[node] = std::move(structure);
}

StructureEnergy loss_record(const StructureLossParts& parts, bool access_hole) {
    StructureEnergy s;
    s.structure_loss = parts.loss;
    if (access_hole) {
        s.method = kAccessHoleMethod;
        s.coefficients = {{"k0", parts.k0},
                          {"depth_correction", parts.depth_correction},
                          {"diameter_correction", parts.diameter_correction},
                          {"factor", parts.factor},
                          {"k", parts.k}};
    } else {
        s.method = kJunctionMethod;
        s.coefficients = {{"junction_k", parts.junction_k}, {"bend", parts.bend}, {"k", parts.k}};
    }
    return s;
}

StructureEnergy energy_record(const EnergyStructure& e) {
    StructureEnergy s;
    s.method = kEnergyLevelMethod;
    s.structure_loss = e.ea - e.ei;
    s.coefficients = {{"cb", e.cb}, {"c_theta", e.c_theta}, {"cp", e.cp}, {"di", e.di},
                      {"ei", e.ei}, {"eai", e.eai},         {"ha", e.ha}, {"ea", e.ea}};
    return s;
}

}  // namespace

GradeLine grade_line(const Network& network, const Topology& topology, const DesignFlows& design) {
    return grade_line(network, topology, design, nullptr);
}

GradeLine grade_line(const Network& network, const Topology& topology, const DesignFlows& design,
                     GradeLineDetails* details) {
    const std::size_t pipe_count = network.pipes.size();
    GradeLine grade;
    grade.node_hgl.assign(network.nodes.size(), kNotSet);
    grade.hgl_up.assign(pipe_count, std::nullopt);
    grade.hgl_dn.assign(pipe_count, std::nullopt);
    grade.critical_depth.resize(pipe_count);
    for (std::size_t p = 0; p < pipe_count; ++p) {
        grade.critical_depth[p] = critical_depth_search(network.pipes[p].shape, design.pipes[p].design_q);
    }

    // Per node, under the energy-level method: whether its level is an energy level.
    const bool energy_method = network.settings.energy_structure_loss;
    std::vector<char> energy_level;
    if (energy_method) energy_level.assign(network.nodes.size(), 0);
    if (details) prepare_details(network, *details);

    // Every node downstream of I was visited before I, so hgl[I] is final here.
    for (auto it = topology.order.rbegin(); it != topology.order.rend(); ++it) {
        const std::size_t i = *it;
        const Node& node = network.nodes[i];
        double& hgl = grade.node_hgl[i];
        if (node.kind == NodeKind::Outfall && std::isnan(hgl)) hgl = network.settings.tailwater.value_or(node.invert);
        if (std::isnan(hgl)) hgl = node.invert;

        for (const PipeLink& in : topology.incoming[i]) {
            const std::size_t p = in.pipe;
            const PipeDesign& d = design.pipes[p];
            grade.hgl_dn[p] = hgl;
            if (d.design_q <= 0.0) {
                // Water in a pipe without flow stands level: the downstream water backs up
                // through it, its level and not its depth, and no structure loss is charged.
                // (A flow that is not a number keeps the profile below.)
                const double level = max_of_numbers(hgl, pipe_inverts(network, topology, p).up);
                grade.hgl_up[p] = level;
                grade.node_hgl[in.node] = max_of_numbers(grade.node_hgl[in.node], level);
                if (details) {
                    record_pipe(*details, p, 0.0, 0.0, level, hgl, 0.0);
                    StructureEnergy dry;
                    dry.method = loss_method(network.settings);
                    dry.velocity_head = 0.0;
                    dry.pipe = p;
                    record_structure(*details, in.node, std::move(dry), level);
                }
                continue;
            }
            // An adverse pipe with flow has no capacity, so it is flagged surcharged and
            // solved as a full pipe under pressure like any other.

            const Pipe& pipe = network.pipes[p];
            const PipeInverts inverts = pipe_inverts(network, topology, p);
            const Conduit conduit(pipe.shape, pipe.n, d.used_slope);
            const PipeProfile profile{conduit,      d.design_q, pipe.length, inverts.up, inverts.down,
                                      d.normal_depth.value_or(conduit.rise), grade.critical_depth[p]};

            const double start = starting_level(network, topology, design, energy_level, p, i, hgl);
            double hgl_up;
            const bool free_outlet = !d.surcharged && kSupercriticalMargin * profile.critical > profile.normal_or_rise &&
                                     start <= inverts.down + conduit.rise;
            // The depths the pass takes at the pipe's ends, for the energy line.
            double depth_dn = 0.0;
            double depth_up = 0.0;
            StructureEnergy structure;  // filled only for details
            if (free_outlet) {
                hgl_up = inverts.up + profile.normal_or_rise;  // no structure loss but the energy level's
                depth_dn = depth_up = profile.normal_or_rise;
                if (details) structure.method = loss_method(network.settings);
            } else {
                hgl_up = d.surcharged ? surcharged_hgl_up(profile, start) : part_full_hgl_up(profile, start);
                if (details) {
                    const double critical = std::max(profile.critical, kSmallestDepth);
                    depth_dn = d.surcharged ? conduit.rise
                                            : std::max(max_of_numbers(start, inverts.down + critical) - inverts.down,
                                                       critical);
                    depth_up = d.surcharged ? conduit.rise : hgl_up - inverts.up;
                }
                if (!energy_method) {
                    const LossSite site{p, in.node, i, hgl_up, inverts.up};
                    if (details) {
                        const StructureLossParts parts = structure_loss_parts(network, topology, design, site);
                        structure = loss_record(parts, network.settings.hec22_structure_loss);
                        hgl_up += parts.loss;
                    } else {
                        hgl_up += structure_loss(network, topology, design, site);
                    }
                }
            }
            grade.hgl_up[p] = hgl_up;
            double level_up = hgl_up;  // what J takes from this pipe
            if (energy_method) {
                const LossSite site{p, in.node, i, hgl_up, inverts.up, grade.critical_depth[p]};
                if (details) {
                    const EnergyStructure values = energy_structure_values(network, topology, design, site);
                    level_up = values.egl;
                    structure = energy_record(values);
                } else {
                    level_up = energy_structure_level(network, topology, design, site);
                }
                energy_level[in.node] = 1;
            }
            grade.node_hgl[in.node] = max_of_numbers(grade.node_hgl[in.node], level_up);
            if (details) {
                const double head_up = velocity_head_at_depth(pipe.shape, d.design_q, depth_up, kSmallestDepth);
                const double head_dn = velocity_head_at_depth(pipe.shape, d.design_q, depth_dn, kSmallestDepth);
                record_pipe(*details, p, head_up, head_dn, hgl_up, hgl, structure.structure_loss);
                structure.velocity_head = head_up;
                structure.pipe = p;
                record_structure(*details, in.node, std::move(structure), level_up);
            }
        }
    }
    return grade;
}

}  // namespace rillwright
