// The file on disk: its stamps, when its bytes must be compared, and waiting out a write
// in progress. Parsing itself is parse.cpp's.
#include "data/watcher.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#define XXH_STATIC_LINKING_ONLY // the hash's state on the stack: no allocation to fail
#include <xxhash.h>

#include "base/clock.hpp"
#include "data/parse.hpp"

namespace subset {

namespace {

// The clock is read only every so many iterations, since reading it costs as much as a
// short iteration: an iteration draws a few values a point, so a read every
// `clock_points` points of the version held (64 iterations at most, one at least) comes
// every few microseconds at any size. Iterations are counted, not calls: the split draw
// asks once a segment, for thousands of iterations at a time.
constexpr int clock_points = 1024;
constexpr int clock_stride_most = 64;
// File systems stamp a change with a coarse clock, so a change made just after a read may
// keep the stamps of the version read. Stamps seen unchanged for this long on our own
// clock settle a version; until then every look compares the bytes as well.
constexpr std::int64_t settle_ns = 100'000'000;
// A version that cannot be used, seen during a run, may be a write in progress: it is
// looked at again every poll_ns, and taken as final once its stamps have stood still
// for give_up_ns. A table that cannot be had is not waited on.
constexpr std::int64_t give_up_ns = 1'000'000'000;
constexpr std::int64_t poll_ns = 2'000'000;

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

// The bytes of the open file `fd` as they are read, hashed on the way (xxHash's state is
// kept here, so that nothing has to be had to hash).
struct hashed_reader {
    XXH3_state_t state; // first: it is aligned to 64 bytes
    std::uint64_t bytes = 0;
    int fd;
    explicit hashed_reader(int file) : fd(file) {
        XXH3_INITSTATE(&state);
        XXH3_64bits_reset(&state);
    }
    std::ptrdiff_t operator()(char* into, std::size_t room) {
        const ssize_t n = ::read(fd, into, room);
        if (n > 0) {
            XXH3_64bits_update(&state, into, static_cast<std::size_t>(n));
            bytes += static_cast<std::uint64_t>(n);
        }
        return n;
    }
    std::uint64_t digest() const { return XXH3_64bits_digest(&state); }
};

// Returns the hash of the first `bytes` bytes of the open file `fd`, read a piece at a
// time into a buffer on the stack, so that a look during a run never allocates; false
// when the file holds fewer or cannot be read.
bool hash_first(int fd, std::uint64_t bytes, std::uint64_t& hash) {
    hashed_reader reader(fd);
    alignas(64) char piece[1 << 16];
    bool whole = true;
    while (whole && reader.bytes < bytes)
        whole = reader(piece, std::min<std::uint64_t>(bytes - reader.bytes, sizeof piece)) > 0;
    hash = reader.digest();
    return whole;
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
    std::uint64_t hash = 0;
    if (same && (w.settled || (hash_first(fd, w.bytes, hash) && hash == w.hash))) {
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
    w.current = nullptr; // the old version lives on in whoever still holds it
    hashed_reader reader(fd);
    w.current = parse_distances(
        std::ref(reader), w.parsed,
        std::min<std::size_t>(parse_buffer, static_cast<std::size_t>(st.st_size) + 1));
    ::close(fd);
    w.hash = reader.digest();
    w.bytes = reader.bytes;
    w.held = w.parsed.what != file_problem::access;
    ++w.parses;
    if (w.current != nullptr)
        w.clock_stride = std::clamp(clock_points / w.current->points, 1, clock_stride_most);
    return w.parsed;
}

// Returns whether a look is due, `iterations` having been drawn since the last call: the
// interval has passed, or nothing usable is held.
bool look_due(file_watch& w, std::int64_t iterations) {
    if (!w.held || w.parsed.what != file_problem::none || w.settings.look_interval_ns == 0)
        return true;
    w.unclocked += iterations;
    if (w.unclocked < w.clock_stride) return false;
    w.unclocked = 0;
    return w.settings.now() - w.last_look >= w.settings.look_interval_ns;
}

// A version that cannot be used, seen during a run: looks again every poll_ns until the
// file is usable, or cannot be opened, or its stamps have stood still for give_up_ns;
// returns what the last look gave.
file_error wait_for_usable(file_watch& w, file_error o) {
    file_stamps stamps = w.stamps;
    std::int64_t changed = w.settings.now();
    while (o.what != file_problem::none && o.what != file_problem::access &&
           o.what != file_problem::memory) {
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
    w = file_watch{};
    w.path = std::move(path);
    w.settings = std::move(settings);
    if (!w.settings.now) w.settings.now = steady_ns;
    if (!w.settings.pause) w.settings.pause = sleep_ns;
}

bool watch_version(file_watch& w, version_ptr& v, file_error& why, std::int64_t iterations) {
    why = {};
    if (look_due(w, iterations)) {
        why = look(w);
        if (w.served && why.what != file_problem::none) why = wait_for_usable(w, why);
    }
    // Copied only when it changed: a copy costs two atomic counts, a compare nothing.
    if (why.what != file_problem::none) {
        v = nullptr;
    } else if (v != w.current) {
        v = w.current;
        w.served = true;
    }
    return v != nullptr;
}

} // namespace subset
