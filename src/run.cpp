// Driver of the search: start-up, the iteration loop, and the final report.
#include "run.hpp"

#include <istream>
#include <ostream>
#include <string>

#include "data/distance_file.hpp"
#include "search/draw.hpp"
#include "search/score.hpp"
#include "trace.hpp"

namespace {

// Reads the file name: the whole first line, without its "\n" or "\r\n". A name that
// ends the input without a line end is used whole; no input at all gives "".
std::string read_name(std::istream& in) {
    std::string name;
    std::getline(in, name);
    if (!in.eof() && !name.empty() && name.back() == '\r') name.pop_back();
    return name;
}

// Writes out what is pending and turns a failed write into the exit status 1.
int finish(trace& t, std::ostream& err, int status) {
    if (!trace_flush(t)) {
        err << "Erro na escrita dos resultados\n";
        err.flush();
        return 1;
    }
    return status;
}

// Prints the iteration's result line.
void print_result(trace& t, std::int32_t size, std::int32_t number, float score) {
    trace_text(t, "Distancia media para ");
    trace_int(t, size);
    trace_text(t, " pontos, iteracao ");
    trace_int(t, number);
    trace_text(t, ": ");
    trace_fixed6(t, score);
    trace_text(t, "\n");
}

// An iteration that has drawn its subset and waits for its score with the others of its
// batch: the text of its first seven lines (or of what it printed up to an error line).
struct pending {
    std::int32_t number; // iteration number
    trace text;          // collected output, copied to the run's trace in order
};

// ------------------------------------------------------------------ run state
// Written by run_search only; static because the blocks are too large for the stack.

trace run_trace;             // the run's standard output
iteration current;           // lists of the iteration being drawn
pending batch[score_batch];  // iterations drawn but not yet scored
score_job jobs[score_batch]; // their sizes and pair counts, for dist_med

} // namespace

int run_search(std::istream& in, std::ostream& out, std::ostream& err, std::int32_t iterations,
               random_source rnd) {
    trace& t = run_trace;
    trace_start(t, &out);

    trace_text(t, "Introduza o nome do ficheiro: ");
    if (!trace_flush(t)) return finish(t, err, 1); // the prompt is seen before we wait
    const std::string name = read_name(in);

    if (init_dados(name, t) < 0) return finish(t, err, 1);

    float best_score = 0;       // highest score so far
    std::int32_t best_size = 0; // subset size that first reached it
    for (std::int32_t l = 0; l < iterations;) {
        // Draw up to a batch of subsets, each iteration's calls in their defined order.
        int drawn = 0;
        bool broken = false; // the file failed in iteration batch[drawn]
        for (; drawn < score_batch && l < iterations; ++drawn, ++l) {
            pending& p = batch[drawn];
            p.number = l;
            p.text.used = 0;
            std::int64_t pairs = init_dados(name, p.text);
            if (pairs >= 0) {
                draw_subset(current, max, rnd, p.text);
                broken = !guardaEstrutura(name, static_cast<std::int32_t>(pairs), p.text);
            } else {
                broken = true;
            }
            if (broken) break;
            extract_pairs(current, max, mySol[drawn], p.text);
            jobs[drawn] = {current.size, current.subset_pairs};
        }

        float scores[score_batch];
        dist_med(jobs, drawn, scores);
        for (int s = 0; s < drawn; ++s) {
            trace_text(t, std::string_view(batch[s].text.buf, batch[s].text.used));
            // Only a strictly greater score wins: ties keep the earliest, a NaN never wins.
            if (scores[s] > best_score) {
                best_score = scores[s];
                best_size = jobs[s].size;
            }
            print_result(t, jobs[s].size, batch[s].number, scores[s]);
        }
        if (broken) {
            trace_text(t, std::string_view(batch[drawn].text.buf, batch[drawn].text.used));
            return finish(t, err, 1);
        }
        if (t.failed) return finish(t, err, 1);
    }
    trace_text(t, "Melhor com ");
    trace_int(t, best_size);
    trace_text(t, " numeros: ");
    trace_fixed6(t, best_score);
    trace_text(t, " pontos\n");
    return finish(t, err, 0);
}
