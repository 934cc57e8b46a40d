// Worker threads that run work_on over batches, in the order they are handed over. With
// no workers, a batch is worked on at once by the thread that hands it over. A job is one
// batch, its partner travelling with it (see batch.hpp); each batch says itself when it
// is done. Nothing here allocates once the pool is made.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/work.hpp"

namespace subset {

// One queue of batches under one lock; a batch is a few hundred iterations of work, so
// the lock is taken rarely. All fields but `threads` and `scratch` are guarded by `lock`,
// and so is the `done` of every batch handed over.
struct worker_pool {
    std::mutex lock;
    std::condition_variable handed;   // a batch was handed over, or the pool is stopping
    std::condition_variable finished; // a batch was worked on
    // Handed over, not yet taken by a worker: a ring of room for every batch of the run,
    // made with it, so that handing over never allocates.
    std::vector<batch*> queue;
    std::size_t queue_front = 0;      // where the oldest job waits
    std::size_t queued = 0;           // how many wait
    int idle = 0;                     // workers waiting for a batch
    bool waiting = false;             // the drawing thread waits for a batch to be done
    bool stopping = false;            // set by workers_stop
    bool helping = false;             // a thread that waits works on batches not yet taken
    std::vector<std::thread> threads; // the workers; written by the caller's thread only
    // What each thread works in: the caller's thread's first, then worker i's at i + 1.
    // Made with the run, before the workers start; never resized while they run.
    std::vector<worker_scratch> scratch;
};

// Makes the pool's queue for up to `batches` batches in flight, and the scratch of this
// thread and `workers` workers for batches of a file of `n` points (see scratch_reserve).
// Throws std::bad_alloc.
void workers_make(worker_pool& pool, std::size_t batches, int workers, std::int32_t n,
                  const kernel_table& kernels, bool draws);

// Frees what workers_make made; the workers must be stopped.
void workers_free(worker_pool& pool);

// Starts up to `count` workers (0: none), each with the scratch made for it, and returns
// how many started: a thread that cannot be had ends the starting, and the run goes on
// with those there are. `before_each`, when set, runs before each start and may throw as
// a failed start does (for tests).
int workers_start(worker_pool& pool, int count, const std::function<void()>& before_each = {});

// Hands `b` (with its partner, if any) over to be worked on.
void workers_submit(worker_pool& pool, batch& b);

// Waits until `b`, handed over earlier, has been worked on; when the pool is `helping`,
// works on batches not yet taken meanwhile.
void workers_wait(worker_pool& pool, batch& b);

// Whether `b`, handed over earlier, has been worked on: workers_wait would not wait.
bool workers_finished(worker_pool& pool, const batch& b);

// When `b`, waited for, failed for want of memory on its worker: stops the workers (the
// run goes on without them) and works on it on this thread. Returns false when even
// that failed.
bool workers_redo_here(worker_pool& pool, batch& b);

// Lets the workers finish what they were handed, and ends them.
void workers_stop(worker_pool& pool);

// The number of CPUs this process may run on (its affinity mask), at least 1.
int usable_cpus();

} // namespace subset
