// A value or one complete, human-readable error message. Every fallible stage of
// the core returns one of these; only the Python boundary turns errors into
// exceptions.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace rillwright {

template <class T>
struct Outcome {
    std::optional<T> value;
    std::string error;  // meaningful only when value is empty

    bool ok() const { return value.has_value(); }

    static Outcome success(T v) { return Outcome{std::move(v), {}}; }
    static Outcome failure(std::string message) { return Outcome{std::nullopt, std::move(message)}; }
};

}  // namespace rillwright
