// The processor's features, asked of it once.
#include "search/cpu.hpp"

namespace subset {

bool avx512_available() {
    static const bool available =
        __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("popcnt") != 0;
    return available;
}

} // namespace subset
