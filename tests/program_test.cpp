// The built program as its users run it: exact output and exit status for files it
// refuses, for names it cannot open, and for output it cannot write.
#include <gtest/gtest.h>

#include <cstdio>

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

TEST(Program, WorksOnATwoPointFileWithGarbageAfterItsPair) {
    scratch_dir dir;
    write_file(dir.file("two"), "1 2 3.5\n\n%%% not read %%%\n");
    program_result r = run_program(dir.file("two") + "\n", "", 4096);
    EXPECT_EQ(0, r.out.rfind(prompt + "nr pontos: 2\nnr pontos: 2\n", 0)) << r.out.substr(0, 200);
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
    write_file(data + ".new", distance_text(150, simple_distance)); // holds the old pairs too
    std::rename((data + ".new").c_str(), data.c_str());
    while (out.find("nr pontos: 150\n") == std::string::npos && read_output(p, out, out.size() + 1))
        ;
    EXPECT_NE(std::string::npos, out.find("nr pontos: 150\n"));
    wait_program(p);

    // Removed: the run ends with the access error, exit status 1 and nothing after it.
    write_file(data, distance_text(141, simple_distance));
    p = start_program(dir.file("stdin"), dir.file("err"));
    out.clear();
    ASSERT_TRUE(read_output(p, out, 1 << 16));
    std::remove(data.c_str());
    read_output(p, out);
    EXPECT_EQ(1, wait_program(p));
    const std::string message = "Erro no acesso ao ficheiro dos dados\n";
    ASSERT_GE(out.size(), message.size());
    EXPECT_EQ(message, out.substr(out.size() - message.size()));
    EXPECT_EQ(out.size() - message.size(), out.find(message)); // once, last
}
