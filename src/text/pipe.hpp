// Pipes grown to the system's limit. A pipe's default buffer (64 KiB) makes a writer and a
// reader of large blocks take turns about every 64 KiB; a buffer of the largest size the
// system lets any process set (/proc/sys/fs/pipe-max-size, 1 MiB by default) lets them
// overlap. Nothing read or written through the pipe changes.
#pragma once

#include <cstddef>

namespace subset {

// Grows the pipe on `fd` to the largest size the system allows, and returns its size
// then; keeps the size it has when the system refuses. Returns 0 when `fd` is no pipe.
// Does not allocate or throw.
std::size_t grow_pipe(int fd);

} // namespace subset
