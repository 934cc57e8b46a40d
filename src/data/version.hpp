// One version of the distance file, as a value: its point count N and its pair table.
// A version never changes once made; whoever holds it (the iteration being drawn, a
// batch being scored) keeps it alive, so a newer version never overwrites a table in use.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace subset {

// The most points a file may have: the largest N whose pair count N(N-1)/2 fits the
// 32-bit signed count that init_dados returns. The trace's text room (iteration_room in
// lines.hpp) counts on point numbers of five digits at most.
inline constexpr std::int32_t max_points = 65'536;
static_assert(std::int64_t{max_points} * (max_points - 1) / 2 <= INT32_MAX &&
                  std::int64_t{max_points + 1} * max_points / 2 > INT32_MAX,
              "the largest N whose pair count is a 32-bit signed number");
static_assert(max_points < 100'000, "an iteration's text room counts five digits a point");

// Returns the place in a version's table of the pair (a, b), 1 <= a < b <= n + 1, for a
// file of n points; b = n + 1 is the end of a's row.
inline std::int64_t pair_index(std::int32_t a, std::int32_t b, std::int32_t n) {
    // Before a's row come the rows of every point t < a, of n - t pairs and an end each.
    const std::int64_t before =
        static_cast<std::int64_t>(a - 1) * (n + 1) - static_cast<std::int64_t>(a) * (a - 1) / 2;
    return before + (b - a - 1);
}

// Entries of the table of a file of n points: its n(n-1)/2 pairs and an end to each of
// the n - 1 rows that hold any.
inline std::size_t table_size(std::int32_t n) {
    return static_cast<std::size_t>(pair_index(n - 1, n + 1, n)) + 1;
}

// The file's pairs, row by row: the distances of (a, a+1) .. (a, N) of each point a, in
// file order, then one +0.0 that ends the row, so that a sum can run past a row's end
// without changing. Only the distances are kept: nothing reads the point numbers of a
// triple once the count is known.
struct version {
    std::int32_t points = 0;       // N
    std::unique_ptr<float[]> dist; // table_size(points) entries, laid out as above
};

using version_ptr = std::shared_ptr<const version>;

// Why a distance file cannot be used; `detail` is the point count (too_few, too_many) or
// the 1-based number of the triple that is missing or malformed (triple); for memory,
// the point count whose table could not be had.
enum class file_problem { none, access, too_few, too_many, triple, memory };
struct file_error {
    file_problem what = file_problem::none;
    std::int64_t detail = 0;
};

} // namespace subset
