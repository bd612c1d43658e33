// Head loss at the structure where a pipe starts, charged after its friction
// profile: a junction-plus-bend loss, or the HEC-22 access-hole method; or,
// under the energy-level method, the structure's energy level itself and the
// level each pipe entering it starts from.
#pragma once

#include <cstddef>

#include "network_passes.hpp"

namespace rillwright {

struct LossSite {
    std::size_t pipe;        // the pipe being solved
    std::size_t upstream;    // J: the structure that receives the loss
    std::size_t downstream;  // I: the node the pipe drains into
    double hgl_up;           // grade line at the pipe's upstream end, before the loss
    double invert_up;
    double critical_depth = 0.0;  // of the pipe's design flow; read by the energy-level method
};

double structure_loss(const Network& network, const Topology& topology, const DesignFlows& design,
                      const LossSite& site);

// The loss and the coefficients it was made of, computed exactly as
// structure_loss computes it: junction_k and bend for the junction method;
// under the HEC-22 access-hole method, k0 (the initial coefficient), the depth
// and diameter corrections, the factor applied, and k, their product.
struct StructureLossParts {
    double loss = 0.0;
    double junction_k = 0.0;
    double bend = 0.0;
    double k0 = 0.0;
    double depth_correction = 0.0;
    double diameter_correction = 0.0;
    double factor = 0.0;
    double k = 0.0;
};
StructureLossParts structure_loss_parts(const Network& network, const Topology& topology, const DesignFlows& design,
                                        const LossSite& site);

// Energy-level method: the level (EGL) that structure J takes from the pipe
// leaving it, whose grade line at J before any loss is site.hgl_up.
double energy_structure_level(const Network& network, const Topology& topology, const DesignFlows& design,
                              const LossSite& site);
// The same, with every intermediate value of the method (its egl is the level).
EnergyStructure energy_structure_values(const Network& network, const Topology& topology, const DesignFlows& design,
                                        const LossSite& site);

// Energy-level method: the grade line a pipe entering a structure starts from,
// at its own outlet face, given the structure's energy level.
double outlet_face_level(const Network& network, const Topology& topology, const DesignFlows& design,
                         std::size_t pipe, double structure_level);

}  // namespace rillwright
