// The distance file and what is read from it: the point count `max` and the pair table
// `myItems`. The file lists every pair (i, j), 1 <= i < j <= N, once, as a whitespace-
// separated triple "i j distance", ordered by i and then j; N is taken from the length of
// the run of triples that start with point 1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "trace.hpp"

// One pair of the distance file, fields in file order.
struct item {
    std::int32_t p1; // first point number
    std::int32_t p2; // second point number
    float dist;      // distance between them
};

// The iteration lists hold at most this many points, so no larger file can be searched.
inline constexpr std::int32_t max_points = 2000;
inline constexpr std::int32_t max_pairs = max_points * (max_points - 1) / 2;

// The pairs of the distance file in file order, a column per field: entry i of each
// column comes from the i-th triple, from 0. Field by field, so that the distances, all
// that the score reads, lie next to each other.
struct pair_table {
    std::int32_t p1[max_pairs];
    std::int32_t p2[max_pairs];
    float dist[max_pairs];
};

// Number of points N in the distance file; written by every init_dados.
extern std::int32_t max;
// The file's pairs; the first P entries are current after guardaEstrutura.
extern pair_table myItems;

// Counts the points of the file named `path`, stores N in `max`, prints "nr pontos: N"
// and returns the pair count P = N(N-1)/2. When the file cannot be used (unreadable,
// fewer than 2 or more than 2000 points, or a missing or malformed triple among its
// first P) it prints the one line that says why instead and returns -1.
// The file is looked at again when half a millisecond has passed since the last look.
// Once a usable version has been counted, a version that cannot be used is taken for a
// write in progress: the call waits, looking every few milliseconds, until the file is
// usable again or has not changed for a second; a file that cannot be opened ends it.
std::int64_t init_dados(const std::string& path, trace& out);

// Reads `text` as init_dados reads the content of a file, and prints and returns the same;
// the pairs of usable text are in myItems. For tests and fuzzing.
std::int64_t init_dados_from_text(std::string_view text, trace& out);

// Makes the first `count` triples of the file named `path` current in `myItems`
// (count <= max_pairs), from the version that the last init_dados counted. Returns false
// after printing why when the file cannot be used or that version holds fewer than
// `count` readable triples.
bool guardaEstrutura(const std::string& path, std::int32_t count, trace& out);

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
