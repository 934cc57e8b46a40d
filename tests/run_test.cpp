// The driver: how the file name is read, and the run's whole trace around the iterations.
#include <gtest/gtest.h>

#include "helpers.hpp"

using namespace subset;

namespace {

int never_called() {
    ADD_FAILURE() << "no random number is needed here";
    return 0;
}

} // namespace

TEST(Run, ReadsTheWholeFirstLineAsTheName) {
    scratch_dir dir;
    const std::string long_name(200, 'n');
    const std::string empty_run = prompt + "nr pontos: 4\nMelhor com 0 numeros: 0.000000 pontos\n";
    for (const std::string& name : {std::string("a"), std::string("with space"), long_name})
        write_file(dir.file(name), example_text);

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
