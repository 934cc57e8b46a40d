// The plain trace reader: the text cut into lines first, then the lines walked in the
// order a run writes them, every check spelt out on its own. Slow (it holds every line),
// and meant to be read rather than run on large traces.
#include "plain_summary.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace subset {

namespace {

// The trace's texts, spelt out here again rather than taken from the program's writer.
const std::string_view prompt = "Introduza o nome do ficheiro: ";
const std::string_view count_start = "nr pontos: ";
const std::string_view title = "Pontos escolhidos aleatoriamente:";
const std::string_view size_start = "Nr pontos aleatorios: ";
const std::string_view result_start = "Distancia media para ";
const std::string_view result_middle = " pontos, iteracao ";
const std::string_view final_start = "Melhor com ";
const std::string_view error_start = "Erro no ";

const std::size_t most_bytes = std::size_t{1024} * 1024; // in a line, without its line end
const std::int64_t most_points = 65536;

// Whether `text` starts with `start`.
bool begins(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && text.substr(0, start.size()) == start;
}

// The text cut into lines, and how far the walk through them has gone.
struct walk {
    std::vector<std::string_view> lines; // every line that has a line end, without it
    std::string_view tail;               // what follows the last line end
    std::size_t taken = 0;               // lines walked so far; the last one's number
    trace_figures& f;
    std::string& problem;
    // Every whole iteration's size, score and sorted line (its last space included).
    struct printed {
        std::size_t k;
        double score;
        std::string_view sorted;
    };
    std::vector<printed> printed_iterations = {};
};

// Cuts `text` into the walk's lines and tail.
void cut_into_lines(walk& w, std::string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            w.lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    w.tail = text.substr(start);
}

// Returns not_trace, with the problem at the line last taken.
trace_read refuse(walk& w, const std::string& what) {
    w.problem = "linha " + std::to_string(w.taken) + ": " + what;
    return trace_read::not_trace;
}

// How the text ends once every whole line has been walked; `ended` when the last of them
// ended the run.
trace_read text_ends(walk& w, bool ended) {
    if (w.tail.size() > most_bytes) {
        ++w.taken;
        return refuse(w, "linha demasiado longa");
    }
    if (w.tail.empty()) {
        if (ended) return trace_read::whole;
        w.f.cut_at = static_cast<std::int64_t>(w.taken);
        return trace_read::incomplete;
    }
    // A line cut short is never read; but a text that is only that must at least be the
    // start of a trace, or start like one.
    if (w.taken == 0 && !begins(prompt, w.tail) && !begins(w.tail, prompt)) {
        w.taken = 1;
        return refuse(w, "nao comeca pelo pedido do nome do ficheiro");
    }
    w.f.cut_at = static_cast<std::int64_t>(w.taken) + 1;
    return trace_read::incomplete;
}

// Takes the next whole line into `line`; false when the walk stops there (no whole line
// is left, or this one is too long), with how it stopped in `stop`.
bool next(walk& w, std::string_view& line, trace_read& stop) {
    if (w.taken == w.lines.size()) {
        stop = text_ends(w, false);
        return false;
    }
    line = w.lines[w.taken];
    ++w.taken;
    if (line.size() > most_bytes) {
        stop = refuse(w, "linha demasiado longa");
        return false;
    }
    return true;
}

// After the line that ends the run, only the end of the text may come.
trace_read after_end(walk& w) {
    if (w.taken == w.lines.size()) return text_ends(w, true);
    const std::string_view line = w.lines[w.taken];
    ++w.taken;
    return refuse(w, line.size() > most_bytes ? "linha demasiado longa"
                                              : "texto depois do fim do trace");
}

// Takes a decimal number (a minus sign allowed) from the front of `text`; false when
// there is none or it does not fit 64 bits.
bool leading_number(std::string_view& text, std::int64_t& v) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc{} || r.ptr == text.data()) return false;
    text.remove_prefix(static_cast<std::size_t>(r.ptr - text.data()));
    return true;
}

