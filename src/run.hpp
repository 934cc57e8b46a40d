// The experiment as a whole: asks for the distance file's name, runs the iterations of
// the random subset search and reports the best score. Streams, iteration count and
// random numbers are parameters so that a run can be replayed exactly.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "data/watcher.hpp"
#include "search/random.hpp"

namespace subset {

// Iterations of a full run.
inline constexpr std::int32_t full_run = 5'000'000;

// How a run goes about its work; none of it changes the trace.
struct run_settings {
    std::ostream* screen = nullptr; // a terminal a person watches (see screen.hpp)
    int workers = -1;               // worker threads: -1 for one per CPU, none on one CPU
    watch_settings watch;           // how the distance file is watched
};

// Runs the whole experiment and returns the process's exit status: 0 after the final
// line; 1 after the file's error line when the file cannot be used, or after
// "Erro na escrita dos resultados" on `err` when writing to `out` fails. The trace is
// the same whatever the number of worker threads.
int run_search(std::istream& in, std::ostream& out, std::ostream& err, std::int32_t iterations,
               random_stream rnd, const run_settings& settings = {});

} // namespace subset
