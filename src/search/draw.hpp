// Subset drawing: how many points an iteration takes and which, by rejection sampling
// with the run's random numbers.
#pragma once

#include <cstdint>

#include "data/version.hpp"
#include "search/kernels.hpp"
#include "search/random.hpp"

namespace subset {

// Which points the iteration being drawn has taken; owned by the drawing thread.
struct draw_state {
    // taken[v] == stamp: point v is taken in this iteration. Stamps change with every
    // iteration, so nothing needs clearing between them.
    std::uint32_t taken[max_points + 2] = {};
    std::uint32_t stamp = 0;
    // The remainders by N - 1 (for K) and by N + 1 (for an attempt) as multiplications:
    // their constants, worked out once for the N they were made for.
    std::int32_t n = 0;
    std::uint64_t by_sizes = 0;
    std::uint64_t by_points = 0;
};

// Returns a + (the next value of rnd mod (b - a + 1)), a number from a to b (a <= b): one
// value of rnd. `constant` is remainder_constant(b - a + 1) (see remainder.hpp), made once
// for the many calls with the same a and b.
std::int32_t give_rand(std::int32_t a, std::int32_t b, random_stream& rnd, std::uint64_t constant);

// Draws the subset of one iteration among the points 1 to `n` (2 <= n <= max_points):
// K = give_rand(2, n), then one value per attempt, point = value mod (n + 1) + 1, keeping
// each point not yet taken (n + 1 is never a point). Writes the K points to `chosen` in
// the order in which each was first drawn, and returns K. The attempts' points of a
// reproduced stream are worked out a block at a time by `k`'s block_points.
std::int32_t draw_subset(draw_state& d, std::int32_t n, random_stream& rnd, std::int32_t* chosen,
                         const kernel_table& k);

} // namespace subset
