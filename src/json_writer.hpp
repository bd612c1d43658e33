// A small JSON writer: the project files' indented layout, or compact text for
// the companion extension's results. Keys and elements are written in call order.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json_text.hpp"

namespace rillwright {

class JsonWriter {
public:
    // Indented output for files people read; compact output for data handed to
    // Python, where a value that is not finite is written as NaN, Infinity or
    // -Infinity (which Python's json reads back) instead of null.
    enum class Style { indented, compact };
    explicit JsonWriter(Style style = Style::indented) : style_(style) { out_.reserve(128); }

    std::string take() { return std::move(out_); }

    void begin_object() { open('{'); }
    void end_object() { close('}'); }
    void begin_array() { open('['); }
    void end_array() { close(']'); }

    // Starts a member of the current object; its value follows.
    void key(std::string_view name) {
        next_item();
        append_json_string(out_, name);
        out_.append(style_ == Style::indented ? ": " : ":");
    }
    // Starts an element of the current array.
    void element() { next_item(); }

    void number(double value) {
        if (std::isfinite(value)) {
            append_shortest(out_, value);
        } else if (style_ == Style::indented) {
            null();
        } else {
            out_.append(std::isnan(value) ? "NaN" : value > 0 ? "Infinity" : "-Infinity");
        }
    }
    void number(float value) {
        if (std::isfinite(value)) {
            append_shortest(out_, value);
        } else {
            null();
        }
    }
    void integer(std::uint32_t value) {
        char digits[16];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        out_.append(digits, result.ptr);
    }
    void boolean(bool value) { out_.append(value ? "true" : "false"); }
    void text(std::string_view value) { append_json_string(out_, value); }
    void null() { out_.append("null"); }

    void optional_number(const std::optional<double>& value) {
        if (value) {
            number(*value);
        } else {
            null();
        }
    }
    void optional_text(const std::optional<std::string>& value) {
        if (value) {
            text(*value);
        } else {
            null();
        }
    }

    // A member of the current object: its key and value in one call.
    void number(std::string_view name, double value) {
        key(name);
        number(value);
    }
    void number(std::string_view name, float value) {
        key(name);
        number(value);
    }
    void integer(std::string_view name, std::uint32_t value) {
        key(name);
        integer(value);
    }
    void boolean(std::string_view name, bool value) {
        key(name);
        boolean(value);
    }
    void text(std::string_view name, std::string_view value) {
        key(name);
        text(value);
    }
    void optional_number(std::string_view name, const std::optional<double>& value) {
        key(name);
        optional_number(value);
    }
    void optional_text(std::string_view name, const std::optional<std::string>& value) {
        key(name);
        optional_text(value);
    }

private:
    void open(char bracket) {
        out_.push_back(bracket);
        ++depth_;
        empty_ = true;
    }
    // An empty container closes on its own line: "[]".
    void close(char bracket) {
        --depth_;
        if (!empty_) new_line();
        out_.push_back(bracket);
        empty_ = false;
    }
    void next_item() {
        if (!empty_) out_.push_back(',');
        new_line();
        empty_ = false;
    }
    void new_line() {
        if (style_ == Style::compact) return;
        out_.push_back('\n');
        out_.append(static_cast<std::size_t>(depth_) * 2, ' ');
    }

    Style style_;
    std::string out_;
    int depth_ = 0;
    bool empty_ = true;  // nothing written yet in the innermost open container
};

}  // namespace rillwright
