// A trace's bytes taken in pieces as they come: a line cut by the end of one piece is put
// together with the start of the next and taken on its own, whole lines are taken where
// they lie (ordinary iterations whole, every other line by the grammar), and no line may
// be longer than a trace's longest.
#pragma once

#include <string>

#include "summary/grammar.hpp"

namespace subset {

// Bytes readable after every piece given to take_bytes: its point lists are read by
// vectors.
inline constexpr std::size_t piece_padding = 64;

// Takes the bytes from `at` to `end`, which follow those taken before: the line in
// `carry` (cut by the end of the piece before) is completed and taken, then every whole
// line, and what follows the last line end becomes `carry`. Ordinary iterations are taken
// whole when `whole` is set. False at the first line out of place or too long, with the
// problem recorded. Throws only std::bad_alloc.
bool take_bytes(reader& r, std::string& carry, const char* at, const char* end, bool whole);

} // namespace subset
