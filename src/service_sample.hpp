// One level-of-service analysis reduced to every condition's margin and whether
// it holds: what the brackets are narrowed with. Workers send it to the parent
// as bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "network.hpp"
#include "outcome.hpp"

namespace rillwright {

// The conditions, in order: nodes (the structure floods), pipes (surcharged),
// pipes (the grade line above the crown at either end). A margin is positive
// about where its condition holds; the flags say exactly where.
//
// Layout of the bytes, native byte order, with C = nodes + 2 * pipes:
//   float64 margins[C], uint8 flags[C].
struct Sample {
    std::vector<double> margins;
    std::vector<std::uint8_t> flags;
};

std::size_t sample_size(std::size_t nodes, std::size_t pipes);
std::string pack_sample(const Sample& sample);
// Fails when the bytes do not have the size of a sample of this network.
Outcome<Sample> unpack_sample(std::string_view bytes, std::size_t nodes, std::size_t pipes);

// Analyses the network (its rainfall already scaled) and reduces the result.
Outcome<Sample> scenario_sample(const Network& network);

}  // namespace rillwright
