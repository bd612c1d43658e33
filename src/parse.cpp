#include "parse.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ascii_case.hpp"
#include "parse_number.hpp"

namespace rillwright {
namespace {

// ---- Messages -------------------------------------------------------------
// Every message of the reader, each starting "line N: ".

std::string at_line(std::size_t line, std::string_view body) {
    std::string message = "line ";
    message += std::to_string(line);
    message += ": ";
    message += body;
    return message;
}

std::string quoted(std::string_view text) {
    std::string result = "`";
    result += text;
    result += '`';
    return result;
}

std::string unknown_keyword(std::size_t line, std::string_view keyword) {
    return at_line(line, "unknown keyword " + quoted(to_ascii_upper(keyword)));
}
std::string node_needs_id(std::size_t line) { return at_line(line, "NODE needs an id"); }
std::string node_needs_kind(std::size_t line) { return at_line(line, "NODE needs a kind"); }
std::string pipe_needs_id(std::size_t line) { return at_line(line, "PIPE needs an id"); }
std::string pipe_needs_from_node(std::size_t line) { return at_line(line, "PIPE needs a from-node"); }
std::string pipe_needs_to_node(std::size_t line) { return at_line(line, "PIPE needs a to-node"); }
std::string missing_value(std::size_t line, std::size_t position, std::string_view line_text) {
    return at_line(line, "missing value #" + std::to_string(position) + " in " + quoted(line_text));
}
std::string not_a_number(std::size_t line, std::string_view token) {
    return at_line(line, quoted(token) + " is not a number");
}
std::string unknown_node_kind(std::size_t line, std::string_view kind) {
    return at_line(line, "unknown node kind " + quoted(to_ascii_lower(kind)));
}

// ---- Lines and tokens -------------------------------------------------------

// Byte length of the non-ASCII white-space character starting at text[at], or
// 0. White space is every character with the Unicode White_Space property;
// matching their UTF-8 forms byte by byte is exact, because a lead byte never
// occurs inside another character's encoding.
std::size_t wide_white_space_length(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t left = text.size() - at;
    unsigned char lead = byte(at);
    if (lead == 0xC2) {
        // U+0085, U+00A0
        return left >= 2 && (byte(at + 1) == 0x85 || byte(at + 1) == 0xA0) ? 2 : 0;
    }
    if (left < 3) return 0;
    unsigned char second = byte(at + 1);
    unsigned char third = byte(at + 2);
    switch (lead) {
        case 0xE1:  // U+1680
            return second == 0x9A && third == 0x80 ? 3 : 0;
        case 0xE2:  // U+2000-U+200A, U+2028, U+2029, U+202F, U+205F
            if (second == 0x80) {
                return (third >= 0x80 && third <= 0x8A) || third == 0xA8 || third == 0xA9 || third == 0xAF ? 3 : 0;
            }
            return second == 0x81 && third == 0x9F ? 3 : 0;
        case 0xE3:  // U+3000
            return second == 0x80 && third == 0x80 ? 3 : 0;
        default:
            return 0;
    }
}

// What a byte can start, for the hot loop of the tokenizer.
enum class ByteClass : unsigned char { ordinary, space, maybe_wide_space };

constexpr std::array<ByteClass, 256> byte_classes = [] {
    std::array<ByteClass, 256> classes{};
    for (unsigned char ch : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20}) classes[ch] = ByteClass::space;
    for (unsigned char lead : {0xC2, 0xE1, 0xE2, 0xE3}) classes[lead] = ByteClass::maybe_wide_space;
    return classes;
}();

// Byte length of the white-space character starting at text[at], or 0.
inline std::size_t white_space_length(std::string_view text, std::size_t at) {
    switch (byte_classes[static_cast<unsigned char>(text[at])]) {
        case ByteClass::ordinary:
            return 0;
        case ByteClass::space:
            return 1;
        default:
            return wide_white_space_length(text, at);
    }
}

// NODE reads the most positions; tokens after them only count.
constexpr std::size_t max_positions_read = 10;

struct Line {
    std::size_t number = 0;
    std::string_view text;                                        // comment cut, ends trimmed
    std::array<std::string_view, max_positions_read> tokens{};  // the first ones
    std::size_t token_count = 0;                                  // all of them

