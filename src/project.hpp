// The .rwproj project: its records, JSON reading and writing, conversion into a
// Network, and the built-in demo.
#pragma once

#include <string>
#include <string_view>

#include "network.hpp"
#include "outcome.hpp"

namespace rillwright {

struct ProjectAnalysis {
    std::string name;
    AnalysisResult result;
};

// The project driver: read, convert, analyse. Errors carry their stage prefix
// ("invalid project JSON: " or "analysis failed: ").
Outcome<ProjectAnalysis> run_project(std::string_view json_text);

// The demo project written as project JSON.
Outcome<std::string> demo_project_text();

}  // namespace rillwright
