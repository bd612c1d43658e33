// The analysis network as compact JSON, for the companion package's Python code
// that draws, checks and converts networks without reading the formats again.
#pragma once

#include <string>

#include "network.hpp"

namespace rillwright {

// {"settings": {...}, "nodes": [...], "pipes": [...]} in US customary units, the
// records in input order as the analysis sees them (duplicates included).
std::string network_records_json(const Network& network);

const char* node_kind_name(NodeKind kind);
const char* shape_name(const PipeShape& shape);

}  // namespace rillwright
