// Times the search in-process for a given number of iterations, either the program's own
// loop or the plain rendering kept with the tests, with the C library's generator seeded
// by a given seed and the trace counted and thrown away.
// Usage: bench_driver fast|plain FILE ITERATIONS SEED
// Prints: "<mode> <iterations> iterations <seconds> s <bytes> bytes".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "reference.hpp"
#include "run.hpp"

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

} // namespace

int main(int argc, char** argv) {
    if (argc != 5 || (std::strcmp(argv[1], "fast") != 0 && std::strcmp(argv[1], "plain") != 0)) {
        (void)std::fputs("usage: bench_driver fast|plain FILE ITERATIONS SEED\n", stderr);
        return 2;
    }
    const bool fast = std::strcmp(argv[1], "fast") == 0;
    const std::string file = argv[2];
    const auto iterations = static_cast<std::int32_t>(std::strtol(argv[3], nullptr, 10));
    const auto seed = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
    std::srand(seed);

    std::size_t bytes = 0;
    int status = 0;
    const auto start = std::chrono::steady_clock::now();
    if (fast) {
        counting_buf sink;
        std::ostream out(&sink);
        std::istringstream in(file + "\n");
        status = run_search(in, out, std::cerr, iterations, rand_stream(seed));
        bytes = sink.bytes;
    } else {
        cookie_io_functions_t io{nullptr, count_write, nullptr, nullptr};
        std::FILE* out = fopencookie(&bytes, "w", io);
        status = reference::run(file, out, iterations, [] { return std::rand(); });
        if (std::fclose(out) != 0) status = 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s %d iterations %.6f s %zu bytes\n", argv[1], iterations, seconds, bytes);
    return status;
}
