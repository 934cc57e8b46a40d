// The draw split over the workers, in rand()'s exact order: segments drawn by the workers
// from jumped-ahead positions (see segment.hpp) into the ring's batches, each joined here
// to the one before it, then handed over to be scored and written in order.
#pragma once

#include <cstdint>

namespace subset {

struct random_stream;
struct run_context;
struct run_settings;

// Files below this many points have their draw split. Above, scoring is most of the
// work and the drawing thread mostly waits, while chains take long to meet (a median
// of 257 iterations at 1000 points, against 7 at 20).
inline constexpr std::int32_t split_below = 200;

// How a split drawing ended.
enum class split_end {
    going,      // not yet
    done,       // the run is over: the iteration count, a stop, an ended trace, a file error
    one_thread, // the file grew past split_below: the rest is drawn on one thread
    no_memory,  // a segment could not be drawn for want of memory
};

// Whether a run from the stream `rnd` may split its draw over workers at `n` points: the
// stream must be able to jump.
bool may_split(const run_settings& settings, std::int32_t n, const random_stream& rnd);

// Whether the run's draw is split over the workers.
bool split_drawing(const run_context& run, const random_stream& rnd);

// The iterations from `l` on, drawn in segments; returns how that ended, with `rnd` where
// the run's stream stands, and `l` the iteration, when it goes on on one thread.
split_end run_split(run_context& run, std::int32_t& l, std::int32_t iterations, random_stream& rnd);

} // namespace subset
