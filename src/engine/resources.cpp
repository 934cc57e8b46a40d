// A run's working memory, planned, made and freed.
#include "engine/resources.hpp"

#include <algorithm>
#include <new>

#include "data/version.hpp"
#include "engine/run_state.hpp"

namespace subset {

namespace {

// Drawn points that all the batches in flight may hold together (each takes about 18
// bytes of lists and text), so that memory stays bounded whatever the number of workers.
constexpr std::size_t points_in_flight = 1 << 19;
// What a run takes when that much cannot be had: two batches, and no worker.
constexpr std::size_t short_points = 1 << 13;
// Iterations a batch holds about, at most, when no worker takes batches: each one is
// sorted, scored and written as soon as it is drawn, so more would only take memory.
constexpr std::size_t one_thread_iterations = 640;

// The plan for `workers` workers with room for `points` drawn points in all. A split draw
// keeps four more batches: its batches go to the workers twice (drawn, then scored), and
// its own thread works on them while it waits. On two CPUs with bench_driver, 141 points:
// 0.56 s with two more than the workers, 0.46 s with six.
resources_plan plan(std::int32_t n, int workers, bool splits, std::size_t points,
                    const kernel_table& kernels) {
    resources_plan p;
    p.n = n;
    p.workers = workers;
    p.splits = splits;
    p.kernels = &kernels;
    p.batches = static_cast<std::size_t>(workers) + (splits ? 6 : 2);
    if (workers == 0)
        points = std::min(points, p.batches * one_thread_iterations *
                                      (static_cast<std::size_t>(n) + 2) / 2);
    p.batch_points = std::max<std::size_t>(points / p.batches, static_cast<std::size_t>(n));
    return p;
}

} // namespace

resources_plan plan_resources(std::int32_t n, int workers, bool splits,
                              const kernel_table& kernels) {
    return plan(n, workers, splits, points_in_flight, kernels);
}

resources_plan plan_short(std::int32_t n, const kernel_table& kernels) {
    return plan(n, 0, false, short_points, kernels);
}

std::size_t resources_bytes(const resources_plan& p) {
    // Each batch, its room, and its place in the workers' queue.
    return p.batches * (sizeof(batch) + batch_bytes(p.batch_points) + sizeof(void*)) +
           (static_cast<std::size_t>(p.workers) + 1) *
               (sizeof(worker_scratch) + scratch_bytes(p.n, *p.kernels, p.splits)) +
           sizeof(std::int32_t) * max_points;
}

bool resources_make(run_context& run, const resources_plan& p) {
    try {
        run.ring.batches = std::vector<batch>(p.batches);
        run.ring.batch_points = p.batch_points;
        for (batch& b : run.ring.batches) batch_make(b, p.batch_points);
        workers_make(run.workers, p.batches, p.workers, p.n, *p.kernels, p.splits);
        run.best.points.reserve(max_points); // any best subset of any version
        return true;
    } catch (const std::bad_alloc&) {
        resources_free(run);
        return false;
    }
}

void resources_free(run_context& run) {
    run.ring.batches.clear();
    run.ring.batches.shrink_to_fit();
    run.ring.batch_points = 0;
    workers_free(run.workers);
    run.best.points.clear();
    run.best.points.shrink_to_fit();
}

} // namespace subset
