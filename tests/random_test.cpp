// The reproduced generator against the C library's rand(), and the points a draw makes
// of its blocks against the compiler's own remainder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "search/draw.hpp"
#include "search/kernels.hpp"
#include "search/random.hpp"

using namespace subset;

TEST(Random, GivesRandsValuesForEverySeed) {
    // Seeds at the edges, and three that a run seeded from the clock took (2026-12-09 UTC).
    for (unsigned seed : {0U, 1U, 2U, 12345U, 1796774399U, 1796774400U, 1796774401U, 2147483647U,
                          2147483648U, 3000000000U, 4294967295U}) {
        random_stream made = rand_stream(seed);
        ASSERT_FALSE(made.source) << "seed " << seed << ": this C library's rand() is glibc's";
        // rand_stream leaves rand() seeded as if nothing had been drawn.
        for (int i = 0; i < 1'000'000; ++i)
            ASSERT_EQ(std::rand(), next_value(made)) << "seed " << seed << ", value " << i;
    }
}

TEST(Random, AStreamOfAFunctionCallsItOncePerValue) {
    int calls = 0;
    random_stream s = stream_of([&calls] { return ++calls * 7; });
    for (int i = 1; i <= 600; ++i) ASSERT_EQ(i * 7, next_value(s));
    EXPECT_EQ(600, calls);
}

TEST(Random, AJumpLandsWhereSteppingDoes) {
    // Distances small and large, across block ends, from streams part-way into a block.
    random_stream from = rand_stream(20261209U);
    for (int i = 0; i < 77; ++i) next_value(from);
    std::vector<std::int64_t> distances = {0, 1, 2, 30, 31, 32, 255, 256, 257, 1000, 65'537};
    for (std::int64_t d = 3; d < 3'000'000; d = d * 7 + 5) distances.push_back(d);
    for (const std::int64_t distance : distances) {
        random_stream stepped = from;
        for (std::int64_t i = 0; i < distance; ++i) next_value(stepped);
        random_stream jumped_to = jumped(from, jump_of(distance));
        ASSERT_EQ(position(stepped), position(jumped_to)) << distance;
        for (int i = 0; i < 600; ++i)
            ASSERT_EQ(next_value(stepped), next_value(jumped_to)) << distance << " " << i;
        ASSERT_EQ(position(stepped), position(jumped_to)) << distance;
    }
    // Two jumps add up, and a long jump agrees with rand() itself.
    const stream_jump by_ten = jump_of(10'000'019);
    std::srand(7);
    random_stream twice = jumped(jumped(rand_stream(7), by_ten), by_ten);
    std::srand(7);
    for (int i = 0; i < 20'000'038; ++i) std::rand();
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(std::rand(), next_value(twice)) << i;
}

TEST(Random, ABlocksPointsAreItsValuesRemaindersUnderEveryKernelTable) {
    std::vector<std::uint32_t> divisors;
    for (std::uint32_t d = 3; d <= 1100; ++d) divisors.push_back(d);
    for (std::uint32_t p = 2048; p <= 65536; p *= 2)
        divisors.insert(divisors.end(), {p - 1, p, p + 1});
    std::mt19937 gen(20261209U);
    for (int i = 0; i < 200; ++i) divisors.push_back(3 + gen() % (max_points - 1));
    std::uint32_t words[random_block];
    std::uint32_t points[random_block];
    for (const std::uint32_t d : divisors) {
        for (int block = 0; block < 4; ++block) {
            // Words of every kind, and values at the edges: whole multiples of d and their
            // neighbours, and the largest values, where a quotient in doubles is closest to
            // a whole number.
            for (std::uint32_t& w : words) w = static_cast<std::uint32_t>(gen());
            const std::uint32_t top = (0x7fffffffU / d) * d;
            const std::uint32_t edges[] = {0,
                                           1,
                                           d - 1,
                                           d,
                                           d + 1,
                                           2 * d - 1,
                                           2 * d,
                                           top - 1,
                                           top,
                                           top + 1 <= 0x7fffffffU ? top + 1 : top,
                                           0x7fffffffU,
                                           0x7ffffffeU,
                                           static_cast<std::uint32_t>(gen() % (0x7fffffffU / d)) *
                                               d};
            for (std::size_t e = 0; e < std::size(edges); ++e)
                words[(block * 16 + static_cast<int>(e)) % random_block] =
                    2 * edges[e] + static_cast<std::uint32_t>(gen() & 1); // the low bit is dropped
            for (const kernel_table* k : runnable_kernels()) {
                k->block_points(words, d, points);
                for (int i = 0; i < random_block; ++i)
                    ASSERT_EQ((words[i] >> 1) % d + 1, points[i])
                        << "divisor " << d << " word " << words[i] << " kernels " << k->name;
            }
        }
    }
}
