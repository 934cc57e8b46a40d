// A batch: consecutive iterations drawn from one version of the file by the drawing
// thread, then sorted, scored and put into text by a worker, then written by the drawing
// thread in iteration order. The batch holds its version, so the file may change while it
// waits to be scored.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "data/version.hpp"
#include "search/draw.hpp"
#include "search/score.hpp"

namespace subset {

// Iterations in a batch at most.
inline constexpr int batch_iterations = 4096;

struct batch {
    // Written by the drawing thread.
    version_ptr from;                          // the version its iterations counted
    scoring how = scoring::automatic;          // how its subsets are scored
    std::int32_t first = 0;                    // number of its first iteration
    std::int32_t count = 0;                    // iterations drawn into it
    std::int32_t size[batch_iterations];       // K of each
    std::uint32_t start[batch_iterations + 1]; // where each one's points begin in `drawn`
    std::vector<std::int32_t> drawn;           // points of each, in draw order
    file_error error; // the file failed in iteration first + count: its line follows
    // Written by the worker.
    bool failed = false;                  // the memory to work on it could not be had
    std::vector<std::int32_t> sorted;     // points of each, sorted (one spare entry)
    subset_ref subsets[batch_iterations]; // each one's sorted points, as scoring takes them
    float score[batch_iterations];
    std::vector<char> text; // the eight lines of each iteration
    std::size_t text_used = 0;
};

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

// Sorts, scores and writes the text of the iterations of `b`, from its version; sets
// `failed` instead when the memory for it cannot be had.
void work_on(batch& b);

inline std::string_view batch_text(const batch& b) {
    return {b.text.data(), b.text_used};
}

} // namespace subset
