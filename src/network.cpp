#include "network.hpp"

namespace rillwright {

Outcome<AnalysisResult> analyze_network(const Network&) {
    return Outcome<AnalysisResult>::failure("network analysis is not available yet");
}

}  // namespace rillwright
