// Subset drawing: how many points an iteration takes and which, by rejection sampling
// with the iteration's random source.
#pragma once

#include <cstdint>

#include "search/iteration.hpp"
#include "trace.hpp"

// Returns a + (rnd() mod (b - a + 1)), a number from a to b (a <= b); one call of rnd.
std::int32_t give_rand(std::int32_t a, std::int32_t b, random_source rnd);

// Draws the subset of one iteration among the points 1 to `n` (2 <= n <= list_size):
// K = give_rand(2, n), then one rnd() per attempt, value = rnd() mod (n + 1) + 1, keeping
// each value not yet chosen (n + 1 is never a point). Prints an empty line, the points in
// draw order, their count and the points sorted. On return `it.chosen[0..K)` is sorted
// ascending, and `it.size`, `it.chosen_count` and `it.subset_pairs` are set.
void draw_subset(iteration& it, std::int32_t n, random_source rnd, trace& out);
