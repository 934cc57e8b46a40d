// The worker pool's threads and its hand-over.
#include "engine/workers.hpp"

#include <sched.h>

#include <algorithm>
#include <new>
#include <system_error>

namespace subset {

namespace {

// A worker's life: takes the batches handed over, in order, until the pool stops.
void worker_loop(worker_pool& pool, worker_scratch& scratch) {
    std::unique_lock<std::mutex> hold(pool.lock);
    for (;;) {
        ++pool.idle;
        pool.handed.wait(hold, [&] { return pool.stopping || !pool.queue.empty(); });
        --pool.idle;
        if (pool.queue.empty()) return;
        batch* b = pool.queue.front();
        pool.queue.pop_front();
        if (b->partner != nullptr) pool.queue.pop_front(); // handed over right behind it
        hold.unlock();
        work_on(*b, scratch);
        hold.lock();
        pool.done.push_back(b);
        if (b->partner != nullptr) pool.done.push_back(b->partner);
        if (pool.waiting) pool.finished.notify_all();
    }
}

// The scratch of the thread that hands batches over, made when the pool has none.
worker_scratch& own_scratch(worker_pool& pool) {
    if (pool.scratch.empty()) pool.scratch.resize(1);
    return pool.scratch.front();
}

} // namespace

int workers_start(worker_pool& pool, int count, const std::function<void()>& before_each) {
    pool.stopping = false;
    try {
        pool.done.reserve(static_cast<std::size_t>(count) + 2); // never grown by a worker
        if (pool.scratch.size() < static_cast<std::size_t>(count) + 1)
            pool.scratch.resize(static_cast<std::size_t>(count) + 1);
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
        work_on(b, own_scratch(pool));
        return;
    }
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(pool.lock);
        pool.queue.push_back(&b);
        if (b.partner != nullptr) pool.queue.push_back(b.partner);
        wake = pool.idle > 0; // a busy worker takes it when done with its own
    }
    if (wake) pool.handed.notify_one();
}

void workers_wait(worker_pool& pool, batch& b) {
    if (pool.threads.empty()) return;
    std::unique_lock<std::mutex> hold(pool.lock);
    for (;;) {
        const auto it = std::find(pool.done.begin(), pool.done.end(), &b);
        if (it != pool.done.end()) {
            pool.done.erase(it);
            return;
        }
        if (pool.helping && !pool.queue.empty()) {
            // Rather than sleep, work on the oldest batch not yet taken: with no more
            // workers than CPUs, the waiting thread's CPU would otherwise stand idle.
            batch* other = pool.queue.front();
            pool.queue.pop_front();
            if (other->partner != nullptr) pool.queue.pop_front();
            hold.unlock();
            work_on(*other, own_scratch(pool));
            hold.lock();
            const bool waited_for = other == &b || other->partner == &b;
            if (other != &b) pool.done.push_back(other);
            if (other->partner != nullptr && other->partner != &b)
                pool.done.push_back(other->partner);
            if (waited_for) return;
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
    return std::find(pool.done.begin(), pool.done.end(), &b) != pool.done.end();
}

void workers_stop(worker_pool& pool) {
    {
        std::lock_guard<std::mutex> hold(pool.lock);
        pool.stopping = true;
    }
    pool.handed.notify_all();
    for (std::thread& t : pool.threads) t.join();
    pool.threads.clear();
    pool.done.clear();
}

int usable_cpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return std::max(1, CPU_COUNT(&set));
}

} // namespace subset