    // Positions are 1-based; the keyword is #1.
    std::string_view token(std::size_t position) const { return tokens[position - 1]; }
};

// Splits `content` (a line without its comment) at runs of white space.
void split_tokens(std::string_view content, Line& line) {
    line.token_count = 0;
    std::size_t text_start = 0;
    std::size_t text_end = 0;
    std::size_t at = 0;
    while (at < content.size()) {
        if (std::size_t space = white_space_length(content, at)) {
            at += space;
            continue;
        }
        std::size_t start = at;
        std::size_t space = 0;
        while (at < content.size() && (space = white_space_length(content, at)) == 0) ++at;
        if (line.token_count < max_positions_read) line.tokens[line.token_count] = content.substr(start, at - start);
        if (line.token_count == 0) text_start = start;
        ++line.token_count;
        text_end = at;
        at += space;
    }
    line.text = content.substr(text_start, text_end - text_start);
}

// ---- Records ----------------------------------------------------------------

// The message of a line's first fault, if it has one.
using Fault = std::optional<std::string>;

Fault read_value(const Line& line, std::size_t position, double& out) {
    if (position > line.token_count) return missing_value(line.number, position, line.text);
    std::optional<double> value = parse_number(line.token(position));
    if (!value) return not_a_number(line.number, line.token(position));
    out = *value;
    return std::nullopt;
}

Fault read_node(const Line& line, std::vector<Node>& nodes) {
    if (line.token_count == 1) return node_needs_id(line.number);
    if (line.token_count == 2) return node_needs_kind(line.number);
    std::string_view id = line.token(2);
    std::string_view kind = line.token(3);
    double x = 0.0, y = 0.0, invert = 0.0, rim = 0.0;
    if (Fault fault = read_value(line, 4, x)) return fault;
    if (Fault fault = read_value(line, 5, y)) return fault;
    if (Fault fault = read_value(line, 6, invert)) return fault;
    if (Fault fault = read_value(line, 7, rim)) return fault;

    // The kind is judged only after the elevations, so a short line reports
    // its missing rim whatever its kind.
    Node node;
    bool inlet = equals_ignoring_ascii_case(kind, "inlet");
    if (inlet || equals_ignoring_ascii_case(kind, "junction")) {
        double area_ac = 0.0, c = 0.0;
        if (Fault fault = read_value(line, 8, area_ac)) return fault;
        if (Fault fault = read_value(line, 9, c)) return fault;
        node = inlet ? make_inlet(std::string(id), invert, rim, area_ac, c)
                     : make_junction(std::string(id), invert, rim, area_ac, c);
    } else if (equals_ignoring_ascii_case(kind, "outfall")) {
        node = make_outfall(std::string(id), invert, rim);
    } else {
        return unknown_node_kind(line.number, kind);
    }
    node.x = x;
    node.y = y;
    // Read for outfalls too, although the analysis ignores their tc_inlet.
    if (line.token_count >= 10) {
        if (Fault fault = read_value(line, 10, node.tc_inlet)) return fault;
    }
    nodes.push_back(std::move(node));
    return std::nullopt;
}

Fault read_pipe(const Line& line, std::vector<Pipe>& pipes) {
    if (line.token_count == 1) return pipe_needs_id(line.number);
    if (line.token_count == 2) return pipe_needs_from_node(line.number);
    if (line.token_count == 3) return pipe_needs_to_node(line.number);
    double length = 0.0, diameter = 0.0, n = 0.0;
    if (Fault fault = read_value(line, 5, length)) return fault;
    if (Fault fault = read_value(line, 6, diameter)) return fault;
    if (Fault fault = read_value(line, 7, n)) return fault;
    pipes.push_back(make_circular_pipe(std::string(line.token(2)), std::string(line.token(3)),
                                       std::string(line.token(4)), length, diameter, n));
    return std::nullopt;
}

Fault read_idf(const Line& line, IdfCurve& idf) {
    if (Fault fault = read_value(line, 2, idf.idf_a)) return fault;
    if (Fault fault = read_value(line, 3, idf.idf_b)) return fault;
    return read_value(line, 4, idf.idf_c);
}

Fault read_optional_setting(const Line& line, std::optional<double>& setting) {
    double value = 0.0;
    if (Fault fault = read_value(line, 2, value)) return fault;
    setting = value;
    return std::nullopt;
}

Fault read_line(const Line& line, Network& network) {
    std::string_view keyword = line.token(1);
    DesignSettings& settings = network.settings;
    if (equals_ignoring_ascii_case(keyword, "node")) return read_node(line, network.nodes);
    if (equals_ignoring_ascii_case(keyword, "pipe")) return read_pipe(line, network.pipes);
    if (equals_ignoring_ascii_case(keyword, "idf")) return read_idf(line, network.idf);
    if (equals_ignoring_ascii_case(keyword, "mintc")) return read_value(line, 2, settings.min_tc);
    if (equals_ignoring_ascii_case(keyword, "minslope")) return read_value(line, 2, settings.min_slope);
    if (equals_ignoring_ascii_case(keyword, "intensity")) return read_optional_setting(line, settings.intensity);
    if (equals_ignoring_ascii_case(keyword, "tailwater")) return read_optional_setting(line, settings.tailwater);
    if (equals_ignoring_ascii_case(keyword, "junctionk")) return read_value(line, 2, settings.junction_k);
    return unknown_keyword(line.number, keyword);
}

// Room for the records before reading them: growing the vectors line by line
// would copy every record several times and touch twice the memory. The counts
// are of lines whose first word starts like NODE or PIPE (an upper bound for
// ordinary text), capped by the shortest line such a record can have, so that
// a text of bare keywords cannot make the reservation outgrow the text.
void reserve_records(std::string_view text, Network& network) {
    std::size_t nodes = 0;
    std::size_t pipes = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        if (text.size() - at >= 4) {
            const std::string_view word = text.substr(at, 4);
            if (equals_ignoring_ascii_case(word, "node")) ++nodes;
            else if (equals_ignoring_ascii_case(word, "pipe")) ++pipes;
        }
        const std::size_t line_feed = text.find('\n', at);
        if (line_feed == std::string_view::npos) break;
        at = line_feed + 1;
    }
    constexpr std::size_t shortest_record = 16;  // "PIPE a b c 1 1 1", "NODE a outfall 0 0 1 1"
    try {
        network.nodes.reserve(std::min(nodes, text.size() / shortest_record));
        network.pipes.reserve(std::min(pipes, text.size() / shortest_record));
    } catch (const std::bad_alloc&) {
        // Only a hint: the vectors grow as needed, and a text of bare keywords
        // still gets its line's message.
    }
}

