// Output block of the program: formatting helpers and the write-out.
#include "trace.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ostream>

bool trace_flush(trace& t) {
    if (t.out == nullptr) std::abort(); // a collecting trace overflowed: a bug in its owner
    if (!t.failed) {
        t.out->write(t.buf, static_cast<std::streamsize>(t.used));
        t.out->flush();
        if (!*t.out) t.failed = true;
    }
    t.used = 0;
    return !t.failed;
}

void trace_text_long(trace& t, std::string_view s) {
    while (!s.empty()) {
        if (t.used == sizeof t.buf) trace_flush(t);
        std::size_t n = std::min(s.size(), sizeof t.buf - t.used);
        std::memcpy(t.buf + t.used, s.data(), n);
        t.used += n;
        s.remove_prefix(n);
    }
}

void trace_int(trace& t, std::int64_t v) {
    trace_reserve(t, 24);
    char* end = t.buf + sizeof t.buf;
    t.used = static_cast<std::size_t>(std::to_chars(t.buf + t.used, end, v).ptr - t.buf);
}

void trace_fixed6(trace& t, double v) {
    // printf spells a NaN "nan" or "-nan" by its sign bit; keep that spelling exactly.
    if (std::isnan(v)) {
        trace_text(t, std::signbit(v) ? "-nan" : "nan");
        return;
    }
    // The largest finite double needs 309 digits before the point.
    trace_reserve(t, 330);
    char* end = t.buf + sizeof t.buf;
    auto r = std::to_chars(t.buf + t.used, end, v, std::chars_format::fixed, 6);
    t.used = static_cast<std::size_t>(r.ptr - t.buf);
}
