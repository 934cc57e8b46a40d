// Remainders by a divisor fixed for many numbers, as two multiplications (Lemire's
// method, exact for every 32-bit number and divisor): the drawing's attempts and sizes.
// Nothing here allocates or throws.
#pragma once

#include <cstdint>

namespace subset {

__extension__ using u128 = unsigned __int128;

// The constant that makes a remainder by `divisor` (1 or more) a multiplication.
inline std::uint64_t remainder_constant(std::uint32_t divisor) {
    return UINT64_MAX / divisor + 1;
}

// `number` mod `divisor`, given the divisor's constant.
inline std::uint32_t remainder(std::uint32_t number, std::uint32_t divisor,
                               std::uint64_t constant) {
    return static_cast<std::uint32_t>((static_cast<u128>(constant * number) * divisor) >> 64);
}

} // namespace subset
