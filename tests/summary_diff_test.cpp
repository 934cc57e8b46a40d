// The trace reader against the plain one (tests/plain_summary.cpp) on the same bytes,
// under every way of taking the input: real traces of the search run here, traces written
// by hand to reach every shape of line, and both mutated, cut and stretched.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "helpers.hpp"
#include "plain_summary.hpp"

using namespace subset;

namespace {

read_options with_block(std::size_t block) {
    read_options o;
    o.block = block;
    return o;
}

read_options no_thread() {
    read_options o;
    o.reading_thread = false;
    return o;
}

read_options line_by_line() {
    read_options o;
    o.whole_iterations = false;
    return o;
}

// The defaults, no reading thread, line by line, and a block of each size in `blocks`.
std::vector<read_options> options_and_blocks(const std::vector<std::size_t>& blocks) {
    std::vector<read_options> all = {read_options{}, no_thread(), line_by_line()};
    for (const std::size_t b : blocks) all.push_back(with_block(b));
    return all;
}

// The defaults, and blocks of 1 to 300 bytes: a read boundary at every offset up to there.
std::vector<read_options> every_small_block() {
    std::vector<std::size_t> blocks;
    for (std::size_t b = 1; b <= 300; ++b) blocks.push_back(b);
    return options_and_blocks(blocks);
}

// Four ways for the many texts of a mutation, the block chosen by `i`.
std::vector<read_options> four_ways(std::size_t i) {
    return options_and_blocks({1 + i % 7});
}

// Two of them, in turn by `i`: a small block, and one of the three ways that read a
// mebibyte at a time (each read of those fills its block, which the sanitizers make slow
// over tens of thousands of texts).
std::vector<read_options> two_ways(std::size_t i) {
    return {with_block(1 + i % 7), four_ways(i)[i % 3]};
}

void expect_read_alike(const std::string& name, const std::string& text,
                       const std::vector<read_options>& options) {
    const trace_reading plain = plain_reading(text);
    for (const read_options& o : options)
        EXPECT_EQ("", reading_difference(plain, product_reading(text, o)))
            << name << "; " << options_text(o);
}

// A seeded run of `iterations` on a file of `n` points with distances `dist`.
std::string seeded_trace(const scratch_dir& dir, std::int32_t n, std::int32_t iterations,
                         unsigned seed, const std::string& distances) {
    // Appended, not added: GCC 12 warns falsely of overlapping copies in a chain of +.
    const std::string path = dir.file(
        std::string("d").append(std::to_string(n)).append("-").append(std::to_string(seed)));
    write_file(path, distances);
    const program_result r = run_in_process(path + "\n", iterations, rand_stream(seed));
    EXPECT_EQ(0, r.status) << path;
    return r.out;
}

// A trace of `iterations` written by hand on a file of n points: its prompt line and the
// lines of `body`, each ended.
std::string by_hand(std::int32_t n, const std::vector<std::vector<std::string>>& body) {
    std::string text = prompt + "nr pontos: " + std::to_string(n) + "\n";
    for (const auto& lines : body) text += joined(lines);
    return text;
}

// Iterations of every number length up to 65,536 points, a count that changes and comes
// back, and scores of every kind; ended by `last`.
std::string hand_trace(const std::string& last) {
    return by_hand(65536,
                   {iteration_lines(65536, 0, {65536, 1, 10000, 99, 100, 9, 65535}, "12.500000"),
                    iteration_lines(65536, 1, {2, 1}, "-0.500000"),
                    iteration_lines(9, 2, {9, 1, 5}, "nan"),
                    iteration_lines(65536, 3, {12345, 999, 1000, 9999}, "inf"),
                    iteration_lines(10, 4, {10, 2}, "-0.000000")}) +
           last + "\n";
}

// The same on a file of 100 points (counts 100, 9, 10 and 99): small enough to mutate at
// every byte, as a file of 65,536 points has as many sizes to compare.
std::string small_hand_trace(const std::string& last) {
    return by_hand(100,
                   {iteration_lines(100, 0, {100, 1, 10, 99, 9}, "12.500000"),
                    iteration_lines(100, 1, {2, 1}, "-0.500000"),
                    iteration_lines(9, 2, {9, 1, 5}, "nan"), iteration_lines(10, 3, {10, 2}, "inf"),
                    iteration_lines(99, 4, {98, 99, 3}, "-0.000000")}) +
           last + "\n";
}

const std::string final_line = "Melhor com 7 numeros: 12.500000 pontos";
const std::string error_line = "Erro no ficheiro dos dados: triplo 5 em falta ou mal formado";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

} // namespace

