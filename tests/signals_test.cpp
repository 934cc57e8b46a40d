// Signals as the built program meets them: handled ones stop it after whole iterations
// and end it by the same signal; ones its parent left ignored stay ignored.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "helpers.hpp"

namespace {

// Starts the program on the four-point sample with `ignored` left ignored, reads 1 MB
// of its trace, sends it `signal`, and reads the rest, keeping the last 64 kB of it.
program_result signalled_run(std::vector<int> ignored, int signal) {
    program_options options;
    options.input = DATA_DIR "/four.txt\n";
    options.ignored = std::move(ignored);
    std::unique_ptr<running_program> p = start_program(options);
    program_result r;
    read_output(*p, r.out, 1 << 20);
    kill(p->pid, signal);
    for (bool more = true; more;) {
        std::string piece;
        more = read_output(*p, piece, 1 << 16);
        r.out += piece;
        if (r.out.size() > (1 << 17)) r.out.erase(0, r.out.size() - (1 << 16));
    }
    r.status = wait_program(*p, r.err);
    return r;
}

// The trace's last line.
std::string last_line(const std::string& trace) {
    if (trace.empty() || trace.back() != '\n') return trace;
    return trace.substr(trace.rfind('\n', trace.size() - 2) + 1);
}

} // namespace

TEST(Signals, HangUpStopsAfterAWholeIterationAndEndsByIt) {
    const program_result r = signalled_run({}, SIGHUP);
    EXPECT_EQ(128 + SIGHUP, r.status);
    EXPECT_EQ(0U, last_line(r.out).rfind("Distancia media para ", 0)) << last_line(r.out);
    EXPECT_EQ(std::string::npos, r.out.find("Melhor com"));
    EXPECT_EQ("", r.err);
}

TEST(Signals, OnesTheParentIgnoredStayIgnoredAndTheRunFinishes) {
    for (const int signal : {SIGINT, SIGHUP}) {
        const program_result r = signalled_run({signal}, signal);
        EXPECT_EQ(0, r.status) << signal;
        EXPECT_EQ(0U, last_line(r.out).rfind("Melhor com ", 0)) << signal << last_line(r.out);
        EXPECT_EQ("", r.err) << signal;
    }
}

TEST(Signals, AClosedOutputWithBrokenPipeIgnoredIsAFailedWrite) {
    program_options options;
    options.input = DATA_DIR "/four.txt\n";
    options.ignored = {SIGPIPE};
    const program_result r = run_program(options, 100); // its reader goes after 100 bytes
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("Erro na escrita dos resultados\n", r.err);
    EXPECT_EQ(0U, r.out.rfind(prompt, 0));
}

namespace {

// Runs `command` under bash, with standard error into a file; its status and that error.
program_result shell(const std::string& command) {
    scratch_dir dir;
    const std::string line = "bash -c '" + command + "' 2>" + dir.file("err");
    const int status = std::system(line.c_str());
    return {"", read_file(dir.file("err")), decode_status(status)};
}

} // namespace

TEST(Signals, TheToolsStopAndSayWhatFailedWhenTheirWritesFail) {
    const std::string make = MAKE_DISTANCES_PATH;
    program_result r = shell(make + " 300 1 0 1 >/dev/full");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(0U, r.err.rfind("make_distances: erro na escrita: ", 0)) << r.err;
    // Its reader gone with SIGPIPE ignored: it stops at once rather than write 2^31 lines.
    r = shell("trap \"\" PIPE; " + make +
              " 65536 1 0 1 | head -c 100 >/dev/null; exit ${PIPESTATUS[0]}");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(0U, r.err.rfind("make_distances: erro na escrita: ", 0)) << r.err;
    scratch_dir dir;
    const std::string trace = dir.file("trace");
    shell("printf \"%s\\n\" " DATA_DIR "/four.txt | " PROGRAM_PATH " | head -c 5000 >" + trace);
    r = shell(std::string(SUMMARY_PATH) + " " + trace + " >/dev/full");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(0U, r.err.rfind("trace_summary: erro na escrita do resumo: ", 0)) << r.err;
}
