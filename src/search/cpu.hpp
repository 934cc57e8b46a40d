// What this machine's processor can do, checked once at run time: the paths that need
// AVX-512 are built beside the portable ones and taken only where it is there.
#pragma once

namespace subset {

// Whether the processor has AVX-512F (and POPCNT, which every such processor has).
bool avx512_available();

} // namespace subset
