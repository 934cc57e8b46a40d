// Reading blocks: three in turn, each read whole by fread (which returns short only at
// the stream's end or on an error), handed between the reading thread and the taker under
// one lock, a block at a time.
#include "summary/input.hpp"

#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <system_error>

namespace subset {

namespace {

// Fills `b` from `in`.
void fill(block& b, std::FILE* in, std::size_t room) {
    b.size = std::fread(b.bytes.get(), 1, room, in);
    // Vector loads run past the last line end: what they see there is defined, if unused.
    std::memset(b.bytes.get() + b.size, 0, block_padding);
    b.failed = std::ferror(in) != 0;
    b.last = b.size < room;
}

// Whether reading `in` can wait on something other than this machine's memory or disks:
// a pipe, a terminal, a socket.
bool may_block(std::FILE* in) {
    const int fd = fileno(in);
    if (fd < 0) return false; // a stream in memory
    struct stat st {};
    return fstat(fd, &st) != 0 || !S_ISREG(st.st_mode);
}

// The reading thread: each block in turn, once the taker has given it back.
void read_ahead(block_reader& b) {
    for (std::size_t i = 0;; ++i) {
        block& next = b.blocks[i % 3];
        {
            std::unique_lock<std::mutex> hold(b.lock);
            b.changed.wait(hold, [&] { return b.stop || !next.full; });
            if (b.stop) return;
        }
        fill(next, b.in, b.room);
        {
            const std::lock_guard<std::mutex> hold(b.lock);
            next.full = true;
        }
        b.changed.notify_all();
        if (next.last) return;
    }
}

} // namespace

void start_reading(block_reader& b, std::FILE* in, std::size_t room, bool thread) {
    b.in = in;
    b.room = room;
    for (block& one : b.blocks) one.bytes.reset(new char[room + block_padding]);
    b.ahead = false;
    if (!thread || may_block(in)) return;
    try {
        b.thread = std::thread(read_ahead, std::ref(b));
        b.ahead = true;
    } catch (const std::system_error&) { // no thread to be had: read as blocks are needed
    }
}

const block* next_block(block_reader& b) {
    if (b.taken > 0) { // the block before is given back
        block& before = b.blocks[(b.taken - 1) % 3];
        // Read before it is given back: the reading thread may fill it again at once.
        if (before.last) b.ended = true;
        if (b.ahead) {
            {
                const std::lock_guard<std::mutex> hold(b.lock);
                before.full = false;
            }
            b.changed.notify_all();
        }
    }
    if (b.ended) return nullptr;
    block& next = b.blocks[b.taken % 3];
    if (b.ahead) {
        std::unique_lock<std::mutex> hold(b.lock);
        b.changed.wait(hold, [&] { return next.full; });
    } else {
        fill(next, b.in, b.room);
    }
    ++b.taken;
    return &next;
}

void stop_reading(block_reader& b) {
    if (!b.thread.joinable()) return;
    {
        const std::lock_guard<std::mutex> hold(b.lock);
        b.stop = true;
    }
    b.changed.notify_all();
    b.thread.join();
}

block_reader::~block_reader() {
    stop_reading(*this);
}

} // namespace subset
