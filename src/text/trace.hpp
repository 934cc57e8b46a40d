// The program's standard output, gathered in one fixed block and written out in large
// pieces. A failed write is remembered so the run can stop instead of reporting success.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string_view>

namespace subset {

struct trace {
    std::ostream* out = nullptr;   // where the text goes; set once by trace_start
    bool failed = false;           // a write to `out` failed; set by trace_flush
    std::size_t used = 0;          // bytes of `buf` waiting to be written
    alignas(64) char buf[1 << 16]; // pending text, on a cache line (see aligned.hpp)
};

// Starts `t` afresh, empty and with no failure, writing to `out`.
void trace_start(trace& t, std::ostream* out);

// Writes the pending text and flushes `out`; returns false (and sets `failed`) when
// the stream reports an error.
bool trace_flush(trace& t);

// Returns where `n` more bytes (n <= sizeof buf) may be written, writing the pending text
// out first if they would not fit; trace_commit then takes what was written.
char* trace_room(trace& t, std::size_t n);
void trace_commit(trace& t, const char* end);

// Writes `text` after the pending text, without copying it into the block when it is long.
void trace_write(trace& t, std::string_view text);

} // namespace subset
