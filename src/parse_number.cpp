#include "parse_number.hpp"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

#include "ascii_case.hpp"

namespace rillwright {
namespace {

bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

// The parts of a literal without its sign; the fraction digits, if any, start
// just after the point at index integer_digits.
struct DecimalShape {
    std::size_t integer_digits = 0;
    std::size_t fraction_digits = 0;
    std::size_t exponent_start = 0;  // index of the exponent's sign or first digit; 0 without one
};

// Checks the grammar: digits, an optional point, digits (at least one digit in
// all), then optionally e/E, an optional sign and at least one digit.
std::optional<DecimalShape> match_decimal(std::string_view text) {
    DecimalShape shape;
    std::size_t i = 0;
    while (i < text.size() && is_digit(text[i])) ++i;
    shape.integer_digits = i;
    if (i < text.size() && text[i] == '.') {
        ++i;
        std::size_t fraction_start = i;
        while (i < text.size() && is_digit(text[i])) ++i;
        shape.fraction_digits = i - fraction_start;
    }
    if (shape.integer_digits + shape.fraction_digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        shape.exponent_start = i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t digits_start = i;
        while (i < text.size() && is_digit(text[i])) ++i;
        if (i == digits_start) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    return shape;
}

// The power of ten of the literal's leading non-zero digit, saturated far
// beyond the double range; nullopt when every digit is zero.
std::optional<std::int64_t> leading_decimal_exponent(std::string_view text, const DecimalShape& shape) {
    constexpr std::int64_t saturation = std::int64_t{1} << 50;
    std::int64_t exponent = 0;
    if (shape.exponent_start != 0) {
        std::size_t i = shape.exponent_start;
        bool negative = false;
        if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
        for (; i < text.size(); ++i) {
            if (exponent < saturation) exponent = exponent * 10 + (text[i] - '0');
        }
        if (negative) exponent = -exponent;
    }
    for (std::size_t i = 0; i < shape.integer_digits; ++i) {
        if (text[i] != '0') return exponent + static_cast<std::int64_t>(shape.integer_digits - 1 - i);
    }
    for (std::size_t j = 0; j < shape.fraction_digits; ++j) {
        if (text[shape.integer_digits + 1 + j] != '0') return exponent - static_cast<std::int64_t>(j + 1);
    }
    return std::nullopt;
}

}  // namespace

std::optional<double> parse_number(std::string_view token) {
    bool negative = false;
    std::string_view unsigned_text = token;
    if (!unsigned_text.empty() && (unsigned_text.front() == '+' || unsigned_text.front() == '-')) {
        negative = unsigned_text.front() == '-';
        unsigned_text.remove_prefix(1);
    }
    auto with_sign = [negative](double magnitude) { return negative ? -magnitude : magnitude; };

    if (equals_ignoring_ascii_case(unsigned_text, "inf") || equals_ignoring_ascii_case(unsigned_text, "infinity")) {
        return with_sign(std::numeric_limits<double>::infinity());
    }
    if (equals_ignoring_ascii_case(unsigned_text, "nan")) {
        return with_sign(std::numeric_limits<double>::quiet_NaN());
    }

    std::optional<DecimalShape> shape = match_decimal(unsigned_text);
    if (!shape) return std::nullopt;

    // The grammar is checked above, so the conversion sees a plain decimal only
    // and must take all of it; the sign is applied afterwards, which is exact.
    const char* first = unsigned_text.data();
    const char* last = first + unsigned_text.size();
    double magnitude = 0.0;
    std::from_chars_result result = std::from_chars(first, last, magnitude, std::chars_format::general);
    if (result.ptr != last) return std::nullopt;
    if (result.ec == std::errc::result_out_of_range) {
        // Out of range means beyond the largest double or below half the
        // smallest one; the leading digit's power of ten tells which.
        std::optional<std::int64_t> exponent = leading_decimal_exponent(unsigned_text, *shape);
        bool overflow = exponent && *exponent > 0;
        magnitude = overflow ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc{}) {
        return std::nullopt;
    }
    return with_sign(magnitude);
}

}  // namespace rillwright
