// The file on disk: its stamps, when its bytes must be compared, and waiting out a write
// in progress. Parsing itself is parse.cpp's.
#include "data/watcher.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "data/parse.hpp"
#include "data/reader.hpp"

namespace subset {

namespace {

// The clock is read at every clock_stride-th call only, since reading it costs as much as
// a short iteration.
constexpr int clock_stride = 8;
// File systems stamp a change with a coarse clock, so a change made just after a read may
// keep the stamps of the version read. Stamps seen unchanged for this long on our own
// clock settle a version; until then every look compares the bytes as well.
constexpr std::int64_t settle_ns = 100'000'000;
// A version that cannot be used, seen during a run, may be a write in progress: it is
// looked at again every poll_ns, and taken as final once its stamps have stood still
// for give_up_ns.
constexpr std::int64_t give_up_ns = 1'000'000'000;
constexpr std::int64_t poll_ns = 2'000'000;

std::int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void sleep_ns(std::int64_t ns) {
    std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
}

bool same_time(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool same_stamps(const file_stamps& a, const file_stamps& b) {
    return a.dev == b.dev && a.ino == b.ino && a.size == b.size && same_time(a.mtime, b.mtime) &&
           same_time(a.ctime, b.ctime);
}

// ------------------------------------------------------------------ reading

// Reads the open file `fd` into `text`, at most `limit` bytes of it; false on a read
// error or when there is no memory for it. Of a longer file, the text ends at the limit
// when the byte just past it is whitespace, else at the last whitespace before it, so
// that no number is cut in two.
bool read_all(int fd, off_t size_hint, std::size_t limit, std::vector<char>& text) {
    try {
        text.resize(std::min<std::size_t>(static_cast<std::size_t>(size_hint), limit) + 1);
        std::size_t used = 0;
        for (;;) {
            if (used == text.size()) {
                if (used > limit) break;
                text.resize(std::min(text.size() * 2 + 4096, limit + 1));
            }
            ssize_t n = ::read(fd, text.data() + used, text.size() - used);
            if (n < 0) return false;
            if (n == 0) break;
            used += static_cast<std::size_t>(n);
        }
        if (used > limit) {
            used = limit;
            if (!is_space(text[limit]))
                while (used > 0 && !is_space(text[used - 1])) --used;
        }
        text.resize(used);
    } catch (const std::bad_alloc&) {
        text.clear();
        return false;
    }
    return true;
}

// Returns whether the open file `fd` still holds exactly `text` (as read_all would read
// it); compared piece by piece, so that no second copy of a large file is made.
bool holds_text(int fd, const std::vector<char>& text) {
    char piece[1 << 16];
    std::size_t at = 0;
    for (;;) {
        ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0) return false;
        if (n == 0) return at == text.size();
        const auto got = static_cast<std::size_t>(n);
        if (at >= text.size()) return false; // bytes past the text: what was cut? read again
        const std::size_t same = std::min(got, text.size() - at);
        if (std::memcmp(piece, text.data() + at, same) != 0) return false;
        at += same;
        if (same < got) return false;
    }
}

// ------------------------------------------------------------------ looking

// Looks at the file: opens it and, unless the version held is known to be what it holds,
// reads and parses it again. Returns what the version now held gives. A file that cannot
// be opened, is not a regular file (a directory, a pipe, a device cannot be read again
// from its start) or cannot be read is an access problem, and nothing is held then.
file_error look(file_watch& w) {
    const std::int64_t now = w.settings.now();
    w.last_look = now;
    if (w.path.find('\0') != std::string::npos) {
        w.held = false;
        return {file_problem::access, 0};
    }
    int fd = ::open(w.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        w.held = false;
        return {file_problem::access, 0};
    }
    const file_stamps seen{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    const bool same = w.held && same_stamps(seen, w.stamps);
    if (same && !w.settled && now - w.first_seen >= settle_ns) w.settled = true;
    if (same && (w.settled || holds_text(fd, w.text))) {
        ::close(fd);
        return w.parsed;
    }
    if (!same) {
        w.stamps = seen;
        w.first_seen = now;
        w.settled = false;
    }
    if (same) ::lseek(fd, 0, SEEK_SET);
    w.held = false;
    w.current = nullptr;
    const bool read = read_all(fd, st.st_size, w.settings.read_limit, w.text);
    ::close(fd);
    if (!read) return {file_problem::access, 0};
    w.held = true;
    ++w.parses;
    parsed p = parse_distances({w.text.data(), w.text.size()});
    w.current = std::move(p.v);
    w.parsed = p.error;
    return w.parsed;
}

// Returns whether a look is due: the interval has passed, or nothing usable is held.
bool look_due(file_watch& w) {
    if (!w.held || w.parsed.what != file_problem::none || w.settings.look_interval_ns == 0)
        return true;
    if (++w.calls_unclocked < clock_stride) return false;
    w.calls_unclocked = 0;
    return w.settings.now() - w.last_look >= w.settings.look_interval_ns;
}

// A version that cannot be used, seen during a run: looks again every poll_ns until the
// file is usable, or cannot be opened, or its stamps have stood still for give_up_ns;
// returns what the last look gave.
file_error wait_for_usable(file_watch& w, file_error o) {
    file_stamps stamps = w.stamps;
    std::int64_t changed = w.settings.now();
    while (o.what != file_problem::none && o.what != file_problem::access) {
        w.settings.pause(poll_ns);
        const std::int64_t parses = w.parses;
        o = look(w);
        if (w.parses != parses || !same_stamps(stamps, w.stamps)) {
            stamps = w.stamps;
            changed = w.settings.now();
        } else if (w.settings.now() - changed >= give_up_ns) {
            break;
        }
    }
    return o;
}

} // namespace

void watch_start(file_watch& w, std::string path, watch_settings settings) {
    w = {};
    w.path = std::move(path);
    w.settings = std::move(settings);
    if (!w.settings.now) w.settings.now = steady_ns;
    if (!w.settings.pause) w.settings.pause = sleep_ns;
}

file_error watch_version(file_watch& w, version_ptr& v) {
    file_error o{};
    if (look_due(w)) {
        o = look(w);
        if (w.served && o.what != file_problem::none) o = wait_for_usable(w, o);
    }
    // Copied only when it changed: a copy costs two atomic counts, a compare nothing.
    if (o.what != file_problem::none) {
        v = nullptr;
    } else if (v != w.current) {
        v = w.current;
        w.served = true;
    }
    return o;
}

} // namespace subset
