// The split draw's orchestration: segments started, waited for, joined, drawn again.
#include "engine/split_draw.hpp"

#include <algorithm>

#include "engine/run_state.hpp"
#include "engine/segment.hpp"
#include "search/random.hpp"

namespace subset {

bool may_split(const run_settings& settings, std::int32_t n, const random_stream& rnd) {
    const std::int64_t values = settings.segment_values;
    return rnd.source == nullptr && values >= 0 && (values > 0 || n < split_below);
}

bool split_drawing(const run_context& run, const random_stream& rnd) {
    return !run.workers.threads.empty() && may_split(run.settings, run.data.max, rnd);
}

namespace {

// Segments are drawn by the workers (see segment.hpp) into the batches of the ring, in
// order. The batches from `written` to `handed` are being scored; the one at `handed` is
// held: drawn, the run's from its `skip` on, and growing until the next one's start is
// known; those after it are being drawn. This thread joins each segment to the one held,
// and that one then goes to be scored.

// How the split drawing stands; the drawing thread's own.
struct split_plan {
    random_stream next;      // where the next segment starts (a guess but for the first)
    std::int32_t points = 0; // the point count `reach` was made for
    stream_jump reach;       // how many values apart segments start, as a jump
};

// The number of the iteration after the last of `b`.
std::int32_t reached(const batch& b) {
    return b.first + (b.count - b.skip);
}

// How many values apart segments start for files of `n` points: so that a segment
// takes most of a batch, leaving room to follow its chain into the next.
std::int64_t segment_reach(const run_context& run, std::int32_t n) {
    if (run.settings.segment_values > 0) return run.settings.segment_values;
    const double fits = std::min(static_cast<double>(batch_iterations),
                                 static_cast<double>(run.ring.batch_points) / ((n + 2) / 2.0));
    return std::max<std::int64_t>(1,
                                  static_cast<std::int64_t>(0.8 * fits * values_per_iteration(n)));
}

// Makes `b`, at its place in the ring, ready to draw a segment for the version in use
// from `start` up to `stop_at`, numbered from `first` if its start is the run's.
void prepare_segment(run_context& run, batch& b, const random_stream& start, std::int64_t stop_at,
                     std::int32_t first) {
    batch_reset(b, run.ring.batch_points, first, run.data.myItems);
    b.kernels = run.settings.kernels;
    b.job = task::draw;
    b.stream = start;
    b.stop_at = stop_at;
}

// Takes the next batch of the ring and hands it over to draw the segment that starts at
// `plan.next`; the one after starts a reach further on.
void start_segment(run_context& run, split_plan& plan, std::int32_t first) {
    const std::int32_t n = run.data.max;
    if (plan.points != n) {
        plan.reach = jump_of(segment_reach(run, n));
        plan.points = n;
    }
    batch& b = ring_take_segment(run.ring);
    prepare_segment(run, b, plan.next, position(plan.next) + plan.reach.distance, first);
    workers_submit(run.workers, b);
    plan.next = jumped(plan.next, plan.reach);
}

// Waits until the segment of `b` is drawn, drawing it here if its worker could not get
// the memory; false when this thread cannot either.
bool wait_drawn(run_context& run, batch& b) {
    if (b.job != task::draw) return true; // drawn here, or waited for already
    workers_wait(run.workers, b);
    const bool drawn = workers_redo_here(run.workers, b);
    b.job = task::score;
    return drawn;
}

// Draws the segment of `b` again, here, from `start`, the run's own position, for the
// version in use; false when the memory for it cannot be had.
bool draw_again(run_context& run, batch& b, const random_stream& start) {
    prepare_segment(run, b, start, b.stop_at, 0);
    work_on(b, run.workers.scratch.front());
    b.job = task::score;
    return !b.failed;
}

// Hands the held batch over to be scored, cut at the run's last iteration.
void release_held(run_context& run, std::int32_t iterations) {
    batch& held = ring_unhanded_at(run.ring, 0);
    held.count = std::min(held.count, held.skip + (iterations - held.first));
    held.job = task::score;
    ring_hand_over_oldest_unhanded(run.ring, run.workers);
}

// Joins the segment after the held one to it: follows the held one's chain into its
// starts, or draws it again from where the held one ends when they do not meet or the
// file's point count changed. The held one then goes to be scored, and the next is held.
split_end join_next(run_context& run, std::int32_t iterations, random_stream& rnd) {
    batch& held = ring_unhanded_at(run.ring, 0);
    batch& next = ring_unhanded_at(run.ring, 1);
    if (!wait_drawn(run, held) || !wait_drawn(run, next)) {
        release_held(run, iterations);
        return split_end::no_memory;
    }
    file_error why;
    if (reached(held) >= iterations || run.ended || stop_asked(run)) {
        release_held(run, iterations);
        return split_end::done;
    }
    // Checked here for the iterations of the next segment; the held one's were drawn since
    // the last count.
    if (!count_file(run, why, held.count - held.skip)) {
        held.error = why;
        release_held(run, iterations);
        return split_end::done;
    }
    const std::int32_t n = run.data.max;
    std::int32_t met = -1;
    if (n != next.from->points) {
        if (n >= split_below && run.settings.segment_values == 0) {
            rnd = held.stream;
            release_held(run, iterations);
            return split_end::one_thread;
        }
    } else {
        next.from = run.data.myItems; // a version of the same size draws the same
        met = follow_into(held, next, run.drawing);
    }
    if (met < 0) {
        if (!draw_again(run, next, held.stream)) {
            release_held(run, iterations);
            return split_end::no_memory;
        }
        met = 0;
    }
    next.skip = met;
    next.first = reached(held);
    release_held(run, iterations);
    return next.first >= iterations ? split_end::done : split_end::going;
}

} // namespace

split_end run_split(run_context& run, std::int32_t& l, std::int32_t iterations,
                    random_stream& rnd) {
    file_error why;
    if (!count_file(run, why)) {
        file_failed(run, l, why);
        return split_end::done;
    }
    split_plan plan;
    plan.next = rnd;
    run.workers.helping = true;  // this thread has little else to do
    start_segment(run, plan, l); // the first starts where the run stands
    split_end end = split_end::going;
    while (end == split_end::going) {
        // Written first when it is ready; else drawn further while there is room; else
        // joined; else waited for.
        const bool ready = ring_oldest_ready(run.ring, run.workers);
        if (!ready && !ring_full(run.ring)) {
            start_segment(run, plan, 0);
        } else if (!ready && ring_unhanded(run.ring) > 1) {
            end = join_next(run, iterations, rnd);
        } else {
            write_oldest(run);
        }
    }
    if (end == split_end::one_thread) l = reached(ring_last_handed(run.ring));
    // The segments still being drawn are not the run's.
    ring_drop_unhanded(run.ring, run.workers);
    run.workers.helping = false;
    return end;
}

} // namespace subset