TEST(SummaryDiff, RealTracesReadAlikeWhereverTheReadsAreCut) {
    scratch_dir dir;
    const struct {
        std::int32_t n;
        std::int32_t iterations;
    } runs[] = {{2, 20}, {9, 20}, {10, 20}, {20, 20}, {99, 6}, {100, 6}, {141, 6}};
    for (const auto& run : runs) {
        const std::string trace =
            seeded_trace(dir, run.n, run.iterations, 11, distance_text(run.n, mixed_distance));
        const trace_reading plain = plain_reading(trace);
        ASSERT_EQ(trace_read::whole, plain.read) << run.n << " points: " << plain.problem;
        EXPECT_EQ(run.iterations, plain.f.iterations) << run.n << " points";
        expect_read_alike(std::to_string(run.n) + " points", trace, every_small_block());
    }
    // Distances that make scores of no number, of both infinities, and negative.
    const std::string odd = "1 2 nan\n1 3 inf\n1 4 -inf\n1 5 -2.5\n2 3 -0\n2 4 -1e30\n2 5 0\n"
                            "3 4 -7.25\n3 5 inf\n4 5 1e-40\n";
    const std::string trace = seeded_trace(dir, 5, 300, 3, odd);
    const trace_reading plain = plain_reading(trace);
    ASSERT_EQ(trace_read::whole, plain.read) << plain.problem;
    std::int64_t numbers = 0;
    for (const size_figures& s : plain.f.by_size) numbers += s.numbers;
    EXPECT_LT(numbers, 300); // some scores are no numbers
    expect_read_alike("nan, inf, -inf and negative distances", trace, every_small_block());
}

TEST(SummaryDiff, ARunWhoseFileChangesItsCountReadsAlike) {
    scratch_dir dir;
    const std::string path = dir.file("changing");
    write_file(path, distance_text(20, mixed_distance));
    // A run of 20 points whose file becomes one of 9 points and then 20 again, at chosen
    // draws of rand().
    const random_source changing = rand_source([&](std::size_t call) {
        if (call == 60) replace_file(path, distance_text(9, mixed_distance));
        if (call == 200) replace_file(path, distance_text(20, mixed_distance));
    });
    std::srand(5);
    const program_result run =
        run_in_process(path + "\n", 60, stream_of(changing), looking_always());
    ASSERT_EQ(0, run.status);
    const trace_reading plain = plain_reading(run.out);
    ASSERT_EQ(trace_read::whole, plain.read) << plain.problem;
    ASSERT_EQ(2U, plain.f.counts.size());
    EXPECT_EQ(20, plain.f.counts[0].first);
    EXPECT_EQ(9, plain.f.counts[1].first);
    expect_read_alike("a file of 20, then 9, then 20 points", run.out, every_small_block());
}

