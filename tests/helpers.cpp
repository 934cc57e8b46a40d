// Scratch files, scripted sources, the trace checker, the in-process runner and a small
// fork/exec runner for the built program.
#include "helpers.hpp"

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "data/version.hpp"

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
    // "%d %d %g" by to_chars, which writes the same text several times faster: files of
    // thousands of points are millions of triples.
    std::string text;
    char line[96];
    for (int i = 1; i < n; ++i)
        for (int j = i + 1; j <= n; ++j) {
            char* at = std::to_chars(line, line + sizeof line, i).ptr;
            *at++ = ' ';
            at = std::to_chars(at, line + sizeof line, j).ptr;
            *at++ = ' ';
            at = std::to_chars(at, line + sizeof line, dist(i, j), std::chars_format::general, 6)
                     .ptr;
            *at++ = '\n';
            text.append(line, static_cast<std::size_t>(at - line));
        }
    return text;
}

std::string first_run_text(std::int32_t n, const std::string& rest) {
    std::string text;
    for (std::int32_t j = 2; j <= n; ++j)
        text.append("1 ").append(std::to_string(j)).append(" 1\n");
    return text + rest;
}

double simple_distance(int i, int j) {
    return i * 0.5 + j * 0.25;
}

double mixed_distance(int i, int j) {
    return ((i * 7919 + j * 104729) % 20001 - 10000) / 997.0;
}

std::vector<std::pair<std::string, subset::kernel_table>> scoring_ways() {
    std::vector<std::pair<std::string, subset::kernel_table>> ways;
    for (const subset::kernel_table* k : subset::runnable_kernels()) {
        ways.emplace_back(k->name, *k);
        if (k->sweep == nullptr) continue;
        subset::kernel_table always = *k;
        always.sweep_step_cost = 0; // no group's chains cost less than nothing
        always.sweep_step_cost_large = 0;
        ways.emplace_back(std::string(k->name) + ", sweep always", always);
        subset::kernel_table never = *k;
        never.sweep = nullptr;
        never.sweep_lanes = 0;
        ways.emplace_back(std::string(k->name) + ", chains only", never);
    }
    return ways;
}

std::size_t file_position(int a, int b, int n) {
    return static_cast<std::size_t>((a - 1) * n - a * (a - 1) / 2 + (b - a) - 1);
}

float loaded_distance(const subset::version& v, std::int64_t position) {
    const std::int32_t n = v.points;
    for (std::int32_t a = 1; a < n; position -= n - a, ++a)
        if (position < n - a)
            return v.dist[static_cast<std::size_t>(
                subset::pair_index(a, a + 1 + static_cast<std::int32_t>(position), n))];
    throw std::out_of_range("no such triple");
}

std::vector<float> distances_of(const std::string& text) {
    std::vector<float> dist;
    std::istringstream lines(text);
    for (std::string i, j, d; lines >> i >> j >> d;)
        dist.push_back(std::strtof(d.c_str(), nullptr));
    return dist;
}

parsed parsed_of(std::string_view text, std::size_t buffer) {
    parsed p;
    p.v = subset::parse_distances(text, p.error, buffer);
    return p;
}

parsed parsed_of(const subset::byte_source& source, std::size_t buffer) {
    parsed p;
    p.v = subset::parse_distances(source, p.error, buffer);
    return p;
}

// ------------------------------------------------------------------ random numbers

subset::random_source scripted_source(std::vector<int> numbers,
                                      std::function<void(std::size_t)> on_call) {
    auto calls = std::make_shared<std::size_t>(0);
    return [calls, numbers = std::move(numbers), on_call = std::move(on_call)] {
        const std::size_t call = (*calls)++;
        if (on_call) on_call(call);
        if (call < numbers.size()) return numbers[call];
        ADD_FAILURE() << "the script ran out after " << numbers.size() << " numbers";
        return 0;
    };
}

subset::random_source rand_source(std::function<void(std::size_t)> on_call) {
    auto calls = std::make_shared<std::size_t>(0);
    return [calls, on_call = std::move(on_call)] {
        on_call((*calls)++);
        return std::rand();
    };
}

// ------------------------------------------------------------------ traces

