#include "parse_number.hpp"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

#include "ascii_case.hpp"

namespace rillwright {
namespace {

bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

// A literal without its sign, as significand × 10^scale.
struct DecimalLiteral {
    std::uint64_t significand = 0;      // exact while significant_digits <= 19
    std::int64_t significant_digits = 0;  // digits from the first non-zero one on
    std::int64_t scale = 0;               // exponent minus the number of fraction digits
};

// Checks the grammar (digits, an optional point, digits, at least one digit in
// all, then optionally e/E, an optional sign and at least one digit) and
// collects the literal's parts in the same pass.
std::optional<DecimalLiteral> match_decimal(std::string_view text) {
    // Far beyond any double exponent, yet safe to add to a token length.
    constexpr std::int64_t exponent_saturation = std::int64_t{1} << 50;
    DecimalLiteral literal;
    std::size_t i = 0;
    std::size_t digits = 0;
    auto take_digit = [&literal](char ch) {
        if (literal.significant_digits == 0 && ch == '0') return;
        if (literal.significant_digits < 19) literal.significand = literal.significand * 10 + (ch - '0');
        ++literal.significant_digits;
    };
    for (; i < text.size() && is_digit(text[i]); ++i, ++digits) take_digit(text[i]);
    if (i < text.size() && text[i] == '.') {
        ++i;
        std::size_t fraction_start = i;
        for (; i < text.size() && is_digit(text[i]); ++i, ++digits) take_digit(text[i]);
        literal.scale = -static_cast<std::int64_t>(i - fraction_start);
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        std::size_t digits_start = i;
        std::int64_t exponent = 0;
        for (; i < text.size() && is_digit(text[i]); ++i) {
            if (exponent < exponent_saturation) exponent = exponent * 10 + (text[i] - '0');
        }
        if (i == digits_start) return std::nullopt;
        literal.scale += negative ? -exponent : exponent;
    }
    if (i != text.size()) return std::nullopt;
    return literal;
}

// Exact when both operands are exact doubles, so the one rounding of the
// multiplication or division is the correct rounding of the literal.
std::optional<double> exact_fast_path(const DecimalLiteral& literal) {
    static constexpr double powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (literal.significand == 0) return 0.0;
    if (literal.significant_digits > 19 || literal.significand > (std::uint64_t{1} << 53)) return std::nullopt;
    if (literal.scale < -22 || literal.scale > 22) return std::nullopt;
    double significand = static_cast<double>(literal.significand);
    return literal.scale >= 0 ? significand * powers_of_ten[literal.scale]
                              : significand / powers_of_ten[-literal.scale];
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

    std::optional<DecimalLiteral> literal = match_decimal(unsigned_text);
    if (!literal) {
        if (equals_ignoring_ascii_case(unsigned_text, "inf") || equals_ignoring_ascii_case(unsigned_text, "infinity")) {
            return with_sign(std::numeric_limits<double>::infinity());
        }
        if (equals_ignoring_ascii_case(unsigned_text, "nan")) return with_sign(std::numeric_limits<double>::quiet_NaN());
        return std::nullopt;
    }
    if (std::optional<double> magnitude = exact_fast_path(*literal)) return with_sign(*magnitude);

    // The grammar is checked above, so the conversion sees a plain decimal only
    // and must take all of it; the sign is applied afterwards, which is exact.
    const char* first = unsigned_text.data();
    const char* last = first + unsigned_text.size();
    double magnitude = 0.0;
    std::from_chars_result result = std::from_chars(first, last, magnitude, std::chars_format::general);
    if (result.ptr != last) return std::nullopt;
    if (result.ec == std::errc::result_out_of_range) {
        // Out of range means beyond the largest double or below half the
        // smallest one; the power of ten of the leading digit tells which.
        std::int64_t leading_exponent = literal->scale + literal->significant_digits - 1;
        magnitude = leading_exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc{}) {
        return std::nullopt;
    }
    return with_sign(magnitude);
}

}  // namespace rillwright