TEST(SummaryDiff, TracesWrittenByHandReadAlike) {
    // Whole traces: the two ends of a run, a run refused at once, and the shapes of
    // number the reader takes though the program never writes them.
    const struct {
        std::string name;
        std::string text;
    } whole[] = {
        {"points of 1 to 5 digits, ending with the final line", hand_trace(final_line)},
        {"points of 1 to 5 digits, ending with an error", hand_trace(error_line)},
        {"the final line with anything after its start", hand_trace("Melhor com ")},
        {"the smallest file",
         by_hand(2, {iteration_lines(2, 0, {2, 1}, "1.000000")}) + final_line + "\n"},
        {"a run refused at once", prompt + "Erro no acesso ao ficheiro dos dados\n"},
        {"a run that ends before its first iteration",
         prompt + "nr pontos: 4\n" + error_line + "\n"},
        {"leading zeros and minus signs in counts and numbers",
         prompt +
             "nr pontos: 0009\nnr pontos: 009\n\nPontos escolhidos aleatoriamente:\n"
             "3 1 \nNr pontos aleatorios: 02\n1 3 \n002 - 01 \n"
             "Distancia media para 0002 pontos, iteracao -0: 1.000000\n"
             "nr pontos: 00009\n\nPontos escolhidos aleatoriamente:\n4 4 \n"
             "Nr pontos aleatorios: 2\n1 9 \n2 - 1 \n"
             "Distancia media para 2 pontos, iteracao 001: 2.000000\n" +
             final_line + "\n"},
    };
    // Texts of 65,536 points each make as many sizes: a read boundary at every offset of
    // their first lines, and a few further on.
    std::vector<std::size_t> blocks;
    for (std::size_t b = 1; b <= 48; ++b) blocks.push_back(b);
    blocks.insert(blocks.end(), {64, 100, 128, 200, 299, 300});
    const std::vector<read_options> some_blocks = options_and_blocks(blocks);
    for (const auto& c : whole) {
        const trace_reading plain = plain_reading(c.text);
        EXPECT_EQ(trace_read::whole, plain.read) << c.name << ": " << plain.problem;
        expect_read_alike(c.name, c.text,
                          plain.f.by_size.size() < 1000 ? every_small_block() : some_blocks);
    }
    // Point lists the program never writes, each in the first iteration of 65,536 points.
    const struct {
        std::string drawn;
        std::string sorted;
    } lists[] = {{"65537 1 ", "1 65537 "},
                 {"99999 1 ", "1 99999 "},
                 {"100000 1 ", "1 100000 "},
                 {"01 2 ", "01 2 "},
                 {"1  2 ", "1  2 "},
                 {"2 1", "1 2"},
                 {"1 ", "1 "},
                 {" 1 2 ", " 1 2 "},
                 {"1 2 ", "2 1 "},
                 {"1 2 ", "1 1 "},
                 {"0 2 ", "0 2 "},
                 {"1 2\t", "1 2\t"},
                 {"", ""}};
    for (const auto& l : lists) {
        std::vector<std::string> lines = iteration_lines(65536, 0, {1, 2}, "1.500000");
        lines[3] = l.drawn;
        const std::string drawn_wrong = by_hand(65536, {lines});
        lines = iteration_lines(65536, 0, {1, 2}, "1.500000");
        lines[5] = l.sorted;
        const std::string sorted_wrong = by_hand(65536, {lines});
        EXPECT_EQ(trace_read::not_trace, plain_reading(sorted_wrong).read) << l.sorted;
        expect_read_alike("drawn \"" + l.drawn + "\"", drawn_wrong, four_ways(l.drawn.size()));
        expect_read_alike("sorted \"" + l.sorted + "\"", sorted_wrong, four_ways(l.sorted.size()));
    }
    // Every point of a file of 65,536: the longest list the program writes, drawn and sorted.
    std::vector<std::int32_t> all(65536);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::int32_t>(all.size() - i);
    const std::string longest =
        by_hand(65536, {iteration_lines(65536, 0, all, "3.250000")}) + final_line + "\n";
    EXPECT_EQ(trace_read::whole, plain_reading(longest).read);
    expect_read_alike("every point of 65,536", longest,
                      options_and_blocks({1, 4096, 393211, 393212, 393213}));
}

TEST(SummaryDiff, TakesTheSameScores) {
    const std::string biggest = printf_f(DBL_MAX);
    const std::string beyond = std::string("1").append(309, '0').append(".000000");
    const std::vector<std::string> taken = {
        "-0.500000", "0.000000", "-0.000000",        "inf",   "-inf",
        "nan",       "-nan",     "123456789.000000", biggest, std::string("-").append(biggest)};
    const std::vector<std::string> refused = {
        "3.67",      "1e5",        "INF",        "3.6666670",
        "03.666667", "+3.666667",  "3.666667 ",  "-",
        ".666667",   "3,666667",   "nan(1)",     "",
        "-.500000",  "--1.000000", "0x1.000000", " 1.000000",
        "1.00000a",  "nan ",       "-0",         "infinity",
        "00.000000", "1.5e+00",    beyond,       std::string("-").append(beyond)};
    for (const bool whole : {true, false}) {
        for (const std::string& score : whole ? taken : refused) {
            const std::string text = by_hand(9, {iteration_lines(9, 0, {3, 1}, "1.000000"),
                                                 iteration_lines(9, 1, {9, 4, 2}, score),
                                                 iteration_lines(9, 2, {5, 6}, score)}) +
                                     final_line + "\n";
            const trace_reading plain = plain_reading(text);
            EXPECT_EQ(whole ? trace_read::whole : trace_read::not_trace, plain.read) << score;
            expect_read_alike(std::string("score \"").append(score).append("\""), text,
                              four_ways(score.size()));
        }
    }
}

