// The strict decimal number reader of the .rwn format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace rillwright {

// A decimal literal (optional sign, digits with an optional point, optional
// exponent) correctly rounded to the nearest double, or "inf", "infinity" or
// "nan" in any case with an optional sign. Out-of-range magnitudes become an
// infinity or zero. Anything else (hex, separators, a lone sign or point) is
// not a number. (Defined at the end of this header.)
inline std::optional<double> parse_number(std::string_view token);

// Any token, by the general literal matcher.
std::optional<double> parse_general_number(std::string_view token);

// The common short literal, [sign] digits [. digits] in at most 17 characters,
// read in one tight loop: the same significand and power of ten as the general
// path, so the same one correctly rounded operation and the same bits. False
// for anything else (an exponent, a word, a long or malformed token), which is
// left to the general path. Inline, so that the hot path of a reader returns
// its value in a register.
inline bool read_short_plain_decimal(std::string_view token, double& value) {
    constexpr std::size_t longest = 17;  // below 10^17, and 10^k exact for k <= 17
    if (token.empty() || token.size() > longest) return false;
    std::size_t i = 0;
    const bool negative = token[0] == '-';
    if (token[0] == '-' || token[0] == '+') ++i;
    std::uint64_t significand = 0;
    std::size_t digits = 0;
    std::size_t fraction_digits = 0;
    bool point = false;
    for (; i < token.size(); ++i) {
        const char ch = token[i];
        if (ch >= '0' && ch <= '9') {
            significand = significand * 10 + static_cast<std::uint64_t>(ch - '0');
            ++digits;
            fraction_digits += point;
        } else if (ch == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (digits == 0 || significand > (std::uint64_t{1} << 53)) return false;
    static constexpr double powers_of_ten[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                               1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
    const double magnitude =
        significand == 0 ? 0.0 : static_cast<double>(significand) / powers_of_ten[fraction_digits];
    value = negative ? -magnitude : magnitude;
    return true;
}

inline std::optional<double> parse_number(std::string_view token) {
    double value = 0.0;
    if (read_short_plain_decimal(token, value)) return value;
    return parse_general_number(token);
}

}  // namespace rillwright
