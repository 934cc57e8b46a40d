// Writes a well-formed distance file to standard output: every pair (i, j) of n points,
// ordered by i and then j, with a distance drawn uniformly from [low, high] by a
// Mersenne Twister seeded with `seed`, printed with four decimals.
// Usage: make_distances N SEED LOW HIGH
#include <cstdio>
#include <cstdlib>
#include <random>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: make_distances N SEED LOW HIGH\n");
        return 2;
    }
    const long n = std::strtol(argv[1], nullptr, 10);
    std::mt19937 gen(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
    const double low = std::strtod(argv[3], nullptr), high = std::strtod(argv[4], nullptr);
    // Draw from the raw generator so the files are the same with every standard library.
    for (long i = 1; i < n; ++i)
        for (long j = i + 1; j <= n; ++j) {
            double u = static_cast<double>(gen()) / 4294967295.0;
            std::printf("%ld %ld %.4f\n", i, j, low + u * (high - low));
        }
    return std::ferror(stdout) ? 1 : 0;
}
