// The bytes of a trace, a block at a time, from a stdio stream. From a regular file or a
// stream in memory the next blocks are read ahead on a thread of their own while the
// last one is taken; from anything that may block (a pipe, a terminal) they are read as
// they are needed, so that reading stops as soon as the taker does.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace subset {

// Bytes readable past every block's end, for vector loads.
inline constexpr std::size_t block_padding = 64;

struct block {
    std::unique_ptr<char[]> bytes; // room for `room` bytes and the padding
    std::size_t size = 0;          // bytes read into it
    bool last = false;             // the stream ended (or failed) after them
    bool failed = false;           // the stream reported an error
    bool full = false;             // read, and not yet given back
};

// The blocks of one stream, and the thread that reads ahead, if any.
struct block_reader {
    std::FILE* in = nullptr;
    std::size_t room = 0;  // bytes asked of the stream for each block
    block blocks[3];       // read in turn, cyclically
    std::size_t taken = 0; // blocks taken so far; the next is blocks[taken % 3]
    bool ahead = false;    // whether a thread reads ahead
    bool stop = false;     // the taker is done: the thread stops; under `lock`
    std::mutex lock;       // guards `full` and `stop` when a thread reads ahead
    std::condition_variable changed;
    std::thread thread;
    bool ended = false; // the last block has been taken

    ~block_reader();
};

// Starts reading `in` in blocks of `room` bytes (1 or more), on a thread of its own when
// `thread` is set, the stream cannot block and a thread can be had. Allocates; throws
// only std::bad_alloc, leaving nothing running.
void start_reading(block_reader& b, std::FILE* in, std::size_t room, bool thread);

// The next block, read; null after the last one. Valid until the next call.
const block* next_block(block_reader& b);

// Stops the thread, if any, and waits for it. Safe to call more than once.
void stop_reading(block_reader& b);

} // namespace subset
