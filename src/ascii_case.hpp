// ASCII-only letter case for keywords, kinds and number words; other bytes,
// UTF-8 sequences included, are left exactly as they are.
#pragma once

#include <string>
#include <string_view>

namespace rillwright {

inline char ascii_lower(char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; }
inline char ascii_upper(char ch) { return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch; }

// `word` must already be in lower case.
inline bool equals_ignoring_ascii_case(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (ascii_lower(text[i]) != word[i]) return false;
    }
    return true;
}

inline std::string to_ascii_upper(std::string_view text) {
    std::string result(text);
    for (char& ch : result) ch = ascii_upper(ch);
    return result;
}

inline std::string to_ascii_lower(std::string_view text) {
    std::string result(text);
    for (char& ch : result) ch = ascii_lower(ch);
    return result;
}

}  // namespace rillwright
