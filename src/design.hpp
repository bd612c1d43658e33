// Automatic design: every pipe's size chosen from a catalogue so that the
// network meets its design criteria. The sizes are picked inside the
// rational-method forward pass (each pipe when its design flow is known), then
// grade-line rounds upsize pipes under structures short of freeboard. Every
// size is the very double the readers produce from the sized text, so an
// analysis of the sized network repeats the design's numbers bit for bit.
#pragma once

#include "names.hpp"
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "network.hpp"
#include "network_passes.hpp"
#include "network_source.hpp"
#include "outcome.hpp"

namespace rillwright::design {

// ---- Options, as the caller gives them ------------------------------------

// One shape's sizes as given, in inches: {diameter} for "circular",
// {rise, span} for the others (a wrong count is an option error).
struct CatalogueEntry {
    std::string shape;
    std::vector<std::vector<double>> sizes;
};

struct Options {
    std::optional<std::vector<CatalogueEntry>> catalogue;  // none: the default catalogue
    double max_fill = 1.0;                                 // design_q <= max_fill * capacity
    std::optional<double> min_size;                        // in, compared by rise
    bool no_smaller_downstream = true;
    std::optional<double> min_velocity;   // ft/s
    std::optional<double> max_velocity;   // ft/s
    std::optional<double> min_cover;      // ft
    std::optional<double> min_freeboard;  // ft
    std::vector<std::string> fixed;       // pipe ids that keep their size
    bool whole_network = false;           // rounds on the whole network at once (the plain way, for tests)
    // The profile: inverts and slopes chosen with the sizes (ft, ft/ft, ft/s).
    bool profile = false;
    std::string match = "crown";  // "crown", "0.8" or "invert"
    double min_drop = 0.1;
    std::optional<double> max_drop;
    std::optional<double> min_slope;
    std::optional<double> max_slope;
    std::optional<double> min_full_velocity;
    std::optional<double> max_depth;
    std::vector<std::string> fixed_inverts;  // structure ids that keep their invert
    // The limits a profile design holds unless the caller gives a value or none:
    // max_depth (rim to invert), max_velocity (at the design flow) and min_slope,
    // whose defaults `with_profile_defaults` fills in. Without the profile the
    // limits left to their defaults are none.
    struct Defaulted {
        bool max_depth = false;
        bool max_velocity = false;
        bool min_slope = false;
    };
    Defaulted defaulted;

