// The reproduced generator against the C library's rand(), and the score's text against
// printf's "%f".
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

#include "lines.hpp"
#include "search/random.hpp"

TEST(Random, GivesRandsValuesForEverySeed) {
    const auto now = static_cast<unsigned>(std::time(nullptr));
    for (unsigned seed : {0U, 1U, 2U, 12345U, now - 1, now, now + 1, 2147483647U, 2147483648U,
                          3000000000U, 4294967295U}) {
        random_stream made = rand_stream(seed);
        ASSERT_EQ(nullptr, made.source) << "this C library's rand() is glibc's";
        // rand_stream leaves rand() seeded as if nothing had been drawn.
        for (int i = 0; i < 1'000'000; ++i)
            ASSERT_EQ(std::rand(), next_value(made)) << seed << " " << i;
    }
}

TEST(Random, AStreamOfAFunctionCallsItOncePerValue) {
    static int calls = 0;
    random_stream s = stream_of([] { return ++calls * 7; });
    for (int i = 1; i <= 600; ++i) ASSERT_EQ(i * 7, next_value(s));
    EXPECT_EQ(600, calls);
}

TEST(Lines, ScoresReadAsPrintfPrintsThem) {
    auto expect_same = [](float f) {
        char want[400];
        char got[line_room];
        std::snprintf(want, sizeof want, "%f", static_cast<double>(f));
        ASSERT_EQ(std::string(want), std::string(got, put_score(got, f)))
            << std::bit_cast<std::uint32_t>(f);
    };
    const float cases[] = {0.0F,
                           -0.0F,
                           0.5e-6F,
                           1.5e-6F,
                           2.5e-6F,
                           -0.5e-6F,
                           0.4999999e-6F,
                           1e-45F,
                           3.666667F,
                           1e8F,
                           1.17549435e-38F,
                           3.4028235e38F,
                           -3.4028235e38F,
                           1099511627776.0F,
                           2199023255552.0F,
                           8796093022208.0F};
    for (float f : cases) expect_same(f);
    std::mt19937 gen(2026);
    for (int i = 0; i < 300'000; ++i) {
        const float any = std::bit_cast<float>(static_cast<std::uint32_t>(gen()));
        if (!std::isnan(any)) expect_same(any);
        // Values in the range scores usually take, where the exact path is used.
        expect_same(std::uniform_real_distribution<float>(-2000, 2000)(gen));
        expect_same(static_cast<float>(gen() % 20'000'000) / 8'388'608.0F);
    }
}
