// The person at the terminal: the built program with its standard error on a pseudo-
// terminal and its trace elsewhere; and trace_summary on known traces.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <thread>

#include "helpers.hpp"
#include "run.hpp"
#include "summary/trace_summary.hpp"

namespace {

struct terminal_run {
    std::string screen; // what the program wrote to its terminal
    std::string trace;  // the first `keep` bytes of its standard output
    std::size_t trace_size = 0;
    int status = 0;
};

// Runs the built program with `input` on standard input and its standard output on a
// pipe; standard error is a pseudo-terminal when `on_terminal` is set, else a file.
terminal_run run_at_terminal(const std::string& input, bool on_terminal, std::size_t keep) {
    scratch_dir dir;
    write_file(dir.file("in"), input);
    int out_pipe[2];
    if (pipe(out_pipe) != 0) throw std::runtime_error("pipe failed");
    int master = -1;
    const pid_t pid = on_terminal ? forkpty(&master, nullptr, nullptr, nullptr) : fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(open(dir.file("in").c_str(), O_RDONLY), 0);
        dup2(out_pipe[1], 1);
        if (!on_terminal) dup2(open(dir.file("err").c_str(), O_WRONLY | O_CREAT, 0600), 2);
        close(out_pipe[0]);
        execl(PROGRAM_PATH, PROGRAM_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out_pipe[1]);
    terminal_run r;
    std::thread screen_reader([&] {
        char buf[4096];
        for (ssize_t n; master >= 0 && (n = read(master, buf, sizeof buf)) > 0;)
            r.screen.append(buf, static_cast<std::size_t>(n));
    });
    char buf[1 << 16];
    for (ssize_t n; (n = read(out_pipe[0], buf, sizeof buf)) > 0;) {
        const auto got = static_cast<std::size_t>(n);
        if (r.trace.size() < keep) r.trace.append(buf, std::min(got, keep - r.trace.size()));
        r.trace_size += got;
    }
    close(out_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    screen_reader.join();
    if (master >= 0) close(master);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (!on_terminal) r.screen = read_file(dir.file("err"));
    return r;
}

// Six points: {1, 2, 3} is far apart, every other pair is close.
std::string six_points() {
    return distance_text(6, [](int i, int j) { return i <= 3 && j <= 3 ? 10.0 : -1.0; });
}

} // namespace

TEST(Terminal, ShowsThePromptProgressAndTheBestSubsetOnlyOnATerminal) {
    scratch_dir dir;
    write_file(dir.file("six"), six_points());
    terminal_run r = run_at_terminal(dir.file("six") + "\n", true, 1 << 20);
    EXPECT_EQ(0, r.status);
    // The trace keeps its prompt; the terminal gets one too.
    EXPECT_EQ(0U, r.trace.rfind(prompt + "nr pontos: 6\nnr pontos: 6\n", 0));
    EXPECT_EQ(0U, r.screen.rfind(prompt, 0)) << r.screen.substr(0, 100);
    // Progress lines, drawn in place, then cleared before the last line.
    EXPECT_NE(std::string::npos, r.screen.find("\riteracao ")) << r.screen.substr(0, 300);
    const std::string clear = "\r\x1b[K";
    const std::size_t last = r.screen.rfind(clear);
    ASSERT_NE(std::string::npos, last);
    // The best subset is {1, 2, 3}, (10 + 10 + 10) / 3; its iteration's own lines say so.
    const std::string best = r.screen.substr(last + clear.size());
    const std::string head = "Melhor subconjunto, da iteracao ";
    ASSERT_EQ(0U, best.rfind(head, 0)) << best;
    const std::string iteration = best.substr(head.size(), best.find(':') - head.size());
    EXPECT_EQ(head + iteration + ": 1 2 3\r\n", best);
    const std::size_t result =
        r.trace.find("Distancia media para 3 pontos, iteracao " + iteration + ": 10.000000\n");
    ASSERT_NE(std::string::npos, result) << "iteration " << iteration << " in the first MB";
    const std::string sorted_and_pairs = "1 2 3 \n3 - 3 \n";
    EXPECT_EQ(0, r.trace.compare(result - sorted_and_pairs.size(), sorted_and_pairs.size(),
                                 sorted_and_pairs));
    EXPECT_EQ(std::string::npos, r.trace.substr(0, result).find(": 10.000000\n"))
        << "an earlier iteration reached the best";

    // With standard error not a terminal, nothing is shown.
    r = run_at_terminal(dir.file("six") + "\n", false, 1 << 10);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.screen);
}

