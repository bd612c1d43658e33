// Every message of the design stage: bad options (the caller's fault) and the
// violations a design reports. Numbers are written short ("%g"), sizes in inches.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

namespace rillwright::design::messages {

inline std::string number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

inline std::string quoted(std::string_view text) {
    std::string result = "'";
    result.append(text).append("'");
    return result;
}

// A catalogue size in inches: "18 in" or "24 x 36 in" (rise x span).
inline std::string size_text(bool circular, double rise_in, double span_in) {
    if (circular) return number(rise_in) + " in";
    return number(rise_in) + " x " + number(span_in) + " in";
}

// ---- Options ----------------------------------------------------------------

inline std::string unknown_shape(std::string_view shape) {
    return "unknown catalogue shape " + quoted(shape) + ": the shapes are circular, box, elliptical and arch";
}
inline std::string empty_catalogue(std::string_view shape) {
    return "catalogue " + quoted(shape) + " has no sizes";
}
inline std::string size_form(std::string_view shape, std::size_t position, bool circular) {
    return "catalogue " + quoted(shape) + " size " + std::to_string(position) +
           (circular ? " must be one diameter in inches" : " must be a [rise, span] pair in inches");
}
inline std::string size_not_positive(std::string_view shape, std::size_t position) {
    return "catalogue " + quoted(shape) + " size " + std::to_string(position) +
           " must be positive and finite";
}
inline std::string not_sorted(std::string_view shape, std::size_t position, const std::string& size,
                              const std::string& before) {
    return "catalogue " + quoted(shape) + " is not sorted by full area: size " + std::to_string(position) + " (" +
           size + ") comes after " + before;
}
inline std::string listed_twice(std::string_view shape, const std::string& size) {
    return "catalogue " + quoted(shape) + " lists " + size + " twice";
}
inline std::string bad_max_fill(double value) {
    return "max_fill must be above 0 and at most 1, not " + number(value);
}
inline std::string bad_limit(std::string_view name, double value) {
    return std::string(name) + " must be a number of 0 or more, not " + number(value);
}
inline std::string velocity_limits_crossed(double low, double high) {
    return "min_velocity " + number(low) + " is above max_velocity " + number(high);
}
inline std::string unknown_fixed(std::string_view id) {
    return "fixed pipe " + quoted(id) + " is not in the network";
}

inline std::string unknown_match(std::string_view match) {
    return "unknown matching rule " + quoted(match) + ": the rules are crown, 0.8 and invert";
}
inline std::string slope_limits_crossed(double low, double high) {
    return "min_slope " + number(low) + " is above max_slope " + number(high);
}
inline std::string unknown_fixed_structure(std::string_view id) {
    return "fixed structure " + quoted(id) + " is not in the network";
}
inline std::string rwn_not_a_project(const std::string& what) {
    return "profile: a .rwn network with " + what + " cannot be written as a project";
}

// ---- The network --------------------------------------------------------------

inline std::string duplicate_node(std::string_view id, std::size_t first, std::size_t again) {
    return "design: structure id " + quoted(id) + " is used twice (structures " + std::to_string(first + 1) +
           " and " + std::to_string(again + 1) + "); a design needs every structure id once";
}

// ---- Violations ---------------------------------------------------------------

inline std::string not_listed(std::string_view pipe, std::string_view shape) {
    return "pipe " + quoted(pipe) + ": the catalogue has no " + std::string(shape) + " sizes; kept as given";
}
inline std::string kept_too_small(std::string_view pipe, double q, double max_fill, double capacity) {
    return "pipe " + quoted(pipe) + ": kept at its given size, its " + number(q) + " cfs exceed max_fill " +
           number(max_fill) + " times its capacity of " + number(capacity) + " cfs";
}
inline std::string no_size_carries(std::string_view pipe, std::string_view shape, double q, double slope,
                                   double max_fill, const std::string& largest) {
    return "pipe " + quoted(pipe) + ": no " + std::string(shape) + " size carries " + number(q) + " cfs on slope " +
           number(slope) + " at max_fill " + number(max_fill) + "; given the largest, " + largest;
}
inline std::string cannot_carry(std::string_view pipe, double q, double slope, double n) {
    const std::string why = !(n > 0.0) ? "its n of " + number(n) + " gives no size a capacity"
                            : slope < 0.0 ? "it runs uphill (slope " + number(slope) + ")"
                                          : "it is flat (slope " + number(slope) + ") with a min_slope of 0";
    return "pipe " + quoted(pipe) + ": no size carries its " + number(q) + " cfs, " + why +
           "; kept at its given size and passes no size downstream; fix its inverts or use profile design";
}
inline std::string no_size_large_enough(std::string_view pipe, std::string_view shape, const std::string& largest) {
    return "pipe " + quoted(pipe) + ": no " + std::string(shape) +
           " size is as large as the minimum size or the pipes entering it; given the largest, " + largest;
}
inline std::string not_finite(std::string_view pipe, double q) {
    return "pipe " + quoted(pipe) + ": its design flow (" + number(q) +
           " cfs) or a level of its profile is not a finite number; laid as a pipe without flow, "
           "check the catchments upstream";
}
inline std::string slow(std::string_view pipe, double velocity, double limit) {
    return "pipe " + quoted(pipe) + ": velocity " + number(velocity) + " ft/s is below the minimum " +
           number(limit) + " ft/s";
}
inline std::string fast(std::string_view pipe, double velocity, double limit) {
    return "pipe " + quoted(pipe) + ": velocity " + number(velocity) + " ft/s is above the maximum " +
           number(limit) + " ft/s";
}
inline std::string shallow(std::string_view pipe, double cover, bool upstream, double limit) {
    return "pipe " + quoted(pipe) + ": cover " + number(cover) + " ft at the " +
           (upstream ? "upstream" : "downstream") + " end is below the minimum " + number(limit) + " ft";
}
inline std::string short_freeboard(std::string_view node, double freeboard, double limit, const std::string& reason) {
    return "structure " + quoted(node) + ": freeboard " + number(freeboard) + " ft is below the minimum " +
           number(limit) + " ft; " + reason;
}

// An elevation or length in the profile's messages: to the hundredth of a foot.
inline std::string level(double value) { return number(std::round(value * 100.0) / 100.0); }

inline std::string below_fixed(std::string_view pipe, std::string_view node, double arrives, double below) {
    return "pipe " + quoted(pipe) + ": the line reaches " + std::string(node) + " at " + level(arrives) + " ft, " +
           level(below) + " ft below its invert";
}
inline std::string above_match(std::string_view pipe, std::string_view entering, std::string_view match) {
    return "pipe " + quoted(pipe) + ": its upstream end is above the " + std::string(match) + " match of pipe " +
           quoted(entering);
}
inline std::string short_drop(std::string_view pipe, std::string_view entering, double drop, double limit) {
    return "pipe " + quoted(pipe) + ": its upstream invert falls " + level(drop) + " ft below pipe " +
           quoted(entering) + ", less than the minimum drop " + number(limit) + " ft";
}
inline std::string slope_out_of_bounds(std::string_view pipe, double slope, bool below, double limit) {
    return "pipe " + quoted(pipe) + ": slope " + number(slope) + " is " + (below ? "below the minimum " : "above the maximum ") +
           number(limit);
}
inline std::string slow_full(std::string_view pipe, double velocity, double limit) {
    return "pipe " + quoted(pipe) + ": full velocity " + number(velocity) + " ft/s is below the minimum " +
           number(limit) + " ft/s";
}
inline std::string too_deep(std::string_view pipe, std::string_view node, bool upstream, double depth, double limit) {
    return "pipe " + quoted(pipe) + ": its " + (upstream ? "upstream" : "downstream") + " invert lies " + level(depth) +
           " ft below the rim of " + quoted(node) + ", deeper than the maximum " + number(limit) + " ft";
}
inline std::string drop_structure(std::string_view node, double drop, double limit) {
    return "structure " + quoted(node) + ": drop " + level(drop) + " ft is above the maximum " + number(limit) +
           " ft; it needs a drop structure";
}

// Why no upsizing can help a structure short of freeboard.
inline std::string outlet_too_high(std::string_view end, double level) {
    return "the water level at " + quoted(end) + " (" + number(level) + " ft) is too high for it";
}
inline std::string path_at_largest(std::string_view end) {
    return "every pipe on its path to " + quoted(end) + " is fixed or at its largest size";
}
inline std::string path_without_loss(std::string_view end) {
    return "no pipe on its path to " + quoted(end) + " that could grow has a head loss";
}

}  // namespace rillwright::design::messages
