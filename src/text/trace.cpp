// Output block of the program.
#include "text/trace.hpp"

#include <cstring>
#include <ostream>

#include "base/check.hpp"

namespace subset {

void trace_start(trace& t, std::ostream* out) {
    t.out = out;
    t.failed = false;
    t.used = 0;
}

bool trace_flush(trace& t) {
    if (!t.failed) {
        t.out->write(t.buf, static_cast<std::streamsize>(t.used));
        t.out->flush();
        if (!*t.out) t.failed = true;
    }
    t.used = 0;
    return !t.failed;
}

char* trace_room(trace& t, std::size_t n) {
    SUBSET_CHECK(n <= sizeof t.buf);
    if (t.used + n > sizeof t.buf) trace_flush(t);
    return t.buf + t.used;
}

void trace_commit(trace& t, const char* end) {
    SUBSET_CHECK(end >= t.buf + t.used && end <= t.buf + sizeof t.buf);
    t.used = static_cast<std::size_t>(end - t.buf);
}

void trace_write(trace& t, std::string_view text) {
    if (text.size() <= sizeof t.buf - t.used) {
        std::memcpy(t.buf + t.used, text.data(), text.size());
        t.used += text.size();
        return;
    }
    trace_flush(t);
    if (t.failed) return;
    if (text.size() < sizeof t.buf) {
        std::memcpy(t.buf, text.data(), text.size());
        t.used = text.size();
        return;
    }
    t.out->write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!*t.out) t.failed = true;
}

} // namespace subset
