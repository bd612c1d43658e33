// The range where the gutter and inlet equations hold, judged on each result:
// finite values, and a spread or depth that gives back the flow it was found for.
#pragma once

#include <optional>
#include <string>

#include "inlet_hydraulics.hpp"

namespace rillwright::inlets {

std::optional<std::string> gutter_flow_problem(const Gutter& gutter, double q, const GutterFlow& flow);
std::optional<std::string> gutter_spread_problem(double spread, const GutterFlow& flow);
std::optional<std::string> on_grade_problem(const Gutter& gutter, double q, const OnGrade& result);
std::optional<std::string> sag_problem(const Gutter& gutter, const Inlet& inlet, double q, const InSag& result);

}  // namespace rillwright::inlets
