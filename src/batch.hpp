// A batch: consecutive iterations drawn by the drawing thread, then sorted, scored and
// put into text by a worker, then written by the drawing thread in iteration order.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "data/distance_file.hpp"

// Iterations in a batch at most.
inline constexpr int batch_iterations = 4096;

struct batch {
    // Written by the drawing thread.
    std::int32_t first = 0;                    // number of its first iteration
    std::int32_t count = 0;                    // iterations drawn into it
    std::int32_t n = 0;                        // N of the version they all counted
    std::int32_t size[batch_iterations];       // K of each
    std::uint32_t start[batch_iterations + 1]; // where each one's points begin in `drawn`
    std::vector<std::int32_t> drawn;           // points of each, in draw order
    file_error error; // the file failed in iteration first + count: its line follows
    // Written by the worker.
    std::vector<std::int32_t> sorted; // points of each, sorted (one spare entry)
    float score[batch_iterations];
    std::vector<char> text; // the eight lines of each iteration
    std::size_t text_used = 0;
};

// Makes `b` empty, ready to take up to `points` drawn points of files of up to `n` points.
void batch_reset(batch& b, std::size_t points);

// Whether `b` can take one more iteration of a file of `n` points.
inline bool batch_has_room(const batch& b, std::int32_t n) {
    return b.count < batch_iterations &&
           b.start[b.count] + static_cast<std::size_t>(n) <= b.drawn.size();
}

// Sorts, scores and writes the text of the iterations of `b`, from myItems.
void work_on(batch& b);

inline std::string_view batch_text(const batch& b) {
    return {b.text.data(), b.text_used};
}
