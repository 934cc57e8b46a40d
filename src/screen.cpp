// The terminal's lines; their text is in lines.hpp.
#include "screen.hpp"

#include <ostream>
#include <string>

#include "lines.hpp"

namespace subset {

namespace {

using steady = std::chrono::steady_clock;

constexpr auto redraw_every = std::chrono::milliseconds(250);

void show(screen& s, const char* from, const char* to) {
    s.to->write(from, to - from);
    s.to->flush();
}

} // namespace

void screen_start(screen& s, std::ostream* to, std::int64_t total) {
    s = {};
    s.to = to;
    s.total = total;
    s.start = s.drawn = steady::now();
}

void screen_prompt(screen& s) {
    if (s.to == nullptr) return;
    show(s, prompt_line.data(), prompt_line.data() + prompt_line.size());
}

void screen_progress(screen& s, std::int64_t done, float best, std::int32_t best_size, bool now) {
    if (s.to == nullptr) return;
    const steady::time_point t = steady::now();
    if (!now && t - s.drawn < redraw_every) return;
    s.drawn = t;
    char line[line_room];
    char* at = line;
    *at++ = '\r';
    at = put_progress(at, done, s.total, std::chrono::duration<double>(t - s.start).count(), best,
                      best_size);
    for (const char c : {'\x1b', '[', 'K'}) *at++ = c; // erase what a longer line left
    show(s, line, at);
    s.showing = true;
}

void screen_clear(screen& s) {
    if (s.to == nullptr || !s.showing) return;
    const char clear[] = "\r\x1b[K";
    show(s, clear, clear + sizeof clear - 1);
    s.showing = false;
}

void screen_best(screen& s, std::int64_t iteration, const std::int32_t* points, std::int32_t size) {
    if (s.to == nullptr) return;
    std::string line(iteration_room(size), '\0');
    show(s, line.data(), put_best_subset(line.data(), iteration, points, size));
}

} // namespace subset
