// The distance file's bytes turned into a version: a function of a stream of bytes, with
// no file, clock or state behind it. The file lists every pair (i, j), 1 <= i < j <= N,
// once, as a whitespace-separated triple "i j distance", ordered by i and then j; N is
// taken from the length of the run of triples that start with point 1.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

#include "data/version.hpp"

namespace subset {

// Where the bytes come from: puts up to `room` bytes at `into` and returns how many, 0 at
// the end, or -1 when they cannot be read.
using byte_source = std::function<std::ptrdiff_t(char* into, std::size_t room)>;

// Bytes read at a time. A single number longer than this grows the buffer to hold it.
inline constexpr std::size_t parse_buffer = std::size_t{1} << 20;

// Returns the version that the bytes of `source` hold, reading them once, `buffer` bytes
// at a time, and nothing after the last triple needed (but for the rest of that buffer).
// Refuses (returns null, and says why in `why`) a text of fewer than 2 or more than
// max_points points (right after counting), one with a triple missing or malformed among
// its first N(N-1)/2, and one whose table cannot be had; bytes that cannot be read are an
// access problem. Like every function of the distance data that can fail, it returns
// what it makes, empty when it fails, and says why in a file_error.
version_ptr parse_distances(const byte_source& source, file_error& why,
                            std::size_t buffer = parse_buffer);

// The same over text held in memory.
version_ptr parse_distances(std::string_view text, file_error& why,
                            std::size_t buffer = parse_buffer);

} // namespace subset