// Whether `text` is exactly "nr pontos: N" for a count a file may have; its N in `n`.
bool count_of(std::string_view text, std::int32_t& n) {
    if (!begins(text, count_start)) return false;
    text.remove_prefix(count_start.size());
    std::int64_t v = 0;
    if (!leading_number(text, v) || !text.empty() || v < 2 || v > most_points) return false;
    n = static_cast<std::int32_t>(v);
    return true;
}

// The points of a list: numbers of 1 to 5 digits, with no leading zero, from 1 to `n`,
// each followed by one space, at least two of them; false for any other line.
bool point_list(std::string_view line, std::int32_t n, std::vector<std::int32_t>& points) {
    points.clear();
    if (line.empty() || line.back() != ' ') return false;
    line.remove_suffix(1);
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        const std::string_view word =
            line.substr(start, space == std::string_view::npos ? space : space - start);
        if (word.empty() || word.size() > 5 || word[0] == '0') return false;
        std::int32_t v = 0;
        for (const char c : word) {
            if (c < '0' || c > '9') return false;
            v = v * 10 + (c - '0');
        }
        if (v > n) return false;
        points.push_back(v);
        if (space == std::string_view::npos) break;
        start = space + 1;
    }
    return points.size() >= 2;
}

// A score as "%f" prints a double: "nan", "-nan", "inf", "-inf", or an optional minus, an
// integer part with no leading zero, a point and six decimals, within a double's range.
bool score_of(std::string_view text, double& v) {
    if (text == "nan" || text == "-nan") {
        v = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (text == "inf" || text == "-inf") {
        v = text == "inf" ? std::numeric_limits<double>::infinity()
                          : -std::numeric_limits<double>::infinity();
        return true;
    }
    std::string_view number = text;
    if (begins(number, "-")) number.remove_prefix(1);
    if (number.size() < 8 || number[number.size() - 7] != '.') return false;
    const std::string_view whole = number.substr(0, number.size() - 7);
    const std::string_view decimals = number.substr(number.size() - 6);
    for (const std::string_view digits : {whole, decimals})
        for (const char c : digits)
            if (c < '0' || c > '9') return false;
    if (whole.size() > 1 && whole[0] == '0') return false;
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    v = std::strtod(copy.c_str(), &end);
    return errno != ERANGE && end == copy.c_str() + copy.size();
}

// Counts the point count `n` of a count line that has just been read.
void note_count(trace_figures& f, std::int32_t n) {
    if (f.points == 0) f.points = n;
    bool seen = false;
    for (const auto& c : f.counts)
        if (c.first == n) seen = true;
    if (!seen) f.counts.emplace_back(n, 0);
    if (f.by_size.size() < static_cast<std::size_t>(n) + 1)
        f.by_size.resize(static_cast<std::size_t>(n) + 1);
}

// Counts the whole iteration `f.iterations`: `k` points of a file of `n`, their sorted line
// `sorted`, and its score.
void record(trace_figures& f, std::int32_t n, std::size_t k, std::string_view sorted,
            double score) {
    size_figures& s = f.by_size[k];
    s.iterations += 1;
    if (!std::isnan(score)) {
        if (s.numbers == 0) {
            s.lowest = score;
            s.highest = score;
            s.highest_at = f.iterations;
        } else {
            // "0.000000" is above "-0.000000", though equal.
            if (score < s.lowest ||
                (score == 0 && s.lowest == 0 && std::signbit(score) && !std::signbit(s.lowest)))
                s.lowest = score;
            if (score > s.highest ||
                (score == 0 && s.highest == 0 && !std::signbit(score) && std::signbit(s.highest))) {
                s.highest = score;
                s.highest_at = f.iterations;
            }
        }
        s.numbers += 1;
        s.sum += score;
    }
    // The program keeps a best only when a score is strictly greater; NaN never is.
    if (score > f.best) {
        f.best = score;
        f.best_size = static_cast<std::int32_t>(k);
        f.best_at = f.iterations;
        f.best_points = std::string(sorted.substr(0, sorted.size() - 1));
    }
    for (auto& c : f.counts)
        if (c.first == n) c.second += 1;
    f.iterations += 1;
}

// The final line "Melhor com K numeros: S pontos" is the run's verdict on its best, when
// it is written so (K with no leading zero, up to the most points a file may have; S as a
// score). The best iteration is then the first that printed K points and the score S,
// S being no number below +0 and no iteration having printed a greater number.
void take_verdict(walk& w, std::string_view line) {
    line.remove_prefix(final_start.size());
    std::size_t digits = 0;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
    if (digits == 0 || digits > 6 || (digits > 1 && line[0] == '0')) return;
    const std::int64_t k = std::stoll(std::string(line.substr(0, digits)));
    if (k > most_points) return;
    line.remove_prefix(digits);
    const std::string_view middle = " numeros: ";
    const std::string_view end = " pontos";
    if (!begins(line, middle) || line.size() < middle.size() + end.size() ||
        line.substr(line.size() - end.size()) != end)
        return;
    double score = 0;
    if (!score_of(line.substr(middle.size(), line.size() - middle.size() - end.size()), score))
        return;
    trace_figures& f = w.f;
    f.best = score;
    f.best_size = static_cast<std::int32_t>(k);
    f.best_at = -1;
    f.best_points.clear();
    if (k == 0 || !(score >= 0) || std::signbit(score)) return;
    for (const walk::printed& p : w.printed_iterations)
        if (p.score > score) return;
    for (std::size_t i = 0; i < w.printed_iterations.size(); ++i) {
        const walk::printed& p = w.printed_iterations[i];
        if (p.k == static_cast<std::size_t>(k) && p.score == score && !std::signbit(p.score)) {
            f.best_at = static_cast<std::int64_t>(i);
            f.best_points = std::string(p.sorted.substr(0, p.sorted.size() - 1));
            return;
        }
    }
}

// Walks the iterations after the prompt's line, up to the line that ends the run.
trace_read iterations(walk& w) {
    trace_figures& f = w.f;
    std::string_view line;
    trace_read stop{};
    std::vector<std::int32_t> drawn;
    std::vector<std::int32_t> sorted;
    for (;;) {
        std::int32_t n = 0;
        if (!next(w, line, stop)) return stop;
        if (begins(line, final_start)) {
            f.finished = true;
            take_verdict(w, line);
            return after_end(w);
        }
        if (begins(line, error_start)) {
            f.error = std::string(line);
            return after_end(w);
        }
        if (!count_of(line, n)) return refuse(w, "esperava o numero de pontos ou a linha final");
        note_count(f, n);

        if (!next(w, line, stop)) return stop;
        if (!line.empty()) return refuse(w, "esperava uma linha vazia");

        if (!next(w, line, stop)) return stop;
        if (line != title) return refuse(w, "esperava o titulo dos pontos");

        if (!next(w, line, stop)) return stop;
        if (!point_list(line, n, drawn)) return refuse(w, "esperava os pontos escolhidos");
        const auto k = static_cast<std::int64_t>(drawn.size());

        if (!next(w, line, stop)) return stop;
        std::int64_t v = 0;
        if (!begins(line, size_start)) return refuse(w, "esperava o numero de pontos escolhidos");
        line.remove_prefix(size_start.size());
        if (!leading_number(line, v) || v != k || !line.empty())
            return refuse(w, "esperava o numero de pontos escolhidos");

        if (!next(w, line, stop)) return stop;
        const std::string_view sorted_line = line;
        if (!point_list(line, n, sorted) || static_cast<std::int64_t>(sorted.size()) != k ||
            std::adjacent_find(sorted.begin(), sorted.end(), [](std::int32_t a, std::int32_t b) {
                return a >= b;
            }) != sorted.end())
            return refuse(w, "esperava os pontos ordenados");

        if (!next(w, line, stop)) return stop;
        std::int64_t q = 0;
        if (!leading_number(line, v) || v != k || !begins(line, " - "))
            return refuse(w, "esperava o numero de pares");
        line.remove_prefix(3);
        if (!leading_number(line, q) || q != k * (k - 1) / 2 || line != " ")
            return refuse(w, "esperava o numero de pares");

        if (!next(w, line, stop)) return stop;
        const std::string expected =
            "esperava o resultado da iteracao " + std::to_string(f.iterations);
        std::int64_t number = 0;
        double score = 0;
        if (!begins(line, result_start)) return refuse(w, expected);
        line.remove_prefix(result_start.size());
        if (!leading_number(line, v) || v != k || !begins(line, result_middle))
            return refuse(w, expected);
        line.remove_prefix(result_middle.size());
        if (!leading_number(line, number) || number != f.iterations || !begins(line, ": "))
            return refuse(w, expected);
        line.remove_prefix(2);
        if (!score_of(line, score)) return refuse(w, expected);
        record(f, n, static_cast<std::size_t>(k), sorted_line, score);
        w.printed_iterations.push_back({static_cast<std::size_t>(k), score, sorted_line});
    }
}

// A double's value and bits, for a message.
std::string double_text(double v) {
    char text[80];
    std::snprintf(text, sizeof text, "%.17g (bits %016llx)", v,
                  static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v)));
    return text;
}

