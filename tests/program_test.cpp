// The built program as its users run it: exact output and exit status for files it
// refuses, for names it cannot open, and for output it cannot write.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "helpers.hpp"

namespace {
const std::string no_access = "Erro no acesso ao ficheiro dos dados\n";
} // namespace

TEST(Program, RefusesFilesWithOneLineAndStatusOne) {
    scratch_dir dir;
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"", "Erro no ficheiro dos dados: sao precisos pelo menos 2 pontos\n"},
        {"3 4 1.0\n", "Erro no ficheiro dos dados: sao precisos pelo menos 2 pontos\n"},
        {"1 2 1.0\n1 3 2.0\n2 3", "Erro no ficheiro dos dados: triplo 3 em falta ou mal formado\n"},
        {distance_text(2001, simple_distance),
         "Erro no ficheiro dos dados: 2001 pontos excedem o maximo de 2000\n"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file("f");
        write_file(path, c.text);
        program_result r = run_program(path + "\n");
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(prompt + c.message, r.out);
        EXPECT_EQ("", r.err);
    }
}

TEST(Program, ReportsNamesThatCannotBeOpened) {
    scratch_dir dir;
    for (const std::string& input : {dir.file("missing") + "\n", dir.path + "\n", std::string(),
                                     std::string(5000, 'x') + "\n"}) {
        program_result r = run_program(input);
        EXPECT_EQ(1, r.status) << input;
        EXPECT_EQ(prompt + no_access, r.out) << input;
    }
}

TEST(Program, FailsLoudlyWhenOutputCannotBeWritten) {
    scratch_dir dir;
    write_file(dir.file("d"), distance_text(5, simple_distance));
    program_result r = run_program(dir.file("d") + "\n", "/dev/full");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("Erro na escrita dos resultados\n", r.err);
}

namespace {

// Checks every whole iteration in `trace` (after the start-up count line): its score
// must be the one recomputed with strtof from the version whose point count it printed.
// Returns how many iterations of each version were checked.
std::map<int, int> check_scores(const std::string& trace,
                                const std::map<int, std::vector<float>>& versions) {
    std::map<int, int> seen;
    std::istringstream lines(trace.substr(trace.find('\n') + 1));
    std::string line, sorted_line, result;
    while (std::getline(lines, line)) {
        if (line.rfind("nr pontos: ", 0) != 0) continue;
        const int n = std::stoi(line.substr(11));
        for (int skip = 0; skip < 5 && std::getline(lines, sorted_line); ++skip)
            ;
        std::string pairs_line;
        if (!std::getline(lines, pairs_line) || !std::getline(lines, result) || lines.eof())
            break; // the last iteration read may be cut off
        EXPECT_EQ(1u, versions.count(n)) << line;
        const std::vector<float>& dist = versions.at(n);
        std::vector<int> points;
        std::istringstream s(sorted_line);
        for (int p; s >> p;) points.push_back(p);
        float sum = 0;
        for (std::size_t i = 0; i < points.size(); ++i)
            for (std::size_t j = i + 1; j < points.size(); ++j)
                sum = dist[file_position(points[i], points[j], n)] + sum;
        char score[400];
        std::snprintf(score, sizeof score, "%f", sum / static_cast<float>(points.size()));
        const std::string tail = result.substr(result.rfind(' ') + 1);
        if (tail != score) {
            ADD_FAILURE() << "N " << n << ": " << result << " instead of " << score;
            break;
        }
        ++seen[n];
    }
    return seen;
}

// The distances of `text` in file order, read with strtof.
std::vector<float> distances_of(const std::string& text) {
    std::vector<float> dist;
    std::istringstream lines(text);
    for (std::string i, j, d; lines >> i >> j >> d;)
        dist.push_back(std::strtof(d.c_str(), nullptr));
    return dist;
}

double random_distance(int i, int j) {
    return ((i * 7919 + j * 104729) % 2001 - 1000) / 7.0;
}

} // namespace

