// Entry point: one random subset search over the distance file named on standard input,
// with 5,000,000 iterations and the C library's generator seeded from the clock. Ctrl-C
// (SIGINT), SIGTERM, SIGHUP (a closed terminal or a lost connection) and a closed output
// stop the run cleanly, then end the process by that same signal. A signal that the
// parent left ignored stays ignored (nohup, a shell's background job): then a closed
// output is a failed write like any other.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>

#include "run.hpp"
#include "text/lines.hpp"
#include "text/pipe.hpp"

namespace {

// The signal that asked the run to stop, or 0; written by the handler only, read by the
// run once per iteration. All the work is done there, none in the handler.
std::atomic<int> stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "safe to store into from a handler");

void on_signal(int number) {
    stop_signal.store(number, std::memory_order_relaxed);
}

// Handles `number`, unless the parent left it ignored.
void catch_signal(int number) {
    struct sigaction was {};
    if (sigaction(number, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // the trace's writes go on; the run stops between iterations
    sigaction(number, &action, nullptr);
}

} // namespace

int main() {
    std::ios::sync_with_stdio(false);
    const auto seed = static_cast<unsigned>(std::time(nullptr));
    std::srand(seed);
    // A trace sent into a pipe moves in the pipe's buffer: the larger it is, the less the
    // program and its reader wait for each other.
    subset::grow_pipe(STDOUT_FILENO);
    subset::run_settings settings;
    // A person watches standard error when it is a terminal and the trace goes elsewhere.
    if (!isatty(STDOUT_FILENO) && isatty(STDERR_FILENO)) {
        settings.screen = &std::cerr;
        settings.echoed = isatty(STDIN_FILENO) != 0;
    }
    settings.stop = &stop_signal;
    // A closed output fails the write instead of ending the process at once, so that the
    // terminal's progress line is cleared first.
    catch_signal(SIGPIPE);
    // Ctrl-C at the prompt ends the program at once; during the run, after whole iterations.
    settings.name_read = [] {
        catch_signal(SIGINT);
        catch_signal(SIGTERM);
        catch_signal(SIGHUP);
    };
    int status = 1;
    try {
        // rand()'s own values, made without its lock where this C library allows it.
        status = subset::run_search(std::cin, std::cout, std::cerr, subset::full_run,
                                    subset::rand_stream(seed), settings);
    } catch (...) { // nothing escapes into std::terminate: the run's way of ending instead
        std::cout << subset::no_memory_line;
        std::cout.flush();
        return 1;
    }
    if (status > 128) { // stopped by a signal: end by it, as the shell expects
        std::cout.flush();
        std::signal(status - 128, SIG_DFL);
        std::raise(status - 128);
    }
    return status;
}
