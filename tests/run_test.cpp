// The driver: how the file name is read, and the run's whole trace around the iterations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>

#include "helpers.hpp"

using namespace subset;

TEST(Run, ReadsTheWholeFirstLineAsTheName) {
    scratch_dir dir;
    const std::string long_name(200, 'n');
    const std::string empty_run = prompt + "nr pontos: 4\nMelhor com 0 numeros: 0.000000 pontos\n";
    for (const std::string& name : {std::string("a"), std::string("with space"), long_name})
        write_file(dir.file(name), example_text);
    const random_source never_called = scripted_source({}); // no number is needed here

    for (const std::string& input :
         {dir.file("a") + "\n", dir.file("a") + "\r\n", dir.file("a"),
          dir.file("a") + "\nsecond line\n", dir.file("with space") + "\n", dir.file(long_name)}) {
        program_result r = run_in_process(input, 0, stream_of(never_called));
        EXPECT_EQ(0, r.status) << input;
        EXPECT_EQ(empty_run, r.out) << input;
        EXPECT_EQ("", r.err);
    }
    // A name is not trimmed: a trailing space or a lone carriage return is part of it.
    for (const std::string& input : {dir.file("a") + " \n", dir.file("a") + "\r", std::string()}) {
        program_result r = run_in_process(input, 0, stream_of(never_called));
        EXPECT_EQ(1, r.status) << input;
        EXPECT_EQ(prompt + no_access, r.out) << input;
    }
}

namespace {

// The best score among the first `done` iterations of `trace`, and its size, as the
// program keeps it; read from the result lines.
std::pair<std::string, int> best_of_first(const std::string& trace, std::int64_t done) {
    float best = 0;
    int size = 0;
    std::size_t at = 0;
    for (std::int64_t l = 0; l < done; ++l) {
        at = trace.find("Distancia media para ", at) + 21;
        const auto k = static_cast<int>(std::strtol(trace.c_str() + at, nullptr, 10));
        const float score = std::strtof(trace.c_str() + trace.find(": ", at) + 2, nullptr);
        if (score > best) {
            best = score;
            size = k;
        }
    }
    return {printf_f(best), size};
}

} // namespace

TEST(Run, ProgressShowsTheBestOfTheIterationsItCountsAndTheRateSinceTheName) {
    scratch_dir dir;
    write_file(dir.file("d"),
               distance_text(12, [](int i, int j) { return (i * 7 - j * 3) / 4.0; }));
    // A person takes 1000 s to type the name; then each look at the clock is 1 s later.
    std::int64_t calls = 0;
    std::ostringstream screen;
    run_settings settings;
    settings.screen = &screen;
    settings.workers = 0;
    settings.clock = [&] {
        ++calls;
        return (calls == 1 ? 0 : 1000 + calls) * std::int64_t{1'000'000'000};
    };
    const program_result r = run_in_process(dir.file("d") + "\n", 20'000, rand_stream(7), settings);
    ASSERT_EQ(0, r.status);
    const std::string shown = screen.str();
    int lines = 0;
    for (std::size_t at = 0; (at = shown.find("iteracao ", at)) != std::string::npos; ++at) {
        if (at == 0 || (shown[at - 1] != '\r' && shown[at - 1] != '\n')) continue; // not progress
        const std::int64_t done = std::strtoll(shown.c_str() + at + 9, nullptr, 10);
        const std::size_t end = shown.find('\x1b', at);
        const std::string line = shown.substr(at, end - at);
        ++lines;
        if (done == 0) {
            EXPECT_EQ("iteracao 0 de 20000 (0.0%)", line);
            continue;
        }
        const auto [best, size] = best_of_first(r.out, done);
        EXPECT_NE(std::string::npos,
                  line.find(", melhor " + best + " com " + std::to_string(size) + " pontos"))
            << line;
        // Not a thousand seconds at the prompt: at most one scripted second a read of the
        // clock since the name.
        const std::int64_t rate = std::strtoll(line.c_str() + line.find("%), ") + 4, nullptr, 10);
        EXPECT_GE(rate, done / calls) << line;
    }
    EXPECT_GE(lines, 4) << shown;
    EXPECT_LT(calls, 1000); // else the rates above would not tell the prompt's time apart
}
