// The trace's text: the score against printf's "%f".
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <string>

#include "helpers.hpp"
#include "text/lines.hpp"

using namespace subset;

TEST(Lines, ScoresReadAsPrintfPrintsThem) {
    auto expect_same = [](float f) {
        char got[line_room];
        ASSERT_EQ(printf_f(f), std::string(got, put_score(got, f)))
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

TEST(Lines, IterationNumbersCountUpAsPrintfWritesThem) {
    // Counted up from 0 past every carry to seven digits, and started anywhere.
    decimal d = decimal_of(0);
    for (int v = 0; v <= 1'200'000; ++v, count_up(d))
        ASSERT_EQ(std::to_string(v), std::string(d.digits, static_cast<std::size_t>(d.length)));
    for (const std::int64_t v : {9LL, 99LL, 4'999'999LL, 2'147'483'647LL}) {
        decimal from = decimal_of(v);
        count_up(from);
        EXPECT_EQ(std::to_string(v + 1),
                  std::string(from.digits, static_cast<std::size_t>(from.length)));
    }
}
