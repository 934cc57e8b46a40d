// Summarises a trace of subset_search: one row per subset size (iterations, scores that
// are not numbers, mean, lowest and highest score, the first iteration that reached the
// highest) and the best subset with its points. Reads the file named, or standard input;
// one pass, constant memory.
// Usage: trace_summary [--csv] [--csv-para CSV] [FICHEIRO]
// Exit status: 0 a whole trace; 1 not a trace (or none), or a summary that could not be
// written; 2 bad usage; 3 a trace that stops early, summarised up to its last whole
// iteration.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "summary/trace_summary.hpp"
#include "text/pipe.hpp"

using namespace subset;

namespace {

constexpr const char* usage_text =
    "uso: trace_summary [--csv] [FICHEIRO]\n"
    "     trace_summary [--csv] --csv-para CSV [FICHEIRO]\n"
    "  resume um trace de subset_search (do FICHEIRO, ou da entrada padrao)\n"
    "  --csv           uma linha CSV por tamanho de subconjunto\n"
    "  --csv-para CSV  escreve tambem essas linhas no ficheiro CSV, na mesma leitura\n"
    "  estado: 0 trace inteiro, 1 nao e um trace, 2 uso errado, 3 trace incompleto\n";

// Ends the writing to `out`, named `what`; false, having said why, when it failed.
bool written(std::FILE* out, const char* what) {
    if (std::fflush(out) == 0 && std::ferror(out) == 0) return true;
    std::fprintf(stderr, "trace_summary: erro na escrita %s: %s\n", what, std::strerror(errno));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    bool csv = false;
    const char* csv_path = nullptr;
    const char* name = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--csv") == 0) {
            csv = true;
        } else if (std::strcmp(argv[i], "--csv-para") == 0 && i + 1 < argc && csv_path == nullptr &&
                   argv[i + 1][0] != '\0') {
            csv_path = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(usage_text, stdout);
            return 0;
        } else if (name == nullptr && (argv[i][0] != '-' || std::strcmp(argv[i], "-") == 0)) {
            name = argv[i];
        } else {
            std::fputs(usage_text, stderr);
            return 2;
        }
    }
    // The CSV file is made before the trace is read, so that one that cannot be made
    // fails at once; a text that is no trace leaves it empty.
    std::FILE* csv_out = nullptr;
    if (csv_path != nullptr && (csv_out = std::fopen(csv_path, "w")) == nullptr) {
        std::fprintf(stderr, "trace_summary: nao consigo criar %s: %s\n", csv_path,
                     std::strerror(errno));
        return 1;
    }
    std::FILE* in = stdin;
    if (name != nullptr && std::strcmp(name, "-") != 0) {
        in = std::fopen(name, "rb");
        if (in == nullptr) {
            std::fprintf(stderr, "trace_summary: nao consigo abrir %s\n", name);
            if (csv_out != nullptr) std::fclose(csv_out);
            return 1;
        }
    } else if (grow_pipe(STDIN_FILENO) == 0 && isatty(STDIN_FILENO)) {
        std::fputs("trace_summary: a espera de um trace de subset_search na entrada padrao "
                   "(Ctrl-D para acabar; --help para o uso)\n",
                   stderr);
    }
    trace_figures figures;
    std::string problem;
    const trace_read read = read_trace(in, figures, problem);
    if (in != stdin) std::fclose(in);
    bool csv_written = true;
    if (csv_out != nullptr) {
        if (read != trace_read::not_trace) print_csv(csv_out, figures);
        csv_written = written(csv_out, "do CSV");
        csv_written = std::fclose(csv_out) == 0 && csv_written;
    }
    if (read == trace_read::not_trace) {
        std::fprintf(stderr, "trace_summary: %s: nao e um trace de subset_search (%s)\n",
                     name != nullptr ? name : "entrada", problem.c_str());
        return 1;
    }
    if (csv)
        print_csv(stdout, figures);
    else
        print_table(stdout, figures);
    if (!written(stdout, "do resumo") || !csv_written) return 1;
    return static_cast<int>(read);
}
