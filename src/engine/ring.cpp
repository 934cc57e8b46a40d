// The ring of batches: the order in which its batches go round, and its cursors.
#include "engine/ring.hpp"

#include "base/check.hpp"
#include "engine/workers.hpp"

namespace subset {

namespace {

// The batch of the ring that the `taken`-th batch taken uses.
batch& ring_at(batch_ring& ring, std::int64_t taken) {
    return ring.batches[static_cast<std::size_t>(taken % std::ssize(ring.batches))];
}

// Whether the cursors stand in their order; checked after every move.
[[maybe_unused]] bool in_order(const batch_ring& ring) {
    return 0 <= ring.written && ring.written <= ring.handed && ring.handed <= ring.filled &&
           ring.filled - ring.written <= std::ssize(ring.batches);
}

// Takes the next batch for drawing.
batch& take_next(batch_ring& ring) {
    SUBSET_CHECK(!ring_full(ring));
    batch& b = ring_at(ring, ring.filled++);
    SUBSET_CHECK(in_order(ring));
    return b;
}

// Counts `count` more batches as handed over, once submitted.
void count_handed(batch_ring& ring, std::int64_t count) {
    ring.handed += count;
    SUBSET_CHECK(in_order(ring));
}

// Whether batches of a file of `n` points hold so few iterations that they go to the
// workers two at a time, to be scored together: a sweep takes up to its table's
// sweep_lanes subsets, and at 5000 points a batch holds about 50. Two batches at once
// must leave the ring a batch to draw into.
bool in_pairs(const batch_ring& ring, const worker_pool& pool, const batch& b) {
    return !pool.threads.empty() && ring.batches.size() >= 3 &&
           static_cast<double>(ring.batch_points) <
               b.kernels->sweep_lanes * ((b.from->points + 2) / 2.0);
}

} // namespace

void ring_take(batch_ring& ring, std::int32_t first, version_ptr from,
               const kernel_table& kernels) {
    batch& b = take_next(ring);
    batch_reset(b, ring.batch_points, first, std::move(from));
    b.kernels = &kernels;
    ring.current = &b;
}

void ring_hand_over(batch_ring& ring, worker_pool& pool) {
    batch& b = *ring.current;
    ring.current = nullptr;
    if (ring.waiting != nullptr) {
        ring.waiting->partner = &b;
        workers_submit(pool, *ring.waiting);
        ring.waiting = nullptr;
        count_handed(ring, 2);
    } else if (b.from != nullptr && b.error.what == file_problem::none && in_pairs(ring, pool, b)) {
        ring.waiting = &b;
    } else {
        workers_submit(pool, b);
        count_handed(ring, 1);
    }
}

void ring_hand_over_waiting(batch_ring& ring, worker_pool& pool) {
    if (ring.waiting == nullptr) return;
    workers_submit(pool, *ring.waiting);
    ring.waiting = nullptr;
    count_handed(ring, 1);
}

batch& ring_oldest(batch_ring& ring, worker_pool& pool, bool ended) {
    SUBSET_CHECK(ring.written < ring.handed);
    batch& b = ring_at(ring, ring.written++);
    workers_wait(pool, b);
    // The run goes on without workers, here, and ends only when even this thread cannot.
    if (!ended) workers_redo_here(pool, b);
    return b;
}

bool ring_oldest_ready(const batch_ring& ring, worker_pool& pool) {
    return ring.written < ring.handed &&
           workers_finished(
               pool,
               ring.batches[static_cast<std::size_t>(ring.written % std::ssize(ring.batches))]);
}

batch& ring_take_segment(batch_ring& ring) {
    return take_next(ring);
}

batch& ring_unhanded_at(batch_ring& ring, std::int64_t i) {
    SUBSET_CHECK(i >= 0 && i < ring_unhanded(ring));
    return ring_at(ring, ring.handed + i);
}

batch& ring_last_handed(batch_ring& ring) {
    SUBSET_CHECK(ring.handed > 0);
    return ring_at(ring, ring.handed - 1);
}

void ring_hand_over_oldest_unhanded(batch_ring& ring, worker_pool& pool) {
    SUBSET_CHECK(ring.handed < ring.filled);
    workers_submit(pool, ring_at(ring, ring.handed));
    count_handed(ring, 1);
}

void ring_drop_unhanded(batch_ring& ring, worker_pool& pool) {
    for (std::int64_t i = ring.handed; i < ring.filled; ++i) {
        batch& b = ring_at(ring, i);
        if (b.job == task::draw) workers_wait(pool, b);
        b.from = nullptr;
    }
    ring.filled = ring.handed;
    SUBSET_CHECK(in_order(ring));
}

} // namespace subset
