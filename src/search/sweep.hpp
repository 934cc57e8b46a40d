// Scoring many large subsets at once by one masked sweep over the whole pair table: up to
// 128 subsets sit in the lanes of eight 16-lane vectors, and every pair (a, b) of the file,
// walked once in file order, is added to exactly the lanes whose subset holds both a and
// b. Each lane thus adds its own subset's distances in file order, one rounding per
// addition: the same sum, bit for bit, as a chain of single additions. Needs AVX-512 and BMI2.
#pragma once

#include "data/version.hpp"
#include "search/score.hpp"

namespace subset {

// Subsets one sweep scores at most.
inline constexpr int sweep_lanes = 128;

// Whether this machine can run the sweep (AVX-512F and BMI2, checked once at run time).
bool sweep_available();

// Scores `count` (1 to sweep_lanes) subsets of `items` as dist_med does, into `scores`.
// Only where sweep_available().
void sweep_score(const subset_ref* subsets, int count, const version& items, float* scores);

} // namespace subset
