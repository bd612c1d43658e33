#include "network_source.hpp"

#include "parse.hpp"

namespace rillwright {

namespace {

std::string prefixed(std::string_view prefix, std::string_view message) {
    std::string text;
    text.reserve(prefix.size() + message.size());
    return text.append(prefix).append(message);
}

}  // namespace

Outcome<LoadedNetwork> load_network(std::string_view text, SourceFormat format) {
    if (format == SourceFormat::rwn) {
        Outcome<Network> network = parse_rwn(text);
        if (!network.ok()) return Outcome<LoadedNetwork>::failure(prefixed("cannot parse .rwn: ", network.error));
        return Outcome<LoadedNetwork>::success(LoadedNetwork{std::move(*network.value), std::nullopt});
    }
    Outcome<Project> project = parse_project(text);
    if (!project.ok()) return Outcome<LoadedNetwork>::failure(prefixed("invalid project JSON: ", project.error));
    Network network = convert_project(*project.value);
    return Outcome<LoadedNetwork>::success(LoadedNetwork{std::move(network), std::move(project.value)});
}

std::string analysis_failed(std::string_view message) { return prefixed("analysis failed: ", message); }

}  // namespace rillwright
