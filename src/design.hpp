// Automatic design: every pipe's size chosen from a catalogue so that the
// network meets its design criteria. The sizes are picked inside the
// rational-method forward pass (each pipe when its design flow is known), then
// grade-line rounds upsize pipes under structures short of freeboard. Every
// size is the very double the readers produce from the sized text, so an
// analysis of the sized network repeats the design's numbers bit for bit.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
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
};

// ---- The catalogue, ready for one network ----------------------------------

// The shapes in the order of the PipeShape alternatives.
inline constexpr std::array<std::string_view, 4> kShapeNames = {"circular", "box", "elliptical", "arch"};

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

enum class Governor { capacity, minimum_size, no_smaller_downstream, freeboard, fixed, no_size_fits };
const char* governor_name(Governor governor);

enum class Role { sized, fixed, not_listed };  // not_listed: its shape has no catalogue sizes

struct PipeChoice {
    int step = -1;  // index into its shape's sizes; -1 while the pipe keeps its given size
    Governor governed = Governor::capacity;
};

// What the sizing pass reads besides the network.
struct SizingPlan {
    const SizeTables& tables;
    const Options& options;
    std::vector<Role> roles;  // per pipe
    std::vector<int> floors;  // per pipe: the smallest step allowed (grade-line rounds)
};

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

// The sized text: `text` with only the changed PIPE diameters rewritten, or
// the project written again with the new sizes.
std::string sized_rwn(std::string_view text, const Network& given, const Network& sized);
std::string sized_project(const Project& project, const Network& given, const Run& run, const SizeTables& tables);

// The result as compact JSON: {"pipes", "nodes", "violations", "rounds", "sized"}.
std::string result_json(const Network& given, const Run& run, const std::vector<Violation>& found,
                        std::string_view sized);

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
