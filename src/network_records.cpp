#include "names.hpp"
#include "network_records.hpp"

#include <type_traits>

#include "energy_loss.hpp"
#include "json_writer.hpp"

namespace rillwright {

namespace {

void write_settings(JsonWriter& w, const Network& network) {
    const DesignSettings& s = network.settings;
    w.begin_object();
    w.number("idf_a", network.idf.idf_a);
    w.number("idf_b", network.idf.idf_b);
    w.number("idf_c", network.idf.idf_c);
    w.optional_number("tailwater", s.tailwater);
    w.optional_number("intensity", s.intensity);
    w.number("min_tc", s.min_tc);
    w.number("junction_k", s.junction_k);
    w.number("min_slope", s.min_slope);
    w.number("bend_loss_coeff", s.bend_loss_coeff);
    w.number("access_hole_diam_ft", s.access_hole_diam_ft);
    w.boolean("hec22_structure_loss", s.hec22_structure_loss);
    w.boolean("energy_structure_loss", s.energy_structure_loss);
    w.number("structure_loss_factor", s.structure_loss_factor);
    w.number("frequency_factor", s.frequency_factor);
    w.end_object();
}

void write_node(JsonWriter& w, const Node& node) {
    w.element();
    w.begin_object();
    w.text("id", node.id);
    w.text("kind", node_kind_name(node.kind));
    w.number("x", node.x);
    w.number("y", node.y);
    w.number("invert", node.invert);
    w.number("rim", node.rim);
    w.number("area", node.area_ac);
    w.number("c", node.c);
    w.number("tc_inlet", node.tc_inlet);
    w.text("benching", benching_name(node.benching));
    w.end_object();
}

struct RiseSpan {
    double rise;
    double span;
};

RiseSpan rise_and_span(const PipeShape& shape) {
    return std::visit([](const auto& s) -> RiseSpan {
        if constexpr (std::is_same_v<std::decay_t<decltype(s)>, Circular>) {
            return {s.diameter, s.diameter};
        } else {
            return {s.rise, s.span};
        }
    }, shape);
}

void write_pipe(JsonWriter& w, const Pipe& pipe) {
    const RiseSpan size = rise_and_span(pipe.shape);
    w.element();
    w.begin_object();
    w.text("id", pipe.id);
    w.text("from", pipe.from);
    w.text("to", pipe.to);
    w.number("length", pipe.length);
    w.text("shape", shape_name(pipe.shape));
    w.number("rise", size.rise);
    w.number("span", size.span);
    w.number("n", pipe.n);
    w.optional_number("invert_up", pipe.invert_up);
    w.optional_number("invert_dn", pipe.invert_dn);
    w.end_object();
}

}  // namespace

const char* node_kind_name(NodeKind kind) {
    return kNodeKindNames[static_cast<std::size_t>(kind)].data();
}

const char* shape_name(const PipeShape& shape) {
    return kShapeNames[shape.index()].data();
}

std::string network_records_json(const Network& network) {
    JsonWriter w(JsonWriter::Style::compact);
    w.begin_object();
    w.key("settings");
    write_settings(w, network);
    w.key("nodes");
    w.begin_array();
    for (const Node& node : network.nodes) write_node(w, node);
    w.end_array();
    w.key("pipes");
    w.begin_array();
    for (const Pipe& pipe : network.pipes) write_pipe(w, pipe);
    w.end_array();
    w.end_object();
    return w.take();
}

}  // namespace rillwright
