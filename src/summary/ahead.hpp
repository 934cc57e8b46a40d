// A regular file read on two threads. The file is cut into blocks; this thread takes the
// even ones in order, as a pipe's blocks are taken, while a second thread reads each odd
// block ahead and takes its ordinary iterations whole from the first count line in it,
// knowing nothing of the blocks before. When this thread reaches an odd block it takes
// the lines before that count line itself, and the figures of the iterations read ahead
// count only when the trace so far leads into them: a count line expected next, the same
// N and the next iteration's number. Otherwise the block is taken as any other. Either
// way each line is taken once, in order, by the one grammar, so the figures, the status
// and the problem are those of reading the file in one piece.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "summary/grammar.hpp"

namespace subset {

// Takes the regular file open on `fd` from `base` on, in blocks of `room` bytes (at most
// 1 GiB), into `r` (and `carry`, the line its last bytes leave cut), as take_bytes would
// take it in one piece; sets `failed` when it cannot be read to its end. False at the
// first line out of place. Uses this thread alone when no second one can be had. Throws
// only std::bad_alloc, with no thread left running.
bool take_file(reader& r, std::string& carry, int fd, off_t base, std::size_t room, bool whole,
               bool& failed);

} // namespace subset
