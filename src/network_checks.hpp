// Values the analysis refuses before any computation: settings, node values and
// pipe values that are not finite numbers, and pipe sizes the hydraulics cannot
// work with. The analysis stops at the first; the check report lists them all.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "network.hpp"

namespace rillwright {

struct RejectedValue {
    enum class Owner { settings, node, pipe };
    Owner owner = Owner::settings;
    std::size_t index = 0;  // node or pipe index; 0 for the settings
    std::string message;
};

// Settings first, then nodes, then pipes, each in input order; at most `limit`.
std::vector<RejectedValue> rejected_values(const Network& network, std::size_t limit);

}  // namespace rillwright
