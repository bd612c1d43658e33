// The HEC-22 constants of the inlet stage, US customary, in one place. SI
// results come from these by exact unit conversion, not from the SI
// coefficients the manual prints (a few of which are not conversions).
#pragma once

namespace rillwright::inlets {

inline constexpr double kGutterKu = 0.56;       // Eq 4-2
inline constexpr double kFrontalKu = 0.09;      // Eq 4-18
inline constexpr double kSideKu = 0.15;         // Eq 4-19
inline constexpr double kCurbLengthKu = 0.6;    // Eq 4-22
inline constexpr double kGrateWeirCw = 3.0;     // Eq 4-26
inline constexpr double kOrificeCo = 0.67;      // Eqs 4-27, 4-31, 4-35
inline constexpr double kCurbWeirDepressed = 2.3;    // Eq 4-28
inline constexpr double kCurbWeirUndepressed = 3.0;  // Eq 4-30
inline constexpr double kSlotWeirCw = 2.48;     // Eq 4-32
inline constexpr double kSlotOrificeC = 0.8;    // Eq 4-33
inline constexpr double kGravity = 32.16;       // ft/s^2
inline constexpr double kLongCurbOpening = 12.0;  // ft: longer openings use Eq 4-30 even when depressed
inline constexpr double kSlotWeirLimit = 0.2;   // ft: slotted drains are weirs up to this depth
inline constexpr double kTransitionTop = 1.4;   // curb openings are orifices from d = 1.4 h

// Splash-over velocity fits of HEC-22 Chart 5, Vo = alpha + beta L - gamma L^2 + eta L^3,
// and each grate's open-area ratio, in GrateKind order (generic last, from the input).
struct GrateCoefficients {
    double alpha, beta, gamma, eta, open_area;
};
inline constexpr GrateCoefficients kGrates[] = {
    {2.22, 4.03, 0.65, 0.06, 0.90},  // P-50
    {0.74, 2.44, 0.27, 0.02, 0.80},  // P-50x100
    {1.76, 3.12, 0.45, 0.03, 0.60},  // P-30
    {0.30, 4.85, 1.31, 0.15, 0.35},  // curved vane
    {0.99, 2.64, 0.36, 0.03, 0.17},  // 45 tilt bar (open area assumed)
    {0.51, 2.34, 0.20, 0.01, 0.34},  // 30 tilt bar
    {0.28, 2.28, 0.18, 0.01, 0.80},  // reticuline
};

}  // namespace rillwright::inlets
