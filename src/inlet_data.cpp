// The checks of a node's inlet data as the project reader meets it: each bad
// value is named with its node and key, so a file is fixed where it is wrong.
#include <charconv>
#include <cmath>

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
    return std::nullopt;
}

}  // namespace rillwright
