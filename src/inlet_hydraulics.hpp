// HEC-22 (3rd edition, chapter 4) pavement drainage: gutter flow, inlets on
// grade and inlets in a sag. US customary units throughout (ft, ft/s, ft^3/s);
// SI callers convert exactly at the boundary, so one set of constants serves both.
#pragma once

#include <optional>
#include <string_view>

namespace rillwright::inlets {

enum class InletType { grate, curb, combination, slotted };
enum class GrateKind { p50, p50x100, p30, curved_vane, tilt45, tilt30, reticuline, generic };

std::optional<InletType> inlet_type_from_text(std::string_view text);
std::optional<GrateKind> grate_from_text(std::string_view text);

// The gutter: a uniform cross slope, or a continuously depressed gutter of
// width w and depression a (composite section) when a > 0.
struct Gutter {
    double sx = 0.02;  // pavement cross slope
    double sl = 0.01;  // longitudinal slope
    double n = 0.016;
    double w = 2.0;  // ft
    double a = 0.0;  // ft
};

struct GutterFlow {
    double q = 0.0;
    double spread = 0.0;
    double depth = 0.0;  // at the curb
    double area = 0.0;
    double velocity = 0.0;
    double sw = 0.0;  // slope of the gutter section (sx when uniform)
    double eo = 0.0;  // share of the flow within the width w
    double qw = 0.0;
    double qs = 0.0;
    double w_over_t = 0.0;
};

GutterFlow gutter_at_spread(const Gutter& gutter, double spread);
GutterFlow gutter_at_flow(const Gutter& gutter, double q);  // bisection on the spread

// Eq 4-16: the share of a triangular section's flow within the width w of the curb.
double frontal_ratio(double w, double spread);

struct Inlet {
    InletType type = InletType::grate;
    GrateKind grate = GrateKind::p50;
    double splash_velocity = 0.0;  // generic grate only (ft/s)
    double open_area_ratio = 0.0;  // generic grate only
    double length = 0.0;           // grate, curb opening or slot length (ft)
    double grate_width = 0.0;      // grate width, or slot width of a slotted drain (ft)
    double curb_length = 0.0;      // a combination inlet's curb opening upstream of its grate (ft)
    double opening_height = 0.5;   // curb opening height (ft)
    double local_depression = 0.0;        // ft, at the inlet only
    double local_depression_width = 0.0;  // ft
    double clogging = 0.0;  // in a sag the share of grate width lost (HEC-22); on grade the share of capture lost (SWMM 5.2)
};

double splash_velocity(const Inlet& inlet, double length);
double open_area_ratio(const Inlet& inlet);

// On grade: every intermediate value of the inlet's method; absent where it does not apply.
struct OnGrade {
    GutterFlow gutter;               // the approach flow
    std::optional<double> eo;        // frontal flow ratio over the grate or depression
    std::optional<double> vo;        // splash-over velocity
    std::optional<double> rf;
    std::optional<double> rs;
    std::optional<double> lt;        // length for total interception of the curb opening or slot
    std::optional<double> se;        // equivalent cross slope
    std::optional<double> curb_intercepted;   // sweeper: the upstream curb opening's part
    std::optional<double> grate_intercepted;  // sweeper: the grate's part
    double efficiency = 0.0;
    double intercepted = 0.0;
    double bypass = 0.0;
};

OnGrade inlet_on_grade(const Gutter& gutter, const Inlet& inlet, double q);

// In a sag: the depth at which the inlet passes q (it takes it all).
struct InSag {
    double q = 0.0;
    double depth = 0.0;         // ponded depth at the curb (ft)
    double spread = 0.0;        // ft
    double weir_q = 0.0;        // capacities at that depth, for the record
    double orifice_q = 0.0;
    const char* regime = "weir";  // "weir", "orifice" or "transition"
};

// The inlet's capacity with water `depth` deep at the curb.
InSag sag_capacity(const Gutter& gutter, const Inlet& inlet, double depth);
InSag inlet_in_sag(const Gutter& gutter, const Inlet& inlet, double q);

}  // namespace rillwright::inlets
