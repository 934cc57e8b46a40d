// The worker pool's threads and its hand-over.
#include "engine/workers.hpp"

#include <sched.h>

#include <algorithm>
#include <new>
#include <system_error>

#include "base/check.hpp"
#include "engine/batch.hpp"

namespace subset {

namespace {

// Takes the oldest job off the queue; the lock is held and the queue holds one.
batch& take_job(worker_pool& pool) {
    SUBSET_CHECK(pool.queued > 0);
    batch& b = *pool.queue[pool.queue_front];
    pool.queue_front = (pool.queue_front + 1) % pool.queue.size();
    --pool.queued;
    return b;
}

// Marks the job of `b` done, its partner's too, and wakes the thread that waits for one;
// the lock is held.
void finish_job(worker_pool& pool, batch& b) {
    b.done = true;
    if (b.partner != nullptr) b.partner->done = true;
    if (pool.waiting) pool.finished.notify_all();
}

// A worker's life: takes the batches handed over, in order, until the pool stops.
void worker_loop(worker_pool& pool, worker_scratch& scratch) {
    std::unique_lock<std::mutex> hold(pool.lock);
    for (;;) {
        ++pool.idle;
        pool.handed.wait(hold, [&] { return pool.stopping || pool.queued > 0; });
        --pool.idle;
        if (pool.queued == 0) return;
        batch& b = take_job(pool);
        hold.unlock();
        work_on(b, scratch);
        hold.lock();
        finish_job(pool, b);
    }
}

} // namespace

void workers_make(worker_pool& pool, std::size_t batches, int workers, std::int32_t n,
                  const kernel_table& kernels, bool draws) {
    pool.queue.assign(batches, nullptr);
    pool.queue_front = 0;
    pool.queued = 0;
    pool.scratch.clear();
    pool.scratch.resize(static_cast<std::size_t>(workers) + 1);
    for (worker_scratch& s : pool.scratch) scratch_reserve(s, n, kernels, draws);
}

void workers_free(worker_pool& pool) {
    SUBSET_CHECK(pool.threads.empty());
    pool.queue.clear();
    pool.queue.shrink_to_fit();
    pool.queued = 0;
    pool.scratch.clear();
    pool.scratch.shrink_to_fit();
}

int workers_start(worker_pool& pool, int count, const std::function<void()>& before_each) {
    SUBSET_CHECK(pool.scratch.size() > static_cast<std::size_t>(count));
    pool.stopping = false;
    try {
        pool.threads.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            if (before_each) before_each();
            pool.threads.emplace_back(worker_loop, std::ref(pool),
                                      std::ref(pool.scratch[static_cast<std::size_t>(i) + 1]));
        }
    } catch (const std::system_error&) { // no thread to be had: fewer workers
    } catch (const std::bad_alloc&) {
    }
    return static_cast<int>(pool.threads.size());
}

void workers_submit(worker_pool& pool, batch& b) {
    if (pool.threads.empty()) {
        work_on(b, pool.scratch.front());
        b.done = true;
        if (b.partner != nullptr) b.partner->done = true;
        return;
    }
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(pool.lock);
        SUBSET_CHECK(pool.queued < pool.queue.size());
        b.done = false;
        if (b.partner != nullptr) b.partner->done = false;
        pool.queue[(pool.queue_front + pool.queued) % pool.queue.size()] = &b;
        ++pool.queued;
        wake = pool.idle > 0; // a busy worker takes it when done with its own
    }
    if (wake) pool.handed.notify_one();
}

void workers_wait(worker_pool& pool, batch& b) {
    if (pool.threads.empty()) return;
    std::unique_lock<std::mutex> hold(pool.lock);
    while (!b.done) {
        if (pool.helping && pool.queued > 0) {
            // Rather than sleep, work on the oldest batch not yet taken: with no more
            // workers than CPUs, the waiting thread's CPU would otherwise stand idle.
            batch& other = take_job(pool);
            hold.unlock();
            work_on(other, pool.scratch.front());
            hold.lock();
            finish_job(pool, other);
            continue;
        }
        pool.waiting = true;
        pool.finished.wait(hold);
        pool.waiting = false;
    }
}

bool workers_finished(worker_pool& pool, const batch& b) {
    if (pool.threads.empty()) return true;
    std::lock_guard<std::mutex> hold(pool.lock);
    return b.done;
}

bool workers_redo_here(worker_pool& pool, batch& b) {
    if (!b.failed) return true;
    workers_stop(pool);
    work_on(b, pool.scratch.front());
    return !b.failed;
}

void workers_stop(worker_pool& pool) {
    {
        std::lock_guard<std::mutex> hold(pool.lock);
        pool.stopping = true;
    }
    pool.handed.notify_all();
    for (std::thread& t : pool.threads) t.join();
    pool.threads.clear();
}

int usable_cpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return std::max(1, CPU_COUNT(&set));
}

} // namespace subset
