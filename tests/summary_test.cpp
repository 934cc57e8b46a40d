// Reading a trace back: the figures of a known trace, a run that ended with an error, and
// every way a text can fail to be a trace.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "helpers.hpp"
#include "summary/trace_summary.hpp"

using namespace subset;

namespace {

// The worked example and three more iterations (see the search tests): sizes 3, 2, 4, 3
// scoring 3.666667, 2.5, 5.25, 3.666667.
std::string example_trace(const std::string& path) {
    write_file(path, example_text);
    const std::vector<int> numbers = {1, 3, 0, 3, 2, 0, 4, 3, 1, 2, 0, 1, 2, 3, 1, 3, 0, 3, 2};
    program_result r = run_in_process(path + "\n", 4, stream_of(scripted_source(numbers)));
    EXPECT_EQ(0, r.status);
    return r.out;
}

trace_read read_text(const std::string& text, trace_figures& f, std::string& problem) {
    if (text.empty()) {
        std::FILE* none = std::fopen("/dev/null", "r");
        const trace_read read = read_trace(none, f, problem);
        std::fclose(none);
        return read;
    }
    std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    const trace_read read = read_trace(in, f, problem);
    std::fclose(in);
    return read;
}

// Runs the built trace_summary on `path`; its standard output, error and status.
program_result summarise(const std::string& path, const std::string& flags) {
    scratch_dir dir;
    const int status = std::system((std::string(SUMMARY_PATH) + " " + flags + " '" + path + "' >" +
                                    dir.file("out") + " 2>" + dir.file("err"))
                                       .c_str());
    return {read_file(dir.file("out")), read_file(dir.file("err")), decode_status(status)};
}

// `text` with its line `number` (from 1) replaced by `line`.
std::string with_line(const std::string& text, int number, const std::string& line) {
    std::size_t start = 0;
    for (int l = 1; l < number; ++l) start = text.find('\n', start) + 1;
    const std::size_t end = text.find('\n', start);
    return text.substr(0, start) + line + text.substr(end);
}

} // namespace

TEST(Summary, GivesTheFiguresOfEachSubsetSizeAndTheBestSubset) {
    scratch_dir dir;
    write_file(dir.file("trace"), example_trace(dir.file("four")));
    program_result r = summarise(dir.file("trace"), "--csv");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("k,iteracoes,nan,media,minimo,maximo,iteracao_do_maximo\n"
              "2,1,0,2.500000,2.500000,2.500000,1\n"
              "3,2,0,3.666667,3.666667,3.666667,0\n"
              "4,1,0,5.250000,5.250000,5.250000,2\n",
              r.out);
    r = summarise(dir.file("trace"), "");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("Resumo do trace: 4 iteracoes sobre 4 pontos\n\n"
              "    K  iteracoes        nan        media       minimo       maximo   iteracao\n"
              "    2          1          0     2.500000     2.500000     2.500000          1\n"
              "    3          2          0     3.666667     3.666667     3.666667          0\n"
              "    4          1          0     5.250000     5.250000     5.250000          2\n"
              "\n(iteracao: a primeira que chegou ao maximo de K; media, minimo e maximo sobre "
              "as pontuacoes que sao numeros)\n"
              "Melhor: 5.250000 com 4 pontos, na iteracao 2: 1 2 3 4\n",
              r.out);
}

TEST(Summary, SummarisesARunThatEndedWithAnError) {
    scratch_dir dir;
    const std::string trace = example_trace(dir.file("four"));
    // The run ended during its third iteration: two iterations, then the error line.
    const std::size_t third = trace.find("nr pontos: 4\n\n", trace.find("iteracao 1:"));
    const std::string error = "Erro no ficheiro dos dados: triplo 5 em falta ou mal formado";
    trace_figures f;
    std::string problem;
    ASSERT_EQ(trace_read::whole, read_text(trace.substr(0, third) + error + "\n", f, problem))
        << problem;
    EXPECT_EQ(2, f.iterations);
    EXPECT_EQ(error, f.error);
    EXPECT_FALSE(f.finished);
    EXPECT_EQ(3, f.best_size);
    EXPECT_EQ("1 3 4", f.best_points);
}

