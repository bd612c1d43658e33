// The strict decimal number reader of the .rwn format.
#pragma once

#include <optional>
#include <string_view>

namespace rillwright {

// A decimal literal (optional sign, digits with an optional point, optional
// exponent) correctly rounded to the nearest double, or "inf", "infinity" or
// "nan" in any case with an optional sign. Out-of-range magnitudes become an
// infinity or zero. Anything else (hex, separators, a lone sign or point) is
// not a number.
std::optional<double> parse_number(std::string_view token);

}  // namespace rillwright
