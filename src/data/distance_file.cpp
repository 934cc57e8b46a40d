// Reading the distance file. The search asks for the point count and the pairs twice in
// every iteration; each version of the file is read and parsed once, and later calls are
// served from that until a look at the file shows it may have changed.
#include "data/distance_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

#include <chrono>
#include <cstdint>
#include <ctime>
#include <new>
#include <string_view>
#include <vector>

#include "data/reader.hpp"

std::int32_t max = 0;
pair_table myItems = {};

namespace {

// ------------------------------------------------------------------ state

using steady = std::chrono::steady_clock;

// A file is looked at again once this much run time has passed since the last look.
constexpr auto check_interval = std::chrono::microseconds(500);
// File systems stamp changes with a coarse clock (one kernel tick, at most 10 ms); a
// version read this close to its change time may hide a later change with equal stamps.
constexpr std::int64_t stamp_window_ns = 100'000'000;
// The most of a file that is read: a file of 2000 points fits with over 130 bytes to each
// triple, and what lies beyond its last triple is never needed.
constexpr std::size_t max_text = std::size_t{256} << 20;

struct file_version {
    dev_t dev;
    ino_t ino;
    off_t size;
    timespec mtime;
    timespec ctime;
};

// Everything known about the distance file; written only by this file's functions.
struct file_cache {
    std::string path;          // the name this cache belongs to
    bool valid = false;        // `text`, `points` and `myItems` describe a usable version
    file_version version{};    // identity and stamps of the version read
    bool unsure = false;       // that version was read within stamp_window_ns of its change
    std::vector<char> text;    // the file's bytes as read
    std::size_t parsed_to = 0; // offset in `text` just after the last triple loaded
    std::int64_t loaded = 0;   // triples of `text` held in myItems[0..loaded)
    std::int32_t points = 0;   // N of this version
};

file_cache cache;

// When the file was last looked at, and how to tell cheaply that it is not yet due again;
// written only by look_due.
struct look_timer {
    steady::time_point checked{};    // clock at the last look
    std::uint64_t clock_ticks = 0;   // counter when the clock was last read
    steady::time_point origin{};     // first clock reading, to learn the counter's rate
    std::uint64_t origin_ticks = 0;  // counter at that reading
    std::uint64_t quarter_ticks = 0; // counter ticks in a quarter interval; 0: not learnt
};

look_timer timer;

// Why a file cannot be used; `detail` is the point count or the 1-based triple number.
enum class problem { none, access, too_few, too_many, triple };
struct outcome {
    problem what = problem::none;
    std::int64_t detail = 0;
};

// ------------------------------------------------------------------ parsing

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

// Puts one triple in its place in the pair table.
void store(std::int64_t i, const item& it) {
    myItems.p1[i] = it.p1;
    myItems.p2[i] = it.p2;
    myItems.dist[i] = it.dist;
}

// Loads triples into myItems until `count` are held; fails at the first one missing.
outcome load_up_to(std::int64_t count) {
    if (count > max_pairs) return {problem::triple, max_pairs + 1};
    const char* p = cache.text.data() + cache.parsed_to;
    const char* end = cache.text.data() + cache.text.size();
    for (; cache.loaded < count; ++cache.loaded) {
        item it{};
        if (read_triple(p, end, it) != triple_read::ok) return {problem::triple, cache.loaded + 1};
        store(cache.loaded, it);
        cache.parsed_to = static_cast<std::size_t>(p - cache.text.data());
    }
    return {};
}

// Parses the text just read: counts N from the run of triples of point 1, then loads
// P = N(N-1)/2 triples. The run ends at the first triple that does not start with a 1,
// which counts as one more point, or where the text stops offering triples (its end, or
// a first field that is not a number); a triple of point 1 that breaks off is malformed.
outcome parse_version() {
    cache.parsed_to = 0;
    cache.loaded = 0;
    const char* p = cache.text.data();
    const char* end = p + cache.text.size();
    std::int64_t run = 0;
    for (;;) {
        item it{};
        triple_read r = read_triple(p, end, it);
        if (r == triple_read::bad && it.p1 == 1) return {problem::triple, run + 1};
        if (r != triple_read::ok) break;
        if (run < max_pairs) {
            store(run, it);
            cache.loaded = run + 1;
            cache.parsed_to = static_cast<std::size_t>(p - cache.text.data());
        }
        if (it.p1 != 1) break;
        ++run;
    }
    std::int64_t n = run + 1;
    if (n < 2) return {problem::too_few, n};
    if (n > max_points) return {problem::too_many, n};
    const outcome o = load_up_to(n * (n - 1) / 2);
    if (o.what == problem::none) cache.points = static_cast<std::int32_t>(n);
    return o;
}

// ------------------------------------------------------------------ the file itself

bool same_time(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool same_version(const file_version& a, const file_version& b) {
    return a.dev == b.dev && a.ino == b.ino && a.size == b.size && same_time(a.mtime, b.mtime) &&
           same_time(a.ctime, b.ctime);
}

std::int64_t nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Reads the open file `fd` into cache.text, at most max_text bytes of it; false on a read
// error or when there is no memory for it. Of a longer file, the text ends at the last
// whitespace within the limit, so that no number is cut in two.
bool read_all(int fd, off_t size_hint) {
    std::vector<char>& text = cache.text;
    try {
        text.resize(std::min<std::size_t>(static_cast<std::size_t>(size_hint), max_text) + 1);
        std::size_t used = 0;
        for (;;) {
            if (used == text.size()) {
                if (used > max_text) break;
                text.resize(std::min(text.size() * 2 + 4096, max_text + 1));
            }
            ssize_t n = ::read(fd, text.data() + used, text.size() - used);
            if (n < 0) return false;
            if (n == 0) break;
            used += static_cast<std::size_t>(n);
        }
        if (used > max_text) {
            used = max_text;
            while (used > 0 && !is_space(text[used - 1])) --used;
        }
        text.resize(used);
    } catch (const std::bad_alloc&) {
        text.clear();
        return false;
    }
    return true;
}

// Opens the file, and reads and parses it again unless it is the version already held.
outcome reread(const std::string& path) {
    cache.valid = false;
    if (path.find('\0') != std::string::npos) return {problem::access, 0};
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {problem::access, 0};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    struct stat st {};
    // Only a regular file can be read again from its start: directories, pipes and
    // devices are refused like a file that cannot be opened.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {problem::access, 0};
    }
    file_version seen{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    const bool known = cache.path == path && cache.points != 0 && !cache.unsure &&
                       same_version(seen, cache.version);
    if (!known) cache.points = 0; // whatever happens next, the text held is not that version
    if (!known && !read_all(fd, st.st_size)) {
        ::close(fd);
        return {problem::access, 0};
    }
    ::close(fd);
    if (!known) {
        cache.path = path;
        cache.version = seen;
        cache.unsure = nanoseconds(seen.ctime) >= nanoseconds(now) - stamp_window_ns;
        outcome o = parse_version();
        if (o.what != problem::none) return o;
    }
    cache.valid = true;
    return {};
}

// ------------------------------------------------------------------ when to look

// Reads the processor's time-stamp counter where there is one (a few cycles, where the
// system clock costs as much as a short iteration); 0 elsewhere.
std::uint64_t ticks() {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return 0;
#endif
}

// Returns whether check_interval has passed since the last look, and if so starts a new
// one. The clock is read only once the counter says a quarter of the interval may have
// passed since it was last read; until the counter's rate is learnt, at every call.
bool look_due() {
    look_timer& t = timer;
    const std::uint64_t now_ticks = ticks();
    if (t.quarter_ticks != 0 && now_ticks - t.clock_ticks < t.quarter_ticks) return false;
    const steady::time_point now = steady::now();
    t.clock_ticks = now_ticks;
    if (t.quarter_ticks == 0) {
        if (t.origin == steady::time_point{}) {
            t.origin = now;
            t.origin_ticks = now_ticks;
        } else if (now - t.origin >= std::chrono::milliseconds(2)) {
            const double ns = std::chrono::duration<double, std::nano>(now - t.origin).count();
            const double per_ns = static_cast<double>(now_ticks - t.origin_ticks) / ns;
            const double interval_ns =
                std::chrono::duration<double, std::nano>(check_interval).count();
            t.quarter_ticks = static_cast<std::uint64_t>(per_ns * interval_ns / 4);
        }
    }
    if (now - t.checked < check_interval) return false;
    t.checked = now;
    return true;
}

// Brings the cache up to date with the file when it is due for a look.
outcome refresh(const std::string& path) {
    const bool due = look_due();
    if (cache.valid && !due && cache.path == path) return {};
    return reread(path);
}

// Prints the line that explains `o`.
void report(const outcome& o, trace& out) {
    switch (o.what) {
    case problem::none:
        return;
    case problem::access:
        trace_text(out, "Erro no acesso ao ficheiro dos dados\n");
        return;
    case problem::too_few:
        trace_text(out, "Erro no ficheiro dos dados: sao precisos pelo menos 2 pontos\n");
        return;
    case problem::too_many:
        trace_text(out, "Erro no ficheiro dos dados: ");
        trace_int(out, o.detail);
        trace_text(out, " pontos excedem o maximo de 2000\n");
        return;
    case problem::triple:
        trace_text(out, "Erro no ficheiro dos dados: triplo ");
        trace_int(out, o.detail);
        trace_text(out, " em falta ou mal formado\n");
        return;
    }
}

// Prints the count line for a usable version and returns P, or prints why it is not.
std::int64_t report_count(const outcome& o, trace& out) {
    if (o.what != problem::none) {
        report(o, out);
        return -1;
    }
    max = cache.points;
    trace_text(out, "nr pontos: ");
    trace_int(out, max);
    trace_text(out, "\n");
    return static_cast<std::int64_t>(max) * (max - 1) / 2;
}

} // namespace

// ------------------------------------------------------------------ operations

std::int64_t init_dados(const std::string& path, trace& out) {
    return report_count(refresh(path), out);
}

std::int64_t init_dados_from_text(std::string_view text, trace& out) {
    cache.text.assign(text.begin(), text.end());
    cache.path.clear(); // the next init_dados reads its file afresh
    cache.valid = false;
    cache.points = 0;
    const outcome o = parse_version();
    return report_count(o, out);
}

bool guardaEstrutura(const std::string& path, std::int32_t count, trace& out) {
    outcome o = refresh(path);
    // The file may have changed since init_dados counted it: the caller's count holds.
    if (o.what == problem::none && count > cache.loaded) o = load_up_to(count);
    if (o.what != problem::none) {
        cache.valid = false;
        report(o, out);
        return false;
    }
    return true;
}
