// A trace file read on two threads against the plain reading of the same bytes: real
// runs, a count that changes, and the same traces broken, cut and with error lines, at
// block sizes that put a block's end at every kind of place.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "helpers.hpp"
#include "plain_summary.hpp"
#include "summary/trace_summary.hpp"

using namespace subset;

namespace {

// The trace in the file at `path` read with `options`.
trace_reading read_with(const std::string& path, const read_options& options) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    trace_reading got;
    got.read = read_trace(in, got.f, got.problem, options);
    std::fclose(in);
    return got;
}

// Block sizes from less than an iteration (nothing to read ahead) to many iterations.
const std::size_t every_size[] = {16, 64, 100, 199, 256, 1000, 1777, 4096, 65536};
const std::size_t some_sizes[] = {199, 1000, 4096};

// Reads `text` from a file on two threads at each block size, against the plain reading
// of the same bytes.
template <std::size_t count>
void check(const scratch_dir& dir, const std::string& text, const std::string& what,
           const std::size_t (&sizes)[count]) {
    const std::string path = dir.file("trace");
    write_file(path, text);
    const trace_reading want = plain_reading(text);
    for (const std::size_t block : sizes)
        ASSERT_EQ("", reading_difference(want, read_with(path, {block, true, true})))
            << what << ", blocks of " << block;
}

// A run of `iterations` on `path`, drawn from the C library's generator seeded `seed`.
std::string seeded_trace(const std::string& path, std::int32_t iterations, unsigned seed) {
    const program_result r = run_in_process(path + "\n", iterations, rand_stream(seed));
    return r.out;
}

} // namespace

TEST(Ahead, ATraceReadOnTwoThreadsIsTheTraceReadInOnePiece) {
    scratch_dir dir;
    write_file(dir.file("d20"), distance_text(20, mixed_distance));
    write_file(dir.file("d141"), distance_text(141, mixed_distance));
    const std::string twenty = seeded_trace(dir.file("d20"), 1000, 5);
    const std::string large = seeded_trace(dir.file("d141"), 200, 6);
    check(dir, twenty, "20 points", every_size);
    check(dir, large, "141 points", every_size);
    // Cut anywhere, with an error line for the rest, or with text after the end.
    std::mt19937 gen(3);
    for (int round = 0; round < 10; ++round) {
        const std::size_t cut = gen() % twenty.size();
        check(dir, twenty.substr(0, cut), "cut at " + std::to_string(cut), some_sizes);
        const std::size_t line = twenty.find('\n', cut) + 1;
        check(dir, twenty.substr(0, line) + "Erro no acesso ao ficheiro dos dados\n",
              "an error line after byte " + std::to_string(line), some_sizes);
        std::string broken = twenty;
        broken[cut] = "0 9\nx"[gen() % 5];
        check(dir, broken, "byte " + std::to_string(cut) + " changed", some_sizes);
    }
    check(dir, twenty + "nr pontos: 20\n", "text after the end", some_sizes);
    // An iteration left out: the next one's number is out of place, wherever a block
    // starts.
    std::size_t iteration = twenty.find("nr pontos: 20\n\n");
    for (int left_out = 0; left_out < 40; ++left_out) {
        const std::size_t next = twenty.find("nr pontos: 20\n\n", iteration + 1);
        check(dir, twenty.substr(0, iteration) + twenty.substr(next),
              "an iteration left out at byte " + std::to_string(iteration), some_sizes);
        iteration = next;
    }
}

TEST(Ahead, ACountThatChangesLeavesTheBlocksReadAheadToTheGrammar) {
    // Two runs of different counts, the second's iterations renumbered to follow the
    // first's: the count changes once, and iteration numbers keep counting.
    scratch_dir dir;
    write_file(dir.file("d9"), distance_text(9, mixed_distance));
    write_file(dir.file("d12"), distance_text(12, mixed_distance));
    const std::string nine = seeded_trace(dir.file("d9"), 400, 8);
    const std::string twelve = seeded_trace(dir.file("d12"), 400, 9);
    // The iterations of the two runs in turn, renumbered, and so the count changes at
    // every iteration, with a final line: blocks read ahead start at either count.
    const auto iterations_of = [](const std::string& trace) {
        std::vector<std::string> all;
        const std::size_t end = trace.rfind("Melhor com ");
        for (std::size_t at = trace.find('\n') + 1, next = 0; at < end; at = next) {
            next = std::min(trace.find("nr pontos: ", at + 1), end);
            all.push_back(trace.substr(at, next - at));
        }
        return all;
    };
    const std::vector<std::string> a = iterations_of(nine);
    const std::vector<std::string> b = iterations_of(twelve);
    std::string text = nine.substr(0, nine.find('\n') + 1);
    for (std::size_t i = 0; i < 2 * std::min(a.size(), b.size()); ++i) {
        std::string it = (i % 2 == 0 ? a : b)[i / 2];
        const std::size_t word = it.find(" pontos, iteracao ") + 18;
        it = it.substr(0, word) + std::to_string(i) + it.substr(it.find(':', word));
        text += it;
    }
    text += "Melhor com 2 numeros: 1.000000 pontos\n";
    check(dir, text, "a count that changes", every_size);
}
