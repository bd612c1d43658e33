// Every message of the inlet stage, in one place.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rillwright::inlets::message {

// A bad value of a node's inlet data: "node `<id>`: inlet `<key>` <rule>, not <value>".
std::string bad_inlet_value(std::string_view node, std::string_view key, std::string_view rule,
                            std::string_view value);

inline constexpr std::string_view kTypes = "must be one of grate, curb, combination, slotted";
inline constexpr std::string_view kGrates =
    "must be one of P-50, P-50x100, P-30, curved vane, 45 tilt bar, 30 tilt bar, reticuline, generic";
inline constexpr std::string_view kNotNegative = "must not be negative";
inline constexpr std::string_view kPositive = "must be greater than 0";
inline constexpr std::string_view kFraction = "must lie in [0, 1)";
inline constexpr std::string_view kRatio = "must lie in (0, 1]";
inline constexpr std::string_view kSides = "must be 1 or 2";

std::string negative_project_spread_limit();

}  // namespace rillwright::inlets::message

namespace rillwright::inlets::message {

std::string bypass_loop(const std::vector<std::string>& ids);  // "bypass_to loop: A -> B -> A"
std::string unknown_bypass_target(std::string_view node, std::string_view target);
std::string over_spread_limit(std::string_view node, double spread, double limit);
std::string depth_above_opening(std::string_view node, double depth, double height);
std::string bypass_leaves(std::string_view node, double q, std::string_view where);
std::string flat_gutter(std::string_view node, double slope);
// "node `<id>`: an inlet model needs `<key>` <what>"
std::string needs(std::string_view node, std::string_view key, std::string_view what);

// Results outside the range where the equations hold (extreme inputs).
std::string not_finite(std::string_view name, double value);
std::string flow_without_spread(double q);
std::string spread_without_flow(double spread);
std::string spread_carries(double q, double spread, double carried);
std::string depth_passes(double q, double depth, double passed);
std::string at_inlet(std::string_view node, std::string_view problem);  // "inlet `<id>`: <problem>"

}  // namespace rillwright::inlets::message
