// Growing a pipe: the limit read from /proc, then one fcntl.
#include "text/pipe.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace subset {

namespace {

// The largest pipe size any process may set, or 0 when it cannot be read.
long pipe_limit() {
    std::FILE* f = std::fopen("/proc/sys/fs/pipe-max-size", "r");
    if (f == nullptr) return 0;
    long size = 0;
    if (std::fscanf(f, "%ld", &size) != 1) size = 0;
    std::fclose(f);
    return size;
}

} // namespace

std::size_t grow_pipe(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return 0;
    const long limit = pipe_limit();
    const int size = fcntl(fd, F_GETPIPE_SZ);
    // A privileged process could go past the limit; it is meant for everyone, so keep to it.
    if (limit > size && limit <= (1L << 30)) fcntl(fd, F_SETPIPE_SZ, static_cast<int>(limit));
    const int now = fcntl(fd, F_GETPIPE_SZ);
    return now > 0 ? static_cast<std::size_t>(now) : 0;
}

} // namespace subset
