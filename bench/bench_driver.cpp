// Times the search in-process for a given number of iterations, either the program's own
// loop or the plain rendering kept with the tests, with the C library's generator seeded
// by a given seed and the trace counted and thrown away; or writes that trace.
// Usage: bench_driver fast|plain|trace FILE ITERATIONS SEED [WORKERS] [--kernels NAME]
//        bench_driver parse FILE
//        bench_driver kernels
//        bench_driver peak
//        bench_driver work FILE ITERATIONS SEED [--kernels NAME]
// (WORKERS: worker threads of the program's loop; by default one per CPU. NAME: the
// kernel table the loop runs, portable, avx2 or avx512; by default the best this
// processor can execute. `kernels` lists the tables it can execute, best first.)
// Prints: "<mode> <iterations> iterations <seconds> s <bytes> bytes <cpu> s-drawing <cpu>
// s-all <cpu> s-busiest": the wall time, the trace's size, and the CPU time of the thread
// that draws (and writes), of all threads, and of the busiest thread. `parse` reads the file as a
// run's first count does (read, hashed and parsed in one pass) and prints "parse <points> points
// <bytes> bytes <seconds> s".
// `trace` prints the trace alone, of the program's loop run as in `fast`: what a person gets
// from the program started at the second SEED, cut to ITERATIONS iterations. Its status is
// the run's, and 1 when the trace cannot be written.
// `peak` measures this core's add throughput, the roofline that the sweep's figures are
// read against: loops of independent vector additions, in registers, with 8 to 14 chains
// (enough to keep every add port busy), the best of three, in lane-additions per second of
// this thread's CPU time. It prints "peak <kind> <chains> chains <G lane-adds/s>" for each
// kind this processor has: "add256", and with AVX-512 "add512" and "add512-masked" (merge-
// masked by a mask of every other lane, each lane counted).
// `work` draws ITERATIONS iterations as the program does, into batches of the size the
// program's ring makes on this machine (two scored together where it pairs them), and
// prints what scoring them does, counted without scoring: "work <points> points
// <iterations> iterations <pairs> pairs <swept> swept <lane-adds> sweep-lane-adds", where
// swept pairs are the sweeps' useful lane-additions.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>

#include "data/distance_file.hpp"
#include "engine/workers.hpp"
#include "reference.hpp"
#include "run.hpp"
#include "search/draw.hpp"
#include "search/kernels.hpp"
#include "search/score.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// A stream buffer that only counts what goes through it.
struct counting_buf : std::streambuf {
    std::size_t bytes = 0;
    std::streamsize xsputn(const char*, std::streamsize n) override {
        bytes += static_cast<std::size_t>(n);
        return n;
    }
    int_type overflow(int_type c) override {
        ++bytes;
        return c;
    }
};

// A stdio sink that only counts.
ssize_t count_write(void* cookie, const char*, size_t size) {
    *static_cast<std::size_t*>(cookie) += size;
    return static_cast<ssize_t>(size);
}

