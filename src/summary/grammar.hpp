// The trace's grammar, one line at a time: what each line must be after the one before,
// and what a whole iteration adds to the figures. Every line that the whole-iteration
// path does not take is taken here, so this is the one definition of what a trace is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "summary/figures.hpp"
#include "text/lines.hpp"

namespace subset {

// What the next line must be.
enum class expect {
    prompt,
    count_or_end,
    blank,
    title,
    drawn,
    size,
    sorted,
    pairs,
    result,
    nothing
};

// The lines of an iteration of k points that depend on k alone, as the program writes
// them: "Nr pontos aleatorios: K\n", "K - Q \n" and "Distancia media para K pontos,
// iteracao " (then the iteration's number).
struct size_lines {
    char size[32];
    char pairs[32];
    char result[48];
    std::uint8_t size_length = 0; // 0: not made yet
    std::uint8_t pairs_length = 0;
    std::uint8_t result_length = 0;
};

// Sizes whose lines are kept once made; a larger size's lines are made each time (its
// point lines are thousands of bytes).
inline constexpr std::int32_t kept_sizes = 1024;

// The iterations that could be the run's best: those that printed the highest score seen
// so far that is not below +0, the first of each size, with their points. The final line
// says which size the run kept; the printed six decimals alone cannot tell apart two
// scores that print alike. Begun again when a higher score is printed.
struct top_iteration {
    std::int32_t size = 0;
    std::int64_t at = 0; // its number
    std::string points;  // sorted, as printed; kept while within top_points_bytes
    bool kept = false;   // whether `points` holds them
};
struct top_iterations {
    bool any = false;                 // a score not below +0 was printed
    double score = 0;                 // the highest of them
    std::vector<top_iteration> first; // the first to print it, of each size
    std::vector<bool> has_size;       // by size: whether `first` holds one of it
    std::size_t bytes = 0;            // of points kept in `first`
};
// Points kept for the iterations at the top, at most: more only when hundreds of sizes
// print the very same highest score (a file of zeros), whose points then go unkept.
inline constexpr std::size_t top_points_bytes = std::size_t{16} << 20;

// The reading state. The figures and the problem are the caller's; everything else is
// written by take_line and take_iteration only.
struct reader {
    trace_figures& f;
    std::string& problem;
    std::int64_t line_number = 0; // lines taken
    expect next = expect::prompt;
    std::int32_t size = 0;        // K of the iteration being read
    std::int32_t n = 0;           // N its count line printed
    std::int64_t count_index = 0; // that N's entry in f.counts
    std::string sorted;           // its sorted points, line by line
    decimal number{};             // the text of f.iterations, the next iteration's number
    // For whole iterations: the count line of N, the empty line and the title, as one text
    // (with room to be read 16 bytes at a time).
    char head[80] = {};
    std::uint8_t head_length = 0;
    std::vector<size_lines> lines = std::vector<size_lines>(kept_sizes);
    top_iterations top; // the iterations the final line may name as the best

    reader(trace_figures& figures, std::string& problem_text) : f(figures), problem(problem_text) {
        number = decimal_of(0);
    }

    // Records `what` as the problem at the current line; returns false.
    bool fail(const std::string& what);
};

// Makes N the count of the iterations that follow: r.n, and what they start with.
void set_count(reader& r, std::int32_t n);

// Takes one line (without its line end) of the trace; false when it is out of place,
// with the problem recorded.
bool take_line(reader& r, std::string_view line);

// Adds an iteration of r.size points that scored `score`, its sorted points being
// `sorted` (without the last space), to the figures; the next line is a count or the end.
void count_result(reader& r, double score, std::string_view sorted);

// The lines of an iteration of k points (2 <= k <= max_points), made into `spare` when
// k is not kept.
const size_lines& lines_of(reader& r, std::int32_t k, size_lines& spare);

} // namespace subset
