// Reading ahead: the second thread fills two slots in turn with odd blocks and what it
// found in them; this thread reads the even blocks itself, then checks and counts each
// odd block's iterations, and gives its slot back.
#include "summary/ahead.hpp"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "base/aligned.hpp"
#include "summary/bytes.hpp"
#include "summary/iteration.hpp"
#include "text/lines.hpp"

namespace subset {

namespace {

// ------------------------------------------------------------------ blocks

// Reads block `index` of the file from `base` on into `into` (room for `room` bytes and the
// padding); returns the bytes read, fewer than `room` only at the file's end or when reading fails.
std::size_t read_block(int fd, off_t base, std::size_t index, std::size_t room, char* into,
                       bool& failed) {
    std::size_t got = 0;
    const off_t start = base + static_cast<off_t>(index * room);
    while (got < room) {
        const ssize_t n = pread(fd, into + got, room - got, start + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    // Vector loads run past the last line end: what they see there is defined, if unused.
    std::memset(into + got, 0, piece_padding);
    return got;
}

// An iteration read ahead: what it adds to the figures.
struct ahead_iteration {
    std::int32_t size;
    double score;
    std::uint32_t sorted_at; // its sorted points' place in the block
    std::uint32_t sorted_length;
};

constexpr std::size_t none = ~std::size_t{0};

// An odd block and what was read ahead in it.
struct slot {
    aligned_bytes bytes;
    std::size_t size = 0;
    bool failed = false;
    std::size_t start = none; // where its first iteration read ahead starts, if any
    std::size_t stop = 0;     // where reading ahead stopped
    std::int32_t n = 0;       // the count those iterations printed
    std::int64_t first = 0;   // the number of the first of them
    std::vector<ahead_iteration> iterations;
    bool full = false; // read and not yet counted; under the lock
};

// The first iteration's number in the text at `at`, an iteration of N from its count line
// on, or -1 when its result line is not there.
std::int64_t number_of(const char* at, const char* end) {
    for (int line = 0; line < 7; ++line) {
        at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
        if (at == nullptr) return -1;
        ++at;
    }
    const std::string_view rest(at, static_cast<std::size_t>(end - at));
    const std::size_t from = rest.find(result_iteration);
    if (rest.substr(0, result_text.size()) != result_text || from == std::string_view::npos)
        return -1;
    std::int64_t number = -1;
    const char* digits = at + from + result_iteration.size();
    const auto got = std::from_chars(digits, end, number);
    return got.ec == std::errc{} ? number : -1;
}

// Reads ahead in `s`: from its first count line, the ordinary iterations of that count
// that follow one another, as far as they go. `r` is a scratch reader.
void read_ahead(slot& s, reader& r) {
    s.start = none;
    s.iterations.clear();
    const char* bytes = s.bytes.get();
    const char* end = bytes + s.size;
    const auto* last = static_cast<const char*>(memrchr(bytes, '\n', s.size));
    if (last == nullptr) return;
    const std::string_view text(bytes, static_cast<std::size_t>(last + 1 - bytes));
    const std::size_t count = text.find(std::string("\n").append(count_text));
    if (count == std::string_view::npos) return;
    const char* at = bytes + count + 1;
    std::int64_t n = 0;
    const char* digits = at + count_text.size();
    const auto got = std::from_chars(digits, end, n);
    if (got.ec != std::errc{} || n < 2 || n > max_points) return;
    const std::int64_t first = number_of(at, last + 1);
    if (first < 0) return;
    set_count(r, static_cast<std::int32_t>(n));
    r.number = decimal_of(first);
    for (whole_iteration it; read_iteration(r, at, last + 1, it); at += it.length) {
        s.iterations.push_back({it.size, it.score,
                                static_cast<std::uint32_t>(it.sorted.data() - bytes),
                                static_cast<std::uint32_t>(it.sorted.size())});
        count_up(r.number);
    }
    s.start = count + 1;
    s.stop = static_cast<std::size_t>(at - bytes);
    s.n = static_cast<std::int32_t>(n);
    s.first = first;
}

// The two threads' meeting place.
struct ahead_state {
    int fd = -1;
    off_t base = 0;
    std::size_t room = 0;
    slot slots[2]; // block 2i + 1 goes to slots[i % 2]
    bool stop = false;
    std::mutex lock;
    std::condition_variable changed;
};

// The second thread: odd blocks in turn, each once its slot is free.
void ahead_thread(ahead_state& a) {
    trace_figures scratch_figures;
    std::string scratch_problem;
    reader r(scratch_figures, scratch_problem);
    for (std::size_t i = 0;; ++i) {
        slot& s = a.slots[i % 2];
        {
            std::unique_lock<std::mutex> hold(a.lock);
            a.changed.wait(hold, [&] { return a.stop || !s.full; });
            if (a.stop) return;
        }
        s.failed = false;
        s.size = read_block(a.fd, a.base, 2 * i + 1, a.room, s.bytes.get(), s.failed);
        try {
            read_ahead(s, r);
        } catch (const std::bad_alloc&) { // then this block is taken as any other
            s.start = none;
        }
        {
            const std::lock_guard<std::mutex> hold(a.lock);
            s.full = true;
        }
        a.changed.notify_all();
        if (s.size < a.room) return;
    }
}

// Counts slot `s`, the block after those taken, into `r`: its iterations read ahead when
// the trace so far leads into them, by the grammar otherwise.
bool take_slot(reader& r, std::string& carry, const slot& s, bool whole) {
    const char* bytes = s.bytes.get();
    const char* end = bytes + s.size;
    if (s.start == none || !whole) return take_bytes(r, carry, bytes, end, whole);
    if (!take_bytes(r, carry, bytes, bytes + s.start, whole)) return false;
    if (!carry.empty() || r.next != expect::count_or_end || r.n != s.n || r.f.iterations != s.first)
        return take_bytes(r, carry, bytes + s.start, end, whole);
    for (const ahead_iteration& it : s.iterations) {
        r.size = it.size;
        count_result(r, it.score, std::string_view(bytes + it.sorted_at, it.sorted_length));
        r.line_number += 8;
    }
    return take_bytes(r, carry, bytes + s.stop, end, whole);
}

// Stops the second thread and waits for it.
struct joined {
    ahead_state& a;
    std::thread thread;
    joined(ahead_state& state, std::thread&& running) : a(state), thread(std::move(running)) {}
    joined(const joined&) = delete;
    joined& operator=(const joined&) = delete;
    ~joined() {
        {
            const std::lock_guard<std::mutex> hold(a.lock);
            a.stop = true;
        }
        a.changed.notify_all();
        thread.join();
    }
};

} // namespace

bool take_file(reader& r, std::string& carry, int fd, off_t base, std::size_t room, bool whole,
               bool& failed) {
    const aligned_bytes own = aligned_buffer(room + piece_padding);
    ahead_state a;
    a.fd = fd;
    a.base = base;
    a.room = room;
    for (slot& s : a.slots) s.bytes = aligned_buffer(room + piece_padding);
    std::thread thread;
    try {
        thread = std::thread(ahead_thread, std::ref(a));
    } catch (const std::system_error&) { // one thread, block after block
        for (std::size_t index = 0;; ++index) {
            const std::size_t size = read_block(fd, base, index, room, own.get(), failed);
            if (!take_bytes(r, carry, own.get(), own.get() + size, whole)) return false;
            if (size < room) return true;
        }
    }
    const joined ahead(a, std::move(thread));
    for (std::size_t index = 0;; ++index) {
        if (index % 2 == 0) {
            const std::size_t size = read_block(fd, base, index, room, own.get(), failed);
            if (!take_bytes(r, carry, own.get(), own.get() + size, whole)) return false;
            if (size < room) return true;
            continue;
        }
        slot& s = a.slots[(index / 2) % 2];
        {
            std::unique_lock<std::mutex> hold(a.lock);
            a.changed.wait(hold, [&] { return s.full; });
        }
        failed = failed || s.failed;
        if (!take_slot(r, carry, s, whole)) return false;
        if (s.size < room) return true;
        {
            const std::lock_guard<std::mutex> hold(a.lock);
            s.full = false;
        }
        a.changed.notify_all();
    }
}

} // namespace subset