double cpu_seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The CPU time of the busiest thread of this process while `run` runs, sampled from
// /proc every 20 ms (a worker's last 20 ms may be missed) and, for this thread, exactly.
template <typename Run> double busiest_thread_seconds(Run run) {
    std::atomic<bool> done{false};
    std::map<std::string, double> seen; // thread id: its CPU seconds when last sampled
    const auto ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    std::thread sampler([&] {
        const std::string self = std::to_string(static_cast<long>(gettid()));
        while (!done.load()) {
            for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
                const std::string id = task.path().filename().string();
                if (id == self) continue;
                std::ifstream stat(task.path() / "stat");
                std::string text;
                std::getline(stat, text);
                if (text.empty()) continue; // the thread ended meanwhile
                std::istringstream fields(text.substr(text.rfind(')') + 2));
                std::string field;
                double used = 0;
                for (int i = 3; i <= 15 && fields >> field; ++i)
                    if (i == 14 || i == 15) used += std::strtod(field.c_str(), nullptr) / ticks;
                seen[id] = std::max(seen[id], used);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    run();
    const double own = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
    done = true;
    sampler.join();
    double busiest = own;
    for (const auto& [id, seconds] : seen) busiest = std::max(busiest, seconds);
    return busiest;
}

} // namespace

// ---- the roofline ----

// Seconds of this thread's CPU time that `run` takes, the best of three.
template <typename Run> double best_cpu_seconds(Run run) {
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        const double start = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
        run();
        best = std::min(best, cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - start);
    }
    return best;
}

constexpr long peak_rounds = 40'000'000; // each round adds once to every chain

volatile float peak_sink = 0; // where each loop's sum goes, so that no loop is dropped

#if defined(__x86_64__)
// `Chains` independent sums of 8 lanes, each added to `rounds` times. The empty asm keeps
// every sum in its own register and each addition done, without costing an instruction.
template <int Chains>
__attribute__((target("avx"), noinline)) float add256(long rounds, float step) {
    __m256 sum[Chains];
#pragma GCC unroll 16
    for (int c = 0; c < Chains; ++c) sum[c] = _mm256_set1_ps(static_cast<float>(c));
    const __m256 d = _mm256_set1_ps(step);
    for (long r = 0; r < rounds; ++r) {
#pragma GCC unroll 16
        for (int c = 0; c < Chains; ++c) {
            sum[c] = _mm256_add_ps(sum[c], d);
            __asm__("" : "+x"(sum[c]));
        }
    }
    __m256 all = sum[0];
#pragma GCC unroll 16
    for (int c = 1; c < Chains; ++c) all = _mm256_add_ps(all, sum[c]);
    return _mm256_cvtss_f32(all);
}

// The same in 16 lanes, plain or merge-masked (every other lane, a mask the compiler
// cannot see through).
template <int Chains, bool Masked>
__attribute__((target("avx512f"), noinline)) float add512(long rounds, float step, unsigned mask) {
    __m512 sum[Chains];
#pragma GCC unroll 16
    for (int c = 0; c < Chains; ++c) sum[c] = _mm512_set1_ps(static_cast<float>(c));
    const __m512 d = _mm512_set1_ps(step);
    const auto k = static_cast<__mmask16>(mask);
    for (long r = 0; r < rounds; ++r) {
#pragma GCC unroll 16
        for (int c = 0; c < Chains; ++c) {
            sum[c] = Masked ? _mm512_mask_add_ps(sum[c], k, sum[c], d) : _mm512_add_ps(sum[c], d);
            __asm__("" : "+v"(sum[c]));
        }
    }
    __m512 all = sum[0];
#pragma GCC unroll 16
    for (int c = 1; c < Chains; ++c) all = _mm512_add_ps(all, sum[c]);
    return _mm512_cvtss_f32(all);
}

template <int Chains> void print_add256() {
    volatile float step = 1e-30F; // unknown to the compiler, and no value goes subnormal
    const double seconds = best_cpu_seconds([&] { peak_sink = add256<Chains>(peak_rounds, step); });
    std::printf("peak add256 %d chains %.2f\n", Chains, 8.0 * Chains * peak_rounds / seconds / 1e9);
}

template <int Chains, bool Masked> void print_add512() {
    volatile float step = 1e-30F;
    volatile unsigned mask = 0x5555;
    const double seconds =
        best_cpu_seconds([&] { peak_sink = add512<Chains, Masked>(peak_rounds, step, mask); });
    std::printf("peak %s %d chains %.2f\n", Masked ? "add512-masked" : "add512", Chains,
                16.0 * Chains * peak_rounds / seconds / 1e9);
}
#endif

int peak() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx") != 0) {
        print_add256<8>();
        print_add256<10>();
        print_add256<12>();
        print_add256<14>();
    }
    if (__builtin_cpu_supports("avx512f") != 0) {
        print_add512<8, false>();
        print_add512<12, false>();
        print_add512<16, false>();
        print_add512<8, true>();
        print_add512<12, true>();
        print_add512<16, true>();
    }