TEST(SummaryDiff, MutatedTracesReadAlike) {
    scratch_dir dir;
    const std::string real = seeded_trace(dir, 9, 3, 4, distance_text(9, mixed_distance));
    const std::string failed = small_hand_trace(error_line);
    // The trace ending in an error differs from the one before only in its last line: it
    // is mutated from there on.
    const std::size_t last = failed.rfind('\n', failed.size() - 2) + 1;
    const struct {
        std::string name;
        std::string text;
        std::size_t from; // the first byte mutated
    } bases[] = {{"a run on 9 points", real, 0},
                 {"a trace by hand", small_hand_trace(final_line), 0},
                 {"a trace by hand ending in an error", failed, last}};
    for (const auto& base : bases) {
        const std::string& t = base.text;
        const std::size_t from = base.from;
        // Cut at every byte.
        for (std::size_t cut = from; cut <= t.size(); ++cut)
            expect_read_alike(base.name + " cut at " + std::to_string(cut), t.substr(0, cut),
                              four_ways(cut));
        // Each byte replaced by others that matter to the grammar, each text read one of
        // the four ways in turn (every way for every byte).
        for (std::size_t at = from; at < t.size(); ++at) {
            std::size_t turn = at;
            for (const char c : {'\n', ' ', '9', '-', '\0', static_cast<char>(t[at] ^ 0x20)}) {
                std::string flipped = t;
                flipped[at] = c;
                expect_read_alike(base.name + " with byte " + std::to_string(at) + " as " +
                                      std::to_string(static_cast<unsigned char>(c)),
                                  flipped, {four_ways(at)[turn++ % 4]});
            }
        }
        // Lines dropped, doubled and swapped.
        const std::vector<std::string> lines = lines_of(t);
        for (std::size_t i = from == 0 ? 0 : lines.size() - 2; i < lines.size(); ++i) {
            std::vector<std::string> dropped = lines;
            dropped.erase(dropped.begin() + static_cast<std::ptrdiff_t>(i));
            std::vector<std::string> doubled = lines;
            doubled.insert(doubled.begin() + static_cast<std::ptrdiff_t>(i), lines[i]);
            std::vector<std::string> swapped = lines;
            if (i + 1 < lines.size()) std::swap(swapped[i], swapped[i + 1]);
            const std::string line = " line " + std::to_string(i + 1);
            expect_read_alike(base.name + " without" + line, joined(dropped), two_ways(i));
            expect_read_alike(base.name + " with a second" + line, joined(doubled),
                              two_ways(i + 1));
            expect_read_alike(base.name + " with" + line + " and the next swapped", joined(swapped),
                              two_ways(i + 2));
        }
        // Every number changed by one, or replaced by a number of another shape.
        for (std::size_t at = from; at < t.size(); ++at) {
            if (t[at] < '0' || t[at] > '9' || (at > 0 && t[at - 1] >= '0' && t[at - 1] <= '9'))
                continue;
            std::size_t end = at;
            while (end < t.size() && t[end] >= '0' && t[end] <= '9') ++end;
            const std::string digits = t.substr(at, end - at);
            const long long v = digits.size() < 18 ? std::stoll(digits) : 0;
            for (const std::string& other :
                 {std::to_string(v + 1), std::to_string(v - 1), "0" + digits, "-" + digits,
                  std::string("0"), std::string("65536"), std::string("65537"),
                  std::string("99999999999999999999")}) {
                std::string text = t.substr(0, at);
                text += other;
                text += t.substr(end);
                std::string name = base.name;
                name += " with " + digits + " at " + std::to_string(at) + " as ";
                name += other;
                expect_read_alike(name, text, two_ways(at));
            }
        }
    }
}

