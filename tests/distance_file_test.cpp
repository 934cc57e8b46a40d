// Counting the points, loading the pairs, refusing files that cannot be used, and
// noticing a file that changes between calls.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <ctime>

#include <sstream>

#include "data/distance_file.hpp"
#include "helpers.hpp"
#include "lines.hpp"

namespace {

// What one call printed and returned.
struct count_result {
    std::int64_t pairs;
    std::string printed;
};

count_result count_points(const std::string& path) {
    file_error why;
    const std::int64_t pairs = init_dados(path, why);
    char line[line_room];
    return {pairs,
            std::string(line, pairs >= 0 ? put_count(line, max) : put_file_error(line, why))};
}

std::string load_pairs(const std::string& path, std::int32_t count) {
    file_error why;
    if (guardaEstrutura(path, count, why)) return "";
    char line[line_room];
    return "failed: " + std::string(line, put_file_error(line, why));
}

} // namespace

TEST(DistanceFile, CountsPointsAndPairs) {
    scratch_dir dir;
    for (std::int32_t n : {2, 3, 4, 141, 2000}) {
        // Appended, not "n" + ...: GCC 12 at -O3 warns falsely (-Wrestrict) on that form.
        const std::string path = dir.file(std::string("n").append(std::to_string(n)));
        write_file(path, distance_text(n, simple_distance));
        count_result r = count_points(path);
        EXPECT_EQ(static_cast<std::int64_t>(n) * (n - 1) / 2, r.pairs) << n;
        EXPECT_EQ("nr pontos: " + std::to_string(n) + "\n", r.printed);
        EXPECT_EQ(n, max);
        ASSERT_EQ("", load_pairs(path, static_cast<std::int32_t>(r.pairs)));
        // The last pair is (n-1, n), at the last position; every row ends with +0.
        EXPECT_EQ(static_cast<float>(simple_distance(n - 1, n)), loaded_distance(r.pairs - 1));
        EXPECT_EQ(static_cast<float>(simple_distance(1, n)), loaded_distance(n - 2));
        for (std::int32_t a = 1; a < n; ++a) {
            const float end = myItems.dist[pair_index(a, n + 1, n)];
            ASSERT_TRUE(end == 0 && !std::signbit(end)) << n << " " << a;
        }
    }
}

TEST(DistanceFile, LayoutDoesNotMatter) {
    scratch_dir dir;
    const std::string variants[] = {
        "1 2 1.0\n1 3 2.0\n1 4 3.0\n2 3 4.0\n2 4 5.0\n3 4 6.0\n",
        "1 2 1.0 1 3 2.0 1 4 3.0 2 3 4.0 2 4 5.0 3 4 6.0",
        "1\t2\t1.0\r\n1 3 2.0\r\n\r\n1 4 3.0\r\n2 3\n4.0\n\n\t2 4 5.0\r\n3 4 6e0\r\n",
        "\n\n  1 2 +1 1 3 0x1p1 1 4 3.000 2 3 4 2 4 5. 3 4 .6e1 \n\n",
    };
    for (const std::string& text : variants) {
        const std::string path = dir.file("layout");
        write_file(path, text);
        look_at_file_next();
        ASSERT_EQ(6, count_points(path).pairs) << text;
        ASSERT_EQ("", load_pairs(path, 6));
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(static_cast<float>(i + 1), loaded_distance(i)) << text;
    }
}

TEST(DistanceFile, LoadsByPositionAndIgnoresWhatFollows) {
    scratch_dir dir;
    const std::string path = dir.file("odd");
    // Point numbers after the first run are wrong, and garbage follows the last pair:
    // pairs are known by their place, and nothing after the sixth triple is read.
    write_file(path, "1 2 1\n1 3 2\n1 4 3\n9 9 4\n-5 0 5\n7 7 -6.5\nnot numbers at all");
    ASSERT_EQ(6, count_points(path).pairs);
    ASSERT_EQ("", load_pairs(path, 6));
    EXPECT_EQ(4.0f, loaded_distance(3));
    EXPECT_EQ(5.0f, loaded_distance(4));
    EXPECT_EQ(-6.5f, loaded_distance(5));
}

