// Shared test helpers: scratch files, generated distance files, scripted random numbers,
// a trace checker, the search run in-process, and the built program as a user runs it.
#pragma once

#include <sys/types.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "data/parse.hpp"
#include "run.hpp"

// ------------------------------------------------------------------ files

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

// The first run of a file of `n` points, the triples (1, 2) .. (1, n), then `rest`.
std::string first_run_text(std::int32_t n, const std::string& rest = "");

// Distances that differ from pair to pair: i * 0.5 + j * 0.25.
double simple_distance(int i, int j);

// Distances with both signs and up to six significant digits.
double mixed_distance(int i, int j);

// The four points of the worked example: (1,2) 1.0, (1,3) 2.0, ... (3,4) 6.0.
inline const std::string example_text = "1 2 1.0\n1 3 2.0\n1 4 3.0\n2 3 4.0\n2 4 5.0\n3 4 6.0\n";

// The place, from 0, of the pair (a, b), a < b, among the triples of a file of n points:
// worked out here apart from the program's own table layout.
std::size_t file_position(int a, int b, int n);

// The distance that version `v` holds for the position-th triple (from 0) of its file.
float loaded_distance(const subset::version& v, std::int64_t position);

// The distances of a file's text in file order, read with strtof.
std::vector<float> distances_of(const std::string& text);

// What parsing gives, held together: a version, or why there is none.
struct parsed {
    subset::version_ptr v;
    subset::file_error error;
};

// parse_distances of a text, or of a source, `buffer` bytes at a time.
parsed parsed_of(std::string_view text, std::size_t buffer = subset::parse_buffer);
parsed parsed_of(const subset::byte_source& source, std::size_t buffer = subset::parse_buffer);

// ------------------------------------------------------------------ kernels

// Every way of scoring that this machine can execute, named: each runnable kernel table
// as a run takes it, then, for a table with a sweep, the same with the sweep taking every
// group, and with no sweep (the chains alone).
std::vector<std::pair<std::string, subset::kernel_table>> scoring_ways();

// ------------------------------------------------------------------ random numbers

// A source that hands out `numbers` in order (a test failure once they run out). Before
// each value, `on_call` (when set) is given the call's number, from 0, so that a test can
// change the file at a chosen draw. Copies share their place in the script.
subset::random_source scripted_source(std::vector<int> numbers,
                                      std::function<void(std::size_t)> on_call = {});

// The C library's rand(), one value a call, with `on_call` given each call's number first.
subset::random_source rand_source(std::function<void(std::size_t)> on_call);

// ------------------------------------------------------------------ traces

// `v` as printf's "%f" writes it.
std::string printf_f(double v);

// What the iterations of a trace are checked against, and what was met in them.
struct trace_check {
    // The versions the run may meet, by point count: their distances in file order. None:
    // any count is taken, and no score is checked.
    std::map<int, std::vector<float>> versions;
    // When set, the points an iteration at `n` points must draw, in draw order.
    std::function<std::vector<int>(int n)> draw;
    explicit trace_check(std::map<int, std::vector<float>> by_count = {},
                         std::function<std::vector<int>(int n)> drawn = {})
        : versions(std::move(by_count)), draw(std::move(drawn)) {}
    bool started = false;    // the prompt and the count at start-up have been checked
    std::size_t at = 0;      // where checking goes on in the text
    std::vector<int> counts; // the point count of each iteration checked
    float best = 0;          // the best score met, as the run keeps it, and its size
    int best_size = 0;
};

// Checks the whole iterations of `trace` from `c.at` on (after the start, once), moving
// `c.at` past each: its eight lines, its points (distinct, among the count's, then
// sorted), its number and its score, recomputed from its version in single precision.
// Stops at a line that is not an iteration's (the final line, an error) or at one not yet
// whole; on a fault, `c.at` is at the faulty iteration.
testing::AssertionResult check_iterations(const std::string& trace, trace_check& c);

// ------------------------------------------------------------------ runs

// The prompt that starts every trace.
inline const std::string prompt = "Introduza o nome do ficheiro: ";
inline const std::string no_access = "Erro no acesso ao ficheiro dos dados\n";

struct program_result {
    std::string out; // everything written to standard output (or the part kept)
    std::string err; // everything written to standard error, or to the terminal
    int status = 0;  // exit status, or 128 + signal number
};

// The search run in this process with `input` on its standard input.
program_result run_in_process(const std::string& input, std::int32_t iterations,
                              subset::random_stream rnd, const subset::run_settings& settings = {});

// Whether two traces are the same, and where they part if not: their sizes, the first
// byte that differs and what follows it in each (a diff of traces of megabytes would
// take the test's time).
testing::AssertionResult same_trace(const std::string& want, const std::string& got);

// Settings under which every iteration looks at the file, as tests that change it need.
subset::run_settings looking_always(int workers = -1);

// How to start the built program.
struct program_options {
    std::string input;          // its standard input's text
    bool close_input = false;   // start it with standard input closed instead
    std::string out_path;       // standard output to this file instead of a pipe to the test
    bool terminal = false;      // standard error on a pseudo-terminal instead of a file
    std::size_t memory_cap = 0; // when set, the most address space it may take (bytes)
    std::vector<int> ignored;   // signals it starts with ignored, as a parent may leave them
};

// Whether this build runs under AddressSanitizer, whose shadow memory fills any cap on
// the address space.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool sanitized = true;
#else
inline constexpr bool sanitized = false;
#endif
#else
inline constexpr bool sanitized = false;
#endif

// The built program, running.
struct running_program {
    scratch_dir dir; // its input and standard error files
    pid_t pid = -1;
    int out_fd = -1;           // the pipe from its standard output, if any
    int terminal_fd = -1;      // the pseudo-terminal's master side, if any
    std::string screen;        // what it wrote on its terminal; whole after wait_program
    std::thread screen_reader; // reads `screen`
};

std::unique_ptr<running_program> start_program(const program_options& options);

// Appends output to `into` until it holds at least `size` bytes or the output ends
// (size 0: until the end); returns false when the output ended.
bool read_output(running_program& p, std::string& into, std::size_t size = 0);

// Closes the pipe and waits; returns the exit status, or 128 + signal number. Its
// standard error (or terminal) is then in `err`.
int wait_program(running_program& p, std::string& err);

// The exit status of a process as waitpid gives it: its own, or 128 + signal number.
int decode_status(int wait_status);

// Runs the built program to its end. Of its standard output, only the first `keep` bytes
// are kept (0: all); with `drain` unset, the pipe is closed on it once they are read.
program_result run_program(const program_options& options, std::size_t keep = 0,
                           bool drain = false);
