// Subset scoring: the sum of the distances of a subset's pairs, in file order, divided by
// its size; and the sorted subset it is computed from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "data/version.hpp"
#include "search/kernels.hpp"

namespace subset {

// Entries past a subset's end that sort_subset may write over.
inline constexpr std::size_t sorted_spare = 16;

// Writes the k distinct points of `drawn` (each from 1 to n) to `sorted` in ascending
// order; `sorted` has room for k + sorted_spare entries. `bits` is the caller's scratch
// bitmap of n / 64 + 1 words, all zero, and left all zero. A file under 64 points is
// sorted by `k`'s small sort.
void sort_subset(const std::int32_t* drawn, std::int32_t k, std::int32_t n, std::uint64_t* bits,
                 std::int32_t* sorted, const kernel_table& kernels);

// Scores `count` subsets of the version `items` (the iteration's myItems): scores[s] is the single-
// precision sum of the distances of subset s's pairs (c0,c1), (c0,c2), ..., (c1,c2), ...,
// added one by one in that order to a sum that starts at +0, divided by its size.
// The largest subsets go to `kernels`' masked sweep, if it has one, where it does less
// work than their chains; the others to chains side by side. Allocates its scratch once
// per thread; throws std::bad_alloc when that cannot be had.
void dist_med(const subset_ref* subsets, int count, const version& items, float* scores,
              const kernel_table& kernels);

} // namespace subset