TEST(DistanceFile, RefusesFilesItCannotUse) {
    scratch_dir dir;
    const std::string bad_triple = "Erro no ficheiro dos dados: triplo ";
    const std::string too_few = "Erro no ficheiro dos dados: sao precisos pelo menos 2 pontos\n";
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"", too_few},
        {" \n\t\r\n", too_few},
        {"2 3 1.0\n", too_few},
        {"1 2 1.0\n1 3 2.0\n", bad_triple + "3 em falta ou mal formado\n"},
        {"1 2 1.0\n1 3 2.0\n2 3\n", bad_triple + "3 em falta ou mal formado\n"},
        {"1 2 1.0\n1 3 x\n2 3 1\n", bad_triple + "2 em falta ou mal formado\n"},
        {"x", too_few},
        {"1 2 1.0\n1 3 2.0\nstop", bad_triple + "3 em falta ou mal formado\n"},
        {"1 2 1\n1 3 2\n1 4 3\n2 3 4\n2 4 5\n3 4 .\n", bad_triple + "6 em falta ou mal formado\n"},
        {"1 2 1\n1 3 2\n4000000000 3 4\n", bad_triple + "3 em falta ou mal formado\n"},
        {"1 4294967298 1\n", bad_triple + "1 em falta ou mal formado\n"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file("bad");
        write_file(path, c.text);
        look_at_file_next();
        count_result r = count_points(path);
        EXPECT_EQ(-1, r.pairs) << c.text;
        EXPECT_EQ(c.message, r.printed) << c.text;
    }
    EXPECT_EQ("Erro no acesso ao ficheiro dos dados\n", count_points(dir.file("missing")).printed);
    EXPECT_EQ("Erro no acesso ao ficheiro dos dados\n", count_points(dir.path).printed);
    EXPECT_EQ("Erro no acesso ao ficheiro dos dados\n", count_points("").printed);
    EXPECT_EQ("failed: Erro no acesso ao ficheiro dos dados\n", load_pairs(dir.file("missing"), 1));

    const std::string many = dir.file("many");
    write_file(many, distance_text(2001, [](int, int) { return 1.0; }));
    EXPECT_EQ("Erro no ficheiro dos dados: 2001 pontos excedem o maximo de 2000\n",
              count_points(many).printed);
}

TEST(DistanceFile, SeesTheFileChangeBetweenCalls) {
    scratch_dir dir;
    const std::string path = dir.file("changing");
    write_file(path, distance_text(4, simple_distance));
    ASSERT_EQ(6, count_points(path).pairs);
    write_file(path, distance_text(5, [](int, int) { return 2.5; }));
    look_at_file_next();
    EXPECT_EQ("nr pontos: 5\n", count_points(path).printed);
    ASSERT_EQ("", load_pairs(path, 10));
    EXPECT_EQ(2.5f, loaded_distance(9));

    // The same size and, most likely, the same stamps: only the bytes tell.
    write_file(path, distance_text(5, [](int, int) { return 7.5; }));
    look_at_file_next();
    ASSERT_EQ(10, count_points(path).pairs);
    ASSERT_EQ("", load_pairs(path, 10));
    EXPECT_EQ(7.5f, loaded_distance(0));

    // The pairs come from the version that was counted, even when the file has changed
    // since: the change is seen by the next count.
    write_file(path, distance_text(6, [](int, int) { return 1.25; }));
    look_at_file_next();
    ASSERT_EQ("", load_pairs(path, 10));
    EXPECT_EQ(7.5f, loaded_distance(9));
    EXPECT_EQ("nr pontos: 6\n", count_points(path).printed);
    ASSERT_EQ("", load_pairs(path, 15));
    EXPECT_EQ(1.25f, loaded_distance(9));

    unlink(path.c_str());
    look_at_file_next();
    EXPECT_EQ("Erro no acesso ao ficheiro dos dados\n", count_points(path).printed);
}

namespace {

std::int64_t fake_ns = 0; // the clock the reader sees in the test below
std::int64_t fake_clock() {
    return fake_ns;
}

} // namespace

TEST(DistanceFile, ParsesEachVersionOnceWhateverItsStampsSay) {
    scratch_dir dir;
    const std::string path = dir.file("skewed");
    set_file_clock(fake_clock);
    const std::int64_t hour = 3600;
    for (std::int64_t skew : {hour, -hour, 0 * hour}) {
        for (int version : {4, 5}) {
            write_file(path, distance_text(version, simple_distance));
            // Stamps an hour ahead of or behind this machine's clock.
            const timespec when{std::time(nullptr) + skew, 0};
            const timespec both[2] = {when, when};
            ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), both, 0));
            look_at_file_next();
            const std::int64_t before = file_parses();
            // Two seconds of a run on the reader's clock, a call every millisecond.
            for (int call = 0; call < 2000; ++call, fake_ns += 1'000'000)
                ASSERT_EQ("nr pontos: " + std::to_string(version) + "\n",
                          count_points(path).printed);
            EXPECT_EQ(before + 1, file_parses()) << skew << " " << version;
        }
    }
    set_file_clock(nullptr);
}

TEST(DistanceFile, KeepsANumberThatEndsAtTheReadLimit) {
    scratch_dir dir;
    const std::string path = dir.file("limit");
    write_file(path, "1 2 3.25\nxyz");
    // Refusals first: once a version has been counted, a refusal is waited on.
    const struct {
        std::size_t limit;
        std::string printed;
    } cases[] = {
        {7, "Erro no ficheiro dos dados: triplo 1 em falta ou mal formado\n"}, // not 3.2
        {8, "nr pontos: 2\n"},  // the byte past the limit is a line end: 3.25 is whole
        {10, "nr pontos: 2\n"}, // cut back to the line end before "xy"
        {12, "nr pontos: 2\n"}, // the whole file, up to its last byte
    };
    for (const auto& c : cases) {
        set_read_limit(c.limit);
        EXPECT_EQ(c.printed, count_points(path).printed) << c.limit;
    }
    set_read_limit(8);
    ASSERT_EQ("", load_pairs(path, 1));
    EXPECT_EQ(3.25f, loaded_distance(0));
    set_read_limit(0);
}
