// The program's whole trace equals the plain rendering's, byte for byte, over several
// files, layouts and seeds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "data/distance_file.hpp"
#include "helpers.hpp"
#include "reference.hpp"
#include "run.hpp"

namespace {

int c_rand() {
    return std::rand();
}

std::string program_trace(const std::string& path, std::int32_t iterations, unsigned seed) {
    std::srand(seed);
    std::istringstream in(path + "\n");
    std::ostringstream out, err;
    EXPECT_EQ(0, run_search(in, out, err, iterations, c_rand));
    return out.str();
}

std::string reference_trace(const std::string& path, std::int32_t iterations, unsigned seed) {
    std::srand(seed);
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    EXPECT_EQ(0, reference::run(path, out, iterations, c_rand));
    std::fclose(out);
    std::string trace(text, size);
    std::free(text);
    return trace;
}

// Distances with both signs and up to six significant digits.
double mixed_distance(int i, int j) {
    return ((i * 7919 + j * 104729) % 20001 - 10000) / 997.0;
}

void expect_same_traces(const std::string& path, std::int32_t iterations) {
    look_at_file_next(); // the same name may have held other text a moment ago
    for (unsigned seed : {1u, 20261208u, 4294967295u}) {
        const std::string want = reference_trace(path, iterations, seed);
        const std::string got = program_trace(path, iterations, seed);
        ASSERT_EQ(want.size(), got.size()) << path << " seed " << seed;
        ASSERT_TRUE(want == got) << path << " seed " << seed << " first difference at byte "
                                 << std::mismatch(want.begin(), want.end(), got.begin()).first -
                                        want.begin();
    }
}

} // namespace

TEST(Reference, TracesAreIdenticalAcrossSizes) {
    scratch_dir dir;
    const struct {
        int points;
        std::int32_t iterations;
    } cases[] = {{2, 300}, {3, 300}, {4, 300}, {20, 1000}, {141, 60}, {300, 6}};
    for (const auto& c : cases) {
        const std::string path = dir.file("n" + std::to_string(c.points));
        write_file(path, distance_text(c.points, mixed_distance));
        expect_same_traces(path, c.iterations);
    }
}

TEST(Reference, TracesAreIdenticalAcrossLayouts) {
    scratch_dir dir;
    std::string text = distance_text(30, mixed_distance);
    std::string crlf, one_line;
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
        one_line += c == '\n' ? ' ' : c;
    }
    write_file(dir.file("crlf"), crlf);
    expect_same_traces(dir.file("crlf"), 300);
    write_file(dir.file("line"), one_line);
    expect_same_traces(dir.file("line"), 300);
    write_file(dir.file("data"), read_file(DATA_DIR "/twenty.txt"));
    expect_same_traces(dir.file("data"), 1000);
}