TEST(SummaryDiff, TracesOf65536PointsCutAnywhereReadAlike) {
    const std::string ended = hand_trace(final_line);
    const std::string failed = hand_trace(error_line);
    // The two differ only in their last lines; each read of these makes 65,537 sizes,
    // so each cut is read one way, in turn: at every byte of the first iteration (points
    // of every length, 65,536 among them) and of the last two lines, at every third
    // between.
    const std::size_t last = failed.rfind('\n', failed.size() - 2) + 1;
    const std::size_t second = ended.find("nr pontos", ended.find("iteracao 0:"));
    const std::size_t before_last = ended.rfind('\n', ended.rfind('\n', ended.size() - 2) - 1);
    for (std::size_t cut = 0; cut <= ended.size(); ++cut)
        if (cut <= second || cut >= before_last || cut % 3 == 0)
            expect_read_alike("65,536 points cut at " + std::to_string(cut), ended.substr(0, cut),
                              {four_ways(cut / 4)[cut % 4]});
    for (std::size_t cut = last; cut <= failed.size(); ++cut)
        expect_read_alike("65,536 points ending in an error cut at " + std::to_string(cut),
                          failed.substr(0, cut), four_ways(cut));
}

TEST(SummaryDiff, LinesOfAMebibyteAreTakenAndLongerOnesRefused) {
    const std::size_t most = std::size_t{1} << 20;
    const std::string head = by_hand(4, {iteration_lines(4, 0, {4, 1, 3}, "3.666667")});
    // A line made `length` bytes long from `start`.
    const auto line_of = [](const std::string& start, std::size_t length) {
        return start + std::string(length - start.size(), 'x');
    };
    std::string ones; // "1 1 ... 1 ", 1 MiB long
    while (ones.size() < most) ones += "1 ";
    const std::string drawn_head = head + "nr pontos: 2\n\nPontos escolhidos aleatoriamente:\n";
    const struct {
        std::string name;
        std::string text;
        trace_read read;
        std::string problem;
        std::int64_t cut_at;
    } cases[] = {
        {"an error line of 1 MiB", head + line_of("Erro no ", most) + "\n", trace_read::whole, "",
         0},
        {"an error line of 1 MiB + 1", head + line_of("Erro no ", most + 1) + "\n",
         trace_read::not_trace, "linha 10: linha demasiado longa", 0},
        {"a final line of 1 MiB, cut", head + line_of("Melhor com ", most), trace_read::incomplete,
         "", 10},
        {"a final line of 1 MiB + 1, cut", head + line_of("Melhor com ", most + 1),
         trace_read::not_trace, "linha 10: linha demasiado longa", 0},
        {"a drawn line of 1 MiB", drawn_head + ones + "\nNr pontos aleatorios: 524288\n1 2 \n",
         trace_read::not_trace, "linha 15: esperava os pontos ordenados", 0},
        {"a drawn line of 1 MiB + 1", drawn_head + ones + "1\n", trace_read::not_trace,
         "linha 13: linha demasiado longa", 0},
        {"a first line of 1 MiB, cut", line_of(prompt, most), trace_read::incomplete, "", 1},
        {"a first line of 1 MiB + 1, cut", line_of(prompt, most + 1), trace_read::not_trace,
         "linha 1: linha demasiado longa", 0},
        {"a first line of 1 MiB + 1", line_of(prompt, most + 1) + "\n", trace_read::not_trace,
         "linha 1: linha demasiado longa", 0},
        {"a line of 1 MiB + 1 after the final line",
         head + final_line + "\n" + std::string(most + 1, 'x') + "\n", trace_read::not_trace,
         "linha 11: linha demasiado longa", 0},
        {"a line of 1 MiB + 1 after a line out of place",
         head + "nr pontos: 4\nx\n" + std::string(most + 1, 'x'), trace_read::not_trace,
         "linha 11: esperava uma linha vazia", 0},
        {"a text of 1 MiB + 1 that is no trace", std::string(most + 1, 'x'), trace_read::not_trace,
         "linha 1: linha demasiado longa", 0},
    };
    for (const auto& c : cases) {
        const trace_reading plain = plain_reading(c.text);
        EXPECT_EQ(c.read, plain.read) << c.name;
        EXPECT_EQ(c.problem, plain.problem) << c.name;
        EXPECT_EQ(c.cut_at, plain.f.cut_at) << c.name;
        expect_read_alike(c.name, c.text,
                          options_and_blocks({1, 4096, most - 1, most + 1, 3 * most}));
    }
}

