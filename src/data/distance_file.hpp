// The distance data of one run under the system's own names: `init_dados` counts the
// points and fixes the version that the iteration uses, `max` is its N and `myItems` its
// pair table; `guardaEstrutura` confirms that the pairs asked for are there. The file is
// watched, not reread: see watcher.hpp.
#pragma once

#include <cstdint>
#include <string>

#include "data/version.hpp"
#include "data/watcher.hpp"

namespace subset {

// Written by init_dados only.
struct distance_data {
    file_watch watch;     // the distance file
    version_ptr myItems;  // the version the current iteration uses: its pair table
    std::int32_t max = 0; // that version's N
};

// Starts the distance data of a run on the file `path`.
void distance_start(distance_data& d, std::string path, watch_settings settings = {});

// Counts the points of the file as it is now: makes that version current in `myItems`,
// stores its N in `max` and returns the pair count P = N(N-1)/2. When the file cannot be
// used (unreadable, fewer than 2 or more than max_points points, or a missing or
// malformed triple among its first P) it returns -1, says why in `why`, and leaves
// `myItems` empty. `iterations`: how many were drawn since the last count (see
// watch_version), which paces the looks at the file.
std::int64_t init_dados(distance_data& d, file_error& why, std::int64_t iterations = 1);

// Confirms that the version counted last holds `count` triples; false, with the missing
// triple in `why`, when it holds fewer.
bool guardaEstrutura(const distance_data& d, std::int32_t count, file_error& why);

} // namespace subset
