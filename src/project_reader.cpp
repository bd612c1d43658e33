// Reading project JSON straight into the project records, one pass, with the
// defaults of missing keys and the messages of the JSON reader.
#include <array>
#include <bit>
#include <cstdint>

#include "inlet_messages.hpp"
#include "json_reader.hpp"
#include "project.hpp"

namespace rillwright {

namespace {

using json::NumberToken;
using json::Reader;
namespace message = json::message;

bool starts_number(char c) { return c == '-' || (c >= '0' && c <= '9'); }

// ---- Scalars ---------------------------------------------------------------

bool read_f64(Reader& in, double& value) {
    char c;
    if (!in.peek_value(c)) return false;
    if (!starts_number(c)) return in.reject("f64");
    NumberToken token;
    return in.read_number(token) && in.to_f64(token, value);
}

bool read_optional_f64(Reader& in, std::optional<double>& value) {
    char c;
    if (!in.peek_value(c)) return false;
    if (c == 'n') {
        value.reset();
        return in.read_literal("null");
    }
    double number;
    if (!read_f64(in, number)) return false;
    value = number;
    return true;
}

bool read_f32(Reader& in, float& value) {
    char c;
    if (!in.peek_value(c)) return false;
    if (!starts_number(c)) return in.reject("f32");
    NumberToken token;
    return in.read_number(token) && in.to_f32(token, value);
}

bool read_u32(Reader& in, std::uint32_t& value) {
    char c;
    if (!in.peek_value(c)) return false;
    if (!starts_number(c)) return in.reject("u32");
    NumberToken token;
    if (!in.read_number(token)) return false;
    if (!token.integer) return in.reject_number(token, "u32");
    const char* digits = token.first + (token.negative ? 1 : 0);
    const std::string_view text(token.first, static_cast<std::size_t>(token.last - token.first));
    const std::size_t digit_count = static_cast<std::size_t>(token.last - digits);
    std::uint64_t number = 0;
    if (digit_count > 10) return in.fail_here(message::invalid_u32(text));
    for (const char* p = digits; p != token.last; ++p) number = number * 10 + static_cast<std::uint64_t>(*p - '0');
    if (number > UINT32_MAX || (token.negative && number != 0)) return in.fail_here(message::invalid_u32(text));
    value = static_cast<std::uint32_t>(number);
    return true;
}

bool read_bool(Reader& in, bool& value) {
    char c;
    if (!in.peek_value(c)) return false;
    if (c == 't') {
        value = true;
        return in.read_literal("true");
    }
    if (c == 'f') {
        value = false;
        return in.read_literal("false");
    }
    return in.reject("a boolean");
}

bool read_text(Reader& in, std::string& value) {
    char c;
    if (!in.peek_value(c)) return false;
    if (c != '"') return in.reject("a string");
    std::string_view text;
    if (!in.read_string(text)) return false;
    value.assign(text);
    return true;
}

bool read_optional_text(Reader& in, std::optional<std::string>& value) {
    char c;
    if (!in.peek_value(c)) return false;
    if (c == 'n') {
        value.reset();
        return in.read_literal("null");
    }
    value.emplace();
    return read_text(in, *value);
}

// The unit system is written by its text form only.
bool read_units(Reader& in, UnitSystem& value) {
    char c;
    if (!in.peek_value(c)) return false;
    if (c != '"') return in.fail_at_cursor(message::kExpectedString);
    std::string_view text;
    if (!in.read_string(text)) return false;
    if (text == "us_customary") {
        value = UnitSystem::us_customary;
    } else if (text == "si") {
        value = UnitSystem::si;
    } else {
        return in.fail_here(message::unknown_units(text));
    }
    return true;
}

// A structure's benching is written by its text form only.
bool read_benching(Reader& in, Benching& value) {
    char c;
    if (!in.peek_value(c)) return false;
    if (c != '"') return in.fail_at_cursor(message::kExpectedString);
    std::string_view text;
    if (!in.read_string(text)) return false;
    const std::optional<Benching> benching = benching_from_text(text);
    if (!benching) return in.fail_here(message::unknown_benching(text));
    value = *benching;
    return true;
}

// ---- Records and lists -----------------------------------------------------

struct Field {
    std::string_view key;
    bool required;
};

template <std::size_t N>
struct RecordSchema {
    std::string_view expected;  // the record as named in an invalid-type message
    std::array<Field, N> fields;

