// What a person at a terminal sees on standard error while the trace goes elsewhere: the
// prompt, a progress line redrawn in place, and the best subset at the end. Nothing at
// all when there is no such terminal.
#pragma once

#include <cstdint>
#include <iosfwd>

// Starts the screen of a run of `total` iterations on `to` (nullptr: no terminal).
void screen_start(std::ostream* to, std::int64_t total);

// Shows the prompt.
void screen_prompt();

// Redraws the progress line, at most four times a second (always when `now` is set):
// `done` iterations written, and the best so far.
void screen_progress(std::int64_t done, float best, std::int32_t best_size, bool now);

// Clears the progress line.
void screen_clear();

// Shows the best subset and the iteration that first reached it.
void screen_best(std::int64_t iteration, const std::int32_t* points, std::int32_t size);
