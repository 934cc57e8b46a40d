// Subset drawing. A point's availability is one table lookup, and an attempt has no
// branch on it, which no predictor could guess.
#include "search/draw.hpp"

#include <algorithm>

#include "base/check.hpp"
#include "search/remainder.hpp"

namespace subset {

namespace {

// Works out the points of the block `rnd` hands out for attempts among divisor - 1 points.
void make_points(random_stream& rnd, std::uint32_t divisor, const kernel_table& k) {
    SUBSET_CHECK(divisor >= 3 && divisor <= max_points + 1);
    k.block_points(rnd.ring + 31, divisor, rnd.point);
    rnd.points_of = divisor;
}

} // namespace

std::int32_t give_rand(std::int32_t a, std::int32_t b, random_stream& rnd, std::uint64_t constant) {
    return a +
           static_cast<std::int32_t>(remainder(static_cast<std::uint32_t>(next_value(rnd)),
                                               static_cast<std::uint32_t>(b - a + 1), constant));
}

std::int32_t draw_subset(draw_state& d, std::int32_t n, random_stream& rnd, std::int32_t* chosen,
                         const kernel_table& k) {
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
    const std::int32_t size = give_rand(2, n, rnd, d.by_sizes);

    const std::uint32_t divisor = static_cast<std::uint32_t>(n) + 1;
    const std::uint64_t inverse = d.by_points;
    auto attempt = [&](std::int32_t count, std::uint32_t point) {
        const auto value = static_cast<std::int32_t>(point);
        chosen[count] = value;
        count += taken[value] != stamp;
        taken[value] = stamp;
        return count;
    };
    std::int32_t count = 0;
    if (rnd.source != nullptr) {
        while (count < size)
            count = attempt(
                count, remainder(static_cast<std::uint32_t>(rnd.source()), divisor, inverse) + 1);
        return size;
    }
    // Each attempt takes its point ready-made: the block's remainders are worked out
    // together, so that none waits on a multiplication here. The block position is kept in
    // a register: kept in `rnd`, it would be stored and loaded again around every store to
    // the lists.
    if (rnd.points_of != divisor) make_points(rnd, divisor, k);
    int next = rnd.next;
    while (count < size) {
        if (next == random_block) {
            refill(rnd);
            make_points(rnd, divisor, k);
            next = 0;
        }
        count = attempt(count, rnd.point[next++]);
    }
    rnd.next = next;
    return size;
}

} // namespace subset
