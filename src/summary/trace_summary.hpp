// Reading a trace back: one pass over the program's standard output, in constant memory,
// into figures per subset size and the best subset with its points. The trace's grammar
// is strict: every line must be one the program writes, scores included.
#pragma once

#include <cstdio>
#include <string>

#include "summary/figures.hpp"

namespace subset {

// Reads the trace in `in` (a file, or standard input) into `f`. When the text is not a
// trace, `problem` says where ("linha N: ..."). The figures, the status and the problem
// depend on the bytes alone, never on the options. Allocates; throws only std::bad_alloc.
trace_read read_trace(std::FILE* in, trace_figures& f, std::string& problem,
                      const read_options& options = {});

// Prints the figures as a table, with the best subset and how the trace ended.
void print_table(std::FILE* out, const trace_figures& f);

// Prints the figures per subset size as CSV, with a header line.
void print_csv(std::FILE* out, const trace_figures& f);

} // namespace subset
