// Driver of the search: start-up, the iterations, and the final report. The iterations
// are drawn here, one after the other from one stream of random numbers, into batches;
// workers sort, score and put them into text; they are written here in iteration order.
#include "run.hpp"

#include <algorithm>
#include <csignal>
#include <istream>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "batch.hpp"
#include "data/distance_file.hpp"
#include "lines.hpp"
#include "screen.hpp"
#include "search/draw.hpp"
#include "segment.hpp"
#include "trace.hpp"
#include "workers.hpp"

namespace subset {

namespace {

// Drawn points that all the batches in flight may hold together (each takes about 18
// bytes of lists and text), so that memory stays bounded whatever the number of workers.
constexpr std::size_t points_in_flight = 1 << 19;
// What a ring takes when that much cannot be had: two batches, and no worker.
constexpr std::size_t fallback_points = 1 << 13;
// Iterations a batch holds about, at most, when no worker takes batches: each one is
// sorted, scored and written as soon as it is drawn, so more would only take memory.
constexpr std::size_t one_thread_iterations = 640;

// ------------------------------------------------------------------ run state

// The best score so far and where it came from; written by write_oldest.
struct best_so_far {
    float score = 0;                  // highest score so far
    std::int32_t size = 0;            // subset size that first reached it
    std::int64_t at = 0;              // the iteration that first reached it
    std::vector<std::int32_t> points; // its points, sorted (room for any, made at start)
};

// Everything one run holds, made afresh by run_search; written by the drawing thread
// only, but for what the workers write into the batches handed to them.
struct run_context {
    explicit run_context(const run_settings& s) : settings(s) {}
    // (In this order the block of `out`, on a cache line, leaves the least padding.)
    trace out;                    // the run's standard output
    const run_settings& settings; // as the caller gave them
    std::size_t batch_points = 0; // drawn points a batch can hold
    std::int64_t filled = 0;      // batches taken for drawing so far
    std::int64_t handed = 0;      // batches handed to the workers so far
    std::int64_t written = 0;     // batches written so far
    batch* current = nullptr;     // the batch being drawn into, if any
    batch* waiting = nullptr;     // drawn, to be handed over with the next (see hand_over)
    std::vector<batch> batches;   // ring of batches, used in order
    best_so_far best;
    screen view;         // the terminal, if a person watches one
    worker_pool workers; // the threads that score batches
    distance_data data;  // the distance file, and the version in use
    draw_state drawing;  // which points the iteration being drawn has taken
    int stopped_by = 0;  // the signal that stopped the run, if any
    bool ended = false;  // a line that ends the run, or a failed write, ended it
};

// ------------------------------------------------------------------ steps

// Reads the file name: the whole first line, without its "\n" or "\r\n". A name that
// ends the input without a line end is used whole; no input at all gives "".
std::string read_name(std::istream& in) {
    std::string name;
    std::getline(in, name);
    if (!in.eof() && !name.empty() && name.back() == '\r') name.pop_back();
    return name;
}

// Writes a line that ends the run: into the trace, and on the terminal.
void end_with(run_context& run, std::string_view line) {
    trace_write(run.out, line);
    screen_line(run.view, line);
    run.ended = true;
}

// Ends the run with the line that says why the file cannot be used.
void end_with_file_error(run_context& run, const file_error& why) {
    char line[line_room];
    end_with(run, {line, static_cast<std::size_t>(put_file_error(line, why) - line)});
}

// Writes the oldest batch in flight once it has been worked on: its text, the best
// score among its iterations, and the line that ends the run after it, if any.
void write_oldest(run_context& run) {
    batch& b = run.batches[static_cast<std::size_t>(run.written++ % std::ssize(run.batches))];
    workers_wait(run.workers, b);
    if (b.failed && !run.ended) {
        // A worker could not get the memory to work on it: the run goes on without
        // workers, here, and ends only when even this thread cannot.
        workers_stop(run.workers);
        work_on(b);
    }
    b.from = nullptr; // its version may go once no batch holds it
    if (run.ended) return;
    if (b.failed) return end_with(run, no_memory_line);
    trace_write(run.out, batch_text(b));
    for (int i = b.skip; i < b.count; ++i) {
        // Only a strictly greater score wins: ties keep the earliest, a NaN never wins.
        if (b.score[i] > run.best.score) {
            run.best.score = b.score[i];
            run.best.size = b.size[i];
            run.best.at = b.first + (i - b.skip);
            const std::int32_t* sorted = b.sorted.data() + b.start[i];
            run.best.points.assign(sorted, sorted + b.size[i]); // within the room made
        }
    }
    screen_progress(run.view, b.first + (b.count - b.skip), run.best.score, run.best.size, false);
    if (b.error.what != file_problem::none) end_with_file_error(run, b.error);
    if (run.out.failed) run.ended = true;
}

// Whether batches of a file of `n` points hold so few iterations that they go to the
// workers two at a time, to be scored together: a sweep takes up to its table's
// sweep_lanes subsets, and at 5000 points a batch holds about 50. Two batches at once must leave
// the ring a batch to draw into.
bool in_pairs(const run_context& run, std::int32_t n) {
    return !run.workers.threads.empty() && run.batches.size() >= 3 &&
           static_cast<double>(run.batch_points) <
               run.settings.kernels->sweep_lanes * ((n + 2) / 2.0);
}

// Hands the batch being drawn into over to the workers: with the one waiting, if any;
// else it waits for the next, when batches go in pairs and it has no error line to end
// the run with.
void hand_over(run_context& run) {
    batch& b = *run.current;
    run.current = nullptr;
    if (run.waiting != nullptr) {
        run.waiting->partner = &b;
        workers_submit(run.workers, *run.waiting);
        run.waiting = nullptr;
        run.handed += 2;
    } else if (b.from != nullptr && b.error.what == file_problem::none &&
               in_pairs(run, b.from->points)) {
        run.waiting = &b;
    } else {
        workers_submit(run.workers, b);
        ++run.handed;
    }
}

// Hands the batch that waits for a partner over alone.
void hand_over_waiting(run_context& run) {
    if (run.waiting == nullptr) return;
    workers_submit(run.workers, *run.waiting);
    run.waiting = nullptr;
    ++run.handed;
}

// Takes the next batch of the ring to draw iterations from `first` on into, from the
// version `from`; writes the oldest batch first when all are in flight.
void take_batch(run_context& run, std::int32_t first, version_ptr from) {
    if (run.filled - run.written == std::ssize(run.batches)) write_oldest(run);
    batch& b = run.batches[static_cast<std::size_t>(run.filled % std::ssize(run.batches))];
    batch_reset(b, run.batch_points, first, std::move(from));
    b.kernels = run.settings.kernels;
    ++run.filled;
    run.current = &b;
}

// Whether the run has been asked to stop; remembers by which signal.
bool stop_asked(run_context& run) {
    if (run.settings.stop == nullptr) return false;
    run.stopped_by = run.settings.stop->load(std::memory_order_relaxed);
    return run.stopped_by != 0;
}

// Counts the file as it is now, making its version the one in use; false, with why,
// when it cannot be used.
bool count_file(run_context& run, file_error& why) {
    const std::int64_t pairs = init_dados(run.data, why);
    return pairs >= 0 && guardaEstrutura(run.data, static_cast<std::int32_t>(pairs), why);
}

// Records that the file failed before iteration `l`, in the batch that ends with the
// iterations before it.
void file_failed(run_context& run, std::int32_t l, const file_error& why) {
    if (run.current == nullptr) take_batch(run, l, nullptr);
    run.current->error = why;
}

// Draws iteration `l` from the version of the file it counts; false when the file
// failed, its reason then recorded in the batch that ends with the iterations before.
bool draw_iteration(run_context& run, std::int32_t l, random_stream& rnd) {
    file_error why;
    if (count_file(run, why)) {
        // A batch holds one version: a new one starts a new batch.
        if (run.current != nullptr &&
            (run.current->from != run.data.myItems || !batch_has_room(*run.current)))
            hand_over(run);
        if (run.current == nullptr) take_batch(run, l, run.data.myItems);
        batch_add(*run.current, run.drawing, rnd);
        return true;
    }
    file_failed(run, l, why);
    return false;
}

// ------------------------------------------------------------------ the draw split over threads
// Segments are drawn by the workers (see segment.hpp) into the batches of the ring, in
// order. The batches from `written` to `handed` are being scored; the one at `handed` is
// held: drawn, the run's from its `skip` on, and growing until the next one's start is
// known; those after it are being drawn. This thread joins each segment to the one held,
// and that one then goes to be scored.

// Files below this many points have their draw split. Above, scoring is most of the
// work and the drawing thread mostly waits, while chains take long to meet (a median
// of 257 iterations at 1000 points, against 7 at 20).
constexpr std::int32_t split_below = 200;

// How the split drawing stands; the drawing thread's own.
struct split_plan {
    random_stream next;      // where the next segment starts (a guess but for the first)
    std::int32_t points = 0; // the point count `reach` was made for
    stream_jump reach;       // how many values apart segments start, as a jump
};

// How a split drawing ended.
enum class split_end {
    going,      // not yet
    done,       // the run is over: the iteration count, a stop, an ended trace, a file error
    one_thread, // the file grew past split_below: the rest is drawn on one thread
    no_memory,  // a segment could not be drawn for want of memory
};

// The batch of the ring that the `taken`-th batch taken uses.
batch& ring_at(run_context& run, std::int64_t taken) {
    return run.batches[static_cast<std::size_t>(taken % std::ssize(run.batches))];
}

// The number of the iteration after the last of `b`.
std::int32_t reached(const batch& b) {
    return b.first + (b.count - b.skip);
}

// Whether a run from the stream `rnd` may split its draw over workers at `n` points: the
// stream must be able to jump.
bool may_split(const run_settings& settings, std::int32_t n, const random_stream& rnd) {
    const std::int64_t values = settings.segment_values;
    return rnd.source == nullptr && values >= 0 && (values > 0 || n < split_below);
}

// Whether the run's draw is split over the workers.
bool split_drawing(const run_context& run, const random_stream& rnd) {
    return !run.workers.threads.empty() && may_split(run.settings, run.data.max, rnd);
}

// How many values apart segments start for files of `n` points: so that a segment
// takes most of a batch, leaving room to follow its chain into the next.
std::int64_t segment_reach(const run_context& run, std::int32_t n) {
    if (run.settings.segment_values > 0) return run.settings.segment_values;
    const double fits = std::min(static_cast<double>(batch_iterations),
                                 static_cast<double>(run.batch_points) / ((n + 2) / 2.0));
    return std::max<std::int64_t>(1,
                                  static_cast<std::int64_t>(0.8 * fits * values_per_iteration(n)));
}

// Makes `b`, at its place in the ring, ready to draw a segment for the version in use
// from `start` up to `stop_at`, numbered from `first` if its start is the run's.
void prepare_segment(run_context& run, batch& b, const random_stream& start, std::int64_t stop_at,
                     std::int32_t first) {
    batch_reset(b, run.batch_points, first, run.data.myItems);
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
    batch& b = ring_at(run, run.filled++);
    prepare_segment(run, b, plan.next, position(plan.next) + plan.reach.distance, first);
    workers_submit(run.workers, b);
    plan.next = jumped(plan.next, plan.reach);
}

// Waits until the segment of `b` is drawn, drawing it here if its worker could not get
// the memory; false when this thread cannot either.
bool wait_drawn(run_context& run, batch& b) {
    if (b.job != task::draw) return true; // drawn here, or waited for already
    workers_wait(run.workers, b);
    if (b.failed) {
        workers_stop(run.workers); // the run goes on without workers
        work_on(b);
    }
    b.job = task::score;
    return !b.failed;
}

// Draws the segment of `b` again, here, from `start`, the run's own position, for the
// version in use; false when the memory for it cannot be had.
bool draw_again(run_context& run, batch& b, const random_stream& start) {
    prepare_segment(run, b, start, b.stop_at, 0);
    work_on(b);
    b.job = task::score;
    return !b.failed;
}

// Hands the held batch over to be scored, cut at the run's last iteration.
void release_held(run_context& run, std::int32_t iterations) {
    batch& held = ring_at(run, run.handed);
    held.count = std::min(held.count, held.skip + (iterations - held.first));
    held.job = task::score;
    workers_submit(run.workers, held);
    ++run.handed;
}

// Joins the segment after the held one to it: follows the held one's chain into its
// starts, or draws it again from where the held one ends when they do not meet or the
// file's point count changed. The held one then goes to be scored, and the next is held.
split_end join_next(run_context& run, std::int32_t iterations, random_stream& rnd) {
    batch& held = ring_at(run, run.handed);
    batch& next = ring_at(run, run.handed + 1);
    if (!wait_drawn(run, held) || !wait_drawn(run, next)) {
        release_held(run, iterations);
        return split_end::no_memory;
    }
    file_error why;
    if (reached(held) >= iterations || run.ended || stop_asked(run)) {
        release_held(run, iterations);
        return split_end::done;
    }
    if (!count_file(run, why)) { // checked here for the iterations of the next segment
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

// The iterations from `l` on, drawn in segments; returns how that ended, with `rnd` where
// the run's stream stands when it goes on on one thread from iteration `l`.
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
        const bool ready =
            run.written < run.handed && workers_finished(run.workers, ring_at(run, run.written));
        if (!ready && run.filled - run.written < std::ssize(run.batches)) {
            start_segment(run, plan, 0);
        } else if (!ready && run.handed + 1 < run.filled) {
            end = join_next(run, iterations, rnd);
        } else {
            write_oldest(run);
        }
    }
    if (end == split_end::one_thread) l = reached(ring_at(run, run.handed - 1));
    // The segments still being drawn are not the run's.
    for (std::int64_t i = run.handed; i < run.filled; ++i) {
        batch& b = ring_at(run, i);
        if (b.job == task::draw) workers_wait(run.workers, b);
        b.from = nullptr;
    }
    run.filled = run.handed;
    run.workers.helping = false;
    return end;
}

// Makes the ring of batches for `workers` workers; false when its memory cannot be had.
// A split draw keeps four more batches: its batches go to the workers twice (drawn, then
// scored), and its own thread works on them while it waits. On two CPUs with
// bench_driver, 141 points: 0.56 s with two more than the workers, 0.46 s with six.
bool make_ring(run_context& run, int workers, bool splits, std::size_t points) {
    try {
        run.batches = std::vector<batch>(static_cast<std::size_t>(workers) + (splits ? 6 : 2));
        if (workers == 0)
            points = std::min(points, run.batches.size() * one_thread_iterations *
                                          (static_cast<std::size_t>(run.data.max) + 2) / 2);
        run.batch_points = std::max<std::size_t>(points / run.batches.size(),
                                                 static_cast<std::size_t>(run.data.max));
        // The room a batch's work usually takes, had now: what cannot be had shows here, at
        // start-up, where fewer workers and smaller batches can still do.
        for (batch& b : run.batches) {
            b.drawn.reserve(run.batch_points);
            b.sorted.reserve(run.batch_points + sorted_spare);
            batch_text_room(b, iteration_room(0) * batch_iterations + 12 * run.batch_points);
        }
        return true;
    } catch (const std::bad_alloc&) {
        run.batches.clear();
        run.batches.shrink_to_fit();
        return false;
    }
}

// Starts the workers and the ring: as many workers as asked for and can be had, or none,
// with smaller batches, when memory is short; false when not even that can be had.
bool start_work(run_context& run, int workers, bool splits) {
    // The ring first: a thread's stack, once had, stays taken after the thread ends.
    if (!make_ring(run, workers, splits, points_in_flight)) {
        workers = 0;
        if (!make_ring(run, 0, false, fallback_points)) return false;
    }
    run.workers.done.reserve(run.batches.size()); // never grown by a worker
    workers_start(run.workers, workers, run.settings.before_thread);
    return true;
}

// The iterations, from the version the start-up counted on, then the batches in flight.
// Memory that runs out while drawing ends the run after the iterations already written.
void run_iterations(run_context& run, std::int32_t iterations, random_stream& rnd) {
    screen_progress(run.view, 0, 0, 0, true);
    bool short_of_memory = false;
    try {
        std::int32_t l = 0;
        split_end split = split_end::one_thread;
        if (iterations > 0 && split_drawing(run, rnd)) split = run_split(run, l, iterations, rnd);
        short_of_memory = split == split_end::no_memory;
        for (; split == split_end::one_thread && l < iterations && !run.ended && !stop_asked(run);
             ++l) {
            if (!draw_iteration(run, l, rnd)) break;
        }
        if (run.current != nullptr) hand_over(run);
    } catch (const std::bad_alloc&) {
        run.current = nullptr; // what it held is not written
        short_of_memory = true;
    }
    hand_over_waiting(run);
    while (run.written < run.handed) write_oldest(run);
    if (short_of_memory && !run.ended) end_with(run, no_memory_line);
    workers_stop(run.workers);
    screen_clear(run.view);
}

// Writes out what is pending and gives the exit status: a failed write turns it into 1,
// with its line on standard error, or into the signal's when the reader has gone.
int finish(run_context& run, std::ostream& err, int status) {
    if (!trace_flush(run.out)) {
        screen_clear(run.view);
        if (stop_asked(run) && run.stopped_by == SIGPIPE) return 128 + SIGPIPE;
        if (run.view.to != nullptr) {
            screen_line(run.view, write_error_line);
        } else {
            err << write_error_line;
            err.flush();
        }
        return 1;
    }
    return status;
}

// The workers a run of a file of `n` points starts. Below split_below points, drawing
// is a large share of the work (over a third of it at 141 points), and this thread keeps
// a CPU: to draw, or, when the draw is split, to follow chains, write, and work on
// batches while it waits (on two CPUs with bench_driver, drawing here at 141 points, one
// worker beat two by 4 to 22%; at 300, two beat one by 12 to 18%).
int workers_for(const run_settings& settings, std::int32_t n) {
    if (settings.workers >= 0) return settings.workers;
    const int cpus = usable_cpus();
    if (cpus <= 1) return 0;
    return n < split_below ? cpus - 1 : cpus;
}

// The run, once its state is made.
int run_with(run_context& run, std::istream& in, std::ostream& err, std::int32_t iterations,
             random_stream& rnd) {
    const run_settings& settings = run.settings;
    screen_start(run.view, settings.screen, iterations, settings.clock);
    trace_write(run.out, prompt_line);
    screen_prompt(run.view, settings.echoed);
    if (!trace_flush(run.out)) return finish(run, err, 1); // the prompt is seen before we wait
    distance_start(run.data, read_name(in), settings.watch);
    screen_name_read(run.view);
    if (settings.name_read) settings.name_read();

    file_error why;
    if (init_dados(run.data, why) < 0) {
        end_with_file_error(run, why);
        return finish(run, err, 1);
    }
    trace_commit(run.out, put_count(trace_room(run.out, line_room), run.data.max));
    run.best.points.reserve(max_points);
    const std::int32_t n = run.data.max;
    if (!start_work(run, workers_for(settings, n), may_split(settings, n, rnd))) {
        end_with(run, no_memory_line);
        return finish(run, err, 1);
    }

    run_iterations(run, iterations, rnd);
    if (run.ended) return finish(run, err, 1);
    if (run.stopped_by != 0) { // the trace ends after a whole iteration, with no final line
        const int status = finish(run, err, 128 + run.stopped_by);
        if (status == 128 + run.stopped_by && run.stopped_by != SIGPIPE)
            screen_best(run.view, run.best.at, run.best.points.data(), run.best.size, true);
        return status;
    }
    trace_commit(run.out, put_best(trace_room(run.out, line_room), run.best.size, run.best.score));
    const int status = finish(run, err, 0);
    if (status == 0)
        screen_best(run.view, run.best.at, run.best.points.data(), run.best.size, false);
    return status;
}

} // namespace

// ------------------------------------------------------------------ the run

int run_search(std::istream& in, std::ostream& out, std::ostream& err, std::int32_t iterations,
               random_stream rnd, const run_settings& settings) {
    std::unique_ptr<run_context> run;
    try {
        run = std::make_unique<run_context>(settings);
    } catch (const std::bad_alloc&) {
        // Not even the run's own state: the prompt, and the line, straight to the stream.
        out << prompt_line << no_memory_line;
        out.flush();
        return 1;
    }
    trace_start(run->out, &out);
    try {
        return run_with(*run, in, err, iterations, rnd);
    } catch (const std::bad_alloc&) {
        // Memory ran out outside the iterations (the name, the screen): nothing in flight.
        workers_stop(run->workers);
        if (!run->ended) end_with(*run, no_memory_line);
        return finish(*run, err, 1);
    }
}

} // namespace subset
