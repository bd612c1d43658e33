// The text forms of inlet types and grates, as project files and the
// calculators give them, matched exactly.
#include "names.hpp"
#include "inlet_hydraulics.hpp"

namespace rillwright::inlets {

namespace {

struct Named {
    std::string_view text;
    int value;
};
constexpr Named kGrateNames[] = {{"P-50", 0},        {"P-50x100", 1},    {"P-30", 2},       {"curved vane", 3},
                                 {"45 tilt bar", 4}, {"30 tilt bar", 5}, {"reticuline", 6}, {"generic", 7}};

template <std::size_t N>
std::optional<int> find_name(const Named (&names)[N], std::string_view text) {
    for (const Named& n : names) {
        if (n.text == text) return n.value;
    }
    return std::nullopt;
}

}  // namespace

std::optional<InletType> inlet_type_from_text(std::string_view text) {
    for (std::size_t k = 0; k < kInletTypeNames.size(); ++k) {
        if (kInletTypeNames[k] == text) return static_cast<InletType>(k);
    }
    return std::nullopt;
}

std::optional<GrateKind> grate_from_text(std::string_view text) {
    const auto v = find_name(kGrateNames, text);
    return v ? std::optional<GrateKind>(static_cast<GrateKind>(*v)) : std::nullopt;
}

}  // namespace rillwright::inlets