std::string printf_f(double v) {
    char text[400]; // DBL_MAX has 309 digits before the point
    const int n = std::snprintf(text, sizeof text, "%f", v);
    return {text, static_cast<std::size_t>(n)};
}

namespace {

std::vector<int> points_of(std::string_view line) {
    std::vector<int> points;
    std::istringstream s{std::string(line)};
    for (int p = 0; s >> p;) points.push_back(p);
    return points;
}

std::string joined(const std::vector<int>& points) {
    std::string text;
    for (const int p : points) text.append(std::to_string(p)).append(" ");
    return text;
}

// The count of a count line as the trace writes it, or -1.
int count_of(std::string_view line) {
    constexpr std::string_view count = "nr pontos: ";
    int n = -1;
    if (line.starts_with(count))
        std::from_chars(line.data() + count.size(), line.data() + line.size(), n);
    return line == std::string(count) + std::to_string(n) ? n : -1;
}

} // namespace

testing::AssertionResult check_iterations(const std::string& trace, trace_check& c) {
    const std::string_view text(trace);
    // The line from `at`, moving `at` past it; false when it is not whole yet.
    const auto next_line = [&](std::size_t& at, std::string_view& line) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) return false;
        line = text.substr(at, end - at);
        at = end + 1;
        return true;
    };
    std::string_view lines[8];
    if (!c.started) {
        std::size_t at = c.at;
        if (!next_line(at, lines[0])) return testing::AssertionSuccess();
        const int n = lines[0].starts_with(prompt) ? count_of(lines[0].substr(prompt.size())) : -1;
        if (n < 0 || (!c.versions.empty() && c.versions.count(n) == 0))
            return testing::AssertionFailure() << "the trace starts \"" << lines[0] << "\"";
        c.started = true;
        c.at = at;
    }
    for (;;) {
        std::size_t at = c.at;
        std::size_t whole = 0; // lines read whole
        while (whole < 8 && next_line(at, lines[whole])) ++whole;
        if (whole < 8 || count_of(lines[0]) < 0)
            return testing::AssertionSuccess(); // an iteration not yet whole, or the trace's end
        const std::size_t l = c.counts.size();
        const auto fault = [&] {
            return testing::AssertionFailure() << "iteration " << l << ", " << lines[0] << ": ";
        };
        const int n = count_of(lines[0]);
        const auto version = c.versions.find(n);
        if (!c.versions.empty() && version == c.versions.end()) return fault() << "no such version";
        if (!lines[1].empty() || lines[2] != "Pontos escolhidos aleatoriamente:")
            return fault() << "\"" << lines[1] << "\", then \"" << lines[2] << "\"";
        const std::vector<int> drawn = points_of(lines[3]);
        const int k = static_cast<int>(drawn.size());
        std::vector<int> sorted = drawn;
        std::sort(sorted.begin(), sorted.end());
        if (joined(drawn) != lines[3] || k < 2 || k > n || sorted.front() < 1 ||
            sorted.back() > n || std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
            return fault() << "drawn " << lines[3];
        if (c.draw) {
            const std::vector<int> want = c.draw(n);
            if (want != drawn)
                return fault() << "drawn " << lines[3] << ", wanted " << joined(want);
        }
        if (lines[4] != "Nr pontos aleatorios: " + std::to_string(k) ||
            lines[5] != joined(sorted) ||
            lines[6] !=
                std::to_string(k) + " - " + std::to_string(std::int64_t{k} * (k - 1) / 2) + " ")
            return fault() << lines[4] << " / " << lines[5] << " / " << lines[6];
        std::string result = "Distancia media para " + std::to_string(k) + " pontos, iteracao " +
                             std::to_string(l) + ": ";
        if (version != c.versions.end()) {
            float sum = 0;
            for (int i = 0; i < k; ++i)
                for (int j = i + 1; j < k; ++j)
                    sum = version->second.at(file_position(sorted[i], sorted[j], n)) + sum;
            const float score = sum / static_cast<float>(k);
            result += printf_f(score);
            if (score > c.best) {
                c.best = score;
                c.best_size = k;
            }
            if (lines[7] != result) return fault() << lines[7] << ", wanted " << result;
        } else if (!lines[7].starts_with(result)) {
            return fault() << lines[7];
        }
        c.counts.push_back(n);
        c.at = at;
    }
}

