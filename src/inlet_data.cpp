// The checks of a node's inlet data as the project reader meets it: each bad
// value is named with its node and key, so a file is fixed where it is wrong.
#include <charconv>
#include <cmath>
#include <string>

#include "inlet_hydraulics.hpp"
#include "inlet_messages.hpp"
#include "project.hpp"

namespace rillwright {

namespace inlets::message {

std::string bad_inlet_value(std::string_view node, std::string_view key, std::string_view rule,
                            std::string_view value) {
    std::string text("node `");
    return text.append(node).append("`: inlet `").append(key).append("` ").append(rule).append(", not ").append(value);
}

std::string negative_project_spread_limit() { return "`spread_limit_ft` must not be negative"; }

}  // namespace inlets::message

namespace {

namespace message = inlets::message;

std::string number_text(double value) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
}

enum class Rule { not_negative, positive, fraction, ratio };

bool obeys(Rule rule, double v) {
    switch (rule) {
        case Rule::not_negative: return v >= 0.0;
        case Rule::positive: return v > 0.0;
        case Rule::fraction: return v >= 0.0 && v < 1.0;
        case Rule::ratio: return v > 0.0 && v <= 1.0;
    }
    return false;
}

std::string_view rule_text(Rule rule) {
    switch (rule) {
        case Rule::not_negative: return message::kNotNegative;
        case Rule::positive: return message::kPositive;
        case Rule::fraction: return message::kFraction;
        case Rule::ratio: return message::kRatio;
    }
    return {};
}

}  // namespace

std::optional<std::string> inlet_data_problem(std::string_view node, const InletOverrides& inlet) {
    if (inlet.type && !inlets::inlet_type_from_text(*inlet.type))
        return message::bad_inlet_value(node, "type", message::kTypes, "`" + *inlet.type + "`");
    if (inlet.grate && !inlets::grate_from_text(*inlet.grate))
        return message::bad_inlet_value(node, "grate", message::kGrates, "`" + *inlet.grate + "`");
    struct Check {
        std::string_view key;
        std::optional<double> value;
        Rule rule;
    };
    const Check checks[] = {
        {"length_ft", inlet.length_ft, Rule::not_negative},
        {"gutter_slope", inlet.gutter_slope, Rule::not_negative},
        {"grate_width_ft", inlet.grate_width_ft, Rule::not_negative},
        {"cross_slope", inlet.cross_slope, Rule::not_negative},
        {"splash_velocity", inlet.splash_velocity, Rule::not_negative},
        {"open_area_ratio", inlet.open_area_ratio, Rule::ratio},
        {"gutter_n", inlet.gutter_n, Rule::positive},
        {"gutter_width_ft", inlet.gutter_width_ft, Rule::positive},
        {"depression_in", inlet.depression_in, Rule::not_negative},
        {"local_depression_in", inlet.local_depression_in, Rule::not_negative},
        {"local_depression_width_ft", inlet.local_depression_width_ft, Rule::not_negative},
        {"opening_height_in", inlet.opening_height_in, Rule::positive},
        {"curb_length_ft", inlet.curb_length_ft, Rule::not_negative},
        {"clogging", inlet.clogging, Rule::fraction},
        {"spread_limit_ft", inlet.spread_limit_ft, Rule::not_negative},
    };
    for (const Check& c : checks) {
        if (c.value && !obeys(c.rule, *c.value))
            return message::bad_inlet_value(node, c.key, rule_text(c.rule), number_text(*c.value));
    }
    if (inlet.sides && *inlet.sides != 1 && *inlet.sides != 2)
        return message::bad_inlet_value(node, "sides", message::kSides, std::to_string(*inlet.sides));
    return std::nullopt;
}

}  // namespace rillwright

namespace rillwright::inlets::message {

namespace {
std::string fixed(double value, int digits) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, digits);
    return std::string(text, r.ptr);
}
}  // namespace

std::string bypass_loop(const std::vector<std::string>& ids) {
    std::string text("bypass_to loop: ");
    for (std::size_t k = 0; k < ids.size(); ++k) text.append(k ? " -> " : "").append(ids[k]);
    return text;
}

std::string unknown_bypass_target(std::string_view node, std::string_view target) {
    std::string text("node `");
    return text.append(node).append("`: bypass_to names unknown node `").append(target).append("`");
}

std::string over_spread_limit(std::string_view node, double spread, double limit) {
    std::string text("inlet `");
    return text.append(node).append("`: spread ").append(fixed(spread, 2)).append(" ft over its limit of ")
        .append(fixed(limit, 2)).append(" ft");
}

std::string depth_above_opening(std::string_view node, double depth, double height) {
    std::string text("inlet `");
    return text.append(node).append("`: depth ").append(fixed(depth, 3)).append(" ft above its curb opening of ")
        .append(fixed(height, 3)).append(" ft");
}

std::string bypass_leaves(std::string_view node, double q, std::string_view where) {
    std::string text("inlet `");
    text.append(node).append("`: bypass ").append(fixed(q, 3)).append(" cfs leaves the network");
    if (!where.empty()) text.append(" at outfall `").append(where).append("`");
    return text;
}

std::string flat_gutter(std::string_view node, double slope) {
    std::string text("inlet `");
    return text.append(node).append("`: gutter slope ").append(fixed(slope * 100.0, 2)).append(" % below 0.3 %");
}

std::string needs(std::string_view node, std::string_view key, std::string_view what) {
    std::string text("node `");
    return text.append(node).append("`: an inlet model needs `").append(key).append("` ").append(what);
}

namespace {
constexpr std::string_view kOutside = "; the inputs lie outside the range where the HEC-22 equations hold";
std::string general(double value) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    return std::string(text, r.ptr);
}
}  // namespace

std::string not_finite(std::string_view name, double value) {
    return std::string("`").append(name).append("` comes out as ").append(general(value)).append(kOutside);
}

std::string flow_without_spread(double q) {
    return "a flow of " + general(q) + " cfs comes out with no spread" + std::string(kOutside);
}

std::string spread_without_flow(double spread) {
    return "a spread of " + general(spread) + " ft comes out with no flow" + std::string(kOutside);
}

std::string spread_carries(double q, double spread, double carried) {
    return "the spread " + general(spread) + " ft found for " + general(q) + " cfs carries " + general(carried) +
           " cfs" + std::string(kOutside);
}

std::string depth_passes(double q, double depth, double passed) {
    return "the depth " + general(depth) + " ft found for " + general(q) + " cfs passes " + general(passed) +
           " cfs" + std::string(kOutside);
}

std::string at_inlet(std::string_view node, std::string_view problem) {
    return std::string("inlet `").append(node).append("`: ").append(problem);
}

}  // namespace rillwright::inlets::message
