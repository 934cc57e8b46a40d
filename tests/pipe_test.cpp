// Pipes grown to the system's limit, and nothing else touched.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "helpers.hpp"
#include "text/pipe.hpp"

using namespace subset;

TEST(Pipe, APipeGrowsToTheLimitAnyProcessMaySet) {
    long limit = 0;
    std::ifstream("/proc/sys/fs/pipe-max-size") >> limit;
    ASSERT_GT(limit, 0);
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    if (limit <= fcntl(ends[1], F_GETPIPE_SZ)) GTEST_SKIP() << "no pipe can be grown here";
    // Either end grows the one buffer they share; growing again changes nothing.
    EXPECT_EQ(static_cast<std::size_t>(limit), grow_pipe(ends[1]));
    EXPECT_EQ(limit, fcntl(ends[0], F_GETPIPE_SZ));
    EXPECT_EQ(static_cast<std::size_t>(limit), grow_pipe(ends[0]));
    // What goes through it is untouched.
    ASSERT_EQ(5, write(ends[1], "trace", 5));
    char got[5];
    ASSERT_EQ(5, read(ends[0], got, 5));
    EXPECT_EQ(0, std::string(got, 5).compare("trace"));
    close(ends[0]);
    close(ends[1]);
}

TEST(Pipe, AnythingElseIsLeftAsItIs) {
    scratch_dir dir;
    write_file(dir.file("f"), "x");
    const int file = open(dir.file("f").c_str(), O_RDONLY);
    const int null = open("/dev/null", O_WRONLY);
    EXPECT_EQ(0U, grow_pipe(file));
    EXPECT_EQ(0U, grow_pipe(null));
    EXPECT_EQ(0U, grow_pipe(-1));
    close(file);
    close(null);
}