// ------------------------------------------------------------------ in-process

program_result run_in_process(const std::string& input, std::int32_t iterations,
                              subset::random_stream rnd, const subset::run_settings& settings) {
    std::istringstream in(input);
    std::ostringstream out, err;
    program_result r;
    r.status = subset::run_search(in, out, err, iterations, std::move(rnd), settings);
    r.out = out.str();
    r.err = err.str();
    return r;
}

testing::AssertionResult same_trace(const std::string& want, const std::string& got) {
    if (want == got) return testing::AssertionSuccess();
    const auto at = std::mismatch(want.begin(), want.end(), got.begin(), got.end()).first;
    const auto from = static_cast<std::size_t>(at - want.begin());
    return testing::AssertionFailure()
           << "sizes " << want.size() << " and " << got.size() << ", first difference at byte "
           << from << ": \"" << want.substr(from, 60) << "\" against \"" << got.substr(from, 60)
           << "\"";
}

subset::run_settings looking_always(int workers) {
    subset::run_settings settings;
    settings.workers = workers;
    settings.watch.look_interval_ns = 0;
    return settings;
}

// ------------------------------------------------------------------ the built program

std::unique_ptr<running_program> start_program(const program_options& options) {
    auto p = std::make_unique<running_program>();
    const std::string in_path = p->dir.file("stdin");
    const std::string err_path = p->dir.file("stderr");
    write_file(in_path, options.input);
    int out_pipe[2];
    if (pipe(out_pipe) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid =
        options.terminal ? forkpty(&p->terminal_fd, nullptr, nullptr, nullptr) : fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in_fd = options.close_input ? -1 : open(in_path.c_str(), O_RDONLY);
        const int out_fd =
            options.out_path.empty() ? out_pipe[1] : open(options.out_path.c_str(), O_WRONLY);
        if (in_fd < 0)
            close(0);
        else
            dup2(in_fd, 0);
        dup2(out_fd, 1);
        if (!options.terminal) dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        close(out_pipe[0]);
        if (options.memory_cap != 0) {
            const rlimit cap{options.memory_cap, options.memory_cap};
            setrlimit(RLIMIT_AS, &cap);
        }
        for (const int number : options.ignored) std::signal(number, SIG_IGN);
        execl(PROGRAM_PATH, PROGRAM_PATH, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out_pipe[1]);
    p->pid = pid;
    p->out_fd = out_pipe[0];
    if (p->terminal_fd >= 0) {
        running_program* r = p.get();
        p->screen_reader = std::thread([r] {
            char buf[4096];
            for (ssize_t n; (n = read(r->terminal_fd, buf, sizeof buf)) > 0;)
                r->screen.append(buf, static_cast<std::size_t>(n));
        });
    }
    return p;
}

bool read_output(running_program& p, std::string& into, std::size_t size) {
    char buf[65536];
    while (size == 0 || into.size() < size) {
        const ssize_t n = ::read(p.out_fd, buf, sizeof buf);
        if (n <= 0) return false;
        into.append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

int decode_status(int wait_status) {
    if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
    return -1;
}

int wait_program(running_program& p, std::string& err) {
    if (p.out_fd >= 0) close(p.out_fd);
    p.out_fd = -1;
    int status = 0;
    waitpid(p.pid, &status, 0);
    if (p.screen_reader.joinable()) {
        p.screen_reader.join(); // the terminal reads as ended once the program is gone
        close(p.terminal_fd);
        err = p.screen;
    } else {
        err = read_file(p.dir.file("stderr"));
    }
    return decode_status(status);
}

program_result run_program(const program_options& options, std::size_t keep, bool drain) {
    std::unique_ptr<running_program> p = start_program(options);
    program_result r;
    if (!drain) {
        read_output(*p, r.out, keep);
    } else {
        std::string piece;
        while (read_output(*p, piece, 1)) {
            if (keep == 0 || r.out.size() < keep) r.out += piece;
            piece.clear();
        }
    }
    if (keep != 0 && r.out.size() > keep) r.out.resize(keep);
    r.status = wait_program(*p, r.err);
    return r;
}
