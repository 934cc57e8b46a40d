// Subset scoring: the sum of the distances of a subset's pairs, in file order, divided by
// its size; and the sorted subset it is computed from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "data/version.hpp"

namespace subset {

// Entries past a subset's end that sort_subset may write over.
inline constexpr std::size_t sorted_spare = 16;

// Writes the k distinct points of `drawn` (each from 1 to n) to `sorted` in ascending
// order; `sorted` has room for k + sorted_spare entries. `bits` is the caller's scratch
// bitmap of n / 64 + 1 words, all zero, and left all zero. `wide`: a file under 64 points
// is sorted by AVX-512, only where avx512_available().
void sort_subset(const std::int32_t* drawn, std::int32_t k, std::int32_t n, std::uint64_t* bits,
                 std::int32_t* sorted, bool wide);

// A subset to score: its points in ascending order, and how many.
struct subset_ref {
    const std::int32_t* sorted;
    std::int32_t size;
};

// Scores `count` subsets of the version `items` (the iteration's myItems): scores[s] is the single-
// precision sum of the distances of subset s's pairs (c0,c1), (c0,c2), ..., (c1,c2), ...,
// added one by one in that order to a sum that starts at +0, divided by its size.
// How: by the side-by-side chains only, by the masked sweep only (where the machine has
// it; for tests), or the sweep for the largest subsets where it does less work.
enum class scoring { automatic, chains, sweep };
void dist_med(const subset_ref* subsets, int count, const version& items, float* scores,
              scoring how = scoring::automatic);

} // namespace subset
