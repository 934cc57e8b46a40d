// A run's working memory: the ring's batches with their room, every thread's scratch, the
// workers' queue and the best subset's room. Planned once for the run's file and workers,
// made at start-up by resources_make and freed by resources_free, each in this one place,
// so that nothing of it grows during a run but for a larger version of the file (whose
// iterations need more room). resources_bytes says what a plan takes, as a plan makes it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace subset {

struct kernel_table;
struct run_context;

struct resources_plan {
    std::int32_t n = 0;           // points of the file the run starts on
    int workers = 0;              // worker threads the room is made for
    bool splits = false;          // the draw is split over them: more batches, and draws
    std::size_t batches = 0;      // in the ring
    std::size_t batch_points = 0; // drawn points a batch holds
    const kernel_table* kernels = nullptr;
};

// The plan for a run of a file of `n` points with `workers` workers.
resources_plan plan_resources(std::int32_t n, int workers, bool splits,
                              const kernel_table& kernels);

// The plan for when that much cannot be had: two small batches and no worker.
resources_plan plan_short(std::int32_t n, const kernel_table& kernels);

// The bytes that making `plan` takes, within the allocator's own rounding.
std::size_t resources_bytes(const resources_plan& plan);

// Makes the run's resources as planned; false, with nothing of them kept, when the
// memory cannot be had. Does not throw.
bool resources_make(run_context& run, const resources_plan& plan);

// Frees what resources_make made; the workers must have stopped.
void resources_free(run_context& run);

} // namespace subset
