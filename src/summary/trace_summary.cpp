// Trace reading and the reports. The trace comes in blocks: from a regular file on two
// threads (see ahead.hpp), from anything else one after another as they are needed.
#include "summary/trace_summary.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "base/aligned.hpp"
#include "summary/ahead.hpp"
#include "summary/bytes.hpp"
#include "summary/grammar.hpp"

namespace subset {

namespace {

// Whether `in` is a regular file that can be read at any offset, and where it stands.
bool regular(std::FILE* in, off_t& at) {
    const int fd = fileno(in);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    at = ftello(in);
    return at >= 0;
}

// Reads up to `room` bytes of `in` into `into`: what a pipe holds now, without waiting
// for more, so that the bytes are taken while the writer goes on; 0 at the end, with
// `failed` set when reading failed.
std::size_t read_some(std::FILE* in, char* into, std::size_t room, bool& failed) {
    const int fd = fileno(in);
    if (fd < 0) { // a stream in memory
        const std::size_t got = std::fread(into, 1, room, in);
        failed = failed || std::ferror(in) != 0;
        return got;
    }
    for (;;) {
        const ssize_t got = read(fd, into, room);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) {
            failed = true;
            return 0;
        }
    }
}

} // namespace

// ------------------------------------------------------------------ reading

trace_read read_trace(std::FILE* in, trace_figures& f, std::string& problem,
                      const read_options& options) {
    reader r(f, problem);
    std::string carry; // the start of a line that the blocks before cut
    bool failed = false;
    const std::size_t room = std::clamp<std::size_t>(options.block, 1, std::size_t{1} << 30);
    off_t at = 0;
    if (options.reading_thread && regular(in, at)) {
        if (!take_file(r, carry, fileno(in), at, room, options.whole_iterations, failed))
            return trace_read::not_trace;
    } else { // a pipe, a terminal: read as the blocks are needed, so reading stops with us
        const aligned_bytes block = aligned_buffer(room + piece_padding);
        for (;;) {
            const std::size_t size = read_some(in, block.get(), room, failed);
            if (size == 0) break;
            std::memset(block.get() + size, 0, piece_padding);
            if (!take_bytes(r, carry, block.get(), block.get() + size, options.whole_iterations))
                return trace_read::not_trace;
        }
    }
    if (failed) {
        problem = "erro de leitura";
        return trace_read::not_trace;
    }
    if (r.line_number == 0 && carry.empty()) {
        problem = "entrada vazia: nao ha trace para resumir";
        return trace_read::not_trace;
    }
    // A whole trace ends with its final line or a line that ends the run, and a line end.
    // Anything else stops early: a line cut short is left out, and so is the iteration it
    // belongs to.
    if (!carry.empty() || (r.next != expect::nothing)) {
        if (r.line_number == 0 && !prompt_line.starts_with(carry) &&
            !carry.starts_with(prompt_line)) {
            r.line_number = 1;
            r.fail("nao comeca pelo pedido do nome do ficheiro");
            return trace_read::not_trace;
        }
        f.cut_at = r.line_number + (carry.empty() ? 0 : 1);
        return trace_read::incomplete;
    }
    return trace_read::whole;
}

// ------------------------------------------------------------------ reports

