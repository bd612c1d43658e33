// The plain-text network format (.rwn): line-oriented keywords, "#" comments.
#pragma once

#include <string_view>
#include <vector>

#include "network.hpp"
#include "outcome.hpp"

namespace rillwright {

// The whole text to a Network, or the message of the first bad line ("line N: ...").
Outcome<Network> parse_rwn(std::string_view text);

// The diameter token of every PIPE line, as slices of `text`, in pipe order:
// what a writer replaces to resize the pipes and keep everything else. For a
// text that parse_rwn accepts.
std::vector<std::string_view> rwn_pipe_diameters(std::string_view text);

}  // namespace rillwright
