// Reading a trace back: one pass over the program's standard output, in constant memory,
// into figures per subset size and the best subset with its points.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace subset {

// Scores of the iterations of one subset size. Scores that are not numbers are counted
// in `iterations` only.
struct size_figures {
    std::int64_t iterations = 0;
    std::int64_t numbers = 0;     // iterations whose score is a number
    double sum = 0;               // of those scores
    double lowest = 0;            // the lowest of them
    double highest = 0;           // the highest of them
    std::int64_t highest_at = -1; // the first iteration that scored `highest`
};

struct trace_figures {
    std::int32_t points = 0;           // N of the first count line
    std::int64_t iterations = 0;       // whole iterations read
    std::vector<size_figures> by_size; // entry K: subsets of K points
    // The best score as the program keeps it (only a strictly greater one wins), as far as
    // the printed six decimals tell: of two scores printed alike, the first is taken.
    double best = 0;
    std::int32_t best_size = 0; // its size (0: no score above 0)
    std::int64_t best_at = -1;  // the iteration that first printed it
    std::string best_points;    // its points, sorted, as the trace prints them
    std::string error;          // the error line that ended the run, if any
    bool finished = false;      // the trace ends with its final line
};

// Reads the trace in `in` (a file, or standard input) into `f`. Returns false when the
// text is not a trace, with `problem` saying where ("linha N: ...").
bool read_trace(std::FILE* in, trace_figures& f, std::string& problem);

// Prints the figures as a table, with the best subset and how the trace ended.
void print_table(std::FILE* out, const trace_figures& f);

// Prints the figures per subset size as CSV, with a header line.
void print_csv(std::FILE* out, const trace_figures& f);

} // namespace subset
