// The state of one iteration of the search: the lists the subset is drawn with and the
// counters that go with them. The search loop owns it; drawing fills it, scoring reads it.
#pragma once

#include <cstdint>

#include "data/distance_file.hpp"

// A source of numbers from 0 to RAND_MAX, called as the search needs them.
using random_source = int (*)();

// Room in each iteration list: one entry per point of the largest usable file.
inline constexpr std::int32_t list_size = max_points;

struct iteration {
    std::int32_t pool[list_size + 1]; // entry m: point m + 1 while free, -1 once chosen
    std::int32_t draws[list_size];    // value of each draw attempt, for the first list_size
    std::int32_t chosen[list_size];   // chosen points: in draw order, then sorted ascending
    std::int32_t size;                // K, the number of points in this iteration's subset
    std::int32_t chosen_count;        // points placed in `chosen` so far
    std::int32_t subset_pairs;        // K(K-1)/2, the pairs in the subset
};
