// The work a thread does on a batch handed to it: sort, score and put into text its
// iterations, or draw its segment; and the scratch it does it in, had before the run.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "search/draw.hpp"
#include "search/kernels.hpp"
#include "search/score.hpp"

namespace subset {

struct batch;

// What one thread works in: owned by that thread's place in the worker pool, made with
// the run's resources (resources.hpp) for the run's file, and grown only when a larger
// version comes, on the thread that meets it, where a shortage fails the batch as any
// other.
struct worker_scratch {
    std::vector<std::uint64_t> bits;     // the sort's bitmap, all zero between sorts
    std::vector<subset_ref> subsets;     // two batches' subsets, scored together
    std::vector<float> scores;           // and their scores
    score_scratch scoring;               // dist_med's
    std::unique_ptr<draw_state> drawing; // a segment's draw, where the draw is split
};

// Makes `s` ready to work on batches of a file of `n` points with `kernels` (and to draw
// segments if `draws`), so that none of it grows in the run. Throws std::bad_alloc.
void scratch_reserve(worker_scratch& s, std::int32_t n, const kernel_table& kernels, bool draws);

// The bytes scratch_reserve takes for the same.
std::size_t scratch_bytes(std::int32_t n, const kernel_table& kernels, bool draws);

// Does the batch's job in `scratch`: sorts, scores and writes the text of its iterations
// from `skip` on, from its version, or draws its segment; sets `failed` instead when the
// memory for it cannot be had. With a partner, does the partner's too, scoring both
// batches' subsets together when they share a version. Never throws.
void work_on(batch& b, worker_scratch& scratch);

} // namespace subset
