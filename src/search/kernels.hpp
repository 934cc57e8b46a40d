// The kernels that differ by instruction set, gathered in one table per set: the
// portable code, AVX2 (with its large files' rows unpacked where pext is slow, packed
// where it is fast) and AVX-512 (with BMI2). A run takes one table, the best that the
// processor can execute, and calls every such kernel through it; tests and the benchmark
// may name another. Nothing here allocates or throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "data/version.hpp"

namespace subset {

// A subset to score: its points in ascending order, and how many.
struct subset_ref {
    const std::int32_t* sorted;
    std::int32_t size;
};

struct kernel_table {
    const char* name; // "portable", "avx2", "avx2-unpacked" or "avx512": what tests and
                      // bench_driver call it
    // Writes the point an attempt among divisor - 1 points makes of each of a block's
    // `random_block` generator words at `values`: (word >> 1) mod divisor, plus 1
    // (3 <= divisor <= max_points + 1).
    void (*block_points)(const std::uint32_t* values, std::uint32_t divisor, std::uint32_t* points);
    // Writes the k distinct points of `drawn`, of a file of n < 64 points, to `sorted` in
    // ascending order; may write up to 15 entries past the end.
    void (*sort_small)(const std::int32_t* drawn, std::int32_t k, std::int32_t n,
                       std::int32_t* sorted);
    // Scores 1 to sweep_lanes subsets (or sweep_call_lanes, where set) of `items` by one
    // masked sweep over the whole pair table, each sum bit for bit a chain's (see
    // score.hpp), working in `room`: at least sweep_point_bytes for each point and one
    // more, on a cache line, in any state. Null where the table has none.
    void (*sweep)(const subset_ref* subsets, int count, const version& items, float* scores,
                  char* room);
    int sweep_lanes = 0; // subsets a sweep's group holds at most
    // Subsets one call of `sweep` takes at most: 0 for sweep_lanes, or a multiple of it
    // where a sweep does better with several groups at once, to which dist_med then
    // hands as many of its groups as fit.
    int sweep_call_lanes = 0;
    std::size_t sweep_point_bytes = 0; // room a sweep works in, for each point
    // What one step of the sweep (one pair of the file) costs, in additions of a chain:
    // the sweep takes a group when it does less work than its chains. Measured.
    double sweep_step_cost = 0;
    // From this many points on (never where 0) a step costs sweep_step_cost_large chain
    // additions instead: where the table's sweep changes its design (the AVX2 sweep packs
    // its rows), or the chains' scattered reads start to wait on memory. Measured.
    std::int32_t large_points = 0;
    double sweep_step_cost_large = 0;
    // The lane-additions that `sweep` makes on the same subsets (every lane of every
    // vector it adds, step by step), counted without adding, in the same `room`: the
    // benchmark's measure of how much of the sweep's work is useful. Null with `sweep`.
    std::int64_t (*sweep_lane_adds)(const subset_ref* subsets, int count, std::int32_t n,
                                    char* room) = nullptr;
};

// The tables this build has: the portable one everywhere, the others on x86-64 only.
extern const kernel_table portable_kernels;
#if defined(__x86_64__)
extern const kernel_table avx2_kernels;
extern const kernel_table avx2_unpacked_kernels;
extern const kernel_table avx512_kernels;
#endif

// Every table this processor can execute, best first; the portable one is always last.
std::span<const kernel_table* const> runnable_kernels();

// The best table this processor can execute: chosen once, on the first call.
const kernel_table& best_kernels();

// The table called `name` if this processor can execute it, else null.
const kernel_table* kernels_named(std::string_view name);

} // namespace subset
