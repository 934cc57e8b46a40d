// Reading the distance file. The search asks for the point count and the pairs twice in
// every iteration; each version of the file is read and parsed once, and later calls are
// served from that until a look at the file shows it has changed. Looks happen only when
// the count is asked for, so that the count and the pairs of one iteration always come
// from the same version; an unusable version seen during a run is waited on, since it is
// most often a write still in progress.
#include "data/distance_file.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "data/reader.hpp"

std::int32_t max = 0;
pair_table myItems = {};

namespace {

// ------------------------------------------------------------------ state

// The most of a file that is read, unless a test lowers it: a file of 2000 points fits
// with over 130 bytes to each triple, and what lies beyond its last triple is never needed.
constexpr std::size_t default_read_limit = std::size_t{256} << 20;
// A file is looked at again once this much run time has passed since the last look.
constexpr std::int64_t look_interval_ns = 500'000;
constexpr int clock_stride = 8;
// File systems stamp a change with a coarse clock, so a change made just after a read may
// keep the stamps of the version read. Stamps seen unchanged for this long on our own
// clock settle a version; until then every look compares the bytes as well.
constexpr std::int64_t settle_ns = 100'000'000;
// A version that cannot be used, seen during a run, may be a write in progress: it is
// looked at again every poll_ms, and taken as final once its stamps have stood still
// for this long.
constexpr std::int64_t give_up_ns = 1'000'000'000;
constexpr int poll_ms = 2;

struct file_stamps {
    dev_t dev;
    ino_t ino;
    off_t size;
    timespec mtime;
    timespec ctime;
};

// Everything known about the distance file; written only by this file's functions.
struct file_cache {
    std::string path;            // the name this cache belongs to ("": none yet)
    bool held = false;           // `text` and `parsed` belong to a version of `path`
    bool served = false;         // a usable version of `path` was counted: a run is on
    file_stamps stamps{};        // identity and stamps of the version held
    std::int64_t first_seen = 0; // clock when those stamps were first seen
    bool settled = false;        // stamps unchanged for settle_ns: the bytes need no check
    std::vector<char> text;      // the version's bytes as read
    file_error parsed;           // what parsing `text` gave
    std::size_t parsed_to = 0;   // offset in `text` just after the last triple loaded
    std::int64_t loaded = 0;     // triples of `text` held in myItems[0..loaded)
    std::int32_t points = 0;     // N of this version, when usable
    std::int64_t last_look = 0;  // clock at the last look
    int calls_unclocked = 0;     // calls since the clock was last read
    bool look_now = false;       // the next call looks, whatever the time
    std::int64_t parses = 0;     // versions parsed so far, for tests
    std::size_t read_limit = default_read_limit;
};

file_cache cache;

std::int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

file_clock clock_now = steady_ns; // the clock that times looks and waits; set by tests
void (*table_guard)() = nullptr;  // called before myItems is rewritten; set by the run

// ------------------------------------------------------------------ parsing

// One triple of the file, fields in file order.
struct item {
    std::int32_t p1; // first point number
    std::int32_t p2; // second point number
    float dist;      // distance between them
};

enum class triple_read {
    ok,       // the whole triple was read
    end,      // the text ends before the triple starts
    no_first, // its first field is not a number
    bad,      // its first field was read, a later one is missing or malformed
};

// Reads one triple at `p` into `it`; on `bad`, `it.p1` holds the first field.
triple_read read_triple(const char*& p, const char* end, item& it) {
    switch (scan_int(p, end, it.p1)) {
    case scan_result::end:
        return triple_read::end;
    case scan_result::bad:
        return triple_read::no_first;
    case scan_result::ok:
        break;
    }
    if (scan_int(p, end, it.p2) != scan_result::ok) return triple_read::bad;
    if (scan_float(p, end, it.dist) != scan_result::ok) return triple_read::bad;
    return triple_read::ok;
}

// Loads the P = n(n-1)/2 triples of the text into myItems, each row followed by its +0.0
// end; fails at the first triple missing or malformed.
file_error load_pairs(std::int32_t n) {
    const char* p = cache.text.data();
    const char* end = p + cache.text.size();
    float* dist = myItems.dist;
    std::int64_t read = 0;
    std::int64_t at = 0;
    for (std::int32_t a = 1; a < n; ++a) {
        for (std::int32_t b = a + 1; b <= n; ++b, ++read) {
            item it{};
            if (read_triple(p, end, it) != triple_read::ok) return {file_problem::triple, read + 1};
            dist[at++] = it.dist;
        }
        dist[at++] = +0.0F;
    }
    cache.parsed_to = static_cast<std::size_t>(p - cache.text.data());
    cache.loaded = read;
    return {};
}

// Checks that the text holds `count` readable triples in all. Those past the loaded ones
// are only read: nothing ever looks at a pair past the file's own P.
file_error check_more(std::int64_t count) {
    const char* p = cache.text.data() + cache.parsed_to;
    const char* end = cache.text.data() + cache.text.size();
    for (std::int64_t t = cache.loaded; t < count; ++t) {
        item it{};
        if (read_triple(p, end, it) != triple_read::ok) return {file_problem::triple, t + 1};
    }
    return {};
}

// Parses the text just read: counts N from the run of triples of point 1, then loads
// P = N(N-1)/2 triples. The run ends at the first triple that does not start with a 1,
// which counts as one more point, or where the text stops offering triples (its end, or
// a first field that is not a number); a triple of point 1 that breaks off is malformed.
// myItems is rewritten only once whoever reads it has been told (the table guard).
file_error parse_version() {
    cache.parsed_to = 0;
    cache.loaded = 0;
    const char* p = cache.text.data();
    const char* end = p + cache.text.size();
    std::int64_t run = 0;
    for (;;) {
        item it{};
        triple_read r = read_triple(p, end, it);
        if (r == triple_read::bad && it.p1 == 1) return {file_problem::triple, run + 1};
        if (r != triple_read::ok || it.p1 != 1) break;
        ++run;
    }
    const std::int64_t n = run + 1;
    if (n < 2) return {file_problem::too_few, n};
    if (n > max_points) return {file_problem::too_many, n};
    if (table_guard != nullptr) table_guard();
    const file_error o = load_pairs(static_cast<std::int32_t>(n));
    if (o.what == file_problem::none) cache.points = static_cast<std::int32_t>(n);
    return o;
}

// ------------------------------------------------------------------ the file itself

bool same_time(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool same_stamps(const file_stamps& a, const file_stamps& b) {
    return a.dev == b.dev && a.ino == b.ino && a.size == b.size && same_time(a.mtime, b.mtime) &&
           same_time(a.ctime, b.ctime);
}

// Reads the open file `fd` into `text`, at most the read limit of it; false on a read
// error or when there is no memory for it. Of a longer file, the text ends at the limit
// when the byte just past it is whitespace, else at the last whitespace before it, so
// that no number is cut in two.
bool read_all(int fd, off_t size_hint, std::vector<char>& text) {
    const std::size_t limit = cache.read_limit;
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

// Looks at the file: opens it and, unless the version held is known to be what it holds,
// reads and parses it again. Returns what the version now held gives. A file that cannot
// be opened, is not a regular file (a directory, a pipe, a device cannot be read again
// from its start) or cannot be read is an access problem, and nothing is held then.
file_error look(const std::string& path) {
    cache.look_now = false;
    const std::int64_t now = clock_now();
    cache.last_look = now;
    if (path.find('\0') != std::string::npos) {
        cache.held = false;
        return {file_problem::access, 0};
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        cache.held = false;
        return {file_problem::access, 0};
    }
    const file_stamps seen{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    const bool same = cache.held && cache.path == path && same_stamps(seen, cache.stamps);
    if (same && !cache.settled && now - cache.first_seen >= settle_ns) cache.settled = true;
    if (same && (cache.settled || holds_text(fd, cache.text))) {
        ::close(fd);
        return cache.parsed;
    }
    if (!same) {
        cache.stamps = seen;
        cache.first_seen = now;
        cache.settled = false;
    }
    if (same) ::lseek(fd, 0, SEEK_SET);
    if (cache.path != path) cache.served = false;
    cache.path = path;
    cache.held = false;
    const bool read = read_all(fd, st.st_size, cache.text);
    ::close(fd);
    if (!read) return {file_problem::access, 0};
    cache.held = true;
    ++cache.parses;
    cache.parsed = parse_version();
    return cache.parsed;
}

// Returns whether a look is due: the interval has passed, or nothing usable is held. The
// clock is read at every clock_stride-th call only, since reading it costs as much as a
// short iteration.
bool look_due(const std::string& path) {
    if (cache.look_now || !cache.held || cache.path != path ||
        cache.parsed.what != file_problem::none)
        return true;
    if (++cache.calls_unclocked < clock_stride) return false;
    cache.calls_unclocked = 0;
    return clock_now() - cache.last_look >= look_interval_ns;
}

// A version that cannot be used, seen during a run: looks again every poll_ms until the
// file is usable, or cannot be opened, or its stamps have stood still for give_up_ns;
// returns what the last look gave.
file_error wait_for_usable(const std::string& path, file_error o) {
    file_stamps stamps = cache.stamps;
    std::int64_t changed = clock_now();
    while (o.what != file_problem::none && o.what != file_problem::access) {
        std::this_thread::sleep_for(std::chrono::milliseconds(poll_ms));
        const std::int64_t parses = cache.parses;
        o = look(path);
        if (cache.parses != parses || !same_stamps(stamps, cache.stamps)) {
            stamps = cache.stamps;
            changed = clock_now();
        } else if (clock_now() - changed >= give_up_ns) {
            break;
        }
    }
    return o;
}

// Brings the cache up to date with the file, when a look is due, and returns what the
// version held gives. During a run, an unusable version is waited on.
file_error refresh(const std::string& path) {
    if (!look_due(path)) return {};
    const bool running = cache.served && cache.path == path;
    file_error o = look(path);
    if (running && o.what != file_problem::none) o = wait_for_usable(path, o);
    return o;
}

} // namespace

// ------------------------------------------------------------------ operations

std::int64_t init_dados(const std::string& path, file_error& why) {
    why = refresh(path);
    if (why.what != file_problem::none) return -1;
    cache.served = true;
    max = cache.points;
    return static_cast<std::int64_t>(max) * (max - 1) / 2;
}

std::int64_t init_dados_from_text(std::string_view text, file_error& why) {
    cache.text.assign(text.begin(), text.end());
    cache.path.clear(); // the next init_dados reads its file afresh
    cache.held = false;
    cache.served = false;
    why = cache.parsed = parse_version();
    if (why.what != file_problem::none) return -1;
    max = cache.points;
    return static_cast<std::int64_t>(max) * (max - 1) / 2;
}

bool guardaEstrutura(const std::string& path, std::int32_t count, file_error& why) {
    // The pairs come from the version that init_dados counted; the file is looked at
    // only when nothing usable of this name is held.
    why = cache.held && cache.path == path ? cache.parsed : refresh(path);
    if (why.what == file_problem::none && count > cache.loaded) why = check_more(count);
    return why.what == file_problem::none;
}

void set_table_guard(void (*before_rewrite)()) {
    table_guard = before_rewrite;
}

// ------------------------------------------------------------------ test seams

void look_at_file_next() {
    cache.look_now = true;
}

void set_file_clock(file_clock now) {
    clock_now = now != nullptr ? now : steady_ns;
}

std::int64_t file_parses() {
    return cache.parses;
}

void set_read_limit(std::size_t bytes) {
    cache.read_limit = bytes != 0 ? bytes : default_read_limit;
    cache.held = false;
}
