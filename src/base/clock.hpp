// The monotonic clock the program keeps time by, in nanoseconds: the screen's progress and
// the file's watch read it, unless a test scripts another. Does not allocate or throw.
#pragma once

#include <chrono>
#include <cstdint>

namespace subset {

inline std::int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace subset
