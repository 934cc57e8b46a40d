// The person at the terminal: the built program with its standard error on a pseudo-
// terminal and its trace elsewhere.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
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

namespace {

// Starts the built program on `data` with its standard error on a pseudo-terminal, and
// reads its trace until `bytes` of it have come.
std::unique_ptr<running_program> start_at_terminal(const std::string& data, std::string& trace,
                                                   std::size_t bytes) {
    program_options options;
    options.input = data + "\n";
    options.terminal = true;
    std::unique_ptr<running_program> p = start_program(options);
    read_output(*p, trace, bytes);
    return p;
}

} // namespace

TEST(Terminal, CtrlCEndsTheTraceAfterAWholeIterationAndShowsTheBestSoFar) {
    scratch_dir dir;
    write_file(dir.file("six"), six_points());
    std::string trace;
    std::unique_ptr<running_program> p = start_at_terminal(dir.file("six"), trace, 1 << 20);
    kill(p->pid, SIGINT);
    read_output(*p, trace);
    std::string screen;
    EXPECT_EQ(128 + SIGINT, wait_program(*p, screen)) << "it ends by the signal";
    // The trace: whole iterations, the last a result line, and no final line.
    ASSERT_EQ('\n', trace.back());
    const std::size_t last_line = trace.rfind('\n', trace.size() - 2) + 1;
    EXPECT_EQ(0U, trace.compare(last_line, 21, "Distancia media para ")) << trace.substr(last_line);
    EXPECT_EQ(std::string::npos, trace.find("Melhor com"));
    // The screen: the progress line cleared, then the best so far, marked as interrupted.
    const std::string clear = "\r\x1b[K";
    const std::size_t cleared = screen.rfind(clear);
    ASSERT_NE(std::string::npos, cleared) << screen.substr(screen.size() - 200);
    const std::string best = screen.substr(cleared + clear.size());
    const std::string head = "Execucao interrompida. Melhor subconjunto, da iteracao ";
    ASSERT_EQ(0U, best.rfind(head, 0)) << best;
    const std::string iteration = best.substr(head.size(), best.find(':') - head.size());
    EXPECT_EQ(head + iteration + ": 1 2 3\r\n", best);
    EXPECT_NE(std::string::npos,
              trace.find("Distancia media para 3 pontos, iteracao " + iteration + ": 10.000000\n"));
}

TEST(Terminal, ALineThatEndsARunIsShownOnTheTerminalToo) {
    scratch_dir dir;
    write_file(dir.file("six"), six_points());
    std::string trace;
    std::unique_ptr<running_program> p = start_at_terminal(dir.file("six"), trace, 1 << 16);
    unlink(dir.file("six").c_str());
    read_output(*p, trace);
    std::string screen;
    EXPECT_EQ(1, wait_program(*p, screen));
    EXPECT_EQ(no_access, trace.substr(trace.size() - no_access.size()));
    // On the terminal, on a line of its own after the progress line (a pseudo-terminal
    // ends its lines with "\r\n").
    EXPECT_EQ("\r\nErro no acesso ao ficheiro dos dados\r\n",
              screen.substr(screen.size() - no_access.size() - 3))
        << screen.substr(screen.size() - std::min<std::size_t>(screen.size(), 200));
    // A name that cannot be opened, given on a pipe: the prompt's line is ended first.
    program_options options;
    options.input = dir.file("missing") + "\n";
    options.terminal = true;
    program_result r = run_program(options);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(prompt + no_access, r.out);
    EXPECT_EQ(prompt + "\r\nErro no acesso ao ficheiro dos dados\r\n", r.err);
    // A trace that cannot be written: its line, on a line of its own as well.
    options.input = dir.file("six") + "\n";
    options.out_path = "/dev/full";
    write_file(dir.file("six"), six_points());
    r = run_program(options);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(prompt + "\r\nErro na escrita dos resultados\r\n", r.err);
}
