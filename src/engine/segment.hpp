// The draw split over threads, in rand()'s exact order. An iteration that starts at
// position p of the random stream takes c(p) values, so the run's iterations start at
// p0, p0 + c(p0), ...: a chain. A segment is drawn from a guessed later position, along
// a chain of its own; once the run's chain lands on one of the segment's starts, the two
// are the same from there on. The drawing thread follows each segment's chain into the
// next one's starts until they meet: the next one's iterations before that point are
// not the run's, and are skipped.
#pragma once

#include <cstdint>

namespace subset {

struct batch;
struct draw_state;

// The mean count of random values an iteration of `n` points takes: one for K, and the
// attempts until K different points are drawn among n + 1 values.
double values_per_iteration(std::int32_t n);

// Draws into `b` (reset for its version, its `stream` and `stop_at` set) iterations from
// its stream on, recording where each starts, until one would start at `stop_at` or
// later or the batch is full, with `drawing`; leaves `stream` where the drawing ended.
void draw_segment(batch& b, draw_state& drawing);

// Follows the chain of `held` (drawn up to its stream's position) into the starts of
// `into`, drawing the iterations on the way into `held` with `drawing`. Returns the
// index of the iteration of `into` where the chains meet (its count when they meet at
// its end), or -1 when `held` fills up or passes the end of `into` first.
std::int32_t follow_into(batch& held, const batch& into, draw_state& drawing);

} // namespace subset
