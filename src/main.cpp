// Entry point: one random subset search over the distance file named on standard input,
// with 5,000,000 iterations and the C library's generator seeded from the clock.
#include <cstdlib>
#include <ctime>
#include <iostream>

#include "run.hpp"

int main() {
    std::ios::sync_with_stdio(false);
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    return run_search(std::cin, std::cout, std::cerr, full_run, [] { return std::rand(); });
}
