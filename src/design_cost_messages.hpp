// Every message of the least-cost design: a bad cost model or invert step
// (the caller's fault), a network it cannot take, and its violations.
#pragma once

#include <string>
#include <string_view>

#include "design_messages.hpp"

namespace rillwright::design::messages {

// ---- Options ----------------------------------------------------------------

inline std::string unknown_objective(std::string_view objective) {
    return "unknown objective " + quoted(objective) + ": the objectives are shallowest and cost";
}
inline std::string cost_needs_profile() { return "objective 'cost' designs the profile: give profile=True"; }
inline std::string bad_invert_step(double value) {
    return "invert_step must be a positive number, not " + number(value);
}
inline std::string unknown_cost_key(std::string_view key, bool si) {
    return "cost model: unknown key " + quoted(key) + (si ? " for an SI project: the keys are pipe_per_m, "
                                                            "excavation_per_m3, trench_side_m, structure_each, structure_per_m"
                                                          : ": the keys are pipe_per_ft, excavation_per_cuft, "
                                                            "trench_side_ft, structure_each, structure_per_ft");
}
inline std::string bad_cost_value(std::string_view key, double value) {
    return "cost model: " + std::string(key) + " must be a number of 0 or more, not " + number(value);
}
inline std::string bad_price(std::string_view shape, std::string_view size, double value) {
    return "cost model: the price of " + std::string(shape) + " " + quoted(size) +
           " must be a number of 0 or more, not " + number(value);
}
inline std::string bad_size_key(std::string_view shape, std::string_view size, bool circular) {
    return "cost model: " + std::string(shape) + " size " + quoted(size) +
           (circular ? " must be a diameter, e.g. '15'" : " must be rise x span, e.g. '24x36'");
}
inline std::string unknown_price_shape(std::string_view shape) {
    return "cost model: unknown shape " + quoted(shape) + ": the shapes are circular, box, elliptical and arch";
}
inline std::string priced_twice(std::string_view shape, const std::string& size) {
    return "cost model: " + std::string(shape) + " " + size + " is priced twice";
}
inline std::string unpriced_size(std::string_view shape, const std::string& size, bool si) {
    return "cost model: the catalogue's " + std::string(shape) + " " + size + " has no price in " +
           (si ? "pipe_per_m" : "pipe_per_ft");
}
inline std::string unpriced_kept(std::string_view pipe, std::string_view shape, const std::string& size, bool si) {
    return "cost model: pipe " + quoted(pipe) + " keeps its " + std::string(shape) + " " + size +
           ", which has no price in " + (si ? "pipe_per_m" : "pipe_per_ft");
}

// ---- Networks the least-cost design cannot take -------------------------------------

inline std::string two_ways_out(std::string_view node) {
    return "least-cost design: structure " + quoted(node) +
           " has more than one outgoing pipe; the design works on trees (one way out of every structure)";
}
inline std::string outfall_with_way_out(std::string_view node) {
    return "least-cost design: outfall " + quoted(node) + " has an outgoing pipe";
}
inline std::string sink_without_depth(std::string_view node) {
    return "least-cost design: structure " + quoted(node) +
           " ends a tree without being an outfall; give max_depth to bound its invert";
}

// ---- Violations ---------------------------------------------------------------

inline std::string no_grid_design(std::string_view pipe, std::string_view reason) {
    return "pipe " + quoted(pipe) + ": no design on the invert grid meets the rules here (" + std::string(reason) +
           "); its tree keeps the shallowest-first design";
}
inline std::string no_room(std::string_view node) {
    return "min_cover and max_depth leave no grid invert at " + std::string(node);
}
inline std::string no_size_at_cover() { return "min_cover or max_depth at its upstream end for every size"; }
inline std::string no_join(std::string_view node) {
    return "match, min_drop, max_drop or no smaller downstream with the pipes entering " + std::string(node);
}
inline std::string no_slope() {
    return "capacity, min_slope, max_slope, min_full_velocity, max_velocity or cover at its downstream end";
}
inline std::string no_arrival(std::string_view node) {
    return "its arrival at " + std::string(node) + " (the outfall's invert, max_drop, max_depth)";
}
inline std::string flows_do_not_repeat(int rounds) {
    return "the design flows did not repeat within " + std::to_string(rounds) +
           " rounds (a tree's flows came back to those of an earlier round, or the rounds ran out); "
           "the least cost holds for the flows the last round was designed for";
}
inline std::string freeboard_not_designed() {
    return "the least-cost design reports freeboard but does not design for it";
}

}  // namespace rillwright::design::messages
