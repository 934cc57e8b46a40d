// The ring of batches a run draws into, used in order: a batch is taken for drawing,
// handed over to the workers (two at a time for large files), and waited for and
// written back oldest first. The ring owns its batches and its cursors; the run writes
// what a batch holds. Made once at start-up; nothing here allocates after that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/batch.hpp"
#include "engine/workers.hpp"

namespace subset {

struct batch_ring {
    std::vector<batch> batches;   // used in order, the `taken`-th at taken % size
    std::size_t batch_points = 0; // drawn points a batch can hold
    std::int64_t filled = 0;      // batches taken for drawing so far
    std::int64_t handed = 0;      // batches handed to the workers so far
    std::int64_t written = 0;     // batches written so far
    batch* current = nullptr;     // the batch being drawn into, if any
    batch* waiting = nullptr;     // drawn, to be handed over with the next (see ring_hand_over)
};

// Makes the ring, and each thread's scratch in `pool`, for up to `workers` workers and a
// file of `n` points worked on with `kernels`: the batches' room had now, so that what cannot be
// had shows at start-up. When that much memory cannot be had, sets `workers` to 0 and makes a small
// ring for this thread alone; false when not even that can be had. `splits`: the draw
// is split over the workers, which takes more batches.
bool ring_make(batch_ring& ring, worker_pool& pool, int& workers, bool splits, std::int32_t n,
               const kernel_table& kernels);

// The batch of the ring that the `taken`-th batch taken uses.
inline batch& ring_at(batch_ring& ring, std::int64_t taken) {
    return ring.batches[static_cast<std::size_t>(taken % std::ssize(ring.batches))];
}

// Whether every batch is in flight: the oldest must be written before another is taken.
inline bool ring_full(const batch_ring& ring) {
    return ring.filled - ring.written == std::ssize(ring.batches);
}

// Takes the next batch (the ring must not be full) as the current one, to draw
// iterations from `first` on into from the version `from` with `kernels`.
void ring_take(batch_ring& ring, std::int32_t first, version_ptr from, const kernel_table& kernels);

// Hands the current batch over to the workers: with the one waiting, if any; else it
// waits for the next, when batches of its size go in pairs and it has no error line.
void ring_hand_over(batch_ring& ring, worker_pool& pool);

// Hands the batch that waits for a partner over alone.
void ring_hand_over_waiting(batch_ring& ring, worker_pool& pool);

// Waits for the oldest batch handed over and returns it, to be written. When a worker
// could not get the memory to work on it, the workers are stopped and it is worked on
// here (its `failed` then says whether even that failed); not when the run has `ended`.
batch& ring_oldest(batch_ring& ring, worker_pool& pool, bool ended);

} // namespace subset
