// The terminal's lines; their text is in lines.hpp.
#include "text/screen.hpp"

#include <ostream>
#include <string>

#include "base/clock.hpp"
#include "text/lines.hpp"

namespace subset {

namespace {

constexpr std::int64_t redraw_every_ns = 250'000'000;

void show(screen& s, const char* from, const char* to) {
    s.to->write(from, to - from);
    s.to->flush();
}

} // namespace

void screen_start(screen& s, std::ostream* to, std::int64_t total,
                  std::function<std::int64_t()> now) {
    s = screen{};
    s.to = to;
    s.now = now ? std::move(now) : steady_ns;
    s.total = total;
    s.start = s.drawn = s.now();
}

void screen_prompt(screen& s, bool echoed) {
    if (s.to == nullptr) return;
    show(s, prompt_line.data(), prompt_line.data() + prompt_line.size());
    s.line_open = !echoed;
}

void screen_name_read(screen& s) {
    if (s.to == nullptr) return;
    s.start = s.drawn = s.now();
}

void screen_progress(screen& s, std::int64_t done, float best, std::int32_t best_size,
                     bool at_once) {
    if (s.to == nullptr) return;
    const std::int64_t t = s.now();
    if (!at_once && t - s.drawn < redraw_every_ns) return;
    s.drawn = t;
    char line[line_room];
    char* at = line;
    *at++ = '\r';
    at = put_progress(at, done, s.total, static_cast<double>(t - s.start) * 1e-9, best, best_size);
    for (const char c : {'\x1b', '[', 'K'}) *at++ = c; // erase what a longer line left
    if (s.line_open && !s.showing) *line = '\n';       // after an open prompt: a line of its own
    show(s, line, at);
    s.showing = s.line_open = true;
}

void screen_clear(screen& s) {
    if (s.to == nullptr || !s.showing) return;
    const char clear[] = "\r\x1b[K";
    show(s, clear, clear + sizeof clear - 1);
    s.showing = s.line_open = false;
}

void screen_line(screen& s, std::string_view line) {
    if (s.to == nullptr) return;
    const char line_end = '\n';
    if (s.line_open) show(s, &line_end, &line_end + 1);
    show(s, line.data(), line.data() + line.size());
    s.showing = s.line_open = false;
}

void screen_best(screen& s, std::int64_t iteration, const std::int32_t* points, std::int32_t size,
                 bool interrupted) {
    if (s.to == nullptr) return;
    std::string line(iteration_room(size) + interrupted_note.size(), '\0');
    char* at = line.data();
    if (interrupted) at = std::copy(interrupted_note.begin(), interrupted_note.end(), at);
    screen_line(s, {line.data(), static_cast<std::size_t>(
                                     put_best_subset(at, iteration, points, size) - line.data())});
}

} // namespace subset
