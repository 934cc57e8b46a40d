// The program's standard-output text, gathered in one fixed block and written out in
// large pieces. Every line the program prints goes through here; a failed write is
// remembered so the run can stop instead of reporting success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <string_view>

// A trace with no stream only collects text; whoever fills it keeps it below its size.
struct trace {
    std::ostream* out = nullptr; // where full blocks go; set once by the caller
    bool failed = false;         // a write to `out` failed; set by trace_flush
    std::size_t used = 0;        // bytes of `buf` waiting to be written
    char buf[1 << 16];           // pending text
};

// Starts `t` afresh, empty and with no failure, writing to `out`.
inline void trace_start(trace& t, std::ostream* out) {
    t.out = out;
    t.failed = false;
    t.used = 0;
}

// Writes the pending text and flushes `out`; returns false (and sets `failed`) when
// the stream reports an error.
bool trace_flush(trace& t);

// Makes sure `n` more bytes (n <= sizeof buf) fit, writing the block out if needed.
inline void trace_reserve(trace& t, std::size_t n) {
    if (t.used + n > sizeof t.buf) trace_flush(t);
}

// Appends text of any length, writing out full blocks.
void trace_text_long(trace& t, std::string_view s);

// Appends text of any length.
inline void trace_text(trace& t, std::string_view s) {
    if (s.size() > sizeof t.buf - t.used) return trace_text_long(t, s);
    std::memcpy(t.buf + t.used, s.data(), s.size());
    t.used += s.size();
}

// Appends `v` in decimal, as "%d" prints it.
void trace_int(trace& t, std::int64_t v);

// Appends `v` with six decimals, as "%f" prints it (including "inf", "-nan" and the like).
void trace_fixed6(trace& t, double v);