TEST(Program, KeepsOneVersionPerIterationWhileTheFileIsSwapped) {
    scratch_dir dir;
    const std::string data = dir.file("data");
    const std::string small = distance_text(30, random_distance);
    const std::string large = distance_text(200, simple_distance);
    write_file(dir.file("small"), small);
    write_file(dir.file("large"), large);
    write_file(data, small);
    write_file(dir.file("stdin"), data + "\n");
    running_program p = start_program(dir.file("stdin"), dir.file("err"));

    // Renames one version or the other over the file at random intervals, as `mv` does.
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        std::mt19937 gen(7);
        for (int swap = 0; !stop; ++swap) {
            const std::string from = dir.file(swap % 2 == 0 ? "large" : "small");
            std::filesystem::copy_file(from, data + ".new",
                                       std::filesystem::copy_options::overwrite_existing);
            std::filesystem::rename(data + ".new", data);
            std::this_thread::sleep_for(std::chrono::microseconds(gen() % 3000));
        }
    });
    std::string out;
    const bool going = read_output(p, out, 24 << 20);
    stop = true;
    swapper.join();
    EXPECT_TRUE(going) << out.substr(out.size() - std::min<std::size_t>(out.size(), 300));
    wait_program(p);
    EXPECT_EQ(std::string::npos, out.find("Erro"));
    const auto seen = check_scores(out, {{30, distances_of(small)}, {200, distances_of(large)}});
    EXPECT_GT(seen.count(30) ? seen.at(30) : 0, 100);
    EXPECT_GT(seen.count(200) ? seen.at(200) : 0, 100);
}

TEST(Program, WaitsForAFileBeingRewrittenInPlace) {
    scratch_dir dir;
    const std::string data = dir.file("data");
    const std::string next = distance_text(150, simple_distance);
    // Truncated and written at once, as a shell redirection does; then truncated, half
    // written, and finished 50 ms later, as a slow generator does.
    const std::function<void()> rewrites[] = {
        [&] { write_file(data, next); },
        [&] {
            std::ofstream f(data, std::ios::binary | std::ios::trunc);
            f << next.substr(0, next.size() / 2) << std::flush;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            f << next.substr(next.size() / 2);
        },
    };
    for (const auto& rewrite : rewrites) {
        write_file(data, distance_text(141, simple_distance));
        write_file(dir.file("stdin"), data + "\n");
        running_program p = start_program(dir.file("stdin"), dir.file("err"));
        std::string out;
        ASSERT_TRUE(read_output(p, out, 1 << 16));
        rewrite();
        while (out.find("nr pontos: 150\n") == std::string::npos &&
               read_output(p, out, out.size() + 1))
            ;
        wait_program(p);
        EXPECT_NE(std::string::npos, out.find("nr pontos: 150\n"));
        EXPECT_EQ(std::string::npos, out.find("Erro"));
        EXPECT_EQ("", read_file(dir.file("err")));
    }
}

namespace {

// Starts a run on a fresh 141-point file at `data`, lets it print a while, applies
// `change` to the file, and checks that the run then ends with `message` as its last
// line, printed once, with exit status 1 and nothing on standard error. Returns the
// seconds from the end of the change to the end of the output.
double expect_run_to_end_with(const std::string& data, const std::function<void()>& change,
                              const std::string& message) {
    write_file(data, distance_text(141, simple_distance));
    write_file(data + ".in", data + "\n");
    running_program p = start_program(data + ".in", data + ".err");
    std::string out;
    EXPECT_TRUE(read_output(p, out, 1 << 16));
    change();
    const auto changed = std::chrono::steady_clock::now();
    read_output(p, out);
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - changed;
    EXPECT_EQ(1, wait_program(p)) << message;
    EXPECT_GE(out.size(), message.size());
    EXPECT_EQ(out.size() - message.size(), out.find(message))
        << out.substr(out.size() - std::min<std::size_t>(out.size(), 300));
    EXPECT_EQ("", read_file(data + ".err"));
    return waited.count();
}

} // namespace

