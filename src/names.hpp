#pragma once
// The one table of each enumeration's text form, and the one foot, for every stage.

#include <array>
#include <string_view>

namespace rillwright {

// Feet per metre of the project conversion: 1 / 0.3048, the international foot.
inline constexpr double kFeetPerMetre = 3.280839895013123;

// Pipe shapes in the order of the PipeShape alternatives.
inline constexpr std::array<std::string_view, 4> kShapeNames = {"circular", "box", "elliptical", "arch"};

// Node kinds in the order of NodeKind.
inline constexpr std::array<std::string_view, 3> kNodeKindNames = {"inlet", "junction", "outfall"};

// Inlet types in the order of inlets::InletType.
inline constexpr std::array<std::string_view, 4> kInletTypeNames = {"grate", "curb", "combination", "slotted"};

}  // namespace rillwright
