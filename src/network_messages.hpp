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

// Values the analysis computes with must be finite numbers; the readers accept
// "nan" and "inf", the analysis names the first such value.
inline constexpr std::string_view kNotFinite = " not a finite number";

// "the tailwater is not a finite number"
inline std::string bad_setting(std::string_view setting) {
    std::string text(setting);
    return text.append(" is").append(kNotFinite);
}

// "node 'N3' has an area that is not a finite number"
inline std::string bad_node_value(std::string_view node_id, std::string_view field) {
    std::string text = "node '";
    text.append(node_id).append("' has ").append(field).append(" that is").append(kNotFinite);
    return text;
}

// "pipe 'P7' has a roughness that is not a finite number"
inline std::string bad_pipe_value(std::string_view pipe_id, std::string_view field) {
    std::string field_text(field);
    return bad_pipe(pipe_id, field_text.append(" that is").append(kNotFinite));
}

inline constexpr std::string_view kIdfA = "the IDF coefficient a";
inline constexpr std::string_view kIdfB = "the IDF coefficient b";
inline constexpr std::string_view kIdfC = "the IDF coefficient c";
inline constexpr std::string_view kIntensity = "the fixed intensity";
inline constexpr std::string_view kTailwater = "the tailwater";
inline constexpr std::string_view kMinTc = "the minimum time of concentration";
inline constexpr std::string_view kMinSlope = "the minimum slope";
inline constexpr std::string_view kJunctionK = "the junction loss coefficient";
inline constexpr std::string_view kBendK = "the bend loss coefficient";
inline constexpr std::string_view kAccessHole = "the access-hole diameter";
inline constexpr std::string_view kFrequencyFactor = "the frequency factor";

inline constexpr std::string_view kNodeX = "an x coordinate";
inline constexpr std::string_view kNodeY = "a y coordinate";
inline constexpr std::string_view kNodeInvert = "an invert";
inline constexpr std::string_view kNodeRim = "a rim";
inline constexpr std::string_view kNodeArea = "an area";
inline constexpr std::string_view kNodeC = "a runoff coefficient";
inline constexpr std::string_view kNodeTc = "an inlet time";

inline constexpr std::string_view kPipeN = "a roughness";
inline constexpr std::string_view kPipeInvertUp = "an upstream invert";
inline constexpr std::string_view kPipeInvertDn = "a downstream invert";

}  // namespace rillwright::messages
