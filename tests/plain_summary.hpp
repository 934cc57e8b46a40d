// A trace read the plainest way, kept beside the tests to read every text the trace reader
// reads and to say where the two part: the whole text split into lines, each checked on
// its own. Used by the differential tests and the trace reader's fuzz target (no gtest).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "summary/trace_summary.hpp"

namespace subset {

// Reads `text` as a trace into `f`, with the same status, problem and figures as
// read_trace gives for the same bytes; `problem` is set only when the text is no trace.
trace_read plain_read_trace(std::string_view text, trace_figures& f, std::string& problem);

// "" when `a` and `b` are equal field by field (doubles bit for bit: NaN payloads and
// signs, -0.0), else the first field that differs and its two values.
std::string figures_difference(const trace_figures& a, const trace_figures& b);

// How a text was read: the status, the problem and the figures.
struct trace_reading {
    trace_read read = trace_read::whole;
    std::string problem;
    trace_figures f;
};

// The plain reader's reading of `text`.
trace_reading plain_reading(std::string_view text);

// read_trace's reading of `text`, held in memory, under `options`.
trace_reading product_reading(std::string_view text, const read_options& options);

// "" when two readings are the same, else what differs first: the status, the problem or
// a field of the figures.
std::string reading_difference(const trace_reading& plain, const trace_reading& product);

// "" when read_trace under `options` reads `text` as the plain reader does, else what
// differs.
std::string disagreement(std::string_view text, const read_options& options);

// The options in words, for a failure's message.
std::string options_text(const read_options& options);

// The eight lines (without line ends) of a well-formed iteration `number` on a file of `n`
// points, whose subset is `drawn` in the order drawn, scoring `score` as printed.
std::vector<std::string> iteration_lines(std::int32_t n, std::int64_t number,
                                         const std::vector<std::int32_t>& drawn,
                                         const std::string& score);

// The lines joined, each followed by a line end.
std::string joined(const std::vector<std::string>& lines);

} // namespace subset
