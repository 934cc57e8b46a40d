// The experiment as a whole: asks for the distance file's name, runs the iterations of
// the random subset search and reports the best score. Streams, iteration count and
// random numbers are parameters so that a run can be replayed exactly.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "engine/run_settings.hpp"
#include "search/random.hpp"

namespace subset {

// Iterations of a full run.
inline constexpr std::int32_t full_run = 5'000'000;

// Runs the whole experiment and returns the process's exit status: 0 after the final
// line; 1 after the file's error line when the file cannot be used, after
// "Erro no programa: sem memoria para continuar" when memory runs out, or after
// "Erro na escrita dos resultados" on `err` when writing to `out` fails; 128 + the signal
// when the run was stopped by `settings.stop` (the trace then ends after a whole
// iteration, with no final line). The trace is the same whatever the number of worker
// threads.
int run_search(std::istream& in, std::ostream& out, std::ostream& err, std::int32_t iterations,
               random_stream rnd, const run_settings& settings = {});

} // namespace subset
