// The search's random numbers: the values of the C library's rand(), either made here
// without its lock and call (glibc's generator, reproduced) or taken from any callable
// that hands them out one by one (another C library, or a test's script).
#pragma once

#include <cstdint>
#include <functional>

namespace subset {

// A source of numbers from 0 to RAND_MAX, called as the search needs them. A value, so
// that it may hold its own state (a test's script and where it stands in it); empty when
// the stream is the reproduced generator's.
using random_source = std::function<int()>;

// Values made at a time by the reproduced generator.
inline constexpr int random_block = 256;

struct random_stream {
    random_source source; // when set, every value is one call of it
    // The reproduced generator (used when `source` is empty): the last 31 values of its
    // sequence r[], then the block being handed out as r[i] >> 1.
    std::uint32_t ring[31 + random_block] = {};
    int next = random_block; // next entry of the block to hand out
    // Position in the sequence of the block's first value (the first value after srand is
    // at 0): the next value handed out is at block_at + next.
    std::int64_t block_at = -random_block;
    // The block's values as the points a draw's attempts make of them (value mod
    // `points_of`, plus 1), worked out by the draw for the whole block at once; 0 until
    // then, and again after every refill.
    std::uint32_t points_of = 0;
    std::uint32_t point[random_block] = {};
};

// The reproduced generator's jump by a fixed number of values: row t holds the
// coefficients of x^(distance + t) mod (x^31 - x^28 - 1), which make the value that many
// places on from the 31 values before a position.
struct stream_jump {
    std::int64_t distance = 0;
    std::uint32_t by[31][31] = {};
};

// A stream that calls `source` for every value, in order and only when a value is needed.
random_stream stream_of(random_source source);

// A stream of the values that glibc's rand() gives after srand(seed). Made here, without a
// lock or a call per value, when this C library's rand() is glibc's (checked on its first
// few hundred values); else a stream of std::rand(). Either way std::rand() is left
// seeded with `seed`, as if nothing had been drawn from it.
random_stream rand_stream(unsigned seed);

// Makes the next block of the reproduced generator.
void refill(random_stream& s);

// The jump by `distance` values (0 <= distance < 2^62); a few dozen products of
// polynomials, so it is worked out once and used for many jumps.
stream_jump jump_of(std::int64_t distance);

// The reproduced stream `j.distance` values on from `s`: what `s` would give after
// handing out that many.
random_stream jumped(const random_stream& s, const stream_jump& j);

// Where the next value of a reproduced stream is in its sequence.
inline std::int64_t position(const random_stream& s) {
    return s.block_at + s.next;
}

// Returns the stream's next value.
inline std::int32_t next_value(random_stream& s) {
    if (s.source != nullptr) return s.source();
    if (s.next == random_block) refill(s);
    return static_cast<std::int32_t>(s.ring[31 + s.next++] >> 1);
}

} // namespace subset
