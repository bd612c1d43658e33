// The project driver and the demo text.
#include "project.hpp"

namespace rillwright {

namespace {

constexpr std::string_view kInvalidProject = "invalid project JSON: ";
constexpr std::string_view kAnalysisFailed = "analysis failed: ";

std::string prefixed(std::string_view prefix, const std::string& message) {
    std::string text;
    text.reserve(prefix.size() + message.size());
    return text.append(prefix).append(message);
}

}  // namespace

Outcome<ProjectAnalysis> run_project(std::string_view json_text) {
    Outcome<Project> project = parse_project(json_text);
    if (!project.ok()) return Outcome<ProjectAnalysis>::failure(prefixed(kInvalidProject, project.error));
    Network network = convert_project(*project.value);
    Outcome<AnalysisResult> result = analyze_network(network);
    if (!result.ok()) return Outcome<ProjectAnalysis>::failure(prefixed(kAnalysisFailed, result.error));
    return Outcome<ProjectAnalysis>::success(
        ProjectAnalysis{std::move(project.value->name), std::move(*result.value)});
}

Outcome<std::string> demo_project_text() { return Outcome<std::string>::success(write_project_json(demo_project())); }

}  // namespace rillwright
