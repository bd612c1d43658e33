// What an engineer should know about a network before trusting its results,
// found from the records and the topology alone (no hydraulics): every missing
// node, every loop, every rejected value, and the shapes of network that the
// analysis accepts but that often hide a mistake.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "network.hpp"
#include "project.hpp"

namespace rillwright {

enum class Severity { error, warning, note };

struct Finding {
    Severity severity = Severity::warning;
    std::string code;              // e.g. "cycle", "dead-end"
    std::vector<std::string> ids;  // the records named, in the order the message names them
    std::string message;           // one line naming the records
};

// Contributing areas above this are beyond the usual range of the rational method.
inline constexpr double kLargestRationalArea = 200.0;  // acres

// Errors first, then warnings, each kind in input order. `project` adds the
// findings about catchments, which the network no longer holds.
std::vector<Finding> network_findings(const Network& network, const Project* project);

// [{"severity", "code", "ids", "message"}, ...] as compact JSON.
std::string findings_json(const std::vector<Finding>& findings);

const char* severity_name(Severity severity);

}  // namespace rillwright
