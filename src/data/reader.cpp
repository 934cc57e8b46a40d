// Formatted-input reading of one field from memory, with the platform's own rules for
// which characters belong to a number and its own conversion for the value.
#include "data/reader.hpp"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <string>

#include <fast_float/fast_float.h>

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
    // One pass over the digits; past 2^32 the value only needs to stay out of range.
    std::uint64_t value = 0;
    for (; q != end && is_digit(*q); ++q)
        if (value <= (std::uint64_t{1} << 32)) value = value * 10 + static_cast<unsigned>(*q - '0');
    if (q == digits) return scan_result::bad;
    if (value > (negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1))
        return scan_result::bad;
    v = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(value)
                                           : static_cast<std::int64_t>(value));
    p = q;
    return scan_result::ok;
}

scan_result scan_float(const char*& p, const char* end, float& v) {
    if (!skip_space(p, end)) return scan_result::end;
    // The common shapes, [-]digits[.digits][e[sign]digits], in one pass: when the number
    // fast_float reads is followed by whitespace (or the text's end), formatted input
    // gathers exactly its characters too, and both round as strtof does.
    const char* first = *p == '+' ? p + 1 : p; // from_chars takes a '-' but no '+'
    const char* lead = first != end && *first == '-' && first == p ? first + 1 : first;
    if (lead != end && (is_digit(*lead) || *lead == '.')) {
        // fast_float gives strtof's value even out of range (infinity, zero).
        const auto r = fast_float::from_chars(first, end, v);
        if (r.ec == std::errc{} && (r.ptr == end || is_space(*r.ptr))) {
            p = r.ptr;
            return scan_result::ok;
        }
    }
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
