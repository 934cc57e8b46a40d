// Subset scoring: the distances of the drawn subset's pairs, picked out of the pair table
// by their place in the distance file, and the score: their sum divided by the size.
#pragma once

#include <cstdint>

#include "data/distance_file.hpp"
#include "search/iteration.hpp"
#include "trace.hpp"

// Subsets whose sums are added up side by side.
inline constexpr int score_batch = 8;

// Distances of the pairs of the subsets being scored, one row per subset, in the order
// they are added up; written by extract_pairs, read by dist_med.
extern float mySol[score_batch][max_pairs];

// Returns the place, from 0, of the pair (a, b), 1 <= a < b <= n, in a file of n points.
std::int32_t pair_index(std::int32_t a, std::int32_t b, std::int32_t n);

// Copies the distances of the pairs of the sorted subset `it.chosen[0..K)` from myItems
// into `into`, in the order (c0,c1), (c0,c2), ..., (c0,cK-1), (c1,c2), ..., (cK-2,cK-1),
// for a file of n points, and prints "K - K(K-1)/2 ".
void extract_pairs(const iteration& it, std::int32_t n, float* into, trace& out);

// One subset to score: its size and the number of its pairs in its row of mySol.
struct score_job {
    std::int32_t size;
    std::int32_t pairs;
};

// Scores the subsets of mySol[0..count), count <= score_batch: scores[s] is the single-
// precision sum of mySol[s][0..pairs), added one by one in row order, divided by size.
void dist_med(const score_job* jobs, int count, float* scores);
