// The .rwproj project: its records, JSON reading and writing, conversion into a
// Network, and the built-in demo.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hydraulics.hpp"
#include "network.hpp"
#include "outcome.hpp"

namespace rillwright {

// Inlet data of a node, read by the HEC-22 inlet stage (the module's analysis
// ignores it). The optional keys are written only when present.
struct InletOverrides {
    double length_ft = 0.0;
    double gutter_slope = 0.0;
    bool sag = false;
    double grate_width_ft = 0.0;
    double cross_slope = 0.0;
    std::optional<std::string> type;   // "grate", "curb", "combination", "slotted"
    std::optional<std::string> grate;  // "P-50", ..., "generic"
    std::optional<double> splash_velocity;
    std::optional<double> open_area_ratio;
    std::optional<double> gutter_n;
    std::optional<double> gutter_width_ft;
    std::optional<double> depression_in;  // mm in an SI project, as are the other _in keys
    std::optional<double> local_depression_in;
    std::optional<double> local_depression_width_ft;
    std::optional<double> opening_height_in;
    std::optional<double> curb_length_ft;
    std::optional<double> clogging;
    std::optional<double> spread_limit_ft;
    std::optional<std::uint32_t> sides;  // gutters the approach flow splits between: 1 or 2

    bool operator==(const InletOverrides&) const = default;
};

struct ProjectNode {
    std::string id;
    std::string kind;  // "inlet", "junction", "outfall"; any other text reads as an inlet
    double x = 0.0;
    double y = 0.0;
    double invert = 0.0;
    double rim = 0.0;
    double area_ac = 0.0;
    double c = 0.0;
    double tc_inlet = 0.0;
    InletOverrides inlet;
    std::optional<std::string> bypass_to;
    double diameter_ft = 4.0;
    Benching benching = Benching::flat;  // written only when not flat

    bool operator==(const ProjectNode&) const = default;
};

struct ProjectPipe {
    std::string id;
    std::string from;
    std::string to;
    double length = 0.0;
    double diameter = 0.0;
    double n = 0.0;
    std::string shape = "circular";  // "circular", "box", "elliptical", "arch"; others read as circular
    double rise_ft = 0.0;
    double span_ft = 0.0;
    std::optional<double> invert_up;
    std::optional<double> invert_dn;

    bool operator==(const ProjectPipe&) const = default;
};

// One polygon corner; plan coordinates in feet in both unit systems.
struct Vertex {
    double x = 0.0;
    double y = 0.0;

    bool operator==(const Vertex&) const = default;
};

struct ProjectCatchment {
    std::string id;
    std::vector<Vertex> vertices;
    double c = 0.0;
    double flow_length_ft = 0.0;
    double slope = 0.0;
    std::optional<std::string> inlet_node_id;

    bool operator==(const ProjectCatchment&) const = default;
};

struct IdfCurveEntry {
    std::uint32_t rp_years = 0;
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;

    bool operator==(const IdfCurveEntry&) const = default;
};

struct BackgroundImage {
    std::string path;
    double origin_x = 0.0;
    double origin_y = 0.0;
    double width = 0.0;
    float opacity = 0.0f;

    bool operator==(const BackgroundImage&) const = default;
};

struct BackgroundDxf {
    std::string path;
    double min_x = 0.0;
    double min_y = 0.0;
    double max_x = 0.0;
    double max_y = 0.0;
    float opacity = 0.45f;

    bool operator==(const BackgroundDxf&) const = default;
};

struct ReportInfo {
    std::string project_number;
    std::string engineer;
    std::string firm;
    std::string jurisdiction;

    bool operator==(const ReportInfo&) const = default;
};

// Lengths are in the project's length unit (feet, or metres in an SI project)
// until the conversion. Default member values are the defaults of a missing key.
struct Project {
    std::string name;
    double idf_a = 0.0;
    double idf_b = 0.0;
    double idf_c = 0.0;
    std::optional<double> tailwater;
    double min_tc = 0.0;
    double junction_k = 0.0;
    double bend_loss_coeff = 0.0;
    bool hec22_structure_loss = false;
    double access_hole_diam_ft = 0.0;
    double design_return_period_years = 10.0;
    double p2_rainfall_in = 3.0;
    double min_slope = 0.001;
    std::vector<ProjectNode> nodes;
    std::vector<ProjectPipe> pipes;
    std::vector<ProjectCatchment> catchments;
    std::optional<BackgroundImage> background;
    std::optional<BackgroundDxf> background_dxf;
    std::vector<IdfCurveEntry> idf_curves;
    UnitSystem units = UnitSystem::us_customary;
    ReportInfo report;
    std::uint32_t format_version = 1;
    // "hec22_energy" selects the energy-level structure loss; any other text,
    // like none, keeps hec22_structure_loss's choice. Written only when present.
    std::optional<std::string> structure_loss_method;
    // The allowed spread of every inlet without its own. Written only when present.
    std::optional<double> spread_limit_ft;
    // The coordinate reference system of the plan coordinates (an authority code such
    // as "EPSG:2229", or WKT), for GIS exchange; kept only. Written only when present.
    std::optional<std::string> crs;

    bool operator==(const Project&) const = default;
};

// Reads project JSON. The error is the reader's message followed by
// " at line L column C".
Outcome<Project> parse_project(std::string_view json_text);

// The first bad value of a node's inlet data as a message naming the node and
// key, or none.
std::optional<std::string> inlet_data_problem(std::string_view node, const InletOverrides& inlet);

// Indented JSON text of a project; reads back to an equal project.
std::string write_project_json(const Project& project);

// The IDF coefficients for the design return period, in in/hr.
IdfCurve select_idf_curve(const Project& project);

// The runoff frequency factor of a design return period in years.
double frequency_factor(double design_return_period_years);

// A length of the project's unit in feet, exactly as the conversion gives it.
double project_length_feet(double value, UnitSystem units);

// The project as an analysis network in US customary units. Never fails.
Network convert_project(const Project& project);

Project demo_project();

struct ProjectAnalysis {
    std::string name;
    AnalysisResult result;
};

// The project driver: read, convert, analyse. Errors carry their stage prefix
// ("invalid project JSON: " or "analysis failed: ").
Outcome<ProjectAnalysis> run_project(std::string_view json_text);

// The demo project written as project JSON.
Outcome<std::string> demo_project_text();

}  // namespace rillwright
