// A pair table that cannot be had: refused with its own line, at start-up and when a
// larger version appears during a run. Each case runs in a child process whose address
// space is capped a little above what it already uses.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "data/parse.hpp"
#include "helpers.hpp"
#include "text/lines.hpp"

using namespace subset;

namespace {

// Runs `body` in a child whose address space may grow by `room` bytes more; returns the
// child's exit status (its `body`'s result, or 100 + signal).
int with_capped_memory(std::size_t room, const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::size_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t cap = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + room;
        const rlimit limit{cap, cap};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(99);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// A file of 20,000 points as far as counting goes: its table needs 800 MB.
const std::string& large_count() {
    static const std::string text = first_run_text(20'000, "2 3 1\n");
    return text;
}

} // namespace

TEST(Memory, ATableThatCannotBeHadIsRefusedWithItsOwnLine) {
    if (sanitized) GTEST_SKIP() << "a sanitizer's shadow memory leaves no room to cap";
    const std::string& text = large_count();
    EXPECT_EQ(0, with_capped_memory(std::size_t{200} << 20, [&] {
                  const parsed p = parsed_of(text);
                  char line[line_room];
                  const std::string printed(line, put_file_error(line, p.error));
                  return printed == "Erro no ficheiro dos dados: sem memoria para 20000 pontos\n"
                             ? 0
                             : 1;
              }));
}

TEST(Memory, ALargerVersionThatCannotBeHadEndsTheRunAfterTheIterationsBefore) {
    if (sanitized) GTEST_SKIP() << "a sanitizer's shadow memory leaves no room to cap";
    scratch_dir dir;
    const std::string doomed_path = dir.file("data");
    const std::string small = distance_text(6, simple_distance);
    write_file(doomed_path, small);
    const std::string& big = large_count(); // made before the cap
    std::srand(3);
    const program_result whole =
        run_in_process(doomed_path + "\n", 1000, stream_of([] { return std::rand(); }));
    const std::string out = dir.file("out");
    // The C library's numbers; at the 40th, the file grows past what memory allows.
    const random_source growing = rand_source([&](std::size_t call) {
        if (call == 39) replace_file(doomed_path, big);
    });
    EXPECT_EQ(1, with_capped_memory(std::size_t{200} << 20, [&] {
                  std::srand(3);
                  const program_result r = run_in_process(doomed_path + "\n", 1000,
                                                          stream_of(growing), looking_always(0));
                  write_file(out, r.out);
                  return r.status;
              }));
    const std::string got = read_file(out);
    const std::string line = "Erro no ficheiro dos dados: sem memoria para 20000 pontos\n";
    ASSERT_GE(got.size(), line.size());
    const std::string body = got.substr(0, got.size() - line.size());
    EXPECT_EQ(line, got.substr(body.size()));
    EXPECT_EQ(whole.out.substr(0, body.size()), body);
    EXPECT_EQ(0U, whole.out.compare(body.size(), 10, "nr pontos:")) << "whole iterations only";
    EXPECT_GT(body.size(), prompt.size() + 100);
}
