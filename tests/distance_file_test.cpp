// Counting the points, loading the pairs, refusing files that cannot be used, and
// noticing a file that changes between calls.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "data/distance_file.hpp"
#include "helpers.hpp"

namespace {

// What one call printed and returned.
struct count_result {
    std::int64_t pairs;
    std::string printed;
};

count_result count_points(const std::string& path) {
    std::ostringstream out;
    static trace t;
    trace_start(t, &out);
    std::int64_t pairs = init_dados(path, t);
    trace_flush(t);
    return {pairs, out.str()};
}

std::string load_pairs(const std::string& path, std::int32_t count) {
    std::ostringstream out;
    static trace t;
    trace_start(t, &out);
    bool ok = guardaEstrutura(path, count, t);
    trace_flush(t);
    return (ok ? "" : "failed: ") + out.str();
}

// Lets the next call look at the file again instead of trusting what it read.
void let_time_pass() {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

} // namespace

TEST(DistanceFile, CountsPointsAndPairs) {
    scratch_dir dir;
    for (std::int32_t n : {2, 3, 4, 141, 2000}) {
        const std::string path = dir.file("n" + std::to_string(n));
        write_file(path, distance_text(n, simple_distance));
        count_result r = count_points(path);
        EXPECT_EQ(static_cast<std::int64_t>(n) * (n - 1) / 2, r.pairs) << n;
        EXPECT_EQ("nr pontos: " + std::to_string(n) + "\n", r.printed);
        EXPECT_EQ(n, max);
        ASSERT_EQ("", load_pairs(path, static_cast<std::int32_t>(r.pairs)));
        // The last pair is (n-1, n), at the last position.
        const std::int64_t last = r.pairs - 1;
        EXPECT_EQ(n - 1, myItems.p1[last]);
        EXPECT_EQ(n, myItems.p2[last]);
        EXPECT_EQ(static_cast<float>(simple_distance(n - 1, n)), myItems.dist[last]);
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
        let_time_pass();
        ASSERT_EQ(6, count_points(path).pairs) << text;
        ASSERT_EQ("", load_pairs(path, 6));
        for (int i = 0; i < 6; ++i) EXPECT_EQ(static_cast<float>(i + 1), myItems.dist[i]) << text;
        EXPECT_EQ(3, myItems.p1[5]);
        EXPECT_EQ(4, myItems.p2[5]);
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
    EXPECT_EQ(9, myItems.p1[3]);
    EXPECT_EQ(-5, myItems.p1[4]);
    EXPECT_EQ(-6.5f, myItems.dist[5]);
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
        let_time_pass();
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
    let_time_pass();
    EXPECT_EQ("nr pontos: 5\n", count_points(path).printed);
    ASSERT_EQ("", load_pairs(path, 10));
    EXPECT_EQ(2.5f, myItems.dist[9]);

    // The same size and the same second: only the content changed.
    write_file(path, distance_text(5, [](int, int) { return 7.5; }));
    let_time_pass();
    ASSERT_EQ("", load_pairs(path, 10));
    EXPECT_EQ(7.5f, myItems.dist[0]);

    // A count from before the change is loaded from the new version, when it has enough.
    write_file(path, distance_text(4, simple_distance) + "4 5 9.0 4 6 9.0 4 7 9.0 4 8 1.25\n");
    let_time_pass();
    ASSERT_EQ("", load_pairs(path, 10));
    EXPECT_EQ(1.25f, myItems.dist[9]);

    unlink(path.c_str());
    let_time_pass();
    EXPECT_EQ("Erro no acesso ao ficheiro dos dados\n", count_points(path).printed);
}
