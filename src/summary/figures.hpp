// What reading a trace gives: the figures per subset size and the best subset, how the
// reading went, and how it takes its input. Types only, shared by the reader's parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace subset {

// Scores of the iterations of one subset size. Scores that are not numbers are counted
// in `iterations` only; the mean, lowest and highest are over the numbers.
struct size_figures {
    std::int64_t iterations = 0;
    std::int64_t numbers = 0;     // iterations whose score is a number
    double sum = 0;               // of those scores
    double lowest = 0;            // the lowest of them
    double highest = 0;           // the highest of them
    std::int64_t highest_at = -1; // the first iteration that scored `highest`
};

struct trace_figures {
    std::int32_t points = 0;     // N of the first count line
    std::int64_t iterations = 0; // whole iterations read
    // The point counts the iterations printed, in the order first seen, and how many
    // iterations printed each: more than one when the file changed during the run.
    std::vector<std::pair<std::int32_t, std::int64_t>> counts;
    std::vector<size_figures> by_size; // entry K: subsets of K points
    // The run's best score and its size: those of its final line, when the trace has one
    // that reads as the program writes it; else the best as the program keeps it (only a
    // strictly greater score wins), as far as the printed six decimals tell: of two scores
    // printed alike, the first is taken.
    double best = 0;
    std::int32_t best_size = 0; // its size (0: no score above 0)
    // The first iteration that printed that size and score and could have been the best
    // (-1: none did, as in a final line that no iteration bears out), and its points,
    // sorted, as the trace prints them ("" when they were not kept: see grammar.hpp).
    std::int64_t best_at = -1;
    std::string best_points;
    std::string error;     // the error line that ended the run, if any
    bool finished = false; // the trace ends with its final line
    // When the trace stops anywhere but after a whole final or error line (a run that was
    // killed or interrupted, a copy cut short): the line where it stops, from 1.
    std::int64_t cut_at = 0;
};

// How reading a trace went, and the exit status of trace_summary for it.
enum class trace_read {
    whole = 0,      // a trace as the program ends one: its final line, or an error line
    not_trace = 1,  // not a trace, or nothing at all (`problem` says why)
    incomplete = 3, // a trace that stops early: summarised up to its last whole iteration
};

// No line of a trace is longer than this (a sorted list of 65,536 points takes 393,212
// bytes): a longer one, with or without its line end, is refused as too long.
inline constexpr std::size_t longest_line = std::size_t{1} << 20;

// How read_trace takes its input. The defaults are trace_summary's; tests set the others
// to reach every path.
struct read_options {
    std::size_t block = std::size_t{1} << 20; // bytes asked of the input at a time (1 or more)
    bool reading_thread = true;               // a regular file: read ahead on a second thread too
    bool whole_iterations = true; // take ordinary iterations whole; else each line on its own
};

} // namespace subset
