// Number reader for the distance file: reads one field the way formatted input reads
// " %d" and " %f" in the C locale, from text held in memory.
#pragma once

#include <cstdint>

namespace subset {

enum class scan_result {
    ok,  // a field was read and `p` moved past it
    end, // only whitespace was left before the end of the text
    bad, // the field is not a number of its kind (or, for integers, not 32-bit)
};

// Whether formatted input skips `c` as whitespace (in the C locale).
inline bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Skips whitespace, then reads a decimal integer with an optional sign into `v`.
// Values outside the 32-bit range are `bad`, not wrapped or clamped.
scan_result scan_int(const char*& p, const char* end, std::int32_t& v);

// Skips whitespace, then reads a real number into `v`, rounded to float as strtof rounds.
// Accepts what " %f" accepts: signs, exponents, "inf", "infinity", "nan", hexadecimal
// "0x" forms; and it consumes exactly the characters " %f" would consume.
scan_result scan_float(const char*& p, const char* end, float& v);

} // namespace subset
