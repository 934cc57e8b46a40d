// Times the search in-process for a given number of iterations, either the program's own
// loop or the plain rendering kept with the tests, with the C library's generator seeded
// by a given seed and the trace counted and thrown away; or writes that trace.
// Usage: bench_driver fast|plain|trace FILE ITERATIONS SEED [WORKERS] [--kernels NAME]
//        bench_driver parse FILE
//        bench_driver kernels
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
#include "reference.hpp"
#include "run.hpp"
#include "search/kernels.hpp"

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
    if ((argc != 5 && argc != 6) ||
        (std::strcmp(argv[1], "fast") != 0 && std::strcmp(argv[1], "plain") != 0 &&
         std::strcmp(argv[1], "trace") != 0)) {
        (void)std::fputs("usage: bench_driver fast|plain|trace FILE ITERATIONS SEED [WORKERS] "
                         "[--kernels NAME]\n"
                         "       bench_driver parse FILE\n"
                         "       bench_driver kernels\n",
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
