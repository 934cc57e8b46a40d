// The distance file's text turned into a version: a pure function, with no file, clock or
// state behind it. The file lists every pair (i, j), 1 <= i < j <= N, once, as a
// whitespace-separated triple "i j distance", ordered by i and then j; N is taken from the
// length of the run of triples that start with point 1.
#pragma once

#include <string_view>

#include "data/version.hpp"

namespace subset {

// What a text gives: a version, or why it cannot be used (`v` then empty).
struct parsed {
    version_ptr v;
    file_error error;
};

// Returns the version that `text` holds. Refuses a text of fewer than 2 or more than
// max_points points, or with a triple missing or malformed among its first N(N-1)/2.
// Nothing after those triples is read.
parsed parse_distances(std::string_view text);

} // namespace subset