TEST(Program, EndsCleanlyWhenItsFileIsSpoiledDuringARun) {
    scratch_dir dir;
    const std::string data = dir.file("data");
    // Removed: at once.
    EXPECT_LT(expect_run_to_end_with(
                  data, [&] { std::filesystem::remove(data); }, no_access),
              0.5);
    // Left broken: after a second in which it did not change.
    const double emptied = expect_run_to_end_with(
        data, [&] { write_file(data, ""); },
        "Erro no ficheiro dos dados: sao precisos pelo menos 2 pontos\n");
    // Rewritten with its first 500 lines: the 501st triple is missing.
    const double cut = expect_run_to_end_with(
        data,
        [&] {
            std::string text = read_file(data);
            std::size_t at = 0;
            for (int line = 0; line < 500; ++line) at = text.find('\n', at) + 1;
            write_file(data, text.substr(0, at));
        },
        "Erro no ficheiro dos dados: triplo 501 em falta ou mal formado\n");
    // A second of standing still, and a little more on a loaded machine.
    for (double waited : {emptied, cut}) {
        EXPECT_GT(waited, 0.9);
        EXPECT_LT(waited, 2.0);
    }
    // Unreadable: a directory put in its place (permissions do not stop root).
    expect_run_to_end_with(
        data,
        [&] {
            std::filesystem::remove(data);
            std::filesystem::create_directory(data);
        },
        no_access);
    rmdir(data.c_str());
    if (geteuid() != 0)
        expect_run_to_end_with(
            data, [&] { chmod(data.c_str(), 0); }, no_access);
}

TEST(Program, EndsByBrokenPipeWhenItsReaderGoesAway) {
    scratch_dir dir;
    write_file(dir.file("d"), distance_text(20, simple_distance));
    program_result r = run_program(dir.file("d") + "\n", "", 100000);
    EXPECT_EQ(128 + SIGPIPE, r.status);
    EXPECT_EQ("", r.err);
}

TEST(Program, TreatsClosedOrEmptyInputAsAnEmptyName) {
    scratch_dir dir;
    running_program p = start_program("", dir.file("err"));
    std::string out;
    read_output(p, out);
    EXPECT_EQ(1, wait_program(p));
    EXPECT_EQ(prompt + no_access, out);
    EXPECT_EQ("", read_file(dir.file("err")));
    program_result r = run_program("");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(prompt + no_access, r.out);
}

TEST(Program, OpensLongNamesWhole) {
    scratch_dir dir;
    write_file(dir.file("d"), distance_text(3, simple_distance));
    std::string name;
    while (name.size() < 3000) name += "./";
    name = dir.path + "/" + name + "d";
    program_result r = run_program(name + "\n", "", 4096);
    EXPECT_EQ(0, r.out.rfind(prompt + "nr pontos: 3\nnr pontos: 3\n", 0)) << r.out.substr(0, 200);
}

TEST(Program, ReadsFilesAtTheEdgesOfWhatItAccepts) {
    scratch_dir dir;
    // The largest file it takes.
    write_file(dir.file("big"), distance_text(2000, simple_distance));
    program_result r = run_program(dir.file("big") + "\n", "", 4096);
    EXPECT_EQ(0, r.out.rfind(prompt + "nr pontos: 2000\nnr pontos: 2000\n\n", 0))
        << r.out.substr(0, 200);
    EXPECT_EQ("", r.err);
    // Garbage after the last pair it needs, with four points and with two (where the
    // garbage stands where counting looks for a triple that does not start with 1).
    write_file(dir.file("tail"), distance_text(4, simple_distance) + "1 2 x y z \x01\xff");
    r = run_program(dir.file("tail") + "\n", "", 4096);
    EXPECT_EQ(0, r.out.rfind(prompt + "nr pontos: 4\nnr pontos: 4\n\n", 0));
    write_file(dir.file("two"), "1 2 3.5\n\n%%% not read %%%\n");
    r = run_program(dir.file("two") + "\n", "", 4096);
    EXPECT_EQ(0, r.out.rfind(prompt + "nr pontos: 2\nnr pontos: 2\n\n", 0));
    // Distances beyond a float's range read as formatted input reads them.
    const struct {
        const char* text;
        const char* score;
    } cases[] = {{"1 2 1e39", "inf"}, {"1 2 -1e39", "-inf"}, {"1 2 1e-50", "0.000000"}};
    for (const auto& c : cases) {
        write_file(dir.file("range"), c.text);
        r = run_program(dir.file("range") + "\n", "", 4096);
        EXPECT_NE(std::string::npos, r.out.find("Distancia media para 2 pontos, iteracao 0: " +
                                                std::string(c.score) + "\n"))
            << c.text;
        EXPECT_EQ("", r.err);
    }
}
