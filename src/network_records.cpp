#include "network_records.hpp"

#include <type_traits>

#include "energy_loss.hpp"
#include "json_writer.hpp"

namespace rillwright {

namespace {

void write_settings(JsonWriter& w, const Network& network) {
    const DesignSettings& s = network.settings;
    w.begin_object();
    w.key("idf_a");
    w.number(network.idf.idf_a);
    w.key("idf_b");
    w.number(network.idf.idf_b);
    w.key("idf_c");
    w.number(network.idf.idf_c);
    w.key("tailwater");
    w.optional_number(s.tailwater);
    w.key("intensity");
    w.optional_number(s.intensity);
    w.key("min_tc");
    w.number(s.min_tc);
    w.key("junction_k");
    w.number(s.junction_k);
    w.key("min_slope");
    w.number(s.min_slope);
    w.key("bend_loss_coeff");
    w.number(s.bend_loss_coeff);
    w.key("access_hole_diam_ft");
    w.number(s.access_hole_diam_ft);
    w.key("hec22_structure_loss");
    w.boolean(s.hec22_structure_loss);
    w.key("energy_structure_loss");
    w.boolean(s.energy_structure_loss);
    w.key("structure_loss_factor");
    w.number(s.structure_loss_factor);
    w.key("frequency_factor");
    w.number(s.frequency_factor);
    w.end_object();
}

void write_node(JsonWriter& w, const Node& node) {
    w.element();
    w.begin_object();
    w.key("id");
    w.text(node.id);
    w.key("kind");
    w.text(node_kind_name(node.kind));
    w.key("x");
    w.number(node.x);
    w.key("y");
    w.number(node.y);
    w.key("invert");
    w.number(node.invert);
    w.key("rim");
    w.number(node.rim);
    w.key("area");
    w.number(node.area_ac);
    w.key("c");
    w.number(node.c);
    w.key("tc_inlet");
    w.number(node.tc_inlet);
    w.key("benching");
    w.text(benching_name(node.benching));
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
    w.key("id");
    w.text(pipe.id);
    w.key("from");
    w.text(pipe.from);
    w.key("to");
    w.text(pipe.to);
    w.key("length");
    w.number(pipe.length);
    w.key("shape");
    w.text(shape_name(pipe.shape));
    w.key("rise");
    w.number(size.rise);
    w.key("span");
    w.number(size.span);
    w.key("n");
    w.number(pipe.n);
    w.key("invert_up");
    w.optional_number(pipe.invert_up);
    w.key("invert_dn");
    w.optional_number(pipe.invert_dn);
    w.end_object();
}

}  // namespace

const char* node_kind_name(NodeKind kind) {
    switch (kind) {
        case NodeKind::Inlet: return "inlet";
        case NodeKind::Junction: return "junction";
        case NodeKind::Outfall: return "outfall";
    }
    return "inlet";
}

const char* shape_name(const PipeShape& shape) {
    constexpr const char* kNames[] = {"circular", "box", "elliptical", "arch"};
    return kNames[shape.index()];
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