// The message for a field whose two values differ.
std::string differs(const std::string& field, const std::string& a, const std::string& b) {
    return field + ": " + a + " against " + b;
}

// "" when `a` and `b` are equal, else the message; likewise for doubles and texts below.
std::string number_differs(const std::string& field, std::int64_t a, std::int64_t b) {
    return a == b ? "" : differs(field, std::to_string(a), std::to_string(b));
}

// Whether two doubles have the same bits (so NaNs of one payload and sign are equal).
bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

std::string double_differs(const std::string& field, double a, double b) {
    return same_bits(a, b) ? "" : differs(field, double_text(a), double_text(b));
}

std::string text_differs(const std::string& field, const std::string& a, const std::string& b) {
    return a == b ? "" : differs(field, "\"" + a + "\"", "\"" + b + "\"");
}

// The status's name.
std::string status_text(trace_read r) {
    switch (r) {
    case trace_read::whole:
        return "whole";
    case trace_read::not_trace:
        return "not_trace";
    case trace_read::incomplete:
        return "incomplete";
    }
    return "status " + std::to_string(static_cast<int>(r));
}

} // namespace

trace_read plain_read_trace(std::string_view text, trace_figures& f, std::string& problem) {
    if (text.empty()) {
        problem = "entrada vazia: nao ha trace para resumir";
        return trace_read::not_trace;
    }
    walk w{{}, {}, 0, f, problem};
    cut_into_lines(w, text);
    std::string_view line;
    trace_read stop{};
    if (!next(w, line, stop)) return stop;
    if (!begins(line, prompt)) return refuse(w, "nao comeca pelo pedido do nome do ficheiro");
    line.remove_prefix(prompt.size());
    std::int32_t n = 0;
    if (begins(line, error_start)) {
        f.error = std::string(line);
        return after_end(w);
    }
    if (!count_of(line, n)) return refuse(w, "esperava o numero de pontos");
    note_count(f, n);
    return iterations(w);
}

