// Reading a whole text file, with the operating system's own error text.
#pragma once

#include <string>

#include "outcome.hpp"

namespace rillwright {

// The file's bytes as valid UTF-8 text. Errors read "<system text> (os error N)"
// or "stream did not contain valid UTF-8".
Outcome<std::string> read_utf8_file(const std::string& path);

bool is_valid_utf8(std::string_view bytes);

}  // namespace rillwright