TEST(SummaryDiff, TheFinalLineIsTheRunsOwnVerdictOnItsBest) {
    // Scores that print alike cannot be told apart by their six decimals; the run's final
    // line says which one it kept. Of a file of 3 points with distances -2e-7, 2e-7 and
    // -4e-7, only {1, 3} scores above 0 (1e-7, printed 0.000000); {1, 2} and {2, 3} print
    // -0.000000 and {1, 2, 3} -0.000000 too: the run's best is {1, 3}, of 2 points.
    scratch_dir dir;
    const std::string trace = seeded_trace(dir, 3, 200, 7, "1 2 -2e-7\n1 3 2e-7\n2 3 -4e-7\n");
    ASSERT_TRUE(trace.ends_with("\nMelhor com 2 numeros: 0.000000 pontos\n"));
    const std::size_t first = trace.find("\nNr pontos aleatorios: 2\n1 3 \n");
    ASSERT_NE(std::string::npos, first);
    const std::size_t result = trace.find("Distancia media para 2 pontos, iteracao ", first);
    const std::string number = trace.substr(result + 40, trace.find(':', result) - result - 40);
    const trace_reading read = product_reading(trace, read_options{});
    ASSERT_EQ(trace_read::whole, read.read) << read.problem;
    EXPECT_EQ(2, read.f.best_size);
    EXPECT_EQ(0.0, read.f.best);
    EXPECT_EQ(std::stoll(number), read.f.best_at);
    EXPECT_EQ("1 3", read.f.best_points);
    expect_read_alike("tiny scores above 0", trace, four_ways(0));

    // Two sizes that print the same highest score: the final line names the second, whose
    // first such iteration is the best, though the first size printed it before. A final
    // line that no iteration bears out still gives the run's best score and size, with no
    // iteration; one not written as the program writes it leaves the printed scores' best.
    const std::string body = by_hand(9, {iteration_lines(9, 0, {3, 1}, "3.000000"),
                                         iteration_lines(9, 1, {4, 6, 2}, "-0.000000"),
                                         iteration_lines(9, 2, {9, 4, 2}, "3.000000"),
                                         iteration_lines(9, 3, {5, 7, 8}, "3.000000")});
    const struct {
        std::string last;
        std::int32_t size;
        std::int64_t at;
        std::string points;
    } cases[] = {
        {"Melhor com 3 numeros: 3.000000 pontos", 3, 2, "2 4 9"},
        {"Melhor com 2 numeros: 3.000000 pontos", 2, 0, "1 3"},
        {"Melhor com 4 numeros: 3.000000 pontos", 4, -1, ""},
        {"Melhor com 3 numeros: 2.000000 pontos", 3, -1, ""},
        {"Melhor com 0 numeros: 0.000000 pontos", 0, -1, ""},
        {"Melhor com 03 numeros: 3.000000 pontos", 2, 0, "1 3"},
        {"Melhor com 3 numeros: 3.0 pontos", 2, 0, "1 3"},
    };
    for (const auto& c : cases) {
        const std::string text = body + c.last + "\n";
        const trace_reading got = product_reading(text, read_options{});
        ASSERT_EQ(trace_read::whole, got.read) << c.last << ": " << got.problem;
        EXPECT_EQ(c.size, got.f.best_size) << c.last;
        EXPECT_EQ(c.at, got.f.best_at) << c.last;
        EXPECT_EQ(c.points, got.f.best_points) << c.last;
        expect_read_alike(c.last, text, four_ways(c.last.size()));
    }
}
