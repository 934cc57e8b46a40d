// Subset drawing. A point's availability is one table lookup, and an attempt has no
// branch on it, which no predictor could guess.
#include "search/draw.hpp"

#include <algorithm>

#include "check.hpp"

namespace subset {

namespace {

__extension__ using u128 = unsigned __int128;

// The constant that makes a remainder by `divisor` a multiplication (Lemire's method,
// exact for every 32-bit number and divisor): see remainder.
std::uint64_t remainder_constant(std::uint32_t divisor) {
    return UINT64_MAX / divisor + 1;
}

// `number` mod `divisor`, given the divisor's constant.
std::uint32_t remainder(std::uint32_t number, std::uint32_t divisor, std::uint64_t constant) {
    return static_cast<std::uint32_t>((static_cast<u128>(constant * number) * divisor) >> 64);
}

} // namespace

std::int32_t give_rand(std::int32_t a, std::int32_t b, random_stream& rnd) {
    return a + next_value(rnd) % (b - a + 1); // NOLINT(clang-analyzer-core.DivideZero): a <= b
}

std::int32_t draw_subset(draw_state& d, std::int32_t n, random_stream& rnd, std::int32_t* chosen) {
    SUBSET_CHECK(n >= 2 && n <= max_points);
    if (++d.stamp == 0) { // after 2^32 iterations: start the stamps again
        std::fill(std::begin(d.taken), std::end(d.taken), 0U);
        d.stamp = 1;
    }
    const std::uint32_t stamp = d.stamp;
    std::uint32_t* taken = d.taken;
    taken[n + 1] = stamp; // the value n + 1 is never a point: it reads as taken
    if (d.n != n) {       // a division each, so only when N changes
        d.n = n;
        d.by_sizes = remainder_constant(static_cast<std::uint32_t>(n) - 1);
        d.by_points = remainder_constant(static_cast<std::uint32_t>(n) + 1);
    }
    // K = give_rand(2, n): 2 + the next value mod (n - 1).
    const auto size =
        static_cast<std::int32_t>(2 + remainder(static_cast<std::uint32_t>(next_value(rnd)),
                                                static_cast<std::uint32_t>(n) - 1, d.by_sizes));

    const std::uint32_t divisor = static_cast<std::uint32_t>(n) + 1;
    const std::uint64_t inverse = d.by_points;
    auto attempt = [&](std::int32_t count, std::uint32_t number) {
        const auto value = static_cast<std::int32_t>(remainder(number, divisor, inverse)) + 1;
        chosen[count] = value;
        count += taken[value] != stamp;
        taken[value] = stamp;
        return count;
    };
    std::int32_t count = 0;
    if (rnd.source != nullptr) {
        while (count < size) count = attempt(count, static_cast<std::uint32_t>(rnd.source()));
        return size;
    }
    // The block position in a register: kept in `rnd`, it would be stored and loaded
    // again around every store to the lists.
    int next = rnd.next;
    while (count < size) {
        if (next == random_block) {
            refill(rnd);
            next = 0;
        }
        count = attempt(count, rnd.ring[31 + next++] >> 1);
    }
    rnd.next = next;
    return size;
}

} // namespace subset