TEST(Summary, NamesTheLineWhereATextStopsBeingATrace) {
    scratch_dir dir;
    const std::string trace = example_trace(dir.file("four"));
    const struct {
        std::string text;
        std::string problem;
    } cases[] = {
        {"", "entrada vazia: nao ha trace para resumir"},
        {"Introduzir", "linha 1: nao comeca pelo pedido do nome do ficheiro"},
        {with_line(trace, 1, "nr pontos: 4"),
         "linha 1: nao comeca pelo pedido do nome do ficheiro"},
        {with_line(trace, 1, prompt + "4"), "linha 1: esperava o numero de pontos"},
        {with_line(trace, 1, prompt + "nr pontos: 1"), "linha 1: esperava o numero de pontos"},
        {with_line(trace, 2, "nr pontos 4"),
         "linha 2: esperava o numero de pontos ou a linha final"},
        {with_line(trace, 3, " "), "linha 3: esperava uma linha vazia"},
        {with_line(trace, 4, "Pontos escolhidos:"), "linha 4: esperava o titulo dos pontos"},
        {with_line(trace, 5, "4 1 5 "), "linha 5: esperava os pontos escolhidos"},
        {with_line(trace, 5, "4 1 3"), "linha 5: esperava os pontos escolhidos"},
        {with_line(trace, 6, "Nr pontos aleatorios: 2"),
         "linha 6: esperava o numero de pontos escolhidos"},
        {with_line(trace, 7, "1 4 3 "), "linha 7: esperava os pontos ordenados"},
        {with_line(trace, 8, "3 - 2 "), "linha 8: esperava o numero de pares"},
        {with_line(trace, 8, "3 - 3"), "linha 8: esperava o numero de pares"},
        {with_line(trace, 9, "Distancia media para 3 pontos, iteracao 1: 3.666667"),
         "linha 9: esperava o resultado da iteracao 0"},
        {with_line(trace, 9, "Distancia media para 3 pontos, iteracao 0: tres"),
         "linha 9: esperava o resultado da iteracao 0"},
        {trace + "nr pontos: 4\n", "linha 35: texto depois do fim do trace"},
        {prompt + "nr pontos: 4\n" + std::string(std::size_t{3} << 20, '1'),
         "linha 2: linha demasiado longa"},
    };
    for (const auto& c : cases) {
        trace_figures f;
        std::string problem;
        EXPECT_EQ(trace_read::not_trace, read_text(c.text, f, problem)) << c.problem;
        EXPECT_EQ(c.problem, problem);
    }
    // A folder, which opens but cannot be read.
    std::FILE* folder = std::fopen(dir.path.c_str(), "rb");
    ASSERT_NE(nullptr, folder);
    trace_figures f;
    std::string problem;
    EXPECT_EQ(trace_read::not_trace, read_trace(folder, f, problem));
    EXPECT_EQ("erro de leitura", problem);
    std::fclose(folder);
}

TEST(Summary, TheProgramSaysWhatIsNoTrace) {
    scratch_dir dir;
    std::string broken = example_trace(dir.file("four"));
    broken.replace(broken.find("1 3 4 \n"), 7, "1 4 3 \n");
    write_file(dir.file("broken"), broken);
    program_result r = summarise(dir.file("broken"), "");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("trace_summary: " + dir.file("broken") +
                  ": nao e um trace de subset_search (linha 7: esperava os pontos ordenados)\n",
              r.err);
    r = summarise(DATA_DIR "/four.txt", "--csv");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("trace_summary: " DATA_DIR "/four.txt: nao e um trace de subset_search (linha 1: "
              "nao comeca pelo pedido do nome do ficheiro)\n",
              r.err);
    r = summarise(dir.file("missing"), "");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("trace_summary: nao consigo abrir " + dir.file("missing") + "\n", r.err);
    r = summarise(dir.file("broken"), "--wrong");
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(0U, r.err.rfind("uso: trace_summary [--csv] [FICHEIRO]\n", 0)) << r.err;
}

TEST(Summary, ATraceCutAnywhereIsSummarisedUpToItsLastWholeIteration) {
    scratch_dir dir;
    const std::string trace = example_trace(dir.file("four"));
    // Every cut from the start of the third iteration to inside the final line.
    const std::size_t from = trace.find("nr pontos: 4\n\n", trace.find("iteracao 1:"));
    for (std::size_t cut = from; cut < trace.size(); ++cut) {
        const std::string text = trace.substr(0, cut);
        trace_figures f;
        std::string problem;
        ASSERT_EQ(trace_read::incomplete, read_text(text, f, problem)) << cut << ": " << problem;
        // Whole iterations are those whose result line ends within the text.
        std::int64_t whole = 0;
        for (std::size_t at = 0; (at = text.find("Distancia media", at)) != std::string::npos; ++at)
            if (text.find('\n', at) != std::string::npos) ++whole;
        EXPECT_EQ(whole, f.iterations) << cut;
        const auto lines = static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n'));
        EXPECT_EQ(text.back() == '\n' ? lines : lines + 1, f.cut_at) << cut;
        EXPECT_FALSE(f.finished);
        // The best is that of the whole iterations only: 3.666667 of iteration 0, then
        // 5.25 of iteration 2.
        EXPECT_EQ(whole >= 3 ? 4 : 3, f.best_size) << cut;
    }
    write_file(dir.file("cut"), trace.substr(0, trace.size() - 10));
    const program_result r = summarise(dir.file("cut"), "");
    EXPECT_EQ(3, r.status);
    EXPECT_NE(std::string::npos,
              r.out.find("O trace esta incompleto: acaba na linha 34, antes da linha final; "
                         "resumido ate a ultima iteracao inteira\n"))
        << r.out;
}

