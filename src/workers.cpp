// The worker pool: one queue of batches under one lock. A batch is a few hundred
// iterations of work, so the lock is taken rarely.
#include "workers.hpp"

#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// ------------------------------------------------------------------ pool state
// All fields but `threads` are guarded by `lock`.

struct pool {
    std::mutex lock;
    std::condition_variable handed;   // a batch was handed over, or the pool is stopping
    std::condition_variable finished; // a batch was worked on
    std::deque<batch*> queue;         // handed over, not yet taken by a worker
    std::vector<const batch*> done;   // worked on, not yet waited for
    int idle = 0;                     // workers waiting for a batch
    bool waiting = false;             // the drawing thread waits for a batch to be done
    bool stopping = false;            // set by workers_stop
    std::vector<std::thread> threads; // the workers; written by the caller's thread only
};

pool workers;

void work() {
    std::unique_lock<std::mutex> hold(workers.lock);
    for (;;) {
        ++workers.idle;
        workers.handed.wait(hold, [] { return workers.stopping || !workers.queue.empty(); });
        --workers.idle;
        if (workers.queue.empty()) return;
        batch* b = workers.queue.front();
        workers.queue.pop_front();
        hold.unlock();
        work_on(*b);
        hold.lock();
        workers.done.push_back(b);
        if (workers.waiting) workers.finished.notify_all();
    }
}

} // namespace

void workers_start(int count) {
    workers.stopping = false;
    for (int i = 0; i < count; ++i) workers.threads.emplace_back(work);
}

void workers_submit(batch& b) {
    if (workers.threads.empty()) {
        work_on(b);
        return;
    }
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(workers.lock);
        workers.queue.push_back(&b);
        wake = workers.idle > 0; // a busy worker takes it when done with its own
    }
    if (wake) workers.handed.notify_one();
}

void workers_wait(batch& b) {
    if (workers.threads.empty()) return;
    std::unique_lock<std::mutex> hold(workers.lock);
    for (;;) {
        for (auto it = workers.done.begin(); it != workers.done.end(); ++it) {
            if (*it == &b) {
                workers.done.erase(it);
                return;
            }
        }
        workers.waiting = true;
        workers.finished.wait(hold);
        workers.waiting = false;
    }
}

void workers_stop() {
    {
        std::lock_guard<std::mutex> hold(workers.lock);
        workers.stopping = true;
    }
    workers.handed.notify_all();
    for (std::thread& t : workers.threads) t.join();
    workers.threads.clear();
    workers.done.clear();
}

int usable_cpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return std::max(1, CPU_COUNT(&set));
}
