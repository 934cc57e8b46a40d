// Summarises a trace of subset_search: one row per subset size (iterations, mean, lowest
// and highest score, the first iteration that reached the highest) and the best subset
// with its points. Reads the file named, or standard input; one pass, constant memory.
// Usage: trace_summary [--csv] [FILE]
#include <cstdio>
#include <cstring>
#include <string>

#include "summary/trace_summary.hpp"

using namespace subset;

int main(int argc, char** argv) {
    bool csv = false;
    const char* name = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--csv") == 0) {
            csv = true;
        } else if (name == nullptr && (argv[i][0] != '-' || std::strcmp(argv[i], "-") == 0)) {
            name = argv[i];
        } else {
            std::fprintf(stderr, "uso: trace_summary [--csv] [FICHEIRO]\n");
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
    }
    trace_figures figures;
    std::string problem;
    const bool ok = read_trace(in, figures, problem);
    if (in != stdin) std::fclose(in);
    if (!ok) {
        std::fprintf(stderr, "trace_summary: %s: nao e um trace de subset_search (%s)\n",
                     name != nullptr ? name : "entrada", problem.c_str());
        return 1;
    }
    if (csv)
        print_csv(stdout, figures);
    else
        print_table(stdout, figures);
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
}