TEST(Summary, TakesOnlyTheScoresTheProgramWrites) {
    scratch_dir dir;
    const std::string trace = example_trace(dir.file("four"));
    const std::string head = "Distancia media para 3 pontos, iteracao 0: ";
    for (const std::string score : {"3.67", "1e5", "INF", "3.6666670", "03.666667", "+3.666667",
                                    "3.666667 ", "-", ".666667", "3,666667", "nan(1)"}) {
        trace_figures f;
        std::string problem;
        EXPECT_EQ(trace_read::not_trace, read_text(with_line(trace, 9, head + score), f, problem))
            << score;
        EXPECT_EQ("linha 9: esperava o resultado da iteracao 0", problem) << score;
    }
    for (const std::string score :
         {"-0.500000", "0.000000", "inf", "-inf", "nan", "-nan", "123456789.000000"}) {
        trace_figures f;
        std::string problem;
        EXPECT_EQ(trace_read::whole, read_text(with_line(trace, 9, head + score), f, problem))
            << score << ": " << problem;
    }
}

TEST(Summary, GivesTheIterationsAtEachCountOfAFileThatChanged) {
    scratch_dir dir;
    const std::string path = dir.file("d");
    write_file(path, example_text);
    // The search tests' changing-file run: iterations of 4, 4 and 3 points.
    const random_source changing =
        scripted_source({1, 3, 0, 3, 2, 0, 4, 3, 1, 0, 0, 1}, [&](std::size_t call) {
            if (call == 5) replace_file(path, "1 2 1\n1 3 1\n2 3 1\n");
        });
    const program_result run =
        run_in_process(path + "\n", 3, stream_of(changing), looking_always());
    ASSERT_EQ(0, run.status);
    write_file(dir.file("trace"), run.out);
    const program_result r = summarise(dir.file("trace"), "");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(0U,
              r.out.rfind("Resumo do trace: 3 iteracoes: 2 sobre 4 pontos, 1 sobre 3 pontos\n", 0))
        << r.out;
    EXPECT_NE(
        std::string::npos,
        r.out.find(
            "    2          2          0     1.500000     0.500000     2.500000          1\n"))
        << r.out;
}

TEST(Summary, CountsScoresThatAreNotNumbersApart) {
    scratch_dir dir;
    write_file(dir.file("odd"), "1 2 nan\n1 3 inf\n2 3 -inf\n");
    // {1,2}: nan; {2,3}: -inf; {1,3}: inf; {1,2,3}: nan (inf + -inf).
    const random_source numbers = scripted_source({0, 0, 1, 0, 1, 2, 0, 0, 2, 1, 0, 1, 2});
    const program_result run = run_in_process(dir.file("odd") + "\n", 4, stream_of(numbers));
    write_file(dir.file("trace"), run.out);
    const program_result r = summarise(dir.file("trace"), "--csv");
    EXPECT_EQ(0, r.status);
    // The mean over both infinities is no number, and is written so.
    EXPECT_EQ("k,iteracoes,nan,media,minimo,maximo,iteracao_do_maximo\n"
              "2,3,1,nan,-inf,inf,2\n"
              "3,1,1,nan,nan,nan,\n",
              r.out);
}

TEST(Summary, AScorePrintedZeroIsAboveOnePrintedMinusZero) {
    scratch_dir dir;
    write_file(dir.file("zeros"), "1 2 -0.0000001\n1 3 0\n2 3 1\n");
    // {1,2} prints -0.000000, {1,3} 0.000000, then {1,2} again.
    const random_source numbers = scripted_source({0, 0, 1, 0, 0, 2, 0, 0, 1});
    const program_result run = run_in_process(dir.file("zeros") + "\n", 3, stream_of(numbers));
    ASSERT_NE(std::string::npos, run.out.find("iteracao 0: -0.000000\n")) << run.out;
    write_file(dir.file("trace"), run.out);
    const program_result r = summarise(dir.file("trace"), "--csv");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("k,iteracoes,nan,media,minimo,maximo,iteracao_do_maximo\n"
              "2,3,0,0.000000,-0.000000,0.000000,1\n",
              r.out);
}

