// The reproduced generator against the C library's rand().
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "search/random.hpp"

using namespace subset;

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
