// The built program as its users run it: exact output and exit status for files it
// refuses, for names it cannot open, and for output it cannot write.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "helpers.hpp"

namespace {
const std::string prompt = "Introduza o nome do ficheiro: ";
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

TEST(Program, NoticesAFileThatChangesOrGoesAwayDuringARun) {
    scratch_dir dir;
    const std::string data = dir.file("data");
    write_file(data, distance_text(141, simple_distance));
    write_file(dir.file("stdin"), data + "\n");

    // Changed: later iterations count the new file's points.
    running_program p = start_program(dir.file("stdin"), dir.file("err"));
    std::string out;
    ASSERT_TRUE(read_output(p, out, 1 << 16));
    replace_file(data, distance_text(150, simple_distance)); // holds the old pairs too
    while (out.find("nr pontos: 150\n") == std::string::npos && read_output(p, out, out.size() + 1))
        ;
    EXPECT_NE(std::string::npos, out.find("nr pontos: 150\n"));
    wait_program(p);

    wait_program(p);
}

namespace {

// Starts a run on a fresh 141-point file at `data`, lets it print a while, applies
// `change` to the file, and checks that the run then ends with `message` as its last
// line, printed once, with exit status 1 and nothing on standard error.
void expect_run_to_end_with(const std::string& data, const std::function<void()>& change,
                            const std::string& message) {
    write_file(data, distance_text(141, simple_distance));
    write_file(data + ".in", data + "\n");
    running_program p = start_program(data + ".in", data + ".err");
    std::string out;
    ASSERT_TRUE(read_output(p, out, 1 << 16));
    change();
    read_output(p, out);
    EXPECT_EQ(1, wait_program(p)) << message;
    ASSERT_GE(out.size(), message.size());
    EXPECT_EQ(out.size() - message.size(), out.find(message)) << out.substr(out.size() - 300);
    EXPECT_EQ("", read_file(data + ".err"));
}

} // namespace

TEST(Program, EndsCleanlyWhenItsFileIsSpoiledDuringARun) {
    scratch_dir dir;
    const std::string data = dir.file("data");
    const std::string no_access = "Erro no acesso ao ficheiro dos dados\n";
    expect_run_to_end_with(
        data, [&] { std::filesystem::remove(data); }, no_access);
    expect_run_to_end_with(
        data, [&] { write_file(data, ""); },
        "Erro no ficheiro dos dados: sao precisos pelo menos 2 pontos\n");
    // Cut after its 1000th line: the 1001st triple is missing.
    expect_run_to_end_with(
        data,
        [&] {
            std::string text = read_file(data);
            std::size_t at = 0;
            for (int line = 0; line < 1000; ++line) at = text.find('\n', at) + 1;
            replace_file(data, text.substr(0, at));
        },
        "Erro no ficheiro dos dados: triplo 1001 em falta ou mal formado\n");
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
