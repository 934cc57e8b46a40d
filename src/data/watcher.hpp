// Watching the distance file on disk: one watcher per run, made with the file's name,
// hands out the version the file holds now. Each version is read and parsed once; later
// calls are served from it until a look at the file shows that it has changed. An
// unusable version seen during a run is waited on, since it is most often a write still
// in progress. The clock, the pause between polls and how often to look are the caller's.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "data/version.hpp"

namespace subset {

// How a watcher keeps time; the defaults are the program's own.
struct watch_settings {
    std::function<std::int64_t()> now;       // the clock, in nanoseconds (steady_clock if unset)
    std::function<void(std::int64_t)> pause; // waits so many nanoseconds (sleeps if unset)
    std::int64_t look_interval_ns = 500'000; // looks at most this often (0: at every call)
};

struct file_stamps {
    dev_t dev;
    ino_t ino;
    off_t size;
    timespec mtime;
    timespec ctime;
};

// Everything known about the file; written only by the watch_ functions.
struct file_watch {
    std::string path;            // the file's name, fixed for the run
    watch_settings settings;     // the clock and the timings
    bool held = false;           // the fields below belong to a version of the file
    bool served = false;         // a usable version was handed out: a run is on
    file_stamps stamps{};        // identity and stamps of the version held
    std::int64_t first_seen = 0; // clock when those stamps were first seen
    bool settled = false;        // stamps unchanged long enough: the bytes need no check
    std::uint64_t hash = 0;      // of the version's bytes as read (xxHash)
    std::uint64_t bytes = 0;     // how many were read
    version_ptr current;         // what parsing them gave, when usable
    file_error parsed;           // or why it cannot be used
    std::int64_t last_look = 0;  // clock at the last look
    std::int64_t unclocked = 0;  // iterations drawn since the clock was last read
    int clock_stride = 1;        // iterations between reads of the clock, for the version held
    std::int64_t parses = 0;     // versions parsed so far
};

// Starts watching the file `path`; nothing is read until the first watch_version.
void watch_start(file_watch& w, std::string path, watch_settings settings = {});

// Puts the version the file holds now in `v` (which holds what the last call gave),
// looking at the file when a look is due, and returns true; on a file that cannot be
// used, returns false, says why in `why` and leaves `v` empty. `iterations` is how many iterations
// were drawn from `v` since the last call: one on the one-thread path, a whole segment's on the
// split one. A look is due by the clock, which is read once the iterations since its last reading
// reach about 1024 points' worth, so a change is seen within about a millisecond on either path.
// Once a usable version has been handed out, an unusable one is waited on, looking every few
// milliseconds, until the file is usable again or has not changed for a second; a file
// that cannot be opened ends the wait at once.
bool watch_version(file_watch& w, version_ptr& v, file_error& why, std::int64_t iterations = 1);

} // namespace subset
