// Project JSON text: two-space indentation, keys in declaration order, one
// growable buffer.
#include <charconv>
#include <cmath>

#include "json_writer.hpp"
#include "project.hpp"

namespace rillwright {

namespace {

void write_inlet(JsonWriter& w, const InletOverrides& inlet) {
    w.begin_object();
    w.key("length_ft");
    w.number(inlet.length_ft);
    w.key("gutter_slope");
    w.number(inlet.gutter_slope);
    w.key("sag");
    w.boolean(inlet.sag);
    w.key("grate_width_ft");
    w.number(inlet.grate_width_ft);
    w.key("cross_slope");
    w.number(inlet.cross_slope);
    w.end_object();
}

void write_node(JsonWriter& w, const ProjectNode& node) {
    w.begin_object();
    w.key("id");
    w.text(node.id);
    w.key("kind");
    w.text(node.kind);
    w.key("x");
    w.number(node.x);
    w.key("y");
    w.number(node.y);
    w.key("invert");
    w.number(node.invert);
    w.key("rim");
    w.number(node.rim);
    w.key("area_ac");
    w.number(node.area_ac);
    w.key("c");
    w.number(node.c);
    w.key("tc_inlet");
    w.number(node.tc_inlet);
    w.key("inlet");
    write_inlet(w, node.inlet);
    w.key("bypass_to");
    w.optional_text(node.bypass_to);
    w.key("diameter_ft");
    w.number(node.diameter_ft);
    if (node.benching != Benching::flat) {  // the default is left out, so older files keep their text
        w.key("benching");
        w.text(benching_name(node.benching));
    }
    w.end_object();
}

// The pipe inverts are the one pair of optional keys left out when absent.
void write_pipe(JsonWriter& w, const ProjectPipe& pipe) {
    w.begin_object();
    w.key("id");
    w.text(pipe.id);
    w.key("from");
    w.text(pipe.from);
    w.key("to");
    w.text(pipe.to);
    w.key("length");
    w.number(pipe.length);
    w.key("diameter");
    w.number(pipe.diameter);
    w.key("n");
    w.number(pipe.n);
    w.key("shape");
    w.text(pipe.shape);
    w.key("rise_ft");
    w.number(pipe.rise_ft);
    w.key("span_ft");
    w.number(pipe.span_ft);
    if (pipe.invert_up) {
        w.key("invert_up");
        w.number(*pipe.invert_up);
    }
    if (pipe.invert_dn) {
        w.key("invert_dn");
        w.number(*pipe.invert_dn);
    }
    w.end_object();
}

void write_catchment(JsonWriter& w, const ProjectCatchment& catchment) {
    w.begin_object();
    w.key("id");
    w.text(catchment.id);
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
    w.key("c");
    w.number(catchment.c);
    w.key("flow_length_ft");
    w.number(catchment.flow_length_ft);
    w.key("slope");
    w.number(catchment.slope);
    w.key("inlet_node_id");
    w.optional_text(catchment.inlet_node_id);
    w.end_object();
}

void write_background(JsonWriter& w, const std::optional<BackgroundImage>& image) {
    if (!image) return w.null();
    w.begin_object();
    w.key("path");
    w.text(image->path);
    w.key("origin_x");
    w.number(image->origin_x);
    w.key("origin_y");
    w.number(image->origin_y);
    w.key("width");
    w.number(image->width);
    w.key("opacity");
    w.number(image->opacity);
    w.end_object();
}

void write_background_dxf(JsonWriter& w, const std::optional<BackgroundDxf>& drawing) {
    if (!drawing) return w.null();
    w.begin_object();
    w.key("path");
    w.text(drawing->path);
    w.key("min_x");
    w.number(drawing->min_x);
    w.key("min_y");
    w.number(drawing->min_y);
    w.key("max_x");
    w.number(drawing->max_x);
    w.key("max_y");
    w.number(drawing->max_y);
    w.key("opacity");
    w.number(drawing->opacity);
    w.end_object();
}

void write_idf_entry(JsonWriter& w, const IdfCurveEntry& entry) {
    w.begin_object();
    w.key("rp_years");
    w.integer(entry.rp_years);
    w.key("a");
    w.number(entry.a);
    w.key("b");
    w.number(entry.b);
    w.key("c");
    w.number(entry.c);
    w.end_object();
}

void write_report(JsonWriter& w, const ReportInfo& report) {
    w.begin_object();
    w.key("project_number");
    w.text(report.project_number);
    w.key("engineer");
    w.text(report.engineer);
    w.key("firm");
    w.text(report.firm);
    w.key("jurisdiction");
    w.text(report.jurisdiction);
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
    w.key("name");
    w.text(project.name);
    w.key("idf_a");
    w.number(project.idf_a);
    w.key("idf_b");
    w.number(project.idf_b);
    w.key("idf_c");
    w.number(project.idf_c);
    w.key("tailwater");
    w.optional_number(project.tailwater);
    w.key("min_tc");
    w.number(project.min_tc);
    w.key("junction_k");
    w.number(project.junction_k);
    w.key("bend_loss_coeff");
    w.number(project.bend_loss_coeff);
    w.key("hec22_structure_loss");
    w.boolean(project.hec22_structure_loss);
    w.key("access_hole_diam_ft");
    w.number(project.access_hole_diam_ft);
    w.key("design_return_period_years");
    w.number(project.design_return_period_years);
    w.key("p2_rainfall_in");
    w.number(project.p2_rainfall_in);
    w.key("min_slope");
    w.number(project.min_slope);
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
    w.key("units");
    w.text(project.units == UnitSystem::si ? "si" : "us_customary");
    w.key("report");
    write_report(w, project.report);
    w.key("format_version");
    w.integer(project.format_version);
    if (project.structure_loss_method) {  // absent by default, and then left out
        w.key("structure_loss_method");
        w.text(*project.structure_loss_method);
    }
    w.end_object();
    return w.take();
}

}  // namespace rillwright