// Calls `visit` with every line that has tokens, in order, until it returns a fault.
template <class Visit>
Fault for_each_line(std::string_view text, Visit visit) {
    Line line;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t line_feed = text.find('\n', at);
        std::size_t end = line_feed == std::string_view::npos ? text.size() : line_feed;
        std::string_view content = text.substr(at, end - at);
        at = end + 1;
        ++line.number;
        // A carriage return counts as part of a line break only right before
        // the line feed; anywhere else it is white space.
        if (line_feed != std::string_view::npos && !content.empty() && content.back() == '\r') {
            content.remove_suffix(1);
        }
        content = content.substr(0, content.find('#'));
        split_tokens(content, line);
        if (line.token_count == 0) continue;
        if (Fault fault = visit(line)) return fault;
    }
    return std::nullopt;
}

}  // namespace

Outcome<Network> parse_rwn(std::string_view text) {
    Network network;
    reserve_records(text, network);
    if (Fault fault = for_each_line(text, [&](const Line& line) { return read_line(line, network); })) {
        return Outcome<Network>::failure(std::move(*fault));
    }
    return Outcome<Network>::success(std::move(network));
}

std::vector<std::string_view> rwn_pipe_diameters(std::string_view text) {
    std::vector<std::string_view> diameters;
    for_each_line(text, [&](const Line& line) -> Fault {
        if (equals_ignoring_ascii_case(line.token(1), "pipe") && line.token_count >= 6) {
            diameters.push_back(line.token(6));
        }
        return std::nullopt;
    });
    return diameters;
}

}  // namespace rillwright
