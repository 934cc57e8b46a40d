// The steps the run takes on its state: writing back, the best, the lines that end it.
#include "engine/run_state.hpp"

#include "text/lines.hpp"

namespace subset {

void best_update(best_so_far& best, const batch& b) {
    for (int i = b.skip; i < b.count; ++i) {
        if (b.score[i] > best.score) {
            best.score = b.score[i];
            best.size = b.size[i];
            best.at = b.first + (i - b.skip);
            const std::int32_t* sorted = b.sorted.data() + b.start[i];
            best.points.assign(sorted, sorted + b.size[i]); // within the room made
        }
    }
}

void end_with(run_context& run, std::string_view line) {
    trace_write(run.out, line);
    screen_line(run.view, line);
    run.ended = true;
}

void end_with_file_error(run_context& run, const file_error& why) {
    char line[line_room];
    end_with(run, {line, static_cast<std::size_t>(put_file_error(line, why) - line)});
}

void write_oldest(run_context& run) {
    batch& b = ring_oldest(run.ring, run.workers, run.ended);
    b.from = nullptr; // its version may go once no batch holds it
    if (run.ended) return;
    if (b.failed) return end_with(run, no_memory_line);
    trace_write(run.out, batch_text(b));
    best_update(run.best, b);
    screen_progress(run.view, b.first + (b.count - b.skip), run.best.score, run.best.size, false);
    if (b.error.what != file_problem::none) end_with_file_error(run, b.error);
    if (run.out.failed) run.ended = true;
}

void take_batch(run_context& run, std::int32_t first, version_ptr from) {
    if (ring_full(run.ring)) write_oldest(run);
    ring_take(run.ring, first, std::move(from), *run.settings.kernels);
}

bool stop_asked(run_context& run) {
    if (run.settings.stop == nullptr) return false;
    run.stopped_by = run.settings.stop->load(std::memory_order_relaxed);
    return run.stopped_by != 0;
}

bool count_file(run_context& run, file_error& why, std::int64_t iterations) {
    const std::int64_t pairs = init_dados(run.data, why, iterations);
    return pairs >= 0 && guardaEstrutura(run.data, static_cast<std::int32_t>(pairs), why);
}

void file_failed(run_context& run, std::int32_t l, const file_error& why) {
    if (run.ring.current == nullptr) take_batch(run, l, nullptr);
    run.ring.current->error = why;
}

} // namespace subset
