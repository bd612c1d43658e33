// What a design hands back: the result as compact JSON, and the input with the
// new sizes. A .rwn text keeps every byte but the diameters of the resized
// PIPE lines; a project is written again by the project writer.
#include <bit>
#include <cstdint>

#include "design.hpp"
#include "json_writer.hpp"
#include "parse.hpp"
#include "project.hpp"

namespace rillwright::design {

namespace {

bool same_double(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// Rise and span in ft; a circle's span is its diameter.
double shape_span(const PipeShape& shape) {
    return std::visit([](const auto& s) {
        if constexpr (std::is_same_v<std::decay_t<decltype(s)>, Circular>) {
            return s.diameter;
        } else {
            return s.span;
        }
    }, shape);
}

void write_pipe(JsonWriter& w, const Pipe& given, const Pipe& sized, const PipeResult& result,
                const PipeChoice& choice) {
    w.element();
    w.begin_object();
    w.text("id", sized.id);
    w.text("shape", kShapeNames[sized.shape.index()]);
    w.number("given_rise", shape_rise(given.shape));
    w.number("given_span", shape_span(given.shape));
    w.number("rise", shape_rise(sized.shape));
    w.number("span", shape_span(sized.shape));
    w.number("design_q", result.design_q);
    w.number("capacity", result.capacity);
    w.number("pct_full", result.pct_full);
    w.number("velocity", result.velocity);
    w.text("governed_by", governor_name(choice.governed));
    w.end_object();
}

void write_node(JsonWriter& w, const NodeResult& node) {
    w.element();
    w.begin_object();
    w.text("id", node.id);
    w.number("hgl", node.hgl);
    w.number("freeboard", node.rim - node.hgl);
    w.boolean("floods", node.floods);
    w.end_object();
}

}  // namespace

const char* governor_name(Governor governor) {
    switch (governor) {
        case Governor::capacity: return "capacity";
        case Governor::minimum_size: return "minimum size";
        case Governor::no_smaller_downstream: return "no smaller downstream";
        case Governor::freeboard: return "freeboard";
        case Governor::fixed: return "fixed";
        case Governor::no_size_fits: return "no size fits";
    }
    return "";
}

std::string sized_rwn(std::string_view text, const Network& given, const Network& sized) {
    const std::vector<std::string_view> diameters = rwn_pipe_diameters(text);
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t copied = 0;
    for (std::size_t p = 0; p < diameters.size() && p < sized.pipes.size(); ++p) {
        const double diameter = shape_rise(sized.pipes[p].shape);
        if (same_double(diameter, shape_rise(given.pipes[p].shape))) continue;
        const auto at = static_cast<std::size_t>(diameters[p].data() - text.data());
        out.append(text.substr(copied, at - copied));
        append_shortest(out, diameter);  // reads back to the same double
        copied = at + diameters[p].size();
    }
    out.append(text.substr(copied));
    return out;
}

std::string sized_project(const Project& project, const Network& given, const Run& run, const SizeTables& tables) {
    Project sized = project;
    for (std::size_t p = 0; p < sized.pipes.size() && p < run.choices.size(); ++p) {
        const PipeChoice& choice = run.choices[p];
        if (choice.step < 0) continue;
        const std::size_t shape = given.pipes[p].shape.index();
        const CatalogueSize& size = tables.shapes[shape][static_cast<std::size_t>(choice.step)];
        ProjectPipe& pipe = sized.pipes[p];
        if (shape == 0) {
            pipe.diameter = size.written_rise;
        } else {
            pipe.rise_ft = size.written_rise;
            pipe.span_ft = size.written_span;
        }
    }
    return write_project_json(sized);
}

std::string result_json(const Network& given, const Run& run, const std::vector<Violation>& found,
                        std::string_view sized) {
    JsonWriter w(JsonWriter::Style::compact);
    w.begin_object();
    w.key("pipes");
    w.begin_array();
    for (std::size_t p = 0; p < run.network.pipes.size(); ++p) {
        write_pipe(w, given.pipes[p], run.network.pipes[p], run.result.pipes[p], run.choices[p]);
    }
    w.end_array();
    w.key("nodes");
    w.begin_array();
    for (const NodeResult& node : run.result.nodes) write_node(w, node);
    w.end_array();
    w.key("violations");
    w.begin_array();
    for (const Violation& violation : found) {
        w.element();
        w.begin_object();
        w.text("kind", violation.kind);
        w.text("id", violation.id);
        w.text("message", violation.message);
        w.end_object();
    }
    w.end_array();
    w.integer("rounds", static_cast<std::uint32_t>(run.rounds));
    w.text("sized", sized);
    w.end_object();
    return w.take();
}

}  // namespace rillwright::design
