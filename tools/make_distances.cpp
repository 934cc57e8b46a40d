// Writes a well-formed distance file to standard output: every pair (i, j) of n points,
// ordered by i and then j, with a distance drawn by a Mersenne Twister seeded with
// `seed`, printed with four decimals: uniform in [low, high], or with --dois-sinais
// uniform in [-high, -low] U [low, high] (the second class of published instances).
// Usage: make_distances [--dois-sinais] N SEED LOW HIGH
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "data/version.hpp"

namespace {

// Prints the usage on `to`; returns the status of a bad command line.
int usage(std::FILE* to = stderr) {
    std::fprintf(to,
                 "uso: make_distances [--dois-sinais] N SEMENTE MINIMO MAXIMO\n"
                 "  N de 2 a %d pontos; distancias uniformes em [MINIMO, MAXIMO], ou com\n"
                 "  --dois-sinais em [-MAXIMO, -MINIMO] U [MINIMO, MAXIMO]\n",
                 subset::max_points);
    return 2;
}

// Reads the whole of `text` as a whole number; false when anything else is there.
bool whole(const char* text, unsigned long long& v) {
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    v = std::strtoull(text, &end, 10);
    return errno == 0 && *end == '\0';
}

// Reads the whole of `text` as a real number; false when anything else is there.
bool real(const char* text, double& v) {
    char* end = nullptr;
    errno = 0;
    v = std::strtod(text, &end);
    return end != text && *end == '\0' && errno == 0;
}

} // namespace

int main(int argc, char** argv) {
    bool both_signs = argc > 1 && std::strcmp(argv[1], "--dois-sinais") == 0;
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        usage(stdout);
        return 0;
    }
    char** arg = argv + 1 + (both_signs ? 1 : 0);
    if (argc - (both_signs ? 2 : 1) != 4) return usage();
    unsigned long long n = 0, seed = 0;
    double low = 0, high = 0;
    if (!whole(arg[0], n) || n < 2 || n > static_cast<unsigned long long>(subset::max_points) ||
        !whole(arg[1], seed) || seed > 0xffffffffULL || !real(arg[2], low) || !real(arg[3], high) ||
        !(low <= high))
        return usage();
    std::mt19937 gen(static_cast<unsigned>(seed));
    // Draw from the raw generator so the files are the same with every standard library.
    // A failed write (a full disk, or a reader gone with SIGPIPE ignored) stops it at the
    // end of the row it happens in.
    for (unsigned long long i = 1; i < n && std::ferror(stdout) == 0; ++i)
        for (unsigned long long j = i + 1; j <= n; ++j) {
            double u = static_cast<double>(gen()) / 4294967295.0;
            double sign = 1;
            if (both_signs) { // the lower half of u goes to the negative side
                sign = u < 0.5 ? -1 : 1;
                u = u < 0.5 ? 1 - 2 * u : 2 * u - 1;
            }
            std::printf("%llu %llu %.4f\n", i, j, sign * (low + u * (high - low)));
        }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "make_distances: erro na escrita: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}
