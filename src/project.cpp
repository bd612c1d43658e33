#include "project.hpp"

namespace rillwright {

Outcome<ProjectAnalysis> run_project(std::string_view) {
    return Outcome<ProjectAnalysis>::failure("project files are not available yet");
}

Outcome<std::string> demo_project_text() {
    return Outcome<std::string>::failure("the demo project is not available yet");
}

}  // namespace rillwright