// ------------------------------------------------------------------ trace_summary

namespace {

// The worked example and three more iterations (see the search tests): sizes 3, 2, 4, 3
// scoring 3.666667, 2.5, 5.25, 3.666667.
const int example_numbers[] = {1, 3, 0, 3, 2, 0, 4, 3, 1, 2, 0, 1, 2, 3, 1, 3, 0, 3, 2};
std::size_t example_next = 0;
int example_source() {
    return example_numbers[example_next++ % std::size(example_numbers)];
}

std::string example_trace(const std::string& path) {
    write_file(path, "1 2 1.0\n1 3 2.0\n1 4 3.0\n2 3 4.0\n2 4 5.0\n3 4 6.0\n");
    example_next = 0;
    std::istringstream in(path + "\n");
    std::ostringstream out, err;
    EXPECT_EQ(0, run_search(in, out, err, 4, stream_of(example_source)));
    return out.str();
}

bool read_text(const std::string& text, trace_figures& f, std::string& problem) {
    std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    const bool ok = read_trace(in, f, problem);
    std::fclose(in);
    return ok;
}

// Runs the built trace_summary on `path`; its standard output, error and status.
program_result summarise(const std::string& path, const std::string& flags) {
    scratch_dir dir;
    const int status = std::system((std::string(SUMMARY_PATH) + " " + flags + " '" + path + "' >" +
                                    dir.file("out") + " 2>" + dir.file("err"))
                                       .c_str());
    return {read_file(dir.file("out")), read_file(dir.file("err")), WEXITSTATUS(status)};
}

} // namespace

TEST(Summary, GivesTheFiguresOfEachSubsetSizeAndTheBestSubset) {
    scratch_dir dir;
    write_file(dir.file("trace"), example_trace(dir.file("four")));
    program_result r = summarise(dir.file("trace"), "--csv");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("k,iteracoes,media,minimo,maximo,iteracao_do_maximo\n"
              "2,1,2.500000,2.500000,2.500000,1\n"
              "3,2,3.666667,3.666667,3.666667,0\n"
              "4,1,5.250000,5.250000,5.250000,2\n",
              r.out);
    r = summarise(dir.file("trace"), "");
    EXPECT_EQ(0, r.status);
    EXPECT_NE(std::string::npos,
              r.out.find("Melhor: 5.250000 com 4 pontos, na iteracao 2: 1 2 3 4\n"))
        << r.out;
}

TEST(Summary, SummarisesARunThatEndedWithAnErrorAndRefusesWhatIsNoTrace) {
    scratch_dir dir;
    const std::string trace = example_trace(dir.file("four"));
    // The run ended during its third iteration: two iterations, then the error line.
    const std::size_t third = trace.find("nr pontos: 4\n\n", trace.find("iteracao 1:"));
    const std::string error = "Erro no ficheiro dos dados: triplo 5 em falta ou mal formado";
    trace_figures f;
    std::string problem;
    ASSERT_TRUE(read_text(trace.substr(0, third) + error + "\n", f, problem)) << problem;
    EXPECT_EQ(2, f.iterations);
    EXPECT_EQ(error, f.error);
    EXPECT_FALSE(f.finished);
    EXPECT_EQ(3, f.best_size);
    EXPECT_EQ("1 3 4", f.best_points);

    // Line 7 of the trace, the sorted points, altered; and a file that is not a trace.
    std::string broken = trace;
    broken.replace(broken.find("1 3 4 \n"), 7, "1 4 3 \n");
    write_file(dir.file("broken"), broken);
    program_result r = summarise(dir.file("broken"), "");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_NE(std::string::npos, r.err.find("(linha 7: esperava os pontos ordenados)")) << r.err;
    r = summarise(DATA_DIR "/four.txt", "--csv");
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("linha 1:")) << r.err;
}
