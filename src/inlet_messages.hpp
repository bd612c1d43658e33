// Every message of the inlet stage, in one place.
#pragma once

#include <string>
#include <string_view>

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

std::string negative_project_spread_limit();

}  // namespace rillwright::inlets::message