#endif
    return 0;
}

// ---- what scoring does ----

int count_work(const std::string& file, std::int32_t iterations, unsigned seed,
               const subset::kernel_table& kernels) {
    subset::distance_data data;
    subset::distance_start(data, file);
    subset::file_error why;
    if (subset::init_dados(data, why) < 0) {
        (void)std::fputs("the file cannot be used\n", stderr);
        return 1;
    }
    const std::int32_t n = data.max;
    // The batches of a run as the ring makes them (src/ring.cpp): 2^19 drawn points in
    // flight over the workers' batches and two more; two batches scored together when
    // a batch holds fewer subsets of average size than a sweep has lanes.
    const int cpus = subset::usable_cpus();
    const int workers = cpus <= 1 ? 0 : cpus;
    const std::size_t batch_points =
        std::max<std::size_t>((std::size_t{1} << 19) / static_cast<std::size_t>(workers + 2),
                              static_cast<std::size_t>(n));
    const bool paired =
        workers > 0 && static_cast<double>(batch_points) < kernels.sweep_lanes * ((n + 2) / 2.0);
    auto drawing = std::make_unique<subset::draw_state>();
    subset::random_stream rnd = subset::rand_stream(seed);
    std::vector<std::uint64_t> bits(static_cast<std::size_t>(n / 64) + 1);
    std::vector<std::int32_t> drawn(static_cast<std::size_t>(n));
    std::vector<std::vector<std::int32_t>> sorted;
    subset::score_scratch scratch;
    subset::score_work all;
    std::size_t points = 0; // in the batch being drawn
    int in_batch = 0;       // its iterations
    bool waiting = false;   // a batch drawn, waiting for the one to be scored with it
    const auto score = [&] {
        std::vector<subset::subset_ref> refs;
        refs.reserve(sorted.size());
        for (const auto& s : sorted)
            refs.push_back({s.data(), static_cast<std::int32_t>(s.size() - subset::sorted_spare)});
        const subset::score_work w =
            subset::dist_med_work(refs.data(), static_cast<int>(refs.size()), n, kernels, scratch);
        all.chained_pairs += w.chained_pairs;
        all.swept_pairs += w.swept_pairs;
        all.sweep_lane_adds += w.sweep_lane_adds;
        sorted.clear();
    };
    for (std::int32_t i = 0; i < iterations; ++i) {
        if (points + static_cast<std::size_t>(n) > batch_points || in_batch == 4096) {
            points = 0;
            in_batch = 0;
            waiting = paired && !waiting;
            if (!waiting) score();
        }
        const std::int32_t k = subset::draw_subset(*drawing, n, rnd, drawn.data(), kernels);
        sorted.emplace_back(static_cast<std::size_t>(k) + subset::sorted_spare);
        subset::sort_subset(drawn.data(), k, n, bits.data(), sorted.back().data(), kernels);
        points += static_cast<std::size_t>(k);
        ++in_batch;
    }
    if (!sorted.empty()) score();
    std::printf("work %d points %d iterations %.0f pairs %.0f swept %.0f sweep-lane-adds\n", n,
                iterations, all.chained_pairs + all.swept_pairs, all.swept_pairs,
                all.sweep_lane_adds);
    return 0;
}

// Times the first count of a run on `file`.
int time_parse(const std::string& file) {
    subset::distance_data data;
    subset::distance_start(data, file);
    subset::file_error why;
    const auto start = std::chrono::steady_clock::now();
    const std::int64_t pairs = subset::init_dados(data, why);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (pairs < 0) {
        (void)std::fputs("the file cannot be used\n", stderr);
        return 1;
    }
    std::printf("parse %d points %llu bytes %.6f s\n", data.max,
                static_cast<unsigned long long>(data.watch.bytes), seconds);
    return 0;
}

