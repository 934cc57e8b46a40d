// What a person at a terminal sees on standard error while the trace goes elsewhere: the
// prompt, a progress line redrawn in place, and the best subset at the end. Nothing at
// all when there is no such terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>

namespace subset {

// Written by the screen functions only, on the drawing thread.
struct screen {
    std::ostream* to = nullptr;                  // the terminal, or nullptr
    std::int64_t total = 0;                      // iterations of the run
    std::chrono::steady_clock::time_point start; // when the run started
    std::chrono::steady_clock::time_point drawn; // when the progress line was last drawn
    bool showing = false;                        // a progress line is on the screen
};

// Starts the screen `s` of a run of `total` iterations on `to` (nullptr: no terminal).
void screen_start(screen& s, std::ostream* to, std::int64_t total);

// Shows the prompt.
void screen_prompt(screen& s);

// Redraws the progress line, at most four times a second (always when `now` is set):
// `done` iterations written, and the best so far.
void screen_progress(screen& s, std::int64_t done, float best, std::int32_t best_size, bool now);

// Clears the progress line.
void screen_clear(screen& s);

// Shows the best subset and the iteration that first reached it.
void screen_best(screen& s, std::int64_t iteration, const std::int32_t* points, std::int32_t size);

} // namespace subset
