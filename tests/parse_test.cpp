// Turning the distance file's text into a version: the count, the pairs by position, the
// layouts that read alike, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "data/parse.hpp"
#include "helpers.hpp"
#include "lines.hpp"

using namespace subset;

namespace {

// The line the program prints for what `text` gives.
std::string printed(const parsed& p) {
    char line[line_room];
    return {line, p.v != nullptr ? put_count(line, p.v->points) : put_file_error(line, p.error)};
}

} // namespace

TEST(Parse, CountsPointsAndEndsEachRowWithPlusZero) {
    for (std::int32_t n : {2, 3, 4, 141, 2000}) {
        const parsed p = parse_distances(distance_text(n, simple_distance));
        ASSERT_NE(nullptr, p.v) << n;
        EXPECT_EQ("nr pontos: " + std::to_string(n) + "\n", printed(p));
        const std::int64_t pairs = std::int64_t{n} * (n - 1) / 2;
        EXPECT_EQ(table_size(n), p.v->dist.size());
        // The last pair is (n-1, n), at the last position; every row ends with +0.
        EXPECT_EQ(static_cast<float>(simple_distance(n - 1, n)), loaded_distance(*p.v, pairs - 1));
        EXPECT_EQ(static_cast<float>(simple_distance(1, n)), loaded_distance(*p.v, n - 2));
        for (std::int32_t a = 1; a < n; ++a) {
            const float end = p.v->dist[static_cast<std::size_t>(pair_index(a, n + 1, n))];
            ASSERT_TRUE(end == 0 && !std::signbit(end)) << n << " " << a;
        }
    }
}

TEST(Parse, LayoutDoesNotMatterAndPairsGoByPosition) {
    const std::string variants[] = {
        example_text,
        "1 2 1.0 1 3 2.0 1 4 3.0 2 3 4.0 2 4 5.0 3 4 6.0",
        "1\t2\t1.0\r\n1 3 2.0\r\n\r\n1 4 3.0\r\n2 3\n4.0\n\n\t2 4 5.0\r\n3 4 6e0\r\n",
        "\n\n  1 2 +1 1 3 0x1p1 1 4 3.000 2 3 4 2 4 5. 3 4 .6e1 \n\n",
        // Point numbers after the first run are wrong, and garbage follows the last pair:
        // pairs are known by their place, and nothing after the sixth triple is read.
        "1 2 1\n1 3 2\n1 4 3\n9 9 4\n-5 0 5\n7 7 6\nnot numbers at all",
    };
    for (const std::string& text : variants) {
        const parsed p = parse_distances(text);
        ASSERT_NE(nullptr, p.v) << text;
        ASSERT_EQ(4, p.v->points);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(static_cast<float>(i + 1), loaded_distance(*p.v, i)) << text;
    }
}

TEST(Parse, RefusesTextsItCannotUse) {
    const std::string bad_triple = "Erro no ficheiro dos dados: triplo ";
    const std::string too_few = "Erro no ficheiro dos dados: sao precisos pelo menos 2 pontos\n";
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"", too_few},
        {" \n\t\r\n", too_few},
        {"2 3 1.0\n", too_few},
        {"x", too_few},
        {"1 2 1.0\n1 3 2.0\n", bad_triple + "3 em falta ou mal formado\n"},
        {"1 2 1.0\n1 3 2.0\n2 3\n", bad_triple + "3 em falta ou mal formado\n"},
        {"1 2 1.0\n1 3 x\n2 3 1\n", bad_triple + "2 em falta ou mal formado\n"},
        {"1 2 1.0\n1 3 2.0\nstop", bad_triple + "3 em falta ou mal formado\n"},
        {"1 2 1\n1 3 2\n1 4 3\n2 3 4\n2 4 5\n3 4 .\n", bad_triple + "6 em falta ou mal formado\n"},
        {"1 2 1\n1 3 2\n4000000000 3 4\n", bad_triple + "3 em falta ou mal formado\n"},
        {"1 4294967298 1\n", bad_triple + "1 em falta ou mal formado\n"},
        {distance_text(2001, [](int, int) { return 1.0; }),
         "Erro no ficheiro dos dados: 2001 pontos excedem o maximo de 2000\n"},
    };
    for (const auto& c : cases) {
        const parsed p = parse_distances(c.text);
        EXPECT_EQ(nullptr, p.v) << c.text.substr(0, 40);
        EXPECT_EQ(c.message, printed(p)) << c.text.substr(0, 40);
    }
}
