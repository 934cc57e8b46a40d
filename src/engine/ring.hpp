// The ring of batches a run draws into, used in order: a batch is taken for drawing,
// handed over to the workers (two at a time for large files), and waited for and
// written back oldest first. The ring owns its batches and its cursors, which change only
// through the operations below; the run writes what a batch holds. Its batches are made
// with the run's resources (resources.hpp); nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/batch.hpp"

namespace subset {

struct worker_pool;

struct batch_ring {
    std::vector<batch> batches;   // used in order, the `taken`-th at taken % size
    std::size_t batch_points = 0; // drawn points a batch can hold
    // The cursors: written <= handed <= filled <= written + the number of batches.
    std::int64_t filled = 0;  // batches taken for drawing so far
    std::int64_t handed = 0;  // batches handed to the workers so far
    std::int64_t written = 0; // batches written so far
    batch* current = nullptr; // the batch being drawn into, if any
    batch* waiting = nullptr; // drawn, to be handed over with the next (see ring_hand_over)
};

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

// Whether the oldest batch handed over has been worked on: ring_oldest would not wait.
bool ring_oldest_ready(const batch_ring& ring, worker_pool& pool);

// ---- for a draw split into segments (split_draw.hpp): batches taken, each drawn by a
// worker, then handed over in order once joined to the one before.

// Takes the next batch (the ring must not be full) and returns it, not as the current
// one: a segment is drawn into it.
batch& ring_take_segment(batch_ring& ring);

// The number of batches taken but not yet handed over to be scored.
inline std::int64_t ring_unhanded(const batch_ring& ring) {
    return ring.filled - ring.handed;
}

// The i-th batch taken but not handed over (i < ring_unhanded).
batch& ring_unhanded_at(batch_ring& ring, std::int64_t i);

// The last batch handed over (one must have been).
batch& ring_last_handed(batch_ring& ring);

// Hands the oldest batch not handed over to the workers, to be scored.
void ring_hand_over_oldest_unhanded(batch_ring& ring, worker_pool& pool);

// Gives up the batches taken but not handed over: waits for those a worker still draws,
// drops their versions, and makes them free to take again.
void ring_drop_unhanded(batch_ring& ring, worker_pool& pool);

} // namespace subset