// Writes the trace of the program's loop on standard output, as the program itself does.
int write_trace(const std::string& file, std::int32_t iterations, unsigned seed,
                const subset::run_settings& settings) {
    std::ios::sync_with_stdio(false);
    std::istringstream in(file + "\n");
    int status = subset::run_search(in, std::cout, std::cerr, iterations, subset::rand_stream(seed),
                                    settings);
    if (!std::cout.flush() && status == 0) status = 1;
    return status;
}

int main(int argc, char** argv) {
    subset::run_settings settings;
    if (argc >= 3 && std::strcmp(argv[argc - 2], "--kernels") == 0) {
        settings.kernels = subset::kernels_named(argv[argc - 1]);
        if (settings.kernels == nullptr) {
            (void)std::fprintf(stderr, "bench_driver: this processor cannot execute kernels '%s'\n",
                               argv[argc - 1]);
            return 2;
        }
        argc -= 2;
    }
    if (argc == 2 && std::strcmp(argv[1], "kernels") == 0) {
        for (const subset::kernel_table* k : subset::runnable_kernels()) std::puts(k->name);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "parse") == 0) return time_parse(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "peak") == 0) return peak();
    if (argc == 5 && std::strcmp(argv[1], "work") == 0)
        return count_work(argv[2], static_cast<std::int32_t>(std::strtol(argv[3], nullptr, 10)),
                          static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)),
                          settings.kernels != nullptr ? *settings.kernels : subset::best_kernels());
    if ((argc != 5 && argc != 6) ||
        (std::strcmp(argv[1], "fast") != 0 && std::strcmp(argv[1], "plain") != 0 &&
         std::strcmp(argv[1], "trace") != 0)) {
        (void)std::fputs("usage: bench_driver fast|plain|trace FILE ITERATIONS SEED [WORKERS] "
                         "[--kernels NAME]\n"
                         "       bench_driver parse FILE\n"
                         "       bench_driver kernels\n"
                         "       bench_driver peak\n"
                         "       bench_driver work FILE ITERATIONS SEED [--kernels NAME]\n",
                         stderr);
        return 2;
    }
    if (argc == 6) settings.workers = static_cast<int>(std::strtol(argv[5], nullptr, 10));
    const bool fast = std::strcmp(argv[1], "fast") == 0;
    const std::string file = argv[2];
    const auto iterations = static_cast<std::int32_t>(std::strtol(argv[3], nullptr, 10));
    const auto seed = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
    std::srand(seed);
    if (std::strcmp(argv[1], "trace") == 0) return write_trace(file, iterations, seed, settings);

    std::size_t bytes = 0;
    int status = 0;
    double busiest = 0;
    const auto start = std::chrono::steady_clock::now();
    auto end = start;
    if (fast) {
        counting_buf sink;
        std::ostream out(&sink);
        std::istringstream in(file + "\n");
        busiest = busiest_thread_seconds([&] {
            status = subset::run_search(in, out, std::cerr, iterations, subset::rand_stream(seed),
                                        settings);
            end = std::chrono::steady_clock::now(); // not the sampler's last pause
        });
        bytes = sink.bytes;
    } else {
        cookie_io_functions_t io{nullptr, count_write, nullptr, nullptr};
        std::FILE* out = fopencookie(&bytes, "w", io);
        status = reference::run(file, out, iterations, [] { return std::rand(); });
        if (std::fclose(out) != 0) status = 1;
        end = std::chrono::steady_clock::now();
    }
    const double seconds = std::chrono::duration<double>(end - start).count();
    std::printf("%s %d iterations %.6f s %zu bytes %.3f s-drawing %.3f s-all %.3f s-busiest\n",
                argv[1], iterations, seconds, bytes, cpu_seconds(CLOCK_THREAD_CPUTIME_ID),
                cpu_seconds(CLOCK_PROCESS_CPUTIME_ID), busiest);
    return status;
}
