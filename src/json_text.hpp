// Text forms shared by the project writer and the reader's messages: JSON
// string literals and shortest round-trip numbers.
#pragma once

#include <string>
#include <string_view>

namespace rillwright {

// Appends `text` between double quotes with the JSON escapes: \" \\ \b \t \n
// \f \r, \u00xx for the other control characters; everything else as is.
void append_json_string(std::string& out, std::string_view text);

// Appends the shortest decimal that reads back to the same finite value:
// positional between 1e-5 and 1e16 in magnitude (and for zero), keeping ".0"
// on integral values, otherwise d.ddde[-]x.
void append_shortest(std::string& out, double value);
void append_shortest(std::string& out, float value);

}  // namespace rillwright
