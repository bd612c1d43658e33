// The plain-text network format (.rwn): line-oriented keywords, "#" comments.
#pragma once

#include <string_view>

#include "network.hpp"
#include "outcome.hpp"

namespace rillwright {

// The whole text to a Network, or the message of the first bad line ("line N: ...").
Outcome<Network> parse_rwn(std::string_view text);

}  // namespace rillwright
