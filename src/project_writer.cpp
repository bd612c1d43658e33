// Project JSON text: two-space indentation, keys in declaration order, one
// growable buffer.
#include <charconv>
#include <cmath>
#include <utility>

#include "json_writer.hpp"
#include "project.hpp"

namespace rillwright {

namespace {

void write_inlet(JsonWriter& w, const InletOverrides& inlet) {
    w.begin_object();
    w.number("length_ft", inlet.length_ft);
    w.number("gutter_slope", inlet.gutter_slope);
    w.boolean("sag", inlet.sag);
    w.number("grate_width_ft", inlet.grate_width_ft);
    w.number("cross_slope", inlet.cross_slope);
    // The HEC-22 keys, each only when present, so older files keep their text.
    if (inlet.type) w.text("type", *inlet.type);
    if (inlet.grate) w.text("grate", *inlet.grate);
    const std::pair<const char*, const std::optional<double>*> numbers[] = {
        {"splash_velocity", &inlet.splash_velocity},
        {"open_area_ratio", &inlet.open_area_ratio},
        {"gutter_n", &inlet.gutter_n},
        {"gutter_width_ft", &inlet.gutter_width_ft},
        {"depression_in", &inlet.depression_in},
        {"local_depression_in", &inlet.local_depression_in},
        {"local_depression_width_ft", &inlet.local_depression_width_ft},
        {"opening_height_in", &inlet.opening_height_in},
        {"curb_length_ft", &inlet.curb_length_ft},
        {"clogging", &inlet.clogging},
        {"spread_limit_ft", &inlet.spread_limit_ft},
    };
    for (const auto& [key, value] : numbers) {
        if (*value) w.number(key, **value);
    }
    if (inlet.sides) w.integer("sides", *inlet.sides);
    w.end_object();
}

void write_node(JsonWriter& w, const ProjectNode& node) {
    w.begin_object();
    w.text("id", node.id);
    w.text("kind", node.kind);
    w.number("x", node.x);
    w.number("y", node.y);
    w.number("invert", node.invert);
    w.number("rim", node.rim);
    w.number("area_ac", node.area_ac);
    w.number("c", node.c);
    w.number("tc_inlet", node.tc_inlet);
    w.key("inlet");
    write_inlet(w, node.inlet);
    w.optional_text("bypass_to", node.bypass_to);
    w.number("diameter_ft", node.diameter_ft);
    if (node.benching != Benching::flat) {  // the default is left out, so older files keep their text
        w.text("benching", benching_name(node.benching));
    }
    w.end_object();
}

// The pipe inverts are the one pair of optional keys left out when absent.
void write_pipe(JsonWriter& w, const ProjectPipe& pipe) {
    w.begin_object();
    w.text("id", pipe.id);
    w.text("from", pipe.from);
    w.text("to", pipe.to);
    w.number("length", pipe.length);
    w.number("diameter", pipe.diameter);
    w.number("n", pipe.n);
    w.text("shape", pipe.shape);
    w.number("rise_ft", pipe.rise_ft);
    w.number("span_ft", pipe.span_ft);
    if (pipe.invert_up) {
        w.number("invert_up", *pipe.invert_up);
    }
    if (pipe.invert_dn) {
        w.number("invert_dn", *pipe.invert_dn);
    }
    w.end_object();
}

void write_catchment(JsonWriter& w, const ProjectCatchment& catchment) {
    w.begin_object();
    w.text("id", catchment.id);
    w.key("vertices");
    w.begin_array();
    for (const Vertex& vertex : catchment.vertices) {
        w.element();
        w.begin_array();
        w.element();
        w.number(vertex.x);
        w.element();
        w.number(vertex.y);
        w.end_array();
    }
    w.end_array();
    w.number("c", catchment.c);
    w.number("flow_length_ft", catchment.flow_length_ft);
    w.number("slope", catchment.slope);
    w.optional_text("inlet_node_id", catchment.inlet_node_id);
    w.end_object();
}

void write_background(JsonWriter& w, const std::optional<BackgroundImage>& image) {
    if (!image) return w.null();
    w.begin_object();
    w.text("path", image->path);
    w.number("origin_x", image->origin_x);
    w.number("origin_y", image->origin_y);
    w.number("width", image->width);
    w.number("opacity", image->opacity);
    w.end_object();
}

void write_background_dxf(JsonWriter& w, const std::optional<BackgroundDxf>& drawing) {
    if (!drawing) return w.null();
    w.begin_object();
    w.text("path", drawing->path);
    w.number("min_x", drawing->min_x);
    w.number("min_y", drawing->min_y);
    w.number("max_x", drawing->max_x);
    w.number("max_y", drawing->max_y);
    w.number("opacity", drawing->opacity);
    w.end_object();
}

void write_idf_entry(JsonWriter& w, const IdfCurveEntry& entry) {
    w.begin_object();
    w.integer("rp_years", entry.rp_years);
    w.number("a", entry.a);
    w.number("b", entry.b);
    w.number("c", entry.c);
    w.end_object();
}

void write_report(JsonWriter& w, const ReportInfo& report) {
    w.begin_object();
    w.text("project_number", report.project_number);
    w.text("engineer", report.engineer);
    w.text("firm", report.firm);
    w.text("jurisdiction", report.jurisdiction);
    w.end_object();
}

template <class T, class WriteItem>
void write_list(JsonWriter& w, const std::vector<T>& items, WriteItem&& write_item) {
    w.begin_array();
    for (const T& item : items) {
        w.element();
        write_item(w, item);
    }
    w.end_array();
}

}  // namespace

std::string write_project_json(const Project& project) {
    JsonWriter w;
    w.begin_object();
    w.text("name", project.name);
    w.number("idf_a", project.idf_a);
    w.number("idf_b", project.idf_b);
    w.number("idf_c", project.idf_c);
    w.optional_number("tailwater", project.tailwater);
    w.number("min_tc", project.min_tc);
    w.number("junction_k", project.junction_k);
    w.number("bend_loss_coeff", project.bend_loss_coeff);
    w.boolean("hec22_structure_loss", project.hec22_structure_loss);
    w.number("access_hole_diam_ft", project.access_hole_diam_ft);
    w.number("design_return_period_years", project.design_return_period_years);
    w.number("p2_rainfall_in", project.p2_rainfall_in);
    w.number("min_slope", project.min_slope);
    w.key("nodes");
    write_list(w, project.nodes, write_node);
    w.key("pipes");
    write_list(w, project.pipes, write_pipe);
    w.key("catchments");
    write_list(w, project.catchments, write_catchment);
    w.key("background");
    write_background(w, project.background);
    w.key("background_dxf");
    write_background_dxf(w, project.background_dxf);
    w.key("idf_curves");
    write_list(w, project.idf_curves, write_idf_entry);
    w.text("units", project.units == UnitSystem::si ? "si" : "us_customary");
    w.key("report");
    write_report(w, project.report);
    w.integer("format_version", project.format_version);
    if (project.structure_loss_method) {  // absent by default, and then left out
        w.text("structure_loss_method", *project.structure_loss_method);
    }
    if (project.spread_limit_ft) {  // the inlets' allowed spread, absent by default
        w.number("spread_limit_ft", *project.spread_limit_ft);
    }
    if (project.crs) w.text("crs", *project.crs);  // likewise
    w.end_object();
    return w.take();
}

}  // namespace rillwright
