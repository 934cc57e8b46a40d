// A batch: consecutive iterations drawn from one version of the file by the drawing
// thread, then sorted, scored and put into text by a worker, then written by the drawing
// thread in iteration order. The batch holds its version, so the file may change while it
// waits to be scored.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "base/aligned.hpp"
#include "data/version.hpp"
#include "search/kernels.hpp"
#include "search/random.hpp"

namespace subset {

struct draw_state;

// Iterations in a batch at most.
inline constexpr int batch_iterations = 4096;

// What a worker does with a batch handed to it.
enum class task {
    score, // sort, score and put into text the iterations from `skip` to `count`
    draw,  // draw a segment: iterations from `stream` on, until one starts at `stop_at`
};

struct batch {
    // Written by the drawing thread before it hands the batch over; `first`, `skip` and
    // `count` also when it joins a split draw's segments (see split_draw.hpp).
    version_ptr from;                                // the version its iterations counted
    const kernel_table* kernels = &portable_kernels; // what draws, sorts and scores it
    task job = task::score;                          // what the worker it is handed to does
    batch* partner = nullptr; // handed over with it, to be scored together (see work_on)
    std::int32_t first = 0;   // number of iteration `skip`
    std::int32_t skip = 0;    // iterations drawn, but not the run's
    // Written by whoever draws it: the drawing thread, or a worker drawing its segment.
    std::int32_t count = 0;                    // iterations drawn into it
    std::int32_t size[batch_iterations];       // K of each
    std::uint32_t start[batch_iterations + 1]; // where each one's points begin in `drawn`
    std::vector<std::int32_t> drawn;           // points of each, in draw order
    file_error error; // the file failed after its last iteration: its line follows
    // A segment's drawing (see segment.hpp), by a worker or the drawing thread.
    random_stream stream;                  // where drawing starts; once drawn, where it ended
    std::int64_t stop_at = 0;              // no iteration is drawn from here on
    std::int64_t at[batch_iterations + 1]; // where each iteration starts in the stream
    // Written by the worker.
    bool done = false;                    // worked on; under the pool's lock (workers.hpp)
    bool failed = false;                  // the memory to work on it could not be had
    std::vector<std::int32_t> sorted;     // points of each, sorted (sorted_spare more entries)
    subset_ref subsets[batch_iterations]; // each one's sorted points, as scoring takes them
    float score[batch_iterations];
    // The eight lines of each iteration. Not zeroed when made: room is reckoned for the
    // longest lines, and only the pages written to are ever touched. On a cache line, as
    // it is written out from.
    aligned_bytes text;
    std::size_t text_room = 0; // bytes at `text`
    std::size_t text_used = 0;
};

// Makes the room of `b` for `points` drawn points: their lists and their text. Throws
// std::bad_alloc when it cannot be had.
void batch_make(batch& b, std::size_t points);

// The bytes batch_make takes for `points` drawn points (the batch itself apart).
std::size_t batch_bytes(std::size_t points);

// Makes `b` empty, ready to take up to `points` drawn points (and at least one subset of
// its version's every point) of iterations that start at `first` and use the version
// `from` (empty for a batch that only carries an error). Throws std::bad_alloc when the
// room cannot be had.
void batch_reset(batch& b, std::size_t points, std::int32_t first, version_ptr from);

// Whether `b` can take one more iteration.
inline bool batch_has_room(const batch& b) {
    return b.count < batch_iterations &&
           b.start[b.count] + static_cast<std::size_t>(b.from->points) <= b.drawn.size();
}

// Draws one more iteration into `b`, which must have room for it.
void batch_add(batch& b, draw_state& drawing, random_stream& rnd);

// Makes the room for `bytes` of text in `b`, keeping none of what it held; throws
// std::bad_alloc when it cannot be had.
void batch_text_room(batch& b, std::size_t bytes);

inline std::string_view batch_text(const batch& b) {
    return {b.text.get(), b.text_used};
}

} // namespace subset
