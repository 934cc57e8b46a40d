// The distance file and what is read from it: the point count `max` and the pair table
// `myItems`. The file lists every pair (i, j), 1 <= i < j <= N, once, as a whitespace-
// separated triple "i j distance", ordered by i and then j; N is taken from the length of
// the run of triples that start with point 1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The most points a file may have. The trace's text room (iteration_room in lines.hpp)
// counts on point numbers of four digits at most.
inline constexpr std::int32_t max_points = 2000;
static_assert(max_points < 10'000, "an iteration's text room counts four digits a point");
inline constexpr std::int32_t max_pairs = max_points * (max_points - 1) / 2;

// The distances of the file's pairs, row by row: the pairs (a, a+1) .. (a, N) of each
// point a, in file order, then one +0.0 that ends the row, so that a sum can run past a
// row's end without changing. Only the distances are kept: nothing reads the point
// numbers of a triple once the count is known.
struct pair_table {
    float dist[max_pairs + max_points];
};

// Returns the place in the pair table of the pair (a, b), 1 <= a < b <= n + 1, for a file
// of n points; b = n + 1 is the end of a's row.
inline std::int64_t pair_index(std::int32_t a, std::int32_t b, std::int32_t n) {
    // Before a's row come the rows of every point t < a, of n - t pairs and an end each.
    const std::int64_t before =
        static_cast<std::int64_t>(a - 1) * (n + 1) - static_cast<std::int64_t>(a) * (a - 1) / 2;
    return before + (b - a - 1);
}

// Number of points N in the distance file; written by every init_dados.
extern std::int32_t max;
// The file's pairs; those of the version last counted by init_dados.
extern pair_table myItems;

// Why a distance file cannot be used; `detail` is the point count (too_few, too_many) or
// the 1-based number of the triple that is missing or malformed (triple).
enum class file_problem { none, access, too_few, too_many, triple };
struct file_error {
    file_problem what = file_problem::none;
    std::int64_t detail = 0;
};

// Counts the points of the file named `path`, stores N in `max`, makes its pairs current
// in myItems and returns the pair count P = N(N-1)/2. When the file cannot be used
// (unreadable, fewer than 2 or more than 2000 points, or a missing or malformed triple
// among its first P) it returns -1 and says why in `why`.
// The file is looked at again when half a millisecond has passed since the last look.
// Once a usable version has been counted, a version that cannot be used is taken for a
// write in progress: the call waits, looking every few milliseconds, until the file is
// usable again or has not changed for a second; a file that cannot be opened ends it.
std::int64_t init_dados(const std::string& path, file_error& why);

// Reads `text` as init_dados reads the content of a file, and returns the same. For tests
// and fuzzing.
std::int64_t init_dados_from_text(std::string_view text, file_error& why);

// Confirms that the version last counted by init_dados holds `count` readable triples
// (all of them in myItems when count <= P); false, with the reason in `why`, when not.
bool guardaEstrutura(const std::string& path, std::int32_t count, file_error& why);

// Sets the function called, on the thread that calls init_dados, just before myItems is
// rewritten with a new version; it must return only when nothing reads myItems any more.
void set_table_guard(void (*before_rewrite)());

// ------------------------------------------------------------------ for tests

// Makes the next init_dados look at the file, however little time has passed.
void look_at_file_next();

// The clock, in nanoseconds, that times looks, settling and waits; nullptr restores
// std::chrono::steady_clock.
using file_clock = std::int64_t (*)();
void set_file_clock(file_clock now);

// How many versions of a file have been parsed since the program started.
std::int64_t file_parses();

// Lowers the most of a file that is read (0 restores 256 MiB).
void set_read_limit(std::size_t bytes);
