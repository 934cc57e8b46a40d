// The ring of batches: its making, with the fallback for short memory, and the order in
// which its batches go round.
#include "engine/ring.hpp"

#include <algorithm>
#include <new>

#include "text/lines.hpp"

namespace subset {

namespace {

// Drawn points that all the batches in flight may hold together (each takes about 18
// bytes of lists and text), so that memory stays bounded whatever the number of workers.
constexpr std::size_t points_in_flight = 1 << 19;
// What a ring takes when that much cannot be had: two batches, and no worker.
constexpr std::size_t fallback_points = 1 << 13;
// Iterations a batch holds about, at most, when no worker takes batches: each one is
// sorted, scored and written as soon as it is drawn, so more would only take memory.
constexpr std::size_t one_thread_iterations = 640;

// Makes the ring for `workers` workers, with room for `points` drawn points in all;
// false when its memory cannot be had. A split draw keeps four more batches: its
// batches go to the workers twice (drawn, then scored), and its own thread works on
// them while it waits. On two CPUs with bench_driver, 141 points: 0.56 s with two more
// than the workers, 0.46 s with six.
bool make(batch_ring& ring, worker_pool& pool, int workers, bool splits, std::int32_t n,
          const kernel_table& kernels, std::size_t points) {
    try {
        ring.batches = std::vector<batch>(static_cast<std::size_t>(workers) + (splits ? 6 : 2));
        if (workers == 0)
            points = std::min(points, ring.batches.size() * one_thread_iterations *
                                          (static_cast<std::size_t>(n) + 2) / 2);
        ring.batch_points =
            std::max<std::size_t>(points / ring.batches.size(), static_cast<std::size_t>(n));
        for (batch& b : ring.batches) {
            b.drawn.reserve(ring.batch_points);
            b.sorted.reserve(ring.batch_points + sorted_spare);
            batch_text_room(b, iteration_room(0) * batch_iterations + 12 * ring.batch_points);
        }
        // This thread's scratch, and each worker's.
        pool.scratch.clear();
        pool.scratch.resize(static_cast<std::size_t>(workers) + 1);
        for (worker_scratch& s : pool.scratch) scratch_reserve(s, n, kernels, splits);
        return true;
    } catch (const std::bad_alloc&) {
        ring.batches.clear();
        ring.batches.shrink_to_fit();
        pool.scratch.clear();
        pool.scratch.shrink_to_fit();
        return false;
    }
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

bool ring_make(batch_ring& ring, worker_pool& pool, int& workers, bool splits, std::int32_t n,
               const kernel_table& kernels) {
    if (make(ring, pool, workers, splits, n, kernels, points_in_flight)) return true;
    workers = 0;
    return make(ring, pool, 0, false, n, kernels, fallback_points);
}

void ring_take(batch_ring& ring, std::int32_t first, version_ptr from,
               const kernel_table& kernels) {
    batch& b = ring_at(ring, ring.filled++);
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
        ring.handed += 2;
    } else if (b.from != nullptr && b.error.what == file_problem::none && in_pairs(ring, pool, b)) {
        ring.waiting = &b;
    } else {
        workers_submit(pool, b);
        ++ring.handed;
    }
}

void ring_hand_over_waiting(batch_ring& ring, worker_pool& pool) {
    if (ring.waiting == nullptr) return;
    workers_submit(pool, *ring.waiting);
    ring.waiting = nullptr;
    ++ring.handed;
}

batch& ring_oldest(batch_ring& ring, worker_pool& pool, bool ended) {
    batch& b = ring_at(ring, ring.written++);
    workers_wait(pool, b);
    if (b.failed && !ended) {
        // The run goes on without workers, here, and ends only when even this thread
        // cannot.
        workers_stop(pool);
        work_on(b, pool.scratch.front());
    }
    return b;
}

} // namespace subset
