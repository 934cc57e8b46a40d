// How a run goes about its work: the terminal, the workers, the kernels, the file's
// watch and the stop. None of it changes the trace.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>

#include "data/watcher.hpp"
#include "search/kernels.hpp"

namespace subset {

// How a run goes about its work; none of it changes the trace.
struct run_settings {
    std::ostream* screen = nullptr;      // a terminal a person watches (see screen.hpp)
    bool echoed = false;                 // the name is typed at that terminal
    std::function<std::int64_t()> clock; // the screen's clock, in ns (steady_clock if unset)
    // Worker threads; -1: one per CPU, one fewer for files under 200 points, none on one.
    int workers = -1;
    std::function<void()> before_thread; // runs before each worker starts; may throw (tests)
    // Runs once the run's memory is made and its workers started, before the first
    // iteration: nothing is allocated after it but for a larger version of the file (tests).
    std::function<void()> started;
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

} // namespace subset
