// Subset drawing. A point's availability is one table lookup, and an attempt has no
// branch on it, which no predictor could guess.
#include "search/draw.hpp"

#include <immintrin.h>

#include <algorithm>

#include "check.hpp"
#include "search/cpu.hpp"

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

// The block's points one value at a time, by the remainder above.
void points_one_by_one(const std::uint32_t* values, std::uint32_t divisor, std::uint32_t* points) {
    const std::uint64_t constant = remainder_constant(divisor);
    for (int i = 0; i < random_block; ++i)
        points[i] = remainder(values[i] >> 1, divisor, constant) + 1;
}

// The block's points sixteen at a time. A value v (below 2^31) times 1/d in doubles is
// within 2^-21 of v/d, and v/d is at least 1/d (over 2^-17) short of the next whole
// number: so the truncated product is the quotient, or one less when v/d is whole or just
// above. v - q d is then the remainder, or the remainder plus d, and one unsigned minimum
// with itself minus d (which wraps round when it is below d) settles it.
// GCC 12 takes the unset lanes its own conversion intrinsics start from for unset
// variables (its bug 105593); nothing here reads an unset lane.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
__attribute__((target("avx512f"))) void points_wide(const std::uint32_t* values,
                                                    std::uint32_t divisor, std::uint32_t* points) {
    const __m512d inverse = _mm512_set1_pd(1.0 / divisor);
    const __m512i d = _mm512_set1_epi32(static_cast<int>(divisor));
    const __m512i one = _mm512_set1_epi32(1);
    for (int i = 0; i < random_block; i += 16) {
        const __m512i v = _mm512_srli_epi32(_mm512_loadu_si512(values + i), 1);
        const __m256i low = _mm512_cvttpd_epi32(
            _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_castsi512_si256(v)), inverse));
        const __m256i high = _mm512_cvttpd_epi32(
            _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(v, 1)), inverse));
        const __m512i q = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
        const __m512i r = _mm512_sub_epi32(v, _mm512_mullo_epi32(q, d));
        const __m512i p = _mm512_add_epi32(_mm512_min_epu32(r, _mm512_sub_epi32(r, d)), one);
        _mm512_storeu_si512(points + i, p);
    }
}
#pragma GCC diagnostic pop

// Works out the points of the block `rnd` hands out for attempts among divisor - 1 points.
void make_points(random_stream& rnd, std::uint32_t divisor) {
    block_points(rnd.ring + 31, divisor, rnd.point, avx512_available());
    rnd.points_of = divisor;
}

} // namespace

void block_points(const std::uint32_t* values, std::uint32_t divisor, std::uint32_t* points,
                  bool wide) {
    SUBSET_CHECK(divisor >= 3 && divisor <= max_points + 1 && (!wide || avx512_available()));
    if (wide) {
        points_wide(values, divisor, points);
    } else {
        points_one_by_one(values, divisor, points);
    }
}

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
    if (rnd.points_of != divisor) make_points(rnd, divisor);
    int next = rnd.next;
    while (count < size) {
        if (next == random_block) {
            refill(rnd);
            make_points(rnd, divisor);
            next = 0;
        }
        count = attempt(count, rnd.point[next++]);
    }
    rnd.next = next;
    return size;
}

} // namespace subset
