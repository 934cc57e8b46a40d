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

} // namespace

int run_search(std::istream& in, std::ostream& out, std::ostream& err, std::int32_t iterations,
               random_source rnd) {
    static trace t; // one output block for the run; 64 KiB is too much for the stack
    t.out = &out;
    t.failed = false;
    t.used = 0;

    trace_text(t, "Introduza o nome do ficheiro: ");
    if (!trace_flush(t)) return finish(t, err, 1); // the prompt is seen before we wait
    const std::string name = read_name(in);

    if (init_dados(name, t) < 0) return finish(t, err, 1);

    static iteration it;        // the iteration lists; rewritten before they are read
    float best_score = 0;       // highest score so far
    std::int32_t best_size = 0; // subset size that first reached it
    for (std::int32_t l = 0; l < iterations; ++l) {
        std::int64_t pairs = init_dados(name, t);
        if (pairs < 0) return finish(t, err, 1);
        draw_subset(it, max, rnd, t);
        if (!guardaEstrutura(name, static_cast<std::int32_t>(pairs), t)) return finish(t, err, 1);
        extract_pairs(it, max);
        const std::int32_t size = it.size;
        const float score = dist_med(size, it.subset_pairs, mySol, t);
        // Only a strictly greater score wins: ties keep the earliest, a NaN never wins.
        if (score > best_score) {
            best_score = score;
            best_size = size;
        }
        trace_text(t, "Distancia media para ");
        trace_int(t, size);
        trace_text(t, " pontos, iteracao ");
        trace_int(t, l);
        trace_text(t, ": ");
        trace_fixed6(t, score);
        trace_text(t, "\n");
        if (t.failed) return finish(t, err, 1);
    }
    trace_text(t, "Melhor com ");
    trace_int(t, best_size);
    trace_text(t, " numeros: ");
    trace_fixed6(t, best_score);
    trace_text(t, " pontos\n");
    return finish(t, err, 0);
}