namespace {

// A figure as "%f" prints it, but a NaN is "nan" whatever its sign (a mean over both
// infinities is one).
std::string figure(double v) {
    if (std::isnan(v)) return "nan";
    char text[400];
    std::snprintf(text, sizeof text, "%f", v);
    return text;
}

// The header's account of the point counts: "N pontos", or, when the file changed during
// the run, the iterations at each count.
std::string counts_text(const trace_figures& f) {
    if (f.counts.size() <= 1) return " sobre " + std::to_string(f.points) + " pontos";
    std::string text = ":";
    for (std::size_t i = 0; i < f.counts.size(); ++i)
        text += (i == 0 ? " " : ", ") + std::to_string(f.counts[i].second) + " sobre " +
                std::to_string(f.counts[i].first) + " pontos";
    return text;
}

// The columns of a subset size's row, after K, in the table and in the CSV: a heading
// for each, the table's width, and the text of a row's figure. A new column is a field
// of size_figures, its count in count_result (grammar.cpp), and an entry here.
struct column {
    const char* table_heading;
    const char* csv_heading;
    int width;
    std::string (*text)(const size_figures& s, bool csv);
};

std::string mean_of(const size_figures& s) {
    return s.numbers > 0 ? figure(s.sum / static_cast<double>(s.numbers)) : "nan";
}

constexpr column columns[] = {
    {"iteracoes", "iteracoes", 10,
     [](const size_figures& s, bool) { return std::to_string(s.iterations); }},
    {"nan", "nan", 10,
     [](const size_figures& s, bool) { return std::to_string(s.iterations - s.numbers); }},
    {"media", "media", 12, [](const size_figures& s, bool) { return mean_of(s); }},
    {"minimo", "minimo", 12,
     [](const size_figures& s, bool) { return s.numbers > 0 ? figure(s.lowest) : "nan"; }},
    {"maximo", "maximo", 12,
     [](const size_figures& s, bool) { return s.numbers > 0 ? figure(s.highest) : "nan"; }},
    {"iteracao", "iteracao_do_maximo", 10,
     [](const size_figures& s, bool csv) -> std::string {
         if (s.numbers > 0) return std::to_string(s.highest_at);
         return csv ? "" : "-";
     }},
};

} // namespace

void print_table(std::FILE* out, const trace_figures& f) {
    if (f.iterations == 0 && !f.error.empty() && !f.finished) {
        std::fprintf(out, "A execucao foi recusada: %s\n", f.error.c_str());
        return;
    }
    std::fprintf(out, "Resumo do trace: %lld iteracoes%s\n\n", static_cast<long long>(f.iterations),
                 counts_text(f).c_str());
    std::fprintf(out, "%5s", "K");
    for (const column& c : columns) std::fprintf(out, " %*s", c.width, c.table_heading);
    std::fputc('\n', out);
    for (std::size_t k = 0; k < f.by_size.size(); ++k) {
        const size_figures& s = f.by_size[k];
        if (s.iterations == 0) continue;
        std::fprintf(out, "%5zu", k);
        for (const column& c : columns)
            std::fprintf(out, " %*s", c.width, c.text(s, false).c_str());
        std::fputc('\n', out);
    }
    std::fprintf(out, "\n(iteracao: a primeira que chegou ao maximo de K; media, minimo e maximo "
                      "sobre as pontuacoes que sao numeros)\n");
    if (f.best_size > 0) {
        // The iteration and its points, where the trace tells them.
        std::fprintf(out, "Melhor: %s com %d pontos", figure(f.best).c_str(), f.best_size);
        if (f.best_at >= 0)
            std::fprintf(out, ", na iteracao %lld", static_cast<long long>(f.best_at));
        if (f.best_at >= 0 && !f.best_points.empty())
            std::fprintf(out, ": %s", f.best_points.c_str());
        std::fputc('\n', out);
    } else
        std::fprintf(out, "Melhor: nenhum subconjunto acima de 0\n");
    if (!f.error.empty())
        std::fprintf(out, "A execucao terminou com um erro: %s\n", f.error.c_str());
    else if (f.cut_at > 0)
        std::fprintf(out,
                     "O trace esta incompleto: acaba na linha %lld, antes da linha final; "
                     "resumido ate a ultima iteracao inteira\n",
                     static_cast<long long>(f.cut_at));
}

void print_csv(std::FILE* out, const trace_figures& f) {
    std::fputc('k', out);
    for (const column& c : columns) std::fprintf(out, ",%s", c.csv_heading);
    std::fputc('\n', out);
    for (std::size_t k = 0; k < f.by_size.size(); ++k) {
        const size_figures& s = f.by_size[k];
        if (s.iterations == 0) continue;
        std::fprintf(out, "%zu", k);
        for (const column& c : columns) std::fprintf(out, ",%s", c.text(s, true).c_str());
        std::fputc('\n', out);
    }
}

} // namespace subset
