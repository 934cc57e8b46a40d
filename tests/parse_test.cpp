// Turning the distance file's text into a version: the count, the pairs by position, the
// layouts that read alike, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "data/parse.hpp"
#include "helpers.hpp"
#include "text/lines.hpp"

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
        const parsed p = parsed_of(distance_text(n, simple_distance));
        ASSERT_NE(nullptr, p.v) << n;
        EXPECT_EQ("nr pontos: " + std::to_string(n) + "\n", printed(p));
        const std::int64_t pairs = std::int64_t{n} * (n - 1) / 2;
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
        const parsed p = parsed_of(text);
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
        // One point past the limit is refused once counted; at the limit the table is had
        // (its pages untouched) and the first missing triple is named.
        {first_run_text(65'537, "2 3 1\n"),
         "Erro no ficheiro dos dados: 65537 pontos excedem o maximo de 65536\n"},
        {first_run_text(65'536, "2 3 1\n"), bad_triple + "65537 em falta ou mal formado\n"},
    };
    for (const auto& c : cases) {
        const parsed p = parsed_of(c.text);
        EXPECT_EQ(nullptr, p.v) << c.text.substr(0, 40);
        EXPECT_EQ(c.message, printed(p)) << c.text.substr(0, 40);
    }
}

namespace {

// Whether two parses gave the same: the same refusal, or the same table bit for bit.
::testing::AssertionResult same_parse(const parsed& a, const parsed& b) {
    if ((a.v == nullptr) != (b.v == nullptr) || a.error.what != b.error.what ||
        a.error.detail != b.error.detail)
        return ::testing::AssertionFailure() << printed(a) << " against " << printed(b);
    if (a.v == nullptr) return ::testing::AssertionSuccess();
    if (a.v->points != b.v->points) return ::testing::AssertionFailure() << "point counts differ";
    for (std::size_t i = 0; i < table_size(a.v->points); ++i)
        if (std::bit_cast<std::uint32_t>(a.v->dist[i]) !=
            std::bit_cast<std::uint32_t>(b.v->dist[i]))
            return ::testing::AssertionFailure() << "entry " << i << " differs";
    return ::testing::AssertionSuccess();
}

// A source that hands out `text` in pieces of the sizes in `pieces`, the last one repeated.
byte_source in_pieces(const std::string& text, std::vector<std::size_t> pieces) {
    return [text, pieces, at = std::size_t{0}, next = std::size_t{0}](char* into,
                                                                      std::size_t room) mutable {
        const std::size_t want = pieces[std::min(next++, pieces.size() - 1)];
        const std::size_t n = std::min({room, want, text.size() - at});
        std::copy_n(text.data() + at, n, into);
        at += n;
        return static_cast<std::ptrdiff_t>(n);
    };
}

// Texts whose tokens take every shape that formatted input reads, or half reads.
const std::string odd_texts[] = {
    "1 2 1.0\n1 3 2.0\n1 4 3.0\n2 3 4.0\n2 4 5.0\n3 4 6.0\n",
    "\r\n 1\t2 +1.5e+3 1 3 -0x1.8p3 1 4 infinity 2 3 -nan 2 4 .5E-2 3 4 0000000000012.5000000000\n",
    "1 2 1e 1 3 2.5 2 3 3",             // a partial exponent: "1e" reads as 1
    "1 2 0x 1 3 2\n",                   // a partial hexadecimal number is malformed
    "1 2 1e39 1 3 -1e-50 2 3 -0",       // out of range both ways, and -0
    "1 2 12345678901234567890.5 2 3 4", // two points: what follows is never read
    "1 2 3\n1 3 4\n2 3 infx",           // a number that runs into a letter
    "+1 +2 -.5 1 3 1. 2 3 nan",
};

} // namespace

TEST(Parse, ReadsAlikeThroughAnyBufferAndAnyPieces) {
    std::vector<std::string> texts(std::begin(odd_texts), std::end(odd_texts));
    texts.push_back(distance_text(20, [](int i, int j) { return (i * 37 - j * 11) / 7.0; }));
    for (const std::string& text : texts) {
        const parsed whole = parsed_of(text, text.size() + 1);
        for (std::size_t buffer = 1; buffer <= 7; ++buffer)
            EXPECT_TRUE(same_parse(whole, parsed_of(text, buffer)))
                << "buffer " << buffer << ": " << text.substr(0, 60);
        // The source cut at every place, so that a boundary falls inside every token.
        for (std::size_t cut = 1; cut <= std::min<std::size_t>(text.size(), 200); ++cut)
            EXPECT_TRUE(same_parse(whole, parsed_of(in_pieces(text, {cut, 3, 1}))))
                << "cut at " << cut << ": " << text.substr(0, 60);
    }
}

TEST(Parse, ReportsASourceThatCannotBeRead) {
    const std::string text = distance_text(30, simple_distance);
    std::size_t calls = 0;
    const parsed p = parsed_of(
        [&](char* into, std::size_t room) -> std::ptrdiff_t {
            if (++calls > 2) return -1;
            std::memcpy(into, text.data(), std::min(room, std::size_t{100}));
            return static_cast<std::ptrdiff_t>(std::min(room, std::size_t{100}));
        },
        100);
    EXPECT_EQ(nullptr, p.v);
    EXPECT_EQ(file_problem::access, p.error.what);
}
