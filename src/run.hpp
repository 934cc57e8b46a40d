// The experiment as a whole: asks for the distance file's name, runs the iterations of
// the random subset search and reports the best score. Streams, iteration count and
// random numbers are parameters so that a run can be replayed exactly.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "search/random.hpp"

// Iterations of a full run.
inline constexpr std::int32_t full_run = 5'000'000;

// Runs the whole experiment and returns the process's exit status: 0 after the final
// line; 1 after the file's error line when the file cannot be used, or after
// "Erro na escrita dos resultados" on `err` when writing to `out` fails. The trace is
// the same whatever the number of worker threads. `screen`, when set, is a terminal that
// a person watches (see screen.hpp); it changes nothing in the trace.
int run_search(std::istream& in, std::ostream& out, std::ostream& err, std::int32_t iterations,
               random_stream rnd, std::ostream* screen = nullptr);

// Sets how many worker threads a run uses: 0 for none, or -1 (the default) for one per
// CPU this process may use, and none when that is one. For tests.
void set_worker_count(int count);
