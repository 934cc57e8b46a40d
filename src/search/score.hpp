// Subset scoring: the sum of the distances of a subset's pairs, in file order, divided by
// its size; and the sorted subset it is computed from.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vector>

#include "base/aligned.hpp"
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

// What dist_med works in: one per thread, had and reserved before a run (score_reserve),
// grown by dist_med only when a larger file or batch than reserved for comes.
struct score_scratch {
    std::vector<int> order;         // the subsets, by size
    std::vector<int> first_of_size; // where each size starts in `order`
    std::vector<std::int32_t> rows; // the point lists of the subsets scored side by side
    aligned_bytes sweep;            // the kernel table's sweep's own room
    std::size_t sweep_room = 0;     // bytes at `sweep`
};

// Makes `s` ready for `count` subsets of a file of `n` points under `kernels`, without
// growing later. Throws std::bad_alloc when the room cannot be had.
void score_reserve(score_scratch& s, std::int32_t n, int count, const kernel_table& kernels);

// The bytes score_reserve takes for the same, in a scratch that had none.
std::size_t score_bytes(std::int32_t n, int count, const kernel_table& kernels);

// Scores `count` subsets of the version `items` (the iteration's myItems): scores[s] is the single-
// precision sum of the distances of subset s's pairs (c0,c1), (c0,c2), ..., (c1,c2), ...,
// added one by one in that order to a sum that starts at +0, divided by its size.
// The largest subsets go to `kernels`' masked sweep, if it has one, where it does less
// work than their chains; the others to chains side by side. Works in `scratch`, which
// it grows (throwing std::bad_alloc when it cannot) only when it was reserved for less.
void dist_med(const subset_ref* subsets, int count, const version& items, float* scores,
              const kernel_table& kernels, score_scratch& scratch);

// The same in a scratch of its own, had for this call (for tests and tools).
void dist_med(const subset_ref* subsets, int count, const version& items, float* scores,
              const kernel_table& kernels);

// What dist_med would do with `count` subsets of a file of `n` points under `kernels`,
// counted without scoring (for the benchmark): the pairs its chains add, the pairs its
// sweeps add usefully (their subsets' own), and the lane-additions those sweeps make.
// Needs `kernels.sweep_lane_adds` where the table has a sweep; grows `scratch` as
// dist_med does.
struct score_work {
    double chained_pairs = 0;
    double swept_pairs = 0;
    double sweep_lane_adds = 0;
};
score_work dist_med_work(const subset_ref* subsets, int count, std::int32_t n,
                         const kernel_table& kernels, score_scratch& scratch);

} // namespace subset
