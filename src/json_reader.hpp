// A single-pass JSON tokenizer for typed readers: the caller asks for the value
// it expects next, and the reader either delivers it or records one error
// message with the position of the last character read. No exceptions, no
// allocation beyond the texts the caller keeps and one scratch buffer for
// escaped strings.
//
// Positions: every error is reported at the last character read when it was
// found. An unexpected character is therefore reported at that character, an
// end of text at the end of the text (column 0 when the text ends with a line
// feed or is empty), a bad scalar at its last character, a missing field at the
// closing brace of its record.
//
// An invalid-type message describes what it found as JSON shows it: an integer
// by its digits as written, a fraction or exponent number by the shortest
// decimal that reads back to the same double, ".0" kept on integral values
// ("floating point `10.0`"), a string as a JSON string literal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rillwright::json {

// Every message of the reader, syntax and schema alike.
namespace message {
inline constexpr std::string_view kEofList = "EOF while parsing a list";
inline constexpr std::string_view kEofObject = "EOF while parsing an object";
inline constexpr std::string_view kEofString = "EOF while parsing a string";
inline constexpr std::string_view kEofValue = "EOF while parsing a value";
inline constexpr std::string_view kExpectedColon = "expected `:`";
inline constexpr std::string_view kExpectedListCommaOrEnd = "expected `,` or `]`";
inline constexpr std::string_view kExpectedObjectCommaOrEnd = "expected `,` or `}`";
inline constexpr std::string_view kExpectedIdent = "expected ident";
inline constexpr std::string_view kExpectedValue = "expected value";
inline constexpr std::string_view kExpectedString = "expected `\"`";
inline constexpr std::string_view kInvalidEscape = "invalid escape";
inline constexpr std::string_view kInvalidNumber = "invalid number";
inline constexpr std::string_view kNumberOutOfRange = "number out of range";
inline constexpr std::string_view kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
inline constexpr std::string_view kKeyMustBeString = "key must be a string";
inline constexpr std::string_view kLoneLeadingSurrogate = "lone leading surrogate in hex escape";
inline constexpr std::string_view kTrailingComma = "trailing comma";
inline constexpr std::string_view kTrailingCharacters = "trailing characters";
inline constexpr std::string_view kUnexpectedEndOfHexEscape = "unexpected end of hex escape";
inline constexpr std::string_view kRecursionLimit = "recursion limit exceeded";

std::string missing_field(std::string_view key);
std::string duplicate_field(std::string_view key);
std::string unknown_units(std::string_view text);
std::string unknown_benching(std::string_view text);
std::string invalid_u32(std::string_view integer_text);
std::string invalid_pair_length(std::size_t count);
std::string invalid_type(std::string_view found, std::string_view wanted);
}  // namespace message

// Arrays and objects may nest this deep; one level more is refused.
inline constexpr int kMaxDepth = 128;

// The text span of one JSON number that obeys the grammar.
struct NumberToken {
    const char* first = nullptr;
    const char* last = nullptr;
    bool integer = true;  // no fraction and no exponent
    bool negative = false;
};

class Reader {
public:
    explicit Reader(std::string_view text)
        : begin_(text.data()), cur_(text.data()), end_(text.data() + text.size()) {}

    // The recorded message followed by " at line L column C".
    std::string error() const;

    // Skips whitespace; false at the end of the text.
    bool peek(char& ch) {
        while (cur_ != end_) {
            const char c = *cur_;
            if (c != ' ' && c != '\n' && c != '\r' && c != '\t') {
                ch = c;
                return true;
            }
            ++cur_;
        }
        ch = '\0';
        return false;
    }

    // Skips whitespace to the start of a value; fails at the end of the text.
    bool peek_value(char& ch) { return peek(ch) || fail_at_end(message::kEofValue); }

    // Scalars, the cursor on their first character.
    bool read_number(NumberToken& token);
    bool read_literal(std::string_view word);  // "null", "true" or "false", first letter already matched
    // The decoded text; valid until the next string is read.
    bool read_string(std::string_view& text);
    bool to_f64(const NumberToken& token, double& value);
    bool to_f32(const NumberToken& token, float& value);

    // Containers. `open` consumes the bracket under the cursor; the calls that
    // consume the closing bracket leave the level again.
    bool open() {
        if (++depth_ > kMaxDepth) return fail_at(cur_, message::kRecursionLimit);
        ++cur_;
        return true;
    }
    // Before each element: `more` false means the closing bracket was consumed.
    bool next_element(bool& first, bool& more);
    // Before each member: reads the key; `more` false means the closing brace was consumed.
    bool next_key(bool& first, bool& more, std::string_view& key);
    bool expect_colon();
    // After the last wanted element of a fixed-size array.
    bool end_tuple();
    // Any well-formed value, discarded.
    bool skip_value();
    bool expect_end_of_text();

    // Fails with "invalid type: <found>, expected <wanted>" for the value under
    // the cursor, reading scalars whole to describe them.
    bool reject(std::string_view wanted);
    // The same for a number already read.
    bool reject_number(const NumberToken& token, std::string_view wanted);

    // Error recording; each returns false.
    bool fail_here(std::string_view message);               // at the last character consumed
    bool fail_at_cursor(std::string_view message) { return fail_at(cur_, message); }  // at the next one
    bool fail_at_end(std::string_view message);             // at the end of the text

private:
    bool fail_at(const char* character, std::string_view message);  // at that character
    bool read_escaped_rest(const char* run_start, const char* p, std::string_view& text);
    bool read_hex4(const char*& p, unsigned& code);
    bool read_unicode_escape(const char*& p);
    bool skip_scalar();

    const char* begin_;
    const char* cur_;
    const char* end_;
    int depth_ = 0;
    std::string scratch_;
    std::string message_;
    std::size_t error_offset_ = 0;  // bytes read when the error was found
};

}  // namespace rillwright::json