TEST(Summary, SaysPlainlyWhatARefusedRunOrNoInputIs) {
    scratch_dir dir;
    write_file(dir.file("refused"), prompt + no_access);
    program_result r = summarise(dir.file("refused"), "");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("A execucao foi recusada: Erro no acesso ao ficheiro dos dados\n", r.out);
    write_file(dir.file("empty"), "");
    r = summarise(dir.file("empty"), "");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("trace_summary: " + dir.file("empty") +
                  ": nao e um trace de subset_search (entrada vazia: nao ha trace para resumir)\n",
              r.err);
    r = summarise(dir.file("empty"), "--help");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(0U, r.out.rfind("uso: trace_summary [--csv] [FICHEIRO]\n", 0)) << r.out;
}

TEST(Summary, WritesItsCsvToAFileInTheSamePass) {
    // --csv-para writes, beside the table, the very CSV that --csv prints: for a whole
    // trace, one cut short, a refused run (the header alone) and no trace (nothing).
    scratch_dir dir;
    const std::string trace = example_trace(dir.file("four"));
    write_file(dir.file("whole"), trace);
    write_file(dir.file("cut"), trace.substr(0, trace.size() - 30));
    write_file(dir.file("refused"), prompt + no_access);
    write_file(dir.file("none"), "not a trace\n");
    for (const char* name : {"whole", "cut", "refused", "none"}) {
        const program_result table = summarise(dir.file(name), "");
        const program_result csv = summarise(dir.file(name), "--csv");
        const program_result both = summarise(dir.file(name), "--csv-para " + dir.file("out.csv"));
        EXPECT_EQ(table.status, both.status) << name;
        EXPECT_EQ(table.out, both.out) << name;
        EXPECT_EQ(table.err, both.err) << name;
        EXPECT_EQ(csv.out, read_file(dir.file("out.csv"))) << name;
    }
    EXPECT_EQ("", read_file(dir.file("out.csv"))); // the last, no trace
    EXPECT_EQ("k,iteracoes,nan,media,minimo,maximo,iteracao_do_maximo\n",
              summarise(dir.file("refused"), "--csv").out);
    // A CSV file that cannot be made fails at once.
    const program_result r = summarise(dir.file("whole"), "--csv-para " + dir.file("no/such.csv"));
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(0U, r.err.rfind("trace_summary: nao consigo criar " + dir.file("no/such.csv"), 0))
        << r.err;
}

TEST(Summary, EveryFigureOfASizeShowsInBothReports) {
    // A figure of size_figures is a column of the table and of the CSV. The binding below
    // stops compiling when a figure is added, until it is listed here; each figure,
    // changed on its own, must then change the size's row in both reports.
    trace_figures f;
    f.points = 3;
    f.by_size.resize(3);
    f.by_size[2] = {5, 4, 10.0, 1.0, 4.0, 7};
    auto& [iterations, numbers, sum, lowest, highest, highest_at] = f.by_size[2];
    const auto reports = [&] {
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* out = open_memstream(&text, &size);
        print_table(out, f);
        print_csv(out, f);
        std::fclose(out);
        std::string both(text, size);
        std::free(text);
        return both;
    };
    const std::string before = reports();
    const auto changes_both = [&](auto& figure, auto other, const char* name) {
        const auto was = figure;
        figure = other;
        const std::string after = reports();
        figure = was;
        // The row's text in the table, then in the CSV: both must differ.
        const auto rows = [](const std::string& text) {
            const std::size_t table = text.find("\n    2 ") + 1;
            return std::make_pair(text.substr(table, text.find('\n', table) - table),
                                  text.substr(text.rfind("\n2,") + 1));
        };
        EXPECT_NE(rows(before).first, rows(after).first) << name << " in the table";
        EXPECT_NE(rows(before).second, rows(after).second) << name << " in the CSV";
    };
    changes_both(iterations, std::int64_t{6}, "iterations");
    changes_both(numbers, std::int64_t{3}, "numbers");
    changes_both(sum, 12.0, "sum");
    changes_both(lowest, 0.5, "lowest");
    changes_both(highest, 4.5, "highest");
    changes_both(highest_at, std::int64_t{8}, "highest_at");
}
