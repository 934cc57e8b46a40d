// An ordinary iteration of a trace taken whole: its eight lines compared with the texts
// the program writes, its point lists scanned in one pass each, its score read by exact
// integer arithmetic. Anything out of the ordinary (a count that changed, a text written
// another way, a score that is no plain number, a line past the end) is left to the line
// by line grammar, which takes it or says what is wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "summary/grammar.hpp"

namespace subset {

// What an iteration taken whole adds to the figures.
struct whole_iteration {
    std::size_t length = 0;  // its bytes, line ends included
    std::int32_t size = 0;   // K
    double score = 0;        // its score
    std::string_view sorted; // its sorted points, without the last space
};

// Reads the iteration at `at` as one of N = r.n points numbered r.number, when the whole
// iteration, as the program writes it, lies before `end` (the bytes up to 64 past `end`
// must be readable); false when it is not one to take whole. Changes only r's cache of
// lines per size. Does not allocate or throw.
bool read_iteration(reader& r, const char* at, const char* end, whole_iteration& it);

// The same, when r.next is a count line, and the iteration added to the figures: returns
// its length in bytes, or 0 with nothing changed. Throws only std::bad_alloc (a best
// subset's points).
std::size_t take_iteration(reader& r, const char* at, const char* end);

} // namespace subset
