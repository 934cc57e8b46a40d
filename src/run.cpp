// Driver of the search: start-up, the iterations, and the final report. The iterations
// are drawn here, one after the other from one stream of random numbers, into the ring's
// batches (ring.hpp), or split over the workers below 200 points (split_draw.hpp);
// workers sort, score and put them into text; they are written here in iteration order.
#include "run.hpp"

#include <csignal>
#include <istream>
#include <memory>
#include <new>
#include <ostream>
#include <string>

#include "engine/resources.hpp"
#include "engine/run_state.hpp"
#include "engine/split_draw.hpp"
#include "text/lines.hpp"

namespace subset {

namespace {

// ------------------------------------------------------------------ steps

// Reads the file name: the whole first line, without its "\n" or "\r\n". A name that
// ends the input without a line end is used whole; no input at all gives "".
std::string read_name(std::istream& in) {
    std::string name;
    std::getline(in, name);
    if (!in.eof() && !name.empty() && name.back() == '\r') name.pop_back();
    return name;
}

// Draws iteration `l` from the version of the file it counts; false when the file
// failed, its reason then recorded in the batch that ends with the iterations before.
bool draw_iteration(run_context& run, std::int32_t l, random_stream& rnd) {
    file_error why;
    if (count_file(run, why)) {
        // A batch holds one version: a new one starts a new batch.
        if (run.ring.current != nullptr &&
            (run.ring.current->from != run.data.myItems || !batch_has_room(*run.ring.current)))
            ring_hand_over(run.ring, run.workers);
        if (run.ring.current == nullptr) take_batch(run, l, run.data.myItems);
        batch_add(*run.ring.current, run.drawing, rnd);
        return true;
    }
    file_failed(run, l, why);
    return false;
}

// Starts the workers and the ring: as many workers as asked for and can be had, or none,
// with smaller batches, when memory is short; false when not even that can be had.
bool start_work(run_context& run, int workers, bool splits) {
    // The memory first: a thread's stack, once had, stays taken after the thread ends.
    const kernel_table& kernels = *run.settings.kernels;
    if (!resources_make(run, plan_resources(run.data.max, workers, splits, kernels))) {
        workers = 0;
        if (!resources_make(run, plan_short(run.data.max, kernels))) return false;
    }
    workers_start(run.workers, workers, run.settings.before_thread);
    if (run.settings.started) run.settings.started();
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
        if (run.ring.current != nullptr) ring_hand_over(run.ring, run.workers);
    } catch (const std::bad_alloc&) {
        run.ring.current = nullptr; // what it held is not written
        short_of_memory = true;
    }
    ring_hand_over_waiting(run.ring, run.workers);
    while (run.ring.written < run.ring.handed) write_oldest(run);
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
    int status = 1;
    try {
        status = run_with(*run, in, err, iterations, rnd);
    } catch (const std::bad_alloc&) {
        // Memory ran out outside the iterations (the name, the screen): nothing in flight.
        workers_stop(run->workers);
        if (!run->ended) end_with(*run, no_memory_line);
        status = finish(*run, err, 1);
    }
    resources_free(*run);
    return status;
}

} // namespace subset
