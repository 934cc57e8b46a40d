// Scratch files and a small fork/exec runner for the built program.
#include "helpers.hpp"

#include "data/distance_file.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

scratch_dir::scratch_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "subset-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = tmpl;
}

scratch_dir::~scratch_dir() {
    std::error_code ec;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path, ec);
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    if (!f) throw std::runtime_error("cannot write " + path);
}

void replace_file(const std::string& path, const std::string& text) {
    write_file(path + ".new", text);
    std::filesystem::rename(path + ".new", path);
}

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string distance_text(std::int32_t n, const std::function<double(int, int)>& dist) {
    std::string text;
    char line[96];
    for (int i = 1; i < n; ++i)
        for (int j = i + 1; j <= n; ++j) {
            const int n = std::snprintf(line, sizeof line, "%d %d %g\n", i, j, dist(i, j));
            text.append(line, static_cast<std::size_t>(n));
        }
    return text;
}

double simple_distance(int i, int j) {
    return i * 0.5 + j * 0.25;
}

std::size_t file_position(int a, int b, int n) {
    return static_cast<std::size_t>((a - 1) * n - a * (a - 1) / 2 + (b - a) - 1);
}

float loaded_distance(std::int64_t position) {
    for (std::int32_t a = 1; a < max; position -= max - a, ++a)
        if (position < max - a)
            return myItems.dist[pair_index(a, a + 1 + static_cast<std::int32_t>(position), max)];
    throw std::out_of_range("no such triple");
}

running_program start_program(const std::string& input_path, const std::string& err_path,
                              const std::string& out_path) {
    int out_pipe[2];
    if (pipe(out_pipe) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // With no input path, the program starts with its standard input closed.
        int in_fd = input_path.empty() ? -1 : open(input_path.c_str(), O_RDONLY);
        int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int out_fd = out_path.empty() ? out_pipe[1] : open(out_path.c_str(), O_WRONLY);
        if (in_fd < 0)
            close(0);
        else
            dup2(in_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        close(out_pipe[0]);
        execl(PROGRAM_PATH, PROGRAM_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out_pipe[1]);
    return {pid, out_pipe[0], err_path};
}

bool read_output(running_program& p, std::string& into, std::size_t size) {
    char buf[65536];
    while (size == 0 || into.size() < size) {
        ssize_t n = ::read(p.out_fd, buf, sizeof buf);
        if (n <= 0) return false;
        into.append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

int wait_program(running_program& p) {
    close(p.out_fd);
    int status = 0;
    waitpid(p.pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

program_result run_program(const std::string& input, const std::string& out_path,
                           std::size_t keep) {
    scratch_dir dir;
    write_file(dir.file("stdin"), input);
    running_program p = start_program(dir.file("stdin"), dir.file("stderr"), out_path);
    program_result r{};
    read_output(p, r.out, keep);
    if (keep != 0 && r.out.size() > keep) r.out.resize(keep);
    r.status = wait_program(p);
    r.err = read_file(p.err_path);
    return r;
}
