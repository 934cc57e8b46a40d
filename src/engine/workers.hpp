// Worker threads that run work_on over batches, in the order they are handed over. With
// no workers, a batch is worked on at once by the thread that hands it over.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/work.hpp"

namespace subset {

// One queue of batches under one lock; a batch is a few hundred iterations of work, so
// the lock is taken rarely. All fields but `threads` are guarded by `lock`.
struct worker_pool {
    std::mutex lock;
    std::condition_variable handed;   // a batch was handed over, or the pool is stopping
    std::condition_variable finished; // a batch was worked on
    std::deque<batch*> queue;         // handed over, not yet taken by a worker
    std::vector<const batch*> done;   // worked on, not yet waited for
    int idle = 0;                     // workers waiting for a batch
    bool waiting = false;             // the drawing thread waits for a batch to be done
    bool stopping = false;            // set by workers_stop
    bool helping = false;             // a thread that waits works on batches not yet taken
    std::vector<std::thread> threads; // the workers; written by the caller's thread only
    // What each thread works in: the caller's thread's first, then worker i's at i + 1.
    // Made with the ring, before the workers start; never resized while they run.
    std::vector<worker_scratch> scratch;
};

// Starts up to `count` workers (0: none), each with its scratch (made here when the
// pool has none for it), and returns how many started: a thread that
// cannot be had ends the starting, and the run goes on with those there are. `before_each`,
// when set, runs before each start and may throw as a failed start does (for tests).
int workers_start(worker_pool& pool, int count, const std::function<void()>& before_each = {});

// Hands `b` over to be worked on.
void workers_submit(worker_pool& pool, batch& b);

// Waits until `b`, handed over earlier, has been worked on; when the pool is `helping`,
// works on batches not yet taken meanwhile.
void workers_wait(worker_pool& pool, batch& b);

// Whether `b`, handed over earlier, has been worked on: workers_wait would not wait.
bool workers_finished(worker_pool& pool, const batch& b);

// Lets the workers finish what they were handed, and ends them.
void workers_stop(worker_pool& pool);

// The number of CPUs this process may run on (its affinity mask), at least 1.
int usable_cpus();

} // namespace subset
