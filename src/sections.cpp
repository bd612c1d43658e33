#include "sections.hpp"

namespace rillwright {
// Conduit geometry: built in the network analysis work.
}  // namespace rillwright
