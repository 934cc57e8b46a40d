// The experiment as a whole: asks for the distance file's name, runs the iterations of
// the random subset search and reports the best score. Streams, iteration count and
// random numbers are parameters so that a run can be replayed exactly.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>

#include "data/watcher.hpp"
#include "search/kernels.hpp"
#include "search/random.hpp"

namespace subset {

// Iterations of a full run.
inline constexpr std::int32_t full_run = 5'000'000;

// How a run goes about its work; none of it changes the trace.
struct run_settings {
    std::ostream* screen = nullptr;      // a terminal a person watches (see screen.hpp)
    bool echoed = false;                 // the name is typed at that terminal
    std::function<std::int64_t()> clock; // the screen's clock, in ns (steady_clock if unset)
    // Worker threads; -1: one per CPU, one fewer for files under 200 points, none on one.
    int workers = -1;
    std::function<void()> before_thread; // runs before each worker starts; may throw (tests)
    // The kernels that draw, sort and score: the best this processor can execute, or
    // one that tests and the benchmark name (see kernels.hpp).
    const kernel_table* kernels = &best_kernels();
    watch_settings watch; // how the distance file is watched
    // Set (to a signal's number) to stop the run after the iterations in flight; read
    // once per iteration. SIGPIPE also means that the trace's reader has gone.
    const std::atomic<int>* stop = nullptr;
    std::function<void()> name_read; // called once the name has been read
    // How far apart in the random stream the segments of a split draw start: 0 to choose
    // from the file's size (and draw files of 200 points or more on one thread), a count
    // of values to split at any size, -1 to draw on one thread (tests).
    std::int64_t segment_values = 0;
};

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