std::string figures_difference(const trace_figures& a, const trace_figures& b) {
    std::string d = number_differs("points", a.points, b.points);
    if (d.empty()) d = number_differs("iterations", a.iterations, b.iterations);
    if (d.empty()) d = number_differs("counts.size()", std::ssize(a.counts), std::ssize(b.counts));
    for (std::size_t i = 0; d.empty() && i < a.counts.size(); ++i) {
        const std::string at = "counts[" + std::to_string(i) + "]";
        d = number_differs(at + ".first", a.counts[i].first, b.counts[i].first);
        if (d.empty()) d = number_differs(at + ".second", a.counts[i].second, b.counts[i].second);
    }
    if (d.empty())
        d = number_differs("by_size.size()", std::ssize(a.by_size), std::ssize(b.by_size));
    for (std::size_t k = 0; d.empty() && k < a.by_size.size(); ++k) {
        // Every figure by name: a figure added to size_figures stops this from compiling
        // until it is compared here (and counted by `record` above).
        const auto& [x_iterations, x_numbers, x_sum, x_lowest, x_highest, x_highest_at] =
            a.by_size[k];
        const auto& [y_iterations, y_numbers, y_sum, y_lowest, y_highest, y_highest_at] =
            b.by_size[k];
        // Names are made only for a size that differs: traces of 65,536 points have as
        // many sizes.
        if (x_iterations == y_iterations && x_numbers == y_numbers && same_bits(x_sum, y_sum) &&
            same_bits(x_lowest, y_lowest) && same_bits(x_highest, y_highest) &&
            x_highest_at == y_highest_at)
            continue;
        const std::string at = "by_size[" + std::to_string(k) + "]";
        d = number_differs(at + ".iterations", x_iterations, y_iterations);
        if (d.empty()) d = number_differs(at + ".numbers", x_numbers, y_numbers);
        if (d.empty()) d = double_differs(at + ".sum", x_sum, y_sum);
        if (d.empty()) d = double_differs(at + ".lowest", x_lowest, y_lowest);
        if (d.empty()) d = double_differs(at + ".highest", x_highest, y_highest);
        if (d.empty()) d = number_differs(at + ".highest_at", x_highest_at, y_highest_at);
    }
    if (d.empty()) d = double_differs("best", a.best, b.best);
    if (d.empty()) d = number_differs("best_size", a.best_size, b.best_size);
    if (d.empty()) d = number_differs("best_at", a.best_at, b.best_at);
    if (d.empty()) d = text_differs("best_points", a.best_points, b.best_points);
    if (d.empty()) d = text_differs("error", a.error, b.error);
    if (d.empty()) d = number_differs("finished", a.finished ? 1 : 0, b.finished ? 1 : 0);
    if (d.empty()) d = number_differs("cut_at", a.cut_at, b.cut_at);
    return d;
}

