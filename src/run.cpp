// Driver of the search: start-up, the iterations, and the final report. The iterations
// are drawn here, one after the other from one stream of random numbers, into batches;
// workers sort, score and put them into text; they are written here in iteration order.
#include "run.hpp"

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
#include "trace.hpp"
#include "workers.hpp"

namespace subset {

namespace {

// Drawn points that all the batches in flight may hold together (each takes about 18
// bytes of lists and text), so that memory stays bounded whatever the number of workers.
constexpr std::size_t points_in_flight = 1 << 19;
// What a ring takes when that much cannot be had: two batches, and no worker.
constexpr std::size_t fallback_points = 1 << 13;

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
    const run_settings& settings; // as the caller gave them
    trace out;                    // the run's standard output
    screen view;                  // the terminal, if a person watches one
    worker_pool workers;          // the threads that score batches
    distance_data data;           // the distance file, and the version in use
    draw_state drawing;           // which points the iteration being drawn has taken
    std::vector<batch> batches;   // ring of batches, used in order
    std::size_t batch_points = 0; // drawn points a batch can hold
    std::int64_t filled = 0;      // batches taken for drawing so far
    std::int64_t handed = 0;      // batches handed to the workers so far
    std::int64_t written = 0;     // batches written so far
    batch* current = nullptr;     // the batch being drawn into, if any
    bool ended = false;           // a line that ends the run, or a failed write, ended it
    int stopped_by = 0;           // the signal that stopped the run, if any
    best_so_far best;
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
    for (int i = 0; i < b.count; ++i) {
        // Only a strictly greater score wins: ties keep the earliest, a NaN never wins.
        if (b.score[i] > run.best.score) {
            run.best.score = b.score[i];
            run.best.size = b.size[i];
            run.best.at = b.first + i;
            const std::int32_t* sorted = b.sorted.data() + b.start[i];
            run.best.points.assign(sorted, sorted + b.size[i]); // within the room made
        }
    }
    screen_progress(run.view, b.first + b.count, run.best.score, run.best.size, false);
    if (b.error.what != file_problem::none) end_with_file_error(run, b.error);
    if (run.out.failed) run.ended = true;
}

// Hands the batch being drawn into over to the workers.
void hand_over(run_context& run) {
    workers_submit(run.workers, *run.current);
    ++run.handed;
    run.current = nullptr;
}

// Takes the next batch of the ring to draw iterations from `first` on into, from the
// version `from`; writes the oldest batch first when all are in flight.
void take_batch(run_context& run, std::int32_t first, version_ptr from) {
    if (run.filled - run.written == std::ssize(run.batches)) write_oldest(run);
    batch& b = run.batches[static_cast<std::size_t>(run.filled % std::ssize(run.batches))];
    batch_reset(b, run.batch_points, first, std::move(from));
    b.how = run.settings.how;
    ++run.filled;
    run.current = &b;
}

// Draws iteration `l` from the version of the file it counts; false when the file
// failed, its reason then recorded in the batch that ends with the iterations before.
bool draw_iteration(run_context& run, std::int32_t l, random_stream& rnd) {
    file_error why;
    const std::int64_t pairs = init_dados(run.data, why);
    if (pairs >= 0 && guardaEstrutura(run.data, static_cast<std::int32_t>(pairs), why)) {
        // A batch holds one version: a new one starts a new batch.
        if (run.current != nullptr &&
            (run.current->from != run.data.myItems || !batch_has_room(*run.current)))
            hand_over(run);
        if (run.current == nullptr) take_batch(run, l, run.data.myItems);
        batch_add(*run.current, run.drawing, rnd);
        return true;
    }
    if (run.current == nullptr) take_batch(run, l, nullptr);
    run.current->error = why;
    return false;
}

// Makes the ring of batches for `workers` workers; false when its memory cannot be had.
bool make_ring(run_context& run, int workers, std::size_t points) {
    try {
        run.batches = std::vector<batch>(static_cast<std::size_t>(workers) + 2);
        run.batch_points = std::max<std::size_t>(points / run.batches.size(),
                                                 static_cast<std::size_t>(run.data.max));
        // The room a batch's work usually takes, had now: what cannot be had shows here, at
        // start-up, where fewer workers and smaller batches can still do.
        for (batch& b : run.batches) {
            b.drawn.reserve(run.batch_points);
            b.sorted.reserve(run.batch_points + 1);
            b.text.reserve(iteration_room(0) * batch_iterations + 12 * run.batch_points);
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
bool start_work(run_context& run, int workers) {
    // The ring first: a thread's stack, once had, stays taken after the thread ends.
    if (!make_ring(run, workers, points_in_flight)) {
        workers = 0;
        if (!make_ring(run, 0, fallback_points)) return false;
    }
    workers_start(run.workers, workers, run.settings.before_thread);
    return true;
}

// Whether the run has been asked to stop; remembers by which signal.
bool stop_asked(run_context& run) {
    if (run.settings.stop == nullptr) return false;
    run.stopped_by = run.settings.stop->load(std::memory_order_relaxed);
    return run.stopped_by != 0;
}

// The iterations, from the version the start-up counted on, then the batches in flight.
// Memory that runs out while drawing ends the run after the iterations already written.
void run_iterations(run_context& run, std::int32_t iterations, random_stream& rnd) {
    screen_progress(run.view, 0, 0, 0, true);
    try {
        for (std::int32_t l = 0; l < iterations && !run.ended && !stop_asked(run); ++l) {
            if (!draw_iteration(run, l, rnd)) break;
        }
        if (run.current != nullptr) hand_over(run);
    } catch (const std::bad_alloc&) {
        run.current = nullptr; // what it held is not written
        while (run.written < run.handed) write_oldest(run);
        if (!run.ended) end_with(run, no_memory_line);
    }
    while (run.written < run.handed) write_oldest(run);
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

// Below this many points, drawing is a large share of a run's work (over a third of it
// at 141 points), and the drawing thread gets a CPU of its own; above, scoring dominates
// and the drawing thread mostly waits. Measured on two CPUs with bench_driver: at 141
// points one worker beat two by 4 to 22%, at 300 two beat one by 12 to 18%.
constexpr std::int32_t drawing_heavy_below = 200;

// The workers a run of a file of `n` points starts.
int workers_for(const run_settings& settings, std::int32_t n) {
    if (settings.workers >= 0) return settings.workers;
    const int cpus = usable_cpus();
    if (cpus <= 1) return 0;
    return n < drawing_heavy_below ? cpus - 1 : cpus;
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
    if (!start_work(run, workers_for(settings, run.data.max))) {
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
