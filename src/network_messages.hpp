// Every message the network analysis can fail with. The Python layer puts
// "analysis failed: " in front of them.
#pragma once

#include <string>
#include <string_view>

namespace rillwright::messages {

inline std::string unknown_node(std::string_view id) {
    std::string text = "pipe references unknown node '";
    text.append(id).append("'");
    return text;
}

inline constexpr std::string_view kCycle = "network contains a cycle";

// "pipe '<id>' has <problem>", e.g. "a rise below 0.0001 ft".
inline std::string bad_pipe(std::string_view pipe_id, std::string_view problem) {
    std::string text = "pipe '";
    text.append(pipe_id).append("' has ").append(problem);
    return text;
}

inline constexpr std::string_view kRiseNotFinite = "a rise that is not a finite number";
inline constexpr std::string_view kRiseTooSmall = "a rise below 0.0001 ft";
inline constexpr std::string_view kSpanNotFinite = "a span that is not a finite number";
inline constexpr std::string_view kSpanTooSmall = "a span below 0.0001 ft";
inline constexpr std::string_view kLengthNotFinite = "a length that is not a finite number";
inline constexpr std::string_view kLengthNegative = "a negative length";

}  // namespace rillwright::messages
