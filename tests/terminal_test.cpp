// The person at the terminal: the built program with its standard error on a pseudo-
// terminal and its trace elsewhere.
#include <gtest/gtest.h>

#include <string>

#include "helpers.hpp"

namespace {

// Six points: {1, 2, 3} is far apart, every other pair is close.
std::string six_points() {
    return distance_text(6, [](int i, int j) { return i <= 3 && j <= 3 ? 10.0 : -1.0; });
}

} // namespace

TEST(Terminal, ShowsThePromptProgressAndTheBestSubsetOnlyOnATerminal) {
    scratch_dir dir;
    write_file(dir.file("six"), six_points());
    program_options options;
    options.input = dir.file("six") + "\n";
    options.terminal = true;
    program_result r = run_program(options, 1 << 20, true);
    EXPECT_EQ(0, r.status);
    const std::string& screen = r.err;
    // The trace keeps its prompt; the terminal gets one too.
    EXPECT_EQ(0U, r.out.rfind(prompt + "nr pontos: 6\nnr pontos: 6\n", 0));
    EXPECT_EQ(0U, screen.rfind(prompt, 0)) << screen.substr(0, 100);
    // Progress lines, drawn in place, then cleared before the last line.
    EXPECT_NE(std::string::npos, screen.find("\riteracao ")) << screen.substr(0, 300);
    const std::string clear = "\r\x1b[K";
    const std::size_t last = screen.rfind(clear);
    ASSERT_NE(std::string::npos, last);
    // The best subset is {1, 2, 3}, (10 + 10 + 10) / 3; its iteration's own lines say so.
    const std::string best = screen.substr(last + clear.size());
    const std::string head = "Melhor subconjunto, da iteracao ";
    ASSERT_EQ(0U, best.rfind(head, 0)) << best;
    const std::string iteration = best.substr(head.size(), best.find(':') - head.size());
    EXPECT_EQ(head + iteration + ": 1 2 3\r\n", best);
    const std::size_t result =
        r.out.find("Distancia media para 3 pontos, iteracao " + iteration + ": 10.000000\n");
    ASSERT_NE(std::string::npos, result) << "iteration " << iteration << " in the first MB";
    const std::string sorted_and_pairs = "1 2 3 \n3 - 3 \n";
    EXPECT_EQ(0, r.out.compare(result - sorted_and_pairs.size(), sorted_and_pairs.size(),
                               sorted_and_pairs));
    EXPECT_EQ(std::string::npos, r.out.substr(0, result).find(": 10.000000\n"))
        << "an earlier iteration reached the best";

    // With standard error not a terminal, nothing is shown.
    options.terminal = false;
    r = run_program(options, 1 << 10, true);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
}
