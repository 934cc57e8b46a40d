// Shared test helpers: scratch files, generated distance files, and running the built
// program as a user would.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A fresh directory for one test, removed with everything in it at the end.
struct scratch_dir {
    std::string path;
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

void write_file(const std::string& path, const std::string& text);

// Puts `text` in place of the file at `path` at once: written beside it, then renamed, so
// that a program reading it never sees it half-written.
void replace_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);

// The text of a well-formed file of `n` points, one triple per line, with the distance
// of each pair given by `dist(i, j)` printed as "%g".
std::string distance_text(std::int32_t n, const std::function<double(int, int)>& dist);

// Distances that differ from pair to pair: i * 0.5 + j * 0.25.
double simple_distance(int i, int j);

// The place, from 0, of the pair (a, b), a < b, among the triples of a file of n points:
// worked out here apart from the program's own table layout.
std::size_t file_position(int a, int b, int n);

// The distance that myItems holds for the position-th triple (from 0) of the version
// last counted.
float loaded_distance(std::int64_t position);

// The prompt that starts every trace.
inline const std::string prompt = "Introduza o nome do ficheiro: ";

struct program_result {
    std::string out; // everything written to standard output
    std::string err; // everything written to standard error
    int status;      // exit status, or 128 + signal number
};

// The built program, started with its standard output on a pipe to the test.
struct running_program {
    int pid;
    int out_fd;
    std::string err_path; // where its standard error goes
};

// Starts the built program with `input_path` as its standard input (closed when the path
// is empty) and standard error
// going to `err_path`; standard output goes to `out_path` or, when that is empty, to a
// pipe read with read_output.
running_program start_program(const std::string& input_path, const std::string& err_path,
                              const std::string& out_path = "");

// Appends output to `into` until it holds at least `size` bytes or the output ends
// (size 0: until the end); returns false when the output ended.
bool read_output(running_program& p, std::string& into, std::size_t size = 0);

// Closes the pipe and waits; returns the exit status, or 128 + signal number.
int wait_program(running_program& p);

// Runs the built program with `input` on its standard input. When `out_path` is given,
// standard output goes to that file instead of being captured. With `keep` set, only
// that many bytes of output are read before the pipe is closed on the program.
program_result run_program(const std::string& input, const std::string& out_path = "",
                           std::size_t keep = 0);
