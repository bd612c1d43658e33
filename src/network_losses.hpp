// Head loss at the structure where a pipe starts, charged after its friction
// profile: a junction-plus-bend loss, or the HEC-22 access-hole method.
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
};

double structure_loss(const Network& network, const Topology& topology, const DesignFlows& design,
                      const LossSite& site);

}  // namespace rillwright
