// A network handed to the companion package: .rwn text or project JSON, read
// into the analysis network with the same messages as the module's readers.
#pragma once

#include <optional>
#include <string_view>

#include "network.hpp"
#include "outcome.hpp"
#include "project.hpp"

namespace rillwright {

enum class SourceFormat { rwn, project };

struct LoadedNetwork {
    Network network;
    std::optional<Project> project;  // the records as read, for a project
};

// The error is prefixed as the module prefixes it: "cannot parse .rwn: " or
// "invalid project JSON: ".
Outcome<LoadedNetwork> load_network(std::string_view text, SourceFormat format);

// The message of an analysis failure as the module words it.
std::string analysis_failed(std::string_view message);

}  // namespace rillwright
