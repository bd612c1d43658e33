// Values the analysis cannot compute with are rejected before any computation:
// numbers that are not finite, and sizes too small for the depth clamps of the
// standard-step profile, which need a rise of at least 1e-4 ft.
#include "network_checks.hpp"

#include <cmath>
#include <optional>

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

// Collects rejected values in order until `limit` are found.
class Rejections {
public:
    explicit Rejections(std::size_t limit) : limit_(limit) {}

    bool full() const { return found_.size() >= limit_; }

    void setting(double value, std::string_view name) {
        if (!full() && !std::isfinite(value)) add(RejectedValue::Owner::settings, 0, messages::bad_setting(name));
    }
    void setting(const std::optional<double>& value, std::string_view name) {
        if (value) setting(*value, name);
    }
    void node(const Node& node, std::size_t index, double value, std::string_view field) {
        if (!full() && !std::isfinite(value)) {
            add(RejectedValue::Owner::node, index, messages::bad_node_value(node.id, field));
        }
    }
    void pipe(const Pipe& pipe, std::size_t index, const std::optional<double>& value, std::string_view field) {
        if (!full() && value && !std::isfinite(*value)) {
            add(RejectedValue::Owner::pipe, index, messages::bad_pipe_value(pipe.id, field));
        }
    }
    void pipe_problem(const Pipe& pipe, std::size_t index, std::string_view problem) {
        if (!full()) add(RejectedValue::Owner::pipe, index, messages::bad_pipe(pipe.id, problem));
    }

    std::vector<RejectedValue> take() { return std::move(found_); }

private:
    void add(RejectedValue::Owner owner, std::size_t index, std::string message) {
        found_.push_back(RejectedValue{owner, index, std::move(message)});
    }

    std::size_t limit_;
    std::vector<RejectedValue> found_;
};

}  // namespace

std::vector<RejectedValue> rejected_values(const Network& network, std::size_t limit) {
    Rejections found(limit);
    const DesignSettings& s = network.settings;
    found.setting(network.idf.idf_a, messages::kIdfA);
    found.setting(network.idf.idf_b, messages::kIdfB);
    found.setting(network.idf.idf_c, messages::kIdfC);
    found.setting(s.intensity, messages::kIntensity);
    found.setting(s.tailwater, messages::kTailwater);
    found.setting(s.min_tc, messages::kMinTc);
    found.setting(s.min_slope, messages::kMinSlope);
    found.setting(s.junction_k, messages::kJunctionK);
    found.setting(s.bend_loss_coeff, messages::kBendK);
    found.setting(s.access_hole_diam_ft, messages::kAccessHole);
    found.setting(s.frequency_factor, messages::kFrequencyFactor);
    for (std::size_t i = 0; i < network.nodes.size() && !found.full(); ++i) {
        const Node& node = network.nodes[i];
        found.node(node, i, node.x, messages::kNodeX);
        found.node(node, i, node.y, messages::kNodeY);
        found.node(node, i, node.invert, messages::kNodeInvert);
        found.node(node, i, node.rim, messages::kNodeRim);
        found.node(node, i, node.area_ac, messages::kNodeArea);
        found.node(node, i, node.c, messages::kNodeC);
        found.node(node, i, node.tc_inlet, messages::kNodeTc);
    }
    for (std::size_t p = 0; p < network.pipes.size() && !found.full(); ++p) {
        const Pipe& pipe = network.pipes[p];
        // One size problem per pipe at most: a rise that is not a number is also not a rise.
        auto problem = shape_problem(pipe.shape);
        if (!problem) problem = length_problem(pipe.length);
        if (problem) found.pipe_problem(pipe, p, *problem);
        found.pipe(pipe, p, pipe.n, messages::kPipeN);
        found.pipe(pipe, p, pipe.invert_up, messages::kPipeInvertUp);
        found.pipe(pipe, p, pipe.invert_dn, messages::kPipeInvertDn);
    }
    return found.take();
}

std::optional<std::string> check_values(const Network& network) {
    std::vector<RejectedValue> first = rejected_values(network, 1);
    if (first.empty()) return std::nullopt;
    return std::move(first.front().message);
}

}  // namespace rillwright
