// Subset scoring: the pairs of the drawn subset, picked out of the pair table by their
// place in the distance file, and the score: their distance sum divided by the size.
#pragma once

#include <cstdint>

#include "data/distance_file.hpp"
#include "search/iteration.hpp"
#include "trace.hpp"

// Pairs of the current subset, in the order they are added up; written by extract_pairs.
extern item mySol[max_pairs];

// Returns the place, from 0, of the pair (a, b), 1 <= a < b <= n, in a file of n points.
std::int32_t pair_index(std::int32_t a, std::int32_t b, std::int32_t n);

// Copies the pairs of the sorted subset `it.chosen[0..K)` from myItems into mySol, in the
// order (c0,c1), (c0,c2), ..., (c0,cK-1), (c1,c2), ..., (cK-2,cK-1), for a file of n points.
void extract_pairs(const iteration& it, std::int32_t n);

// Prints "n - count " and returns the score: the single-precision sum, in table order,
// of items[0..count).dist, divided by n.
float dist_med(std::int32_t n, std::int32_t count, const item* items, trace& out);
