// Driver of the search: start-up, the iterations, and the final report. The iterations
// are drawn here, one after the other from one stream of random numbers, into batches;
// workers sort, score and put them into text; they are written here in iteration order.
#include "run.hpp"

#include <istream>
#include <memory>
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

// ------------------------------------------------------------------ run state

// The best score so far and where it came from; written by write_oldest.
struct best_so_far {
    float score = 0;                  // highest score so far
    std::int32_t size = 0;            // subset size that first reached it
    std::int64_t at = 0;              // the iteration that first reached it
    std::vector<std::int32_t> points; // its points, sorted
};

// Everything one run holds, made afresh by run_search; written by the drawing thread
// only, but for what the workers write into the batches handed to them.
struct run_context {
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
    bool ended = false;           // an error line or a failed write ended the run
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

// Prints why the file cannot be used.
void print_file_error(run_context& run, const file_error& why) {
    trace_commit(run.out, put_file_error(trace_room(run.out, line_room), why));
}

// Writes the oldest batch in flight once it has been worked on: its text, the best
// score among its iterations, and its error line if it has one.
void write_oldest(run_context& run) {
    batch& b = run.batches[static_cast<std::size_t>(run.written++ % std::ssize(run.batches))];
    workers_wait(run.workers, b);
    b.from = nullptr; // its version may go once no batch holds it
    if (run.ended) return;
    trace_write(run.out, batch_text(b));
    for (int i = 0; i < b.count; ++i) {
        // Only a strictly greater score wins: ties keep the earliest, a NaN never wins.
        if (b.score[i] > run.best.score) {
            run.best.score = b.score[i];
            run.best.size = b.size[i];
            run.best.at = b.first + i;
            const std::int32_t* sorted = b.sorted.data() + b.start[i];
            run.best.points.assign(sorted, sorted + b.size[i]);
        }
    }
    screen_progress(run.view, b.first + b.count, run.best.score, run.best.size, false);
    if (b.error.what != file_problem::none) {
        print_file_error(run, b.error);
        run.ended = true;
    }
    if (run.out.failed) run.ended = true;
}

// Hands the batch being drawn into over to the workers.
void hand_over(run_context& run) {
    ++run.handed;
    workers_submit(run.workers, *run.current);
    run.current = nullptr;
}

// Takes the next batch of the ring to draw iterations from `first` on into, from the
// version `from`; writes the oldest batch first when all are in flight.
void take_batch(run_context& run, std::int32_t first, version_ptr from) {
    if (run.filled - run.written == std::ssize(run.batches)) write_oldest(run);
    batch& b = run.batches[static_cast<std::size_t>(run.filled++ % std::ssize(run.batches))];
    batch_reset(b, run.batch_points, first, std::move(from));
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

// Writes out what is pending and turns a failed write into the exit status 1.
int finish(run_context& run, std::ostream& err, int status) {
    if (!trace_flush(run.out)) {
        err << write_error_line;
        err.flush();
        return 1;
    }
    return status;
}

int workers_for(const run_settings& settings) {
    if (settings.workers >= 0) return settings.workers;
    const int cpus = usable_cpus();
    return cpus > 1 ? cpus : 0;
}

// The iterations, from the version the start-up counted on; false when the run ended on
// an error line or a failed write.
bool run_iterations(run_context& run, std::int32_t iterations, random_stream& rnd, int workers) {
    run.batches.resize(static_cast<std::size_t>(workers) + 2);
    run.batch_points = std::max<std::size_t>(points_in_flight / run.batches.size(), max_points);
    screen_progress(run.view, 0, 0, 0, true);
    workers_start(run.workers, workers);
    for (std::int32_t l = 0; l < iterations && !run.ended; ++l) {
        if (!draw_iteration(run, l, rnd)) break;
    }
    if (run.current != nullptr) hand_over(run);
    while (run.written < run.handed) write_oldest(run);
    workers_stop(run.workers);
    screen_clear(run.view);
    return !run.ended;
}

} // namespace

// ------------------------------------------------------------------ the run

int run_search(std::istream& in, std::ostream& out, std::ostream& err, std::int32_t iterations,
               random_stream rnd, const run_settings& settings) {
    auto run = std::make_unique<run_context>();
    trace_start(run->out, &out);
    screen_start(run->view, settings.screen, iterations);
    trace_write(run->out, prompt_line);
    screen_prompt(run->view);
    if (!trace_flush(run->out)) return finish(*run, err, 1); // the prompt is seen before we wait
    distance_start(run->data, read_name(in), settings.watch);

    file_error why;
    if (init_dados(run->data, why) < 0) {
        print_file_error(*run, why);
        return finish(*run, err, 1);
    }
    trace_commit(run->out, put_count(trace_room(run->out, line_room), run->data.max));

    if (!run_iterations(*run, iterations, rnd, workers_for(settings))) return finish(*run, err, 1);
    trace_commit(run->out,
                 put_best(trace_room(run->out, line_room), run->best.size, run->best.score));
    const int status = finish(*run, err, 0);
    if (status == 0) screen_best(run->view, run->best.at, run->best.points.data(), run->best.size);
    return status;
}

} // namespace subset
