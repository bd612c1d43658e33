// Sizes the hydraulics cannot work with are rejected before any computation:
// the depth clamps of the standard-step profile need a rise of at least 1e-4 ft.
#include <cmath>

#include "network_messages.hpp"
#include "network_passes.hpp"

namespace rillwright {

namespace {

constexpr double kSmallestSize = 1e-4;  // ft

struct SizeProblem {
    std::string_view not_finite;
    std::string_view too_small;
};
constexpr SizeProblem kRiseProblem{messages::kRiseNotFinite, messages::kRiseTooSmall};
constexpr SizeProblem kSpanProblem{messages::kSpanNotFinite, messages::kSpanTooSmall};

std::optional<std::string_view> size_problem(double size, const SizeProblem& problem) {
    if (!std::isfinite(size)) return problem.not_finite;
    if (size < kSmallestSize) return problem.too_small;
    return std::nullopt;
}

std::optional<std::string_view> shape_problem(const PipeShape& shape) {
    if (auto problem = size_problem(shape_rise(shape), kRiseProblem)) return problem;
    if (const auto* box = std::get_if<Box>(&shape)) return size_problem(box->span, kSpanProblem);
    if (const auto* ellipse = std::get_if<Elliptical>(&shape)) return size_problem(ellipse->span, kSpanProblem);
    if (const auto* arch = std::get_if<Arch>(&shape)) return size_problem(arch->span, kSpanProblem);
    return std::nullopt;
}

std::optional<std::string_view> length_problem(double length) {
    if (!std::isfinite(length)) return messages::kLengthNotFinite;
    if (length < 0.0) return messages::kLengthNegative;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> check_pipe_sizes(const Network& network) {
    for (const Pipe& pipe : network.pipes) {
        auto problem = shape_problem(pipe.shape);
        if (!problem) problem = length_problem(pipe.length);
        if (problem) return messages::bad_pipe(pipe.id, *problem);
    }
    return std::nullopt;
}

}  // namespace rillwright
