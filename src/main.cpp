// Entry point: one random subset search over the distance file named on standard input,
// with 5,000,000 iterations and the C library's generator seeded from the clock.
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <iostream>

#include "run.hpp"

int main() {
    std::ios::sync_with_stdio(false);
    const auto seed = static_cast<unsigned>(std::time(nullptr));
    std::srand(seed);
    subset::run_settings settings;
    // A person watches standard error when it is a terminal and the trace goes elsewhere.
    if (!isatty(STDOUT_FILENO) && isatty(STDERR_FILENO)) settings.screen = &std::cerr;
    // rand()'s own values, made without its lock where this C library allows it.
    return subset::run_search(std::cin, std::cout, std::cerr, subset::full_run,
                              subset::rand_stream(seed), settings);
}
