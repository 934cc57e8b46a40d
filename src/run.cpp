// Driver of the search: start-up, the iterations, and the final report. The iterations
// are drawn here, one after the other from one stream of random numbers, into batches;
// workers sort, score and put them into text; they are written here in iteration order.
#include "run.hpp"

#include <istream>
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

namespace {

// Drawn points that all the batches in flight may hold together (each takes about 18
// bytes of lists and text), so that memory stays bounded whatever the number of workers.
constexpr std::size_t points_in_flight = 1 << 19;

// ------------------------------------------------------------------ run state
// Written by the drawing thread only, but for the batches' worker-side fields.

struct run_state {
    trace out;                             // the run's standard output
    std::string name;                      // the distance file's name
    draw_state drawing;                    // which points the iteration being drawn has taken
    std::vector<batch> batches;            // ring of batches, used in order
    std::size_t batch_points = 0;          // drawn points a batch can hold
    std::int64_t filled = 0;               // batches taken for drawing so far
    std::int64_t handed = 0;               // batches handed to the workers so far
    std::int64_t written = 0;              // batches written so far
    batch* current = nullptr;              // the batch being drawn into, if any
    bool ended = false;                    // an error line or a failed write ended the run
    float best_score = 0;                  // highest score so far
    std::int32_t best_size = 0;            // subset size that first reached it
    std::int64_t best_at = 0;              // the iteration that first reached it
    std::vector<std::int32_t> best_points; // its points, sorted
};

run_state run;
int worker_setting = -1;

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
void print_file_error(const file_error& why) {
    trace_commit(run.out, put_file_error(trace_room(run.out, line_room), why));
}

// Writes the oldest batch in flight once it has been worked on: its text, the best
// score among its iterations, and its error line if it has one.
void write_oldest() {
    batch& b = run.batches[static_cast<std::size_t>(run.written++ % std::ssize(run.batches))];
    workers_wait(b);
    if (run.ended) return;
    trace_write(run.out, batch_text(b));
    for (int i = 0; i < b.count; ++i) {
        // Only a strictly greater score wins: ties keep the earliest, a NaN never wins.
        if (b.score[i] > run.best_score) {
            run.best_score = b.score[i];
            run.best_size = b.size[i];
            run.best_at = b.first + i;
            const std::int32_t* sorted = b.sorted.data() + b.start[i];
            run.best_points.assign(sorted, sorted + b.size[i]);
        }
    }
    screen_progress(b.first + b.count, run.best_score, run.best_size, false);
    if (b.error.what != file_problem::none) {
        print_file_error(b.error);
        run.ended = true;
    }
    if (run.out.failed) run.ended = true;
}

// Hands the batch being drawn into over to the workers.
void hand_over() {
    ++run.handed;
    workers_submit(*run.current);
    run.current = nullptr;
}

// Takes the next batch of the ring to draw into, writing the oldest first when all are in
// flight.
void take_batch(std::int32_t first) {
    if (run.filled - run.written == std::ssize(run.batches)) write_oldest();
    batch& b = run.batches[static_cast<std::size_t>(run.filled++ % std::ssize(run.batches))];
    batch_reset(b, run.batch_points);
    b.first = first;
    run.current = &b;
}

// Called before the pair table is rewritten: hands over what was drawn from the old
// version and writes every batch in flight, so that no worker reads the table.
void finish_batches_in_flight() {
    if (run.current != nullptr && run.current->count > 0) hand_over();
    while (run.written < run.handed) write_oldest();
}

// Draws iteration `l` into the current batch; false when the file failed, its reason
// then recorded in the batch.
bool draw_iteration(std::int32_t l, random_stream& rnd) {
    if (run.current != nullptr && !batch_has_room(*run.current, max)) hand_over();
    file_error why;
    const std::int64_t pairs = init_dados(run.name, why); // may finish the batches in flight
    if (run.current == nullptr) take_batch(l);
    batch& b = *run.current;
    if (pairs >= 0 && guardaEstrutura(run.name, static_cast<std::int32_t>(pairs), why)) {
        if (b.count == 0) b.n = max;
        b.size[b.count] = draw_subset(run.drawing, max, rnd, b.drawn.data() + b.start[b.count]);
        b.start[b.count + 1] = b.start[b.count] + static_cast<std::uint32_t>(b.size[b.count]);
        ++b.count;
        return true;
    }
    b.error = why;
    return false;
}

// Writes out what is pending and turns a failed write into the exit status 1.
int finish(std::ostream& err, int status) {
    if (!trace_flush(run.out)) {
        err << write_error_line;
        err.flush();
        return 1;
    }
    return status;
}

int workers_for_this_run() {
    if (worker_setting >= 0) return worker_setting;
    const int cpus = usable_cpus();
    return cpus > 1 ? cpus : 0;
}

} // namespace

// ------------------------------------------------------------------ the run

int run_search(std::istream& in, std::ostream& out, std::ostream& err, std::int32_t iterations,
               random_stream rnd, std::ostream* screen) {
    trace_start(run.out, &out);
    screen_start(screen, iterations);
    trace_write(run.out, prompt_line);
    screen_prompt();
    if (!trace_flush(run.out)) return finish(err, 1); // the prompt is seen before we wait
    run.name = read_name(in);

    file_error why;
    if (init_dados(run.name, why) < 0) {
        print_file_error(why);
        return finish(err, 1);
    }
    trace_commit(run.out, put_count(trace_room(run.out, line_room), max));

    const int workers = workers_for_this_run();
    run.batches.resize(static_cast<std::size_t>(workers) + 2);
    run.batch_points = std::max<std::size_t>(points_in_flight / run.batches.size(), max_points);
    run.filled = run.handed = run.written = 0;
    run.current = nullptr;
    run.ended = false;
    run.best_score = 0;
    run.best_size = 0;
    run.best_points.clear();
    set_table_guard(finish_batches_in_flight);
    screen_progress(0, 0, 0, true);
    workers_start(workers);

    for (std::int32_t l = 0; l < iterations && !run.ended; ++l) {
        if (!draw_iteration(l, rnd)) {
            hand_over();
            break;
        }
    }
    if (run.current != nullptr && run.current->count > 0) hand_over();
    while (run.written < run.handed) write_oldest();
    workers_stop();
    set_table_guard(nullptr);

    screen_clear();
    if (run.ended) return finish(err, 1);
    trace_commit(run.out, put_best(trace_room(run.out, line_room), run.best_size, run.best_score));
    const int status = finish(err, 0);
    if (status == 0) screen_best(run.best_at, run.best_points.data(), run.best_size);
    return status;
}

void set_worker_count(int count) {
    worker_setting = count;
}
