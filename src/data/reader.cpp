// Formatted-input reading of one field from memory, with the platform's own rules for
// which characters belong to a number and its own conversion for the value.
#include "data/reader.hpp"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <string>

namespace subset {

namespace {

// ------------------------------------------------------------------ characters

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_xdigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}
char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Moves `p` over whitespace; returns false when the text ends first.
bool skip_space(const char*& p, const char* end) {
    while (p != end && is_space(*p)) ++p;
    return p != end;
}

// Matches `word` case-insensitively at `q`, advancing over it; false on any mismatch.
bool match_word(const char*& q, const char* end, const char* word) {
    for (; *word != '\0'; ++word, ++q)
        if (q == end || lower(*q) != *word) return false;
    return true;
}

// Converts the characters formatted input gathered for a real number. Like formatted
// input, it succeeds when strtof converts any leading part of them ("1e" reads as 1).
bool convert_float(const char* b, const char* e, float& v) {
    const char* first = (*b == '+') ? b + 1 : b;
    auto r = std::from_chars(first, e, v);
    if (r.ec == std::errc{} && r.ptr == e) return true;
    // Hexadecimal forms, partial exponents, out-of-range values: the platform decides.
    std::string copy(b, e);
    char* stop = nullptr;
    v = std::strtof(copy.c_str(), &stop);
    return stop != copy.c_str();
}

} // namespace

// ------------------------------------------------------------------ fields

scan_result scan_int(const char*& p, const char* end, std::int32_t& v) {
    if (!skip_space(p, end)) return scan_result::end;
    const char* q = p;
    bool negative = false;
    if (*q == '+' || *q == '-') negative = (*q++ == '-');
    const char* digits = q;
    while (q != end && is_digit(*q)) ++q;
    if (q == digits) return scan_result::bad;
    // from_chars takes a '-' but not a '+': parse the magnitude with its sign in front.
    std::int64_t value = 0;
    auto r = std::from_chars(digits, q, value);
    if (r.ec != std::errc{}) return scan_result::bad;
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return scan_result::bad;
    v = static_cast<std::int32_t>(value);
    p = q;
    return scan_result::ok;
}

scan_result scan_float(const char*& p, const char* end, float& v) {
    if (!skip_space(p, end)) return scan_result::end;
    const char* const b = p;
    const char* q = p;
    std::size_t sign = 0;
    if (*q == '+' || *q == '-') {
        ++q;
        sign = 1;
        if (q == end) return scan_result::bad;
    }
    if (lower(*q) == 'n') {
        if (!match_word(q, end, "nan")) return scan_result::bad;
    } else if (lower(*q) == 'i') {
        if (!match_word(q, end, "inf")) return scan_result::bad;
        // Once an 'i' follows "inf", the whole word "infinity" must follow.
        if (q != end && lower(*q) == 'i' && !match_word(q, end, "inity")) return scan_result::bad;
    } else {
        bool hex = false, got_digit = false, got_e = false, got_dot = false;
        char exp_char = 'e';
        if (*q == '0') {
            ++q;
            if (q != end && lower(*q) == 'x') {
                ++q;
                hex = true;
                exp_char = 'p';
            } else {
                got_digit = true;
            }
        }
        // Gather what could still be part of the number, one character at a time.
        for (; q != end; ++q) {
            char c = *q;
            if (is_digit(c) || (hex && !got_e && is_xdigit(c))) {
                got_digit = true;
            } else if (got_e && lower(q[-1]) == exp_char && (c == '-' || c == '+')) {
            } else if (got_digit && !got_e && lower(c) == exp_char) {
                got_e = got_dot = true;
            } else if (c == '.' && !got_dot) {
                got_dot = true;
            } else {
                break;
            }
        }
        auto size = static_cast<std::size_t>(q - b);
        if (size == sign || (hex && size == 2 + sign)) return scan_result::bad;
    }
    if (!convert_float(b, q, v)) return scan_result::bad;
    p = q;
    return scan_result::ok;
}

} // namespace subset
