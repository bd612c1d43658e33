#include "json_reader.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <system_error>

#include "json_text.hpp"
#include "parse_number.hpp"

namespace rillwright::json {

namespace message {

std::string missing_field(std::string_view key) {
    std::string text("missing field `");
    return text.append(key).append("`");
}

std::string duplicate_field(std::string_view key) {
    std::string text("duplicate field `");
    return text.append(key).append("`");
}

std::string unknown_units(std::string_view found) {
    std::string text("unknown variant `");
    return text.append(found).append("`, expected `us_customary` or `si`");
}

std::string unknown_benching(std::string_view found) {
    std::string text("unknown variant `");
    return text.append(found).append("`, expected one of `flat`, `depressed`, `half`, `full`, `improved`");
}

std::string invalid_u32(std::string_view integer_text) {
    std::string text("invalid value: integer `");
    return text.append(integer_text).append("`, expected u32");
}

std::string invalid_pair_length(std::size_t count) {
    return "invalid length " + std::to_string(count) + ", expected a tuple of size 2";
}

std::string invalid_type(std::string_view found, std::string_view wanted) {
    std::string text("invalid type: ");
    return text.append(found).append(", expected ").append(wanted);
}

}  // namespace message

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Bytes that end the plain run of a string: the quote, the backslash and the
// control characters.
constexpr std::array<bool, 256> kStringStop = [] {
    std::array<bool, 256> stop{};
    for (int c = 0; c < 0x20; ++c) stop[c] = true;
    stop['"'] = true;
    stop['\\'] = true;
    return stop;
}();

bool stops_string(char c) { return kStringStop[static_cast<unsigned char>(c)]; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// A number that the float type cannot hold is either too large (an error) or
// too small (it reads as zero). Decides which from the decimal exponent of the
// number's leading significant digit.
bool magnitude_at_least_one(const NumberToken& token) {
    const char* p = token.first + (token.negative ? 1 : 0);
    const char* integer_end = p;
    while (integer_end != token.last && is_digit(*integer_end)) ++integer_end;
    while (p != integer_end && *p == '0') ++p;
    long long lead;
    const char* q = integer_end;
    if (p != integer_end) {
        lead = integer_end - p - 1;
    } else {
        if (q == token.last || *q != '.') return false;  // a zero
        ++q;
        lead = -1;
        while (q != token.last && *q == '0') {
            ++q;
            --lead;
        }
        if (q == token.last || !is_digit(*q)) return false;  // a zero
    }
    while (q != token.last && *q != 'e' && *q != 'E') ++q;
    long long exponent = 0;
    if (q != token.last) {
        ++q;
        bool negative = false;
        if (*q == '+' || *q == '-') negative = *q++ == '-';
        for (; q != token.last; ++q) {
            if (exponent < 1000000000000LL) exponent = exponent * 10 + (*q - '0');
        }
        if (negative) exponent = -exponent;
    }
    return lead + exponent >= 0;
}

template <class Float>
bool parse_float(const NumberToken& token, Float& value) {
    const auto result = std::from_chars(token.first, token.last, value);
    if (result.ec == std::errc()) return true;
    if (magnitude_at_least_one(token)) return false;
    value = token.negative ? -Float(0) : Float(0);
    return true;
}

}  // namespace

std::string Reader::error() const {
    const std::string_view read(begin_, error_offset_);
    const std::size_t line = 1 + static_cast<std::size_t>(std::count(read.begin(), read.end(), '\n'));
    const std::size_t last_feed = read.rfind('\n');
    const std::size_t line_start = last_feed == std::string_view::npos ? 0 : last_feed + 1;
    std::string text = message_;
    text.append(" at line ").append(std::to_string(line));
    text.append(" column ").append(std::to_string(error_offset_ - line_start));
    return text;
}

bool Reader::fail_here(std::string_view message) {
    message_.assign(message);
    error_offset_ = static_cast<std::size_t>(cur_ - begin_);
    return false;
}

bool Reader::fail_at(const char* character, std::string_view message) {
    message_.assign(message);
    error_offset_ = static_cast<std::size_t>((character < end_ ? character + 1 : end_) - begin_);
    return false;
}

bool Reader::fail_at_end(std::string_view message) {
    message_.assign(message);
    error_offset_ = static_cast<std::size_t>(end_ - begin_);
    return false;
}

bool Reader::read_number(NumberToken& token) {
    const char* p = cur_;
    token.first = p;
    token.integer = true;
    token.negative = *p == '-';
    if (token.negative) ++p;
    if (p == end_) return fail_at_end(message::kEofValue);
    if (*p == '0') {
        ++p;
        if (p != end_ && is_digit(*p)) return fail_at(p, message::kInvalidNumber);
    } else if (is_digit(*p)) {
        while (p != end_ && is_digit(*p)) ++p;
    } else {
        return fail_at(p, message::kInvalidNumber);
    }
    if (p != end_ && *p == '.') {
        token.integer = false;
        ++p;
        if (p == end_) return fail_at_end(message::kEofValue);
        if (!is_digit(*p)) return fail_at(p, message::kInvalidNumber);
        while (p != end_ && is_digit(*p)) ++p;
    }
    if (p != end_ && (*p == 'e' || *p == 'E')) {
        token.integer = false;
        ++p;
        if (p != end_ && (*p == '+' || *p == '-')) ++p;
        if (p == end_) return fail_at_end(message::kEofValue);
        if (!is_digit(*p)) return fail_at(p, message::kInvalidNumber);
        while (p != end_ && is_digit(*p)) ++p;
    }
    token.last = p;
    cur_ = p;
    return true;
}

bool Reader::to_f64(const NumberToken& token, double& value) {
    // Most numbers of a project are short plain decimals: the .rwn reader's
    // shortest path reads them with the same correctly rounded result.
    if (read_short_plain_decimal(std::string_view(token.first, static_cast<std::size_t>(token.last - token.first)),
                                 value)) {
        return true;
    }
    return parse_float(token, value) || fail_at(token.last - 1, message::kNumberOutOfRange);
}

// Rounded once, from the decimal text straight to the nearest 32-bit float.
bool Reader::to_f32(const NumberToken& token, float& value) {
    return parse_float(token, value) || fail_at(token.last - 1, message::kNumberOutOfRange);
}

bool Reader::read_literal(std::string_view word) {
    const char* p = cur_ + 1;
    for (std::size_t i = 1; i < word.size(); ++i, ++p) {
        if (p == end_) return fail_at_end(message::kEofValue);
        if (*p != word[i]) return fail_at(p, message::kExpectedIdent);
    }
    cur_ = p;
    return true;
}

bool Reader::read_string(std::string_view& text) {
    const char* const start = cur_ + 1;
    const char* p = start;
    while (p != end_ && !stops_string(*p)) ++p;
    if (p == end_) return fail_at_end(message::kEofString);
    if (*p == '"') {
        text = std::string_view(start, static_cast<std::size_t>(p - start));
        cur_ = p + 1;
        return true;
    }
    return read_escaped_rest(start, p, text);
}

bool Reader::read_escaped_rest(const char* run_start, const char* p, std::string_view& text) {
    scratch_.assign(run_start, p);
    for (;;) {
        const char* run = p;
        while (p != end_ && !stops_string(*p)) ++p;
        scratch_.append(run, p);
        if (p == end_) return fail_at_end(message::kEofString);
        if (*p == '"') break;
        if (*p != '\\') return fail_at(p, message::kControlCharacter);
        ++p;
        if (p == end_) return fail_at_end(message::kEofString);
        char decoded;
        switch (*p) {
            case '"': decoded = '"'; break;
            case '\\': decoded = '\\'; break;
            case '/': decoded = '/'; break;
            case 'b': decoded = '\b'; break;
            case 'f': decoded = '\f'; break;
            case 'n': decoded = '\n'; break;
            case 'r': decoded = '\r'; break;
            case 't': decoded = '\t'; break;
            case 'u':
                ++p;
                if (!read_unicode_escape(p)) return false;
                continue;
            default: return fail_at(p, message::kInvalidEscape);
        }
        scratch_.push_back(decoded);
        ++p;
    }
    text = scratch_;
    cur_ = p + 1;
    return true;
}

bool Reader::read_hex4(const char*& p, unsigned& code) {
    code = 0;
    for (int i = 0; i < 4; ++i, ++p) {
        if (p == end_) return fail_at_end(message::kEofString);
        const int digit = hex_value(*p);
        if (digit < 0) return fail_at(p, message::kInvalidEscape);
        code = code * 16 + static_cast<unsigned>(digit);
    }
    return true;
}

// After "\u": one escape, or a surrogate pair written as two. Strings hold
// valid UTF-8 only, so an unpaired surrogate is an error.
bool Reader::read_unicode_escape(const char*& p) {
    unsigned leading;
    if (!read_hex4(p, leading)) return false;
    if (leading >= 0xDC00 && leading <= 0xDFFF) return fail_at(p - 1, message::kLoneLeadingSurrogate);
    if (leading < 0xD800 || leading > 0xDBFF) {
        append_utf8(scratch_, leading);
        return true;
    }
    for (const char expected : {'\\', 'u'}) {
        if (p == end_) return fail_at_end(message::kEofString);
        if (*p != expected) return fail_at(p, message::kUnexpectedEndOfHexEscape);
        ++p;
    }
    unsigned trailing;
    if (!read_hex4(p, trailing)) return false;
    if (trailing < 0xDC00 || trailing > 0xDFFF) return fail_at(p - 1, message::kLoneLeadingSurrogate);
    append_utf8(scratch_, 0x10000 + ((leading - 0xD800) << 10) + (trailing - 0xDC00));
    return true;
}

bool Reader::next_element(bool& first, bool& more) {
    char c;
    if (!peek(c)) return fail_at_end(message::kEofList);
    if (c == ']') {
        ++cur_;
        --depth_;
        more = false;
        return true;
    }
    more = true;
    if (first) {
        first = false;
        return true;
    }
    if (c != ',') return fail_at(cur_, message::kExpectedListCommaOrEnd);
    ++cur_;
    if (!peek(c)) return fail_at_end(message::kEofValue);
    if (c == ']') return fail_at(cur_, message::kTrailingComma);
    return true;
}

bool Reader::next_key(bool& first, bool& more, std::string_view& key) {
    char c;
    if (!peek(c)) return fail_at_end(message::kEofObject);
    if (c == '}') {
        ++cur_;
        --depth_;
        more = false;
        return true;
    }
    more = true;
    if (first) {
        first = false;
    } else {
        if (c != ',') return fail_at(cur_, message::kExpectedObjectCommaOrEnd);
        ++cur_;
        if (!peek(c)) return fail_at_end(message::kEofObject);
        if (c == '}') return fail_at(cur_, message::kTrailingComma);
    }
    if (c != '"') return fail_at(cur_, message::kKeyMustBeString);
    return read_string(key);
}

bool Reader::expect_colon() {
    char c;
    if (!peek(c)) return fail_at_end(message::kEofObject);
    if (c != ':') return fail_at(cur_, message::kExpectedColon);
    ++cur_;
    return true;
}

bool Reader::end_tuple() {
    char c;
    if (!peek(c)) return fail_at_end(message::kEofList);
    if (c == ']') {
        ++cur_;
        --depth_;
        return true;
    }
    if (c != ',') return fail_at(cur_, message::kExpectedListCommaOrEnd);
    ++cur_;
    if (!peek(c)) return fail_at_end(message::kEofValue);
    if (c == ']') return fail_at(cur_, message::kTrailingComma);
    return fail_at(cur_, message::kTrailingCharacters);
}

bool Reader::skip_scalar() {
    switch (*cur_) {
        case '"': {
            std::string_view ignored;
            return read_string(ignored);
        }
        case 'n': return read_literal("null");
        case 't': return read_literal("true");
        case 'f': return read_literal("false");
        default:
            if (*cur_ == '-' || is_digit(*cur_)) {
                NumberToken ignored;
                return read_number(ignored);
            }
            return fail_at(cur_, message::kExpectedValue);
    }
}

// Iterative, so that the depth of the skipped value costs no stack.
bool Reader::skip_value() {
    std::array<bool, kMaxDepth + 1> in_object;
    int open_count = 0;
    std::string_view key;
    for (;;) {
        char c;
        if (!peek_value(c)) return false;
        if (c == '[' || c == '{') {
            if (!open()) return false;
            const bool object = c == '{';
            bool first = true;
            bool more;
            if (object ? !next_key(first, more, key) : !next_element(first, more)) return false;
            if (more) {
                if (object && !expect_colon()) return false;
                in_object[static_cast<std::size_t>(open_count++)] = object;
                continue;
            }
        } else if (!skip_scalar()) {
            return false;
        }
        // One value is complete; finish every container that ends after it.
        for (;;) {
            if (open_count == 0) return true;
            const bool object = in_object[static_cast<std::size_t>(open_count - 1)];
            bool first = false;
            bool more;
            if (object ? !next_key(first, more, key) : !next_element(first, more)) return false;
            if (more) {
                if (object && !expect_colon()) return false;
                break;
            }
            --open_count;
        }
    }
}

bool Reader::expect_end_of_text() {
    char c;
    return !peek(c) || fail_at(cur_, message::kTrailingCharacters);
}

bool Reader::reject(std::string_view wanted) {
    std::string found;
    switch (*cur_) {
        case '[': return fail_at(cur_, message::invalid_type("sequence", wanted));
        case '{': return fail_at(cur_, message::invalid_type("map", wanted));
        case 'n':
            if (!read_literal("null")) return false;
            found = "null";
            break;
        case 't':
            if (!read_literal("true")) return false;
            found = "boolean `true`";
            break;
        case 'f':
            if (!read_literal("false")) return false;
            found = "boolean `false`";
            break;
        case '"': {
            std::string_view text;
            if (!read_string(text)) return false;
            found = "string ";
            append_json_string(found, text);
            break;
        }
        default: {
            if (*cur_ != '-' && !is_digit(*cur_)) return fail_at(cur_, message::kExpectedValue);
            NumberToken token;
            return read_number(token) && reject_number(token, wanted);
        }
    }
    return fail_here(message::invalid_type(found, wanted));
}

bool Reader::reject_number(const NumberToken& token, std::string_view wanted) {
    std::string found;
    if (token.integer) {
        found.append("integer `").append(token.first, token.last).append("`");
    } else {
        double value;
        if (!to_f64(token, value)) return false;
        found = "floating point `";
        append_shortest(found, value);
        found.append("`");
    }
    return fail_here(message::invalid_type(found, wanted));
}

}  // namespace rillwright::json
