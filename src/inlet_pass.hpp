// The inlet pass: every node's inlet (by HEC-22) on its own flow plus the
// bypass sent to it, in bypass order, and the pipe network as it carries only
// what the inlets intercept. US customary units, like the analysis.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "inlet_hydraulics.hpp"
#include "network.hpp"
#include "outcome.hpp"
#include "project.hpp"

namespace rillwright::inlets {

struct InletRow {
    std::string id;
    std::string type;
    bool on_grade = true;
    double own_q = 0.0;
    double carryover_in = 0.0;
    double gutter_q = 0.0;
    double spread = 0.0;
    double depth = 0.0;
    std::optional<double> w_over_t, eo, velocity, splash_velocity, rf, rs, lt;
    double efficiency = 0.0;
    double intercepted = 0.0;
    double bypass = 0.0;
    std::optional<std::string> bypass_to;
    std::optional<double> spread_limit;
    std::optional<bool> spread_ok;
};

struct Finding {
    std::string code;  // "spread", "depth", "bypass_leaves", "flat_gutter"
    std::string id;
    std::string message;
};

struct InletPass {
    std::vector<InletRow> inlets;  // in file order
    std::vector<Finding> warnings;
    Network network;  // each inlet node's C·A replaced by its interception's
};

// Fails on a bypass_to loop or a bypass_to naming an unknown node.
Outcome<InletPass> inlet_pass(const Project& project);

}  // namespace rillwright::inlets
