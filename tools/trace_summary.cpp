// Summarises a trace of subset_search: one row per subset size (iterations, scores that
// are not numbers, mean, lowest and highest score, the first iteration that reached the
// highest) and the best subset with its points. Reads the file named, or standard input;
// one pass, constant memory.
// Usage: trace_summary [--csv] [FICHEIRO]
// Exit status: 0 a whole trace; 1 not a trace (or none); 2 bad usage; 3 a trace that stops
// early, summarised up to its last whole iteration.
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
    "  resume um trace de subset_search (do FICHEIRO, ou da entrada padrao)\n"
    "  --csv   uma linha CSV por tamanho de subconjunto\n"
    "  estado: 0 trace inteiro, 1 nao e um trace, 2 uso errado, 3 trace incompleto\n";

} // namespace

int main(int argc, char** argv) {
    bool csv = false;
    const char* name = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--csv") == 0) {
            csv = true;
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
    std::FILE* in = stdin;
    if (name != nullptr && std::strcmp(name, "-") != 0) {
        in = std::fopen(name, "rb");
        if (in == nullptr) {
            std::fprintf(stderr, "trace_summary: nao consigo abrir %s\n", name);
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
    if (read == trace_read::not_trace) {
        std::fprintf(stderr, "trace_summary: %s: nao e um trace de subset_search (%s)\n",
                     name != nullptr ? name : "entrada", problem.c_str());
        return 1;
    }
    if (csv)
        print_csv(stdout, figures);
    else
        print_table(stdout, figures);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "trace_summary: erro na escrita do resumo: %s\n",
                     std::strerror(errno));
        return 1;
    }
    return static_cast<int>(read);
}
