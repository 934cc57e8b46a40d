// What one run holds, and the steps that the lifecycle (run.cpp) and the split draw
// (split_draw.cpp) both take on it: writing the oldest batch and its best, ending with a
// line, counting the file, taking and handing over batches. Written by the drawing
// thread only, but for what the workers write into the batches handed to them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "data/distance_file.hpp"
#include "engine/ring.hpp"
#include "engine/run_settings.hpp"
#include "engine/workers.hpp"
#include "search/draw.hpp"
#include "text/screen.hpp"
#include "text/trace.hpp"

namespace subset {

// The best score so far and where it came from; written by best_update.
struct best_so_far {
    float score = 0;                  // highest score so far
    std::int32_t size = 0;            // subset size that first reached it
    std::int64_t at = 0;              // the iteration that first reached it
    std::vector<std::int32_t> points; // its points, sorted (room for any, made at start)
};

struct run_context {
    explicit run_context(const run_settings& s) : settings(s) {}
    // (In this order the block of `out`, on a cache line, leaves the least padding.)
    trace out;                    // the run's standard output
    const run_settings& settings; // as the caller gave them
    batch_ring ring;              // the batches, drawn into and written in order
    best_so_far best;
    screen view;         // the terminal, if a person watches one
    worker_pool workers; // the threads that score batches, and every thread's scratch
    distance_data data;  // the distance file, and the version in use
    draw_state drawing;  // which points the iteration being drawn has taken
    int stopped_by = 0;  // the signal that stopped the run, if any
    bool ended = false;  // a line that ends the run, or a failed write, ended it
};

// Keeps the best of the iterations of `b`, once scored: only a strictly greater score
// wins, so ties keep the earliest, and a NaN never wins.
void best_update(best_so_far& best, const batch& b);

// Writes a line that ends the run: into the trace, and on the terminal.
void end_with(run_context& run, std::string_view line);

// Ends the run with the line that says why the file cannot be used.
void end_with_file_error(run_context& run, const file_error& why);

// Writes the oldest batch in flight once it has been worked on: its text, the best
// score among its iterations, and the line that ends the run after it, if any.
void write_oldest(run_context& run);

// Takes the next batch of the ring to draw iterations from `first` on into, from the
// version `from`; writes the oldest batch first when all are in flight.
void take_batch(run_context& run, std::int32_t first, version_ptr from);

// Whether the run has been asked to stop; remembers by which signal.
bool stop_asked(run_context& run);

// Counts the file as it is now, making its version the one in use; false, with why,
// when it cannot be used. `iterations` were drawn since the last count. Whether the file
// is looked at again, or its last look kept, is the watcher's rule (see watcher.hpp),
// whoever asks.
bool count_file(run_context& run, file_error& why, std::int64_t iterations = 1);

// Records that the file failed before iteration `l`, in the batch that ends with the
// iterations before it.
void file_failed(run_context& run, std::int32_t l, const file_error& why);

} // namespace subset
