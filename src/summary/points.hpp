// A line of point numbers taken 64 bytes at a time, with no step per number: numbers of 1
// to 5 digits from 1 to N with no leading zero, each followed by one space, up to the
// line end, and for a sorted line each above the one before. Bit masks of the bytes
// (digits, spaces, comparisons with N's digits and with the bytes a number's length
// before) say where each number ends, how long it is, and how it compares with N and with
// the number before it.
#pragma once

#include <cstdint>

namespace subset {

// How the masks of 64 bytes are made: by vectors where the machine has them (SSE2), or
// a byte at a time; both must give the same.
enum class masks_by { vectors, bytes };

// Takes the point list at `at`, which must reach a line end (the 8 bytes before `at` and
// the 64 past the line end must be readable). Returns the address of that line end, with
// the count of numbers in `k`, when the line is two or more numbers from 1 to n
// (2 <= n <= 65536), strictly ascending when `ascending` is set; nullptr otherwise. Does
// not allocate or throw.
const char* scan_points(const char* at, std::int32_t n, bool ascending, std::int32_t& k,
                        masks_by how = masks_by::vectors);

} // namespace subset
