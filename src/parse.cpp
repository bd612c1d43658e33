#include "parse.hpp"

namespace rillwright {

Outcome<Network> parse_rwn(std::string_view) {
    return Outcome<Network>::failure("the .rwn reader is not available yet");
}

}  // namespace rillwright
