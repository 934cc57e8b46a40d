// An ordinary iteration of a trace taken whole: its eight lines compared with the texts
// the program writes, its point lists scanned in one pass each, its score read by exact
// integer arithmetic. Anything out of the ordinary (a count that changed, a text written
// another way, a score that is no plain number, a line past the end) is left to the line
// by line grammar, which takes it or says what is wrong.
#pragma once

#include <cstddef>

#include "summary/grammar.hpp"

namespace subset {

// Takes the iteration at `at` when r.next is a count line and the whole iteration, as the
// program writes it, lies before `end` (the bytes up to 64 past `end` must be readable).
// Returns its length in bytes, the figures updated; 0, with nothing changed, when it is
// not one to take whole. Does not throw but for std::bad_alloc (a best subset's points).
std::size_t take_iteration(reader& r, const char* at, const char* end);

} // namespace subset