    int find(std::string_view key) const {
        for (std::size_t i = 0; i < N; ++i) {
            if (fields[i].key == key) return static_cast<int>(i);
        }
        return -1;
    }
    std::uint32_t required_mask() const {
        std::uint32_t mask = 0;
        for (std::size_t i = 0; i < N; ++i) {
            if (fields[i].required) mask |= std::uint32_t{1} << i;
        }
        return mask;
    }
};

// One JSON object into a record whose members hold the defaults of missing
// keys; `read_field(i)` reads the value of the i-th key of the schema.
template <std::size_t N, class ReadField>
bool read_record(Reader& in, const RecordSchema<N>& schema, ReadField&& read_field) {
    static_assert(N <= 32, "one bit per field");
    char c;
    if (!in.peek_value(c)) return false;
    if (c != '{') return in.reject(schema.expected);
    if (!in.open()) return false;
    std::uint32_t seen = 0;
    bool first = true;
    bool more;
    std::string_view key;
    for (;;) {
        if (!in.next_key(first, more, key)) return false;
        if (!more) break;
        const int field = schema.find(key);
        if (field < 0) {
            if (!in.expect_colon() || !in.skip_value()) return false;
            continue;
        }
        const std::uint32_t bit = std::uint32_t{1} << field;
        if (seen & bit) return in.fail_here(message::duplicate_field(schema.fields[static_cast<std::size_t>(field)].key));
        seen |= bit;
        if (!in.expect_colon() || !read_field(field)) return false;
    }
    const std::uint32_t missing = schema.required_mask() & ~seen;
    if (missing != 0) return in.fail_here(message::missing_field(schema.fields[static_cast<std::size_t>(std::countr_zero(missing))].key));
    return true;
}

template <class T, class ReadItem>
bool read_list(Reader& in, std::vector<T>& items, ReadItem&& read_item) {
    char c;
    if (!in.peek_value(c)) return false;
    if (c != '[') return in.reject("a sequence");
    if (!in.open()) return false;
    bool first = true;
    bool more;
    for (;;) {
        if (!in.next_element(first, more)) return false;
        if (!more) return true;
        if (!read_item(in, items.emplace_back())) return false;
    }
}

// A vertex is a JSON array of exactly two numbers.
bool read_vertex(Reader& in, Vertex& vertex) {
    char c;
    if (!in.peek_value(c)) return false;
    if (c != '[') return in.reject("a tuple of size 2");
    if (!in.open()) return false;
    bool first = true;
    bool more;
    if (!in.next_element(first, more)) return false;
    if (!more) return in.fail_here(message::invalid_pair_length(0));
    if (!read_f64(in, vertex.x)) return false;
    if (!in.next_element(first, more)) return false;
    if (!more) return in.fail_here(message::invalid_pair_length(1));
    if (!read_f64(in, vertex.y)) return false;
    return in.end_tuple();
}

// Stored files name the first three keys of an inlet; a length of 0 means no inlet model,
// and a sag inlet may give a gutter slope of 0.
constexpr RecordSchema<19> kInletSchema{"struct InletOverrides",
                                         {{{"length_ft", true},
                                           {"gutter_slope", true},
                                           {"sag", true},
                                           {"grate_width_ft", false},
                                           {"cross_slope", false},
                                           {"type", false},
                                           {"grate", false},
                                           {"splash_velocity", false},
                                           {"open_area_ratio", false},
                                           {"gutter_n", false},
                                           {"gutter_width_ft", false},
                                           {"depression_in", false},
                                           {"local_depression_in", false},
                                           {"local_depression_width_ft", false},
                                           {"opening_height_in", false},
                                           {"curb_length_ft", false},
                                           {"clogging", false},
                                           {"spread_limit_ft", false},
                                           {"sides", false}}}};

bool read_inlet(Reader& in, InletOverrides& inlet) {
    const auto number = [&](std::optional<double>& value) { return read_f64(in, value.emplace()); };
    return read_record(in, kInletSchema, [&](int field) {
        switch (field) {
            case 0: return read_f64(in, inlet.length_ft);
            case 1: return read_f64(in, inlet.gutter_slope);
            case 2: return read_bool(in, inlet.sag);
            case 3: return read_f64(in, inlet.grate_width_ft);
            case 4: return read_f64(in, inlet.cross_slope);
            case 5: return read_text(in, inlet.type.emplace());
            case 6: return read_text(in, inlet.grate.emplace());
            case 7: return number(inlet.splash_velocity);
            case 8: return number(inlet.open_area_ratio);
            case 9: return number(inlet.gutter_n);
            case 10: return number(inlet.gutter_width_ft);
            case 11: return number(inlet.depression_in);
            case 12: return number(inlet.local_depression_in);
            case 13: return number(inlet.local_depression_width_ft);
            case 14: return number(inlet.opening_height_in);
            case 15: return number(inlet.curb_length_ft);
            case 16: return number(inlet.clogging);
            case 17: return number(inlet.spread_limit_ft);
            default: return read_u32(in, inlet.sides.emplace());
        }
    });
}

// A bad inlet value fails at the node's closing brace, naming the node and key.
bool check_node_inlet(Reader& in, const ProjectNode& node) {
    const std::optional<std::string> problem = inlet_data_problem(node.id, node.inlet);
    return !problem || in.fail_here(*problem);
}

constexpr RecordSchema<13> kNodeSchema{"struct ProjectNode",
                                       {{{"id", true},
                                         {"kind", true},
                                         {"x", true},
                                         {"y", true},
                                         {"invert", true},
                                         {"rim", true},
                                         {"area_ac", true},
                                         {"c", true},
                                         {"tc_inlet", true},
                                         {"inlet", false},
                                         {"bypass_to", false},
                                         {"diameter_ft", false},
                                         {"benching", false}}}};

bool read_node(Reader& in, ProjectNode& node) {
    return read_record(in, kNodeSchema, [&](int field) {
        switch (field) {
            case 0: return read_text(in, node.id);
            case 1: return read_text(in, node.kind);
            case 2: return read_f64(in, node.x);
            case 3: return read_f64(in, node.y);
            case 4: return read_f64(in, node.invert);
            case 5: return read_f64(in, node.rim);
            case 6: return read_f64(in, node.area_ac);
            case 7: return read_f64(in, node.c);
            case 8: return read_f64(in, node.tc_inlet);
            case 9: return read_inlet(in, node.inlet);
            case 10: return read_optional_text(in, node.bypass_to);
            case 11: return read_f64(in, node.diameter_ft);
            default: return read_benching(in, node.benching);
        }
    }) && check_node_inlet(in, node);
}

constexpr RecordSchema<11> kPipeSchema{"struct ProjectPipe",
                                       {{{"id", true},
                                         {"from", true},
                                         {"to", true},
                                         {"length", true},
                                         {"diameter", true},
                                         {"n", true},
                                         {"shape", false},
                                         {"rise_ft", false},
                                         {"span_ft", false},
                                         {"invert_up", false},
                                         {"invert_dn", false}}}};

bool read_pipe(Reader& in, ProjectPipe& pipe) {
    return read_record(in, kPipeSchema, [&](int field) {
        switch (field) {
            case 0: return read_text(in, pipe.id);
            case 1: return read_text(in, pipe.from);
            case 2: return read_text(in, pipe.to);
            case 3: return read_f64(in, pipe.length);
            case 4: return read_f64(in, pipe.diameter);
            case 5: return read_f64(in, pipe.n);
            case 6: return read_text(in, pipe.shape);
            case 7: return read_f64(in, pipe.rise_ft);
            case 8: return read_f64(in, pipe.span_ft);
            case 9: return read_optional_f64(in, pipe.invert_up);
            default: return read_optional_f64(in, pipe.invert_dn);
        }
    });
}

constexpr RecordSchema<6> kCatchmentSchema{"struct ProjectCatchment",
                                           {{{"id", true},
                                             {"vertices", true},
                                             {"c", true},
                                             {"flow_length_ft", true},
                                             {"slope", true},
                                             {"inlet_node_id", false}}}};

bool read_catchment(Reader& in, ProjectCatchment& catchment) {
    return read_record(in, kCatchmentSchema, [&](int field) {
        switch (field) {
            case 0: return read_text(in, catchment.id);
            case 1: return read_list(in, catchment.vertices, read_vertex);
            case 2: return read_f64(in, catchment.c);
            case 3: return read_f64(in, catchment.flow_length_ft);
            case 4: return read_f64(in, catchment.slope);
            default: return read_optional_text(in, catchment.inlet_node_id);
        }
    });
}

constexpr RecordSchema<4> kIdfEntrySchema{
    "struct IdfCurveEntry", {{{"rp_years", true}, {"a", true}, {"b", true}, {"c", true}}}};

bool read_idf_entry(Reader& in, IdfCurveEntry& entry) {
    return read_record(in, kIdfEntrySchema, [&](int field) {
        switch (field) {
            case 0: return read_u32(in, entry.rp_years);
            case 1: return read_f64(in, entry.a);
            case 2: return read_f64(in, entry.b);
            default: return read_f64(in, entry.c);
        }
    });
}

constexpr RecordSchema<5> kBackgroundSchema{
    "struct BackgroundImage",
    {{{"path", true}, {"origin_x", true}, {"origin_y", true}, {"width", true}, {"opacity", true}}}};

bool read_background(Reader& in, BackgroundImage& image) {
    return read_record(in, kBackgroundSchema, [&](int field) {
        switch (field) {
            case 0: return read_text(in, image.path);
            case 1: return read_f64(in, image.origin_x);
            case 2: return read_f64(in, image.origin_y);
            case 3: return read_f64(in, image.width);
            default: return read_f32(in, image.opacity);
        }
    });
}

constexpr RecordSchema<6> kBackgroundDxfSchema{
    "struct BackgroundDxf",
    {{{"path", true}, {"min_x", true}, {"min_y", true}, {"max_x", true}, {"max_y", true}, {"opacity", false}}}};

bool read_background_dxf(Reader& in, BackgroundDxf& drawing) {
    return read_record(in, kBackgroundDxfSchema, [&](int field) {
        switch (field) {
            case 0: return read_text(in, drawing.path);
            case 1: return read_f64(in, drawing.min_x);
            case 2: return read_f64(in, drawing.min_y);
            case 3: return read_f64(in, drawing.max_x);
            case 4: return read_f64(in, drawing.max_y);
            default: return read_f32(in, drawing.opacity);
        }
    });
}

template <class Record, class ReadRecord>
bool read_optional_record(Reader& in, std::optional<Record>& value, ReadRecord&& read) {
    char c;
    if (!in.peek_value(c)) return false;
    if (c == 'n') {
        value.reset();
        return in.read_literal("null");
    }
    return read(in, value.emplace());
}

constexpr RecordSchema<4> kReportSchema{
    "struct ReportInfo",
    {{{"project_number", false}, {"engineer", false}, {"firm", false}, {"jurisdiction", false}}}};

bool read_report(Reader& in, ReportInfo& report) {
    return read_record(in, kReportSchema, [&](int field) {
        switch (field) {
            case 0: return read_text(in, report.project_number);
            case 1: return read_text(in, report.engineer);
            case 2: return read_text(in, report.firm);
            default: return read_text(in, report.jurisdiction);
        }
    });
}

bool check_spread_limit(Reader& in, const Project& project) {
    if (*project.spread_limit_ft >= 0.0) return true;
    return in.fail_here(inlets::message::negative_project_spread_limit());
}

constexpr RecordSchema<25> kProjectSchema{"struct Project",
                                          {{{"name", true},
                                            {"idf_a", true},
                                            {"idf_b", true},
                                            {"idf_c", true},
                                            {"tailwater", false},
                                            {"min_tc", true},
                                            {"junction_k", true},
                                            {"bend_loss_coeff", false},
                                            {"hec22_structure_loss", false},
                                            {"access_hole_diam_ft", false},
                                            {"design_return_period_years", false},
                                            {"p2_rainfall_in", false},
                                            {"min_slope", false},
                                            {"nodes", true},
                                            {"pipes", true},
                                            {"catchments", false},
                                            {"background", false},
                                            {"background_dxf", false},
                                            {"idf_curves", false},
                                            {"units", false},
                                            {"report", false},
                                            {"format_version", false},
                                            {"structure_loss_method", false},
                                            {"spread_limit_ft", false},
                                            {"crs", false}}}};

bool read_project(Reader& in, Project& project) {
    return read_record(in, kProjectSchema, [&](int field) {
        switch (field) {
            case 0: return read_text(in, project.name);
            case 1: return read_f64(in, project.idf_a);
            case 2: return read_f64(in, project.idf_b);
            case 3: return read_f64(in, project.idf_c);
            case 4: return read_optional_f64(in, project.tailwater);
            case 5: return read_f64(in, project.min_tc);
            case 6: return read_f64(in, project.junction_k);
            case 7: return read_f64(in, project.bend_loss_coeff);
            case 8: return read_bool(in, project.hec22_structure_loss);
            case 9: return read_f64(in, project.access_hole_diam_ft);
            case 10: return read_f64(in, project.design_return_period_years);
            case 11: return read_f64(in, project.p2_rainfall_in);
            case 12: return read_f64(in, project.min_slope);
            case 13: return read_list(in, project.nodes, read_node);
            case 14: return read_list(in, project.pipes, read_pipe);
            case 15: return read_list(in, project.catchments, read_catchment);
            case 16: return read_optional_record(in, project.background, read_background);
            case 17: return read_optional_record(in, project.background_dxf, read_background_dxf);
            case 18: return read_list(in, project.idf_curves, read_idf_entry);
            case 19: return read_units(in, project.units);
            case 20: return read_report(in, project.report);
            case 21: return read_u32(in, project.format_version);
            case 22: return read_text(in, project.structure_loss_method.emplace());
            case 23: return read_f64(in, project.spread_limit_ft.emplace()) && check_spread_limit(in, project);
            default: return read_text(in, project.crs.emplace());
        }
    });
}

}  // namespace

Outcome<Project> parse_project(std::string_view json_text) {
    Reader in(json_text);
    Project project;
    if (!read_project(in, project) || !in.expect_end_of_text()) return Outcome<Project>::failure(in.error());
    return Outcome<Project>::success(std::move(project));
}

}  // namespace rillwright