trace_reading plain_reading(std::string_view text) {
    trace_reading r;
    r.read = plain_read_trace(text, r.f, r.problem);
    return r;
}

trace_reading product_reading(std::string_view text, const read_options& options) {
    trace_reading r;
    // fmemopen takes no empty buffer; an empty file reads the same.
    std::FILE* in = text.empty() ? std::fopen("/dev/null", "r")
                                 : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (in == nullptr) {
        r.read = trace_read::not_trace;
        r.problem = "(the text could not be opened as a stream)";
        return r;
    }
    r.read = read_trace(in, r.f, r.problem, options);
    std::fclose(in);
    return r;
}

std::string reading_difference(const trace_reading& plain, const trace_reading& product) {
    if (plain.read != product.read)
        return differs("status (plain, read_trace)", status_text(plain.read),
                       status_text(product.read));
    if (plain.problem != product.problem)
        return text_differs("problem (plain, read_trace)", plain.problem, product.problem);
    const std::string d = figures_difference(plain.f, product.f);
    return d.empty() ? "" : "figures (plain, read_trace): " + d;
}

std::string disagreement(std::string_view text, const read_options& options) {
    return reading_difference(plain_reading(text), product_reading(text, options));
}

std::string options_text(const read_options& options) {
    return "block " + std::to_string(options.block) + ", reading thread " +
           (options.reading_thread ? "on" : "off") + ", whole iterations " +
           (options.whole_iterations ? "on" : "off");
}

std::vector<std::string> iteration_lines(std::int32_t n, std::int64_t number,
                                         const std::vector<std::int32_t>& drawn,
                                         const std::string& score) {
    std::vector<std::int32_t> sorted = drawn;
    std::sort(sorted.begin(), sorted.end());
    std::string drawn_line;
    for (const std::int32_t p : drawn) drawn_line += std::to_string(p) + " ";
    std::string sorted_line;
    for (const std::int32_t p : sorted) sorted_line += std::to_string(p) + " ";
    const auto k = static_cast<std::int64_t>(drawn.size());
    const std::string size = std::to_string(k);
    return {"nr pontos: " + std::to_string(n),
            "",
            "Pontos escolhidos aleatoriamente:",
            drawn_line,
            "Nr pontos aleatorios: " + size,
            sorted_line,
            size + " - " + std::to_string(k * (k - 1) / 2) + " ",
            "Distancia media para " + size + " pontos, iteracao " + std::to_string(number) + ": " +
                score};
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

} // namespace subset
