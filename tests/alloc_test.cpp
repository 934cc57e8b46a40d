// Nothing is allocated while a run goes: once its memory is made and its workers started,
// a run of many batches on a file that does not change allocates nothing more, with no
// worker or with several, on either drawing path; and what its memory takes is what
// resources_bytes says. Every operator new of this program is counted here.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>
#include <streambuf>

#include "engine/resources.hpp"
#include "engine/run_state.hpp"
#include "helpers.hpp"

namespace {

std::atomic<bool> counting{false};
std::atomic<std::int64_t> allocations{0};
std::atomic<std::int64_t> allocated_bytes{0};

void* allocate(std::size_t size, std::size_t alignment) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
        allocated_bytes.fetch_add(static_cast<std::int64_t>(size), std::memory_order_relaxed);
    }
    void* p = alignment <= alignof(std::max_align_t)
                  ? std::malloc(size == 0 ? 1 : size)
                  : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

} // namespace

// Never inlined: GCC, seeing malloc's pointer given to free in a caller, would take the
// pairs for mismatched. Every form is replaced, since a sanitizer's runtime brings its
// own of each.
[[gnu::noinline]] void* operator new(std::size_t size) {
    return allocate(size, 0);
}
[[gnu::noinline]] void* operator new[](std::size_t size) {
    return allocate(size, 0);
}
[[gnu::noinline]] void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment));
}
[[gnu::noinline]] void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment));
}
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size, 0);
    } catch (...) {
        return nullptr;
    }
}
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size, 0);
    } catch (...) {
        return nullptr;
    }
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

using namespace subset;

namespace {

// A standard output that takes the trace and keeps only its length: it never allocates.
struct counting_sink : std::streambuf {
    std::int64_t bytes = 0;
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) ++bytes;
        return c;
    }
    std::streamsize xsputn(const char*, std::streamsize n) override {
        bytes += n;
        return n;
    }
};

} // namespace

TEST(Allocations, NoneOnceARunHasStarted) {
    scratch_dir dir;
    const struct {
        std::int32_t points;
        std::int32_t iterations;
    } files[] = {{20, 60'000}, {300, 8'000}, {1100, 600}};
    for (const auto& f : files) {
        const std::string path = dir.file("n" + std::to_string(f.points));
        write_file(path, distance_text(f.points, mixed_distance));
        for (const int workers : {0, 1, 3}) {
            run_settings settings;
            settings.workers = workers;
            settings.started = [] {
                allocations = 0;
                counting = true;
            };
            std::istringstream in(path + "\n");
            counting_sink sink;
            std::ostream out(&sink);
            std::ostringstream err;
            const int status = run_search(in, out, err, f.iterations, rand_stream(9), settings);
            counting = false;
            ASSERT_EQ(0, status) << f.points << " points, " << workers << " workers";
            EXPECT_GT(sink.bytes, 0);
            EXPECT_EQ(0, allocations.load())
                << f.points << " points, " << workers << " workers: allocations after start-up";
        }
    }
}

TEST(Allocations, ARunsMemoryIsWhatItsPlanSays) {
    // What making a plan's resources allocates, counted, against resources_bytes.
    for (const std::int32_t n : {2, 20, 300, 5000}) {
        for (const int workers : {0, 1, 3}) {
            for (const bool splits : {false, true}) {
                const resources_plan plan =
                    plan_resources(n, workers, splits && workers > 0, best_kernels());
                run_settings settings;
                const auto run = std::make_unique<run_context>(settings);
                allocated_bytes = 0;
                counting = true;
                const bool made = resources_make(*run, plan);
                counting = false;
                ASSERT_TRUE(made);
                const auto expected = static_cast<std::int64_t>(resources_bytes(plan));
                EXPECT_EQ(expected, allocated_bytes.load())
                    << n << " points, " << workers << " workers, split " << splits;
                resources_free(*run);
            }
        }
    }
}
