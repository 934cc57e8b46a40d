// The terminal's lines; their text is in lines.hpp.
#include "screen.hpp"

#include <chrono>
#include <ostream>

#include "lines.hpp"

namespace {

using steady = std::chrono::steady_clock;

// Written by the screen functions only, on the drawing thread.
struct screen_state {
    std::ostream* to = nullptr; // the terminal, or nullptr
    std::int64_t total = 0;     // iterations of the run
    steady::time_point start;   // when the run started
    steady::time_point drawn;   // when the progress line was last drawn
    bool showing = false;       // a progress line is on the screen
};

screen_state screen;

constexpr auto redraw_every = std::chrono::milliseconds(250);

void show(const char* from, const char* to) {
    screen.to->write(from, to - from);
    screen.to->flush();
}

} // namespace

void screen_start(std::ostream* to, std::int64_t total) {
    screen = {};
    screen.to = to;
    screen.total = total;
    screen.start = screen.drawn = steady::now();
}

void screen_prompt() {
    if (screen.to == nullptr) return;
    show(prompt_line.data(), prompt_line.data() + prompt_line.size());
}

void screen_progress(std::int64_t done, float best, std::int32_t best_size, bool now) {
    if (screen.to == nullptr) return;
    const steady::time_point t = steady::now();
    if (!now && t - screen.drawn < redraw_every) return;
    screen.drawn = t;
    char line[line_room];
    char* at = line;
    *at++ = '\r';
    at = put_progress(at, done, screen.total,
                      std::chrono::duration<double>(t - screen.start).count(), best, best_size);
    for (const char c : {'\x1b', '[', 'K'}) *at++ = c; // erase what a longer line left
    show(line, at);
    screen.showing = true;
}

void screen_clear() {
    if (screen.to == nullptr || !screen.showing) return;
    const char clear[] = "\r\x1b[K";
    show(clear, clear + sizeof clear - 1);
    screen.showing = false;
}

void screen_best(std::int64_t iteration, const std::int32_t* points, std::int32_t size) {
    if (screen.to == nullptr) return;
    std::string line(iteration_room(size), '\0');
    show(line.data(), put_best_subset(line.data(), iteration, points, size));
}
