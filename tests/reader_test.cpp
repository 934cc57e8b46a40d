// The number reader against the platform's own formatted input: for every input, the
// reader must take the same characters and give the same value as sscanf.
#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "data/reader.hpp"

using namespace subset;

namespace {

// What sscanf makes of `text` for one field: its result, value and characters taken.
struct oracle_field {
    scan_result result;
    double value;
    std::size_t used;
};

oracle_field sscanf_float(const std::string& text) {
    float v = 0;
    int n = 0;
    int r = std::sscanf(text.c_str(), " %f%n", &v, &n);
    if (r == EOF) return {scan_result::end, 0, 0};
    if (r != 1) return {scan_result::bad, 0, 0};
    return {scan_result::ok, v, static_cast<std::size_t>(n)};
}

// Formatted input reads "%d" through strtol; the reader refuses what does not fit in
// 32 bits instead of wrapping it, so the oracle reads a long and checks the range.
oracle_field sscanf_int(const std::string& text) {
    long v = 0;
    int n = 0;
    int r = std::sscanf(text.c_str(), " %ld%n", &v, &n);
    if (r == EOF) return {scan_result::end, 0, 0};
    if (r != 1 || v < INT32_MIN || v > INT32_MAX) return {scan_result::bad, 0, 0};
    return {scan_result::ok, static_cast<double>(v), static_cast<std::size_t>(n)};
}

oracle_field reader_float(const std::string& text) {
    const char* p = text.data();
    float v = 0;
    scan_result r = scan_float(p, text.data() + text.size(), v);
    return {r, v, static_cast<std::size_t>(p - text.data())};
}

oracle_field reader_int(const std::string& text) {
    const char* p = text.data();
    std::int32_t v = 0;
    scan_result r = scan_int(p, text.data() + text.size(), v);
    return {r, static_cast<double>(v), static_cast<std::size_t>(p - text.data())};
}

void expect_same(const oracle_field& want, const oracle_field& got, const std::string& text) {
    ASSERT_EQ(want.result, got.result) << '"' << text << '"';
    if (want.result != scan_result::ok) return;
    EXPECT_EQ(want.used, got.used) << '"' << text << '"';
    if (std::isnan(want.value)) {
        EXPECT_TRUE(std::isnan(got.value)) << '"' << text << '"';
        EXPECT_EQ(std::signbit(want.value), std::signbit(got.value)) << '"' << text << '"';
    } else {
        // Same float, bit for bit (this also tells 0 from -0).
        const float a = static_cast<float>(want.value), b = static_cast<float>(got.value);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(a), std::bit_cast<std::uint32_t>(b))
            << '"' << text << '"' << a << " vs " << b;
    }
}

void check_both(const std::string& text) {
    expect_same(sscanf_float(text), reader_float(text), text);
    expect_same(sscanf_int(text), reader_int(text), text);
}

} // namespace

TEST(Reader, AgreesWithFormattedInputOnChosenCases) {
    const std::string cases[] = {
        "",
        "   ",
        "\t\r\n\v\f",
        "0",
        "-0",
        "+0",
        "7",
        "+7",
        "-7",
        "007",
        "1.5",
        "-1.5",
        ".5",
        "5.",
        ".",
        "-",
        "+",
        "- 1",
        "1e5",
        "1E5",
        "1e",
        "1e+",
        "1e-",
        "1e+5",
        "1.5e-3x",
        "1..2",
        "1.2.3",
        "1e5e5",
        "1e5.5",
        "0x",
        "0X",
        "-0x",
        "0x1p3",
        "0X1P-3",
        "0x1.8p1",
        "0xp1",
        "0x.p1",
        "0x.8",
        "0xg",
        "0x1e",
        "0x1pe",
        "inf",
        "INF",
        "-inf",
        "+Inf",
        "infinity",
        "Infinity",
        "infin",
        "infx",
        "info",
        "in",
        "i",
        "nan",
        "NaN",
        "-nan",
        "nan(123)",
        "na",
        "n",
        "nanx",
        "3.4e38",
        "3.5e38",
        "1e39",
        "-1e39",
        "1e-45",
        "1e-46",
        "1.4e-45",
        "2147483647",
        "2147483648",
        "-2147483648",
        "-2147483649",
        "99999999999999999999",
        "0.1",
        "0.3",
        "16777217",
        "1,5",
        "12abc",
        "x",
        "#",
        "\xff",
        "  42  rest",
        "0.000000001e9",
        "1" + std::string(400, '0'),
        "0." + std::string(400, '0') + "1",
        "1e-999999",
        "1e999999",
    };
    for (const std::string& text : cases) check_both(text);
}

TEST(Reader, AgreesWithFormattedInputOnGeneratedText) {
    // Fragments that exercise every rule of the number syntax, glued at random.
    const char* pieces[] = {"0",  "1",   "9",     "5",   "00", "123", ".",  "e",
                            "E",  "+",   "-",     "x",   "X",  "p",   "P",  "a",
                            "f",  "inf", "inity", "nan", "i",  "n",   " ",  "\t",
                            "\n", "(",   ")",     "g",   "0x", "1e",  "e-", "9999999999"};
    std::mt19937 gen(20261208);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> length(1, 6);
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        for (int k = length(gen); k > 0; --k) text += pieces[pick(gen)];
        check_both(text);
        if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
}

TEST(Reader, RoundsRandomDecimalsAsStrtofDoes) {
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> value(-1e6, 1e6);
    std::uniform_int_distribution<int> digits(0, 17);
    char text[64];
    for (int i = 0; i < 100000; ++i) {
        std::snprintf(text, sizeof text, "%.*f", digits(gen), value(gen));
        check_both(text);
        std::snprintf(text, sizeof text, "%.*e", digits(gen), value(gen));
        check_both(text);
        if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
}

TEST(Reader, ReadsFieldsOneAfterAnother) {
    const std::string text = "  1\t-2\r\n 3.25e1 \n\n";
    const char* p = text.data();
    const char* end = p + text.size();
    std::int32_t a = 0, b = 0;
    float c = 0;
    ASSERT_EQ(scan_result::ok, scan_int(p, end, a));
    ASSERT_EQ(scan_result::ok, scan_int(p, end, b));
    ASSERT_EQ(scan_result::ok, scan_float(p, end, c));
    EXPECT_EQ(1, a);
    EXPECT_EQ(-2, b);
    EXPECT_EQ(32.5f, c);
    EXPECT_EQ(scan_result::end, scan_int(p, end, a));
}
