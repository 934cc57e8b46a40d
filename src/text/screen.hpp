// What a person at a terminal sees on standard error while the trace goes elsewhere: the
// prompt, a progress line redrawn in place, every line that ends a run, and the best
// subset at the end (or so far, when the run was stopped). Nothing at all when there is no
// such terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string_view>

namespace subset {

// Written by the screen functions only, on the drawing thread.
struct screen {
    std::ostream* to = nullptr;        // the terminal, or nullptr
    std::function<std::int64_t()> now; // the clock, in nanoseconds
    std::int64_t total = 0;            // iterations of the run
    std::int64_t start = 0;            // when the name was read
    std::int64_t drawn = 0;            // when the progress line was last drawn
    bool showing = false;              // a progress line is on the screen
    bool line_open = false;            // the cursor is not at the start of a line
};

// Starts the screen `s` of a run of `total` iterations on `to` (nullptr: no terminal),
// timed by `now` (steady_clock if unset).
void screen_start(screen& s, std::ostream* to, std::int64_t total,
                  std::function<std::int64_t()> now = nullptr);

// Shows the prompt; `echoed` when the name is typed at the terminal, whose line end then
// closes the prompt's line.
void screen_prompt(screen& s, bool echoed);

// The name was read: the rate counts from now.
void screen_name_read(screen& s);

// Redraws the progress line, at most four times a second (always when `at_once`):
// `done` iterations written, and the best among them.
void screen_progress(screen& s, std::int64_t done, float best, std::int32_t best_size,
                     bool at_once);

// Clears the progress line.
void screen_clear(screen& s);

// Shows `line` (which ends with a line end), on a line of its own.
void screen_line(screen& s, std::string_view line);

// Shows the best subset and the iteration that first reached it; `interrupted` when the
// run was stopped before its end.
void screen_best(screen& s, std::int64_t iteration, const std::int32_t* points, std::int32_t size,
                 bool interrupted);

} // namespace subset
