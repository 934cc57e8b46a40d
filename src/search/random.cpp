// glibc's rand() is its random() with the default 128-byte state: an additive lagged
// Fibonacci generator, r[i] = r[i-3] + r[i-31] (mod 2^32), handing out r[i] >> 1. Its
// seeding fills r[0..30] from the seed by the minimal standard generator, and throws
// away the first 310 values.
#include "search/random.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace subset {

namespace {

// The generator seeded as srand(seed) seeds glibc's: r[0..30] by 16807 * r mod (2^31 - 1),
// computed in 32 bits the way glibc does (Schrage's method, the seed taken as signed);
// r[31..33] copy r[0..2]; values are handed out from r[344] on.
random_stream seeded_stream(unsigned seed) {
    std::uint32_t r[344];
    std::int32_t word = static_cast<std::int32_t>(seed == 0 ? 1u : seed);
    r[0] = static_cast<std::uint32_t>(word);
    for (int i = 1; i < 31; ++i) {
        const long hi = word / 127773;
        const long lo = word % 127773;
        word = static_cast<std::int32_t>(16807 * lo - 2836 * hi);
        if (word < 0) word += 2147483647;
        r[i] = static_cast<std::uint32_t>(word);
    }
    for (int i = 31; i < 34; ++i) r[i] = r[i - 31];
    for (int i = 34; i < 344; ++i) r[i] = r[i - 31] + r[i - 3];
    random_stream s;
    // Where refill looks for the last 31 values made: the end of a block.
    std::memcpy(s.ring + random_block, r + 344 - 31, sizeof(std::uint32_t) * 31);
    return s;
}

} // namespace

void refill(random_stream& s) {
    static_assert(random_block >= 31, "the last 31 values of a block do not overlap the first");
    std::uint32_t* r = s.ring;
    std::memcpy(r, r + random_block, sizeof(std::uint32_t) * 31);
    // Each value depends on the ones 3 and 31 places back. The last three stay in
    // registers: read back from memory, a value just stored would stall the loop.
    std::uint32_t back3 = r[28], back2 = r[29], back1 = r[30];
    for (int i = 31; i < 31 + random_block; ++i) {
        const std::uint32_t v = r[i - 31] + back3;
        r[i] = v;
        back3 = back2;
        back2 = back1;
        back1 = v;
    }
    s.next = 0;
    s.block_at += random_block;
    s.points_of = 0;
}

// ------------------------------------------------------------------ jumps
// The sequence obeys r[i + 31] = r[i + 28] + r[i], so shifting it by one place is
// multiplying by x modulo x^31 - x^28 - 1, with coefficients mod 2^32; r[i + m] is then
// the sum of c[j] r[i + j] over the coefficients c of x^m mod that polynomial.

namespace {

using polynomial = std::array<std::uint32_t, 31>;

// a * b mod (x^31 - x^28 - 1).
polynomial times(const polynomial& a, const polynomial& b) {
    std::uint32_t product[61] = {};
    for (int i = 0; i < 31; ++i)
        for (int j = 0; j < 31; ++j) product[i + j] += a[i] * b[j];
    for (int k = 60; k >= 31; --k) { // x^k = x^(k-3) + x^(k-31)
        product[k - 3] += product[k];
        product[k - 31] += product[k];
    }
    polynomial reduced;
    std::copy_n(product, 31, reduced.begin());
    return reduced;
}

// a * x mod (x^31 - x^28 - 1).
polynomial times_x(const polynomial& a) {
    polynomial shifted{};
    for (int i = 30; i > 0; --i) shifted[i] = a[i - 1];
    shifted[28] += a[30];
    shifted[0] += a[30];
    return shifted;
}

} // namespace

stream_jump jump_of(std::int64_t distance) {
    polynomial power{}, result{};
    power[1] = 1; // x
    result[0] = 1;
    for (std::int64_t rest = distance; rest > 0; rest >>= 1) {
        if ((rest & 1) != 0) result = times(result, power);
        if (rest > 1) power = times(power, power);
    }
    stream_jump j;
    j.distance = distance;
    for (int t = 0; t < 31; ++t) {
        std::copy(result.begin(), result.end(), j.by[t]);
        result = times_x(result);
    }
    return j;
}

random_stream jumped(const random_stream& s, const stream_jump& j) {
    // The 31 values before the next one: the previous block's last ones come first.
    const std::uint32_t* before = s.ring + s.next;
    random_stream out;
    for (int t = 0; t < 31; ++t) {
        std::uint32_t v = 0;
        for (int k = 0; k < 31; ++k) v += j.by[t][k] * before[k];
        out.ring[random_block + t] = v;
    }
    out.block_at = position(s) + j.distance - random_block;
    return out;
}

random_stream stream_of(random_source source) {
    random_stream s;
    s.source = std::move(source);
    return s;
}

random_stream rand_stream(unsigned seed) {
    random_stream made = seeded_stream(seed);
    random_stream check = made;
    std::srand(seed);
    bool same = RAND_MAX == 2147483647;
    for (int i = 0; i < 1000 && same; ++i) same = std::rand() == next_value(check);
    std::srand(seed);
    return same ? made : stream_of([] { return std::rand(); });
}

} // namespace subset