    // Least cost (design_cost.hpp): the objective, the cost model as given
    // (scalars by key; prices per shape by size key), the grid of inverts (ft, m in SI).
    std::string objective = "shallowest";  // or "cost"
    std::vector<std::pair<std::string, double>> cost_values;
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, double>>>> cost_prices;
    bool cost_given = false;
    double invert_step = 0.01;
};

// The profile's default limits. 20 ft from rim to invert and 20 ft/s at the
// design flow: beyond them a storm drain needs a design of its own (shoring of
// a deep trench; protection against abrasion and scour), so a profile that
// passes them is named, never accepted silently. The minimum slope is the
// network's own min_slope, the slope the analysis credits a flat pipe with, so
// that no pipe is laid flatter than its capacity assumes (none when that is not
// above 0, and never above max_slope).
inline constexpr double kDefaultMaxDepth = 20.0;
inline constexpr double kDefaultMaxVelocity = 20.0;
Options with_profile_defaults(Options options, const Network& network);

// The cover the profile designs to: min_cover, 3 ft by default.
inline constexpr double kDefaultProfileCover = 3.0;
// The fraction of the rise that the matching rule lines up: 1 crown, 0.8, 0 invert.
double match_fraction(const std::string& match);

// ---- The catalogue, ready for one network ----------------------------------

using rillwright::kShapeNames;  // the shapes in the order of the PipeShape alternatives

// Where the sized text is written, which decides the doubles a size becomes.
enum class LengthUnit {
    rwn_feet,       // .rwn text: feet
    project_feet,   // a US customary project
    project_metres  // an SI project: written in metres, converted by the project reader
};

// One catalogue size as the network will read it back.
struct CatalogueSize {
    double rise_in = 0.0;
    double span_in = 0.0;
    double written_rise = 0.0;  // in the length unit of the sized text
    double written_span = 0.0;
    PipeShape shape;            // in ft, exactly as the reader builds it from the written values
    double diameter = 0.0;      // the pipe's equivalent diameter, as its constructor gives it
    FullSection full;           // of `shape`, for the capacity of every candidate
};

// Per shape (PipeShape alternative), its sizes ordered by full area; a shape
// the catalogue does not list has none.
struct SizeTables {
    std::array<std::vector<CatalogueSize>, 4> shapes;
    std::array<bool, 4> listed{};
};

// The tables of the options' catalogue (or the default one), or the message of
// a bad catalogue.
Outcome<SizeTables> size_tables(const Options& options, LengthUnit unit);

// The message of the first bad limit or unknown fixed id, or nothing.
std::optional<std::string> check_limits(const Options& options, const Network& network);

// ---- Sizing ------------------------------------------------------------------

enum class Governor { capacity, minimum_size, no_smaller_downstream, freeboard, fixed, no_size_fits, least_cost };
const char* governor_name(Governor governor);

// not_listed: its shape has no catalogue sizes; cannot_carry: its inverts give it
// no fall (plain design), so no size carries its flow and it keeps its given one.
enum class Role { sized, fixed, not_listed, cannot_carry };

enum class SlopeGovernor { cover, minimum_slope, minimum_velocity, capacity, maximum_slope, fixed, least_cost };
const char* slope_governor_name(SlopeGovernor governor);

struct PipeChoice {
    int step = -1;  // index into its shape's sizes; -1 while the pipe keeps its given size
    Governor governed = Governor::capacity;
    // With the profile: the inverts as written in the sized text (the network
    // holds them as read back) and why the slope is what it is.
    double written_up = 0.0;
    double written_dn = 0.0;
    SlopeGovernor slope_governed = SlopeGovernor::cover;
    // Its size carries its design flow (design_q <= max_fill * capacity): only
    // such a pipe bounds the pipes below it by no_smaller_downstream.
    bool carries = true;
    // With the profile: false when the design flow or a level of its profile is
    // not a finite number; the pipe is then laid by the ground alone.
    bool finite = true;
};

// What the sizing pass reads besides the network.
struct SizingPlan {
    const SizeTables& tables;
    const Options& options;
    std::vector<Role> roles;  // per pipe
    std::vector<int> floors;  // per pipe: the smallest step allowed (grade-line rounds)
    LengthUnit unit = LengthUnit::rwn_feet;
    std::vector<char> fixed_nodes;  // per node, with the profile: keeps its invert (outfalls always)
};

// ---- The profile -------------------------------------------------------------------

// An invert as read back from the sized text, and as written there.
struct Level {
    double feet = 0.0;
    double written = 0.0;
};
// The highest level the sized text can hold at or below `feet`.
Level readable_at_most(double feet, LengthUnit unit);

// One pipe's ends and slope reason for one candidate size; `allowed` false
// when the size needs more than max_slope (the ends are then its best try).
struct ProfileCandidate {
    bool allowed = false;
    Level up;
    Level dn;
    SlopeGovernor governed = SlopeGovernor::cover;
};

// Pipe p of `network` (its upstream node's entering pipes already designed)
// with catalogue size `size` installed: as high as the rules allow.
ProfileCandidate profile_candidate(Network& network, const Topology& topology, const SizingPlan& plan,
                                   std::size_t p, const CatalogueSize* size, double q);

// The forward pass with sizing: `network` gets the chosen sizes, `choices`
// why. The flows are those the analysis computes for the sized network.
DesignFlows size_forward(Network& network, const Topology& topology, const SizingPlan& plan,
                         std::vector<PipeChoice>& choices);

// ---- Grade-line rounds -----------------------------------------------------------

struct ShortStructure {
    std::size_t node = 0;
    std::string reason;  // why no upsizing can raise its freeboard
};

struct Run {
    Network network;  // sized
    std::vector<PipeChoice> choices;
    AnalysisResult result;  // the analysis of the sized network
    int rounds = 0;
    std::vector<ShortStructure> short_structures;  // below min_freeboard at the end
};

// Sizing, the grade line and, with min_freeboard, the rounds that upsize a pipe
// on the path of each structure short of freeboard.
Run run_design(Network network, const Topology& topology, SizingPlan& plan);

// ---- Output ------------------------------------------------------------------------

struct Violation {
    std::string kind;  // "size", "velocity", "cover", "freeboard"
    std::string id;
    std::string message;
};

std::vector<Violation> violations(const Network& given, const Topology& topology, const Run& run,
                                  const SizingPlan& plan);
// The profile's own violations, appended to `found`.
void profile_violations(const Run& run, const Topology& topology, const SizingPlan& plan, std::vector<Violation>& found);

// The sized text: `text` with only the changed PIPE diameters rewritten, or
// the project written again with the new sizes.
std::string sized_rwn(std::string_view text, const Network& given, const Network& sized);
std::string sized_project(const Project& project, const Network& given, const Run& run, const SizeTables& tables);
// With the profile: the project with the sizes and every pipe's and
// structure's invert; a .rwn network first becomes a project of the same records.
Project project_of(const Network& network);
std::string profiled_project(const Project& project, const Network& given, const Run& run, const SizingPlan& plan);

// The result as compact JSON: {"pipes", "nodes", "violations", "rounds", "sized"}, and
// with the profile "cost" and each pipe's cost (design_cost.hpp).
struct CostSummary;
std::string result_json(const Network& given, const Topology& topology, bool profile, const Run& run,
                        const std::vector<Violation>& found, std::string_view sized,
                        const CostSummary* cost = nullptr);
// The largest fall from an entering pipe's downstream invert to structure v's invert (0 without one).
double structure_drop(const Network& network, const Topology& topology, std::size_t v);

// ---- The whole design ------------------------------------------------------------

struct Failure {
    bool bad_option = false;  // an option's fault rather than the network's
    std::string message;
};

// The design of a network read from `text`: the result JSON, or the failure.
struct Designed {
    std::optional<std::string> json;
    Failure failure;
};
Designed design_network(const LoadedNetwork& loaded, std::string_view text, const Options& options);

}  // namespace rillwright::design
