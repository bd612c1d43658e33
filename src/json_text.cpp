#include "json_text.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace rillwright {

void append_json_string(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto ch = static_cast<unsigned char>(text[i]);
        if (ch >= 0x20 && ch != '"' && ch != '\\') continue;
        out.append(text.substr(run_start, i - run_start));
        run_start = i + 1;
        switch (ch) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case '\b': out.append("\\b"); break;
            case '\t': out.append("\\t"); break;
            case '\n': out.append("\\n"); break;
            case '\f': out.append("\\f"); break;
            case '\r': out.append("\\r"); break;
            default:
                out.append("\\u00");
                out.push_back(kHex[ch >> 4]);
                out.push_back(kHex[ch & 0xF]);
        }
    }
    out.append(text.substr(run_start));
    out.push_back('"');
}

namespace {

// Exponent notation as "1.5e300" / "1e-7": no plus sign, no leading zeros.
void append_compact_exponent(std::string& out, const char* first, const char* last) {
    const char* e = first;
    while (e != last && *e != 'e') ++e;
    out.append(first, e);
    if (e == last) return;
    out.push_back('e');
    const char* p = e + 1;
    if (p != last && *p == '-') out.push_back(*p++);
    if (p != last && *p == '+') ++p;
    while (p + 1 < last && *p == '0') ++p;
    out.append(p, last);
}

template <class Float>
void append_shortest_impl(std::string& out, Float value) {
    std::array<char, 64> buffer;
    const Float magnitude = std::fabs(value);
    const bool positional = magnitude == 0 || (magnitude >= Float(1e-5) && magnitude < Float(1e16));
    if (positional) {
        const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed);
        const std::string_view digits(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
        out.append(digits);
        if (digits.find('.') == std::string_view::npos) out.append(".0");
    } else {
        const auto result =
            std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::scientific);
        append_compact_exponent(out, buffer.data(), result.ptr);
    }
}

}  // namespace

void append_shortest(std::string& out, double value) { append_shortest_impl(out, value); }
void append_shortest(std::string& out, float value) { append_shortest_impl(out, value); }

}  // namespace rillwright
