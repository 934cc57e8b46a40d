// Trace reading. A trace is read line by line with the order of its lines as the only
// grammar: any line out of place is reported with its number.
#include "summary/trace_summary.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "data/version.hpp"
#include "lines.hpp"

namespace subset {

namespace {

// ------------------------------------------------------------------ lines

// What the next line must be.
enum class expect {
    prompt,
    count_or_end,
    blank,
    title,
    drawn,
    size,
    sorted,
    pairs,
    result,
    nothing
};

bool starts(std::string_view line, std::string_view prefix) {
    return line.substr(0, prefix.size()) == prefix;
}

// Reads a whole non-negative decimal number that makes up `text`.
bool whole_number(std::string_view text, std::int64_t& v) {
    if (text.empty()) return false;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    return r.ec == std::errc{} && r.ptr == text.data() + text.size() && v >= 0;
}

// A point list: numbers from 1 to n, each followed by one space; counts them into `k`
// and checks that they ascend when `ascending` is set. One pass over the characters: a
// search and a conversion per number took most of the reading time.
bool point_list(std::string_view line, std::int32_t n, bool ascending, std::int32_t& k) {
    k = 0;
    std::int32_t last = 0;
    std::int32_t v = 0;
    int digits = 0;
    for (const char c : line) {
        if (c >= '0' && c <= '9') {
            if ((digits > 0 && v == 0) || ++digits > 5) return false; // a leading zero
            v = v * 10 + (c - '0');
        } else if (c == ' ' && digits > 0) {
            if (v < 1 || v > n || (ascending && v <= last)) return false;
            last = v;
            ++k;
            v = 0;
            digits = 0;
        } else {
            return false;
        }
    }
    return digits == 0 && k >= 2;
}

// A score as printed: "%f" or one of "nan", "-nan", "inf", "-inf".
bool score_text(std::string_view text, double& v) {
    if (text == "nan" || text == "-nan") {
        v = std::nan("");
        return true;
    }
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    return r.ec == std::errc{} && r.ptr == text.data() + text.size();
}

// Takes `prefix`, then a whole number, from the front of `line`; false when they are not
// there.
bool take_number(std::string_view& line, std::string_view prefix, std::int64_t& v) {
    if (!starts(line, prefix)) return false;
    line.remove_prefix(prefix.size());
    auto r = std::from_chars(line.data(), line.data() + line.size(), v);
    if (r.ec != std::errc{} || r.ptr == line.data()) return false;
    line.remove_prefix(static_cast<std::size_t>(r.ptr - line.data()));
    return true;
}

// The reading state; written by take_line only.
struct reader {
    trace_figures& f;
    std::string& problem;
    std::int64_t line_number = 0;
    expect next = expect::prompt;
    std::int32_t size = 0; // K of the iteration being read
    std::string sorted;    // its sorted points
    bool fail(const std::string& what) {
        problem = "linha " + std::to_string(line_number) + ": " + what;
        return false;
    }
};

// A count line "nr pontos: N"; false when `line` is not one.
bool count_line(reader& r, std::string_view line) {
    std::int64_t n = 0;
    if (!starts(line, count_text) || !whole_number(line.substr(count_text.size()), n) || n < 2 ||
        n > max_points)
        return false;
    if (r.f.points == 0) r.f.points = static_cast<std::int32_t>(n);
    if (r.f.by_size.size() < static_cast<std::size_t>(n) + 1)
        r.f.by_size.resize(static_cast<std::size_t>(n) + 1);
    r.next = expect::blank;
    return true;
}

// An error line that ends a run; false when `line` is not one.
bool error_line(reader& r, std::string_view line) {
    if (!starts(line, error_start)) return false;
    r.f.error = std::string(line);
    r.next = expect::nothing;
    return true;
}

// The iteration's result line: its size, number and score.
bool result_line(reader& r, std::string_view line) {
    std::int64_t size = 0;
    std::int64_t number = 0;
    double score = 0;
    if (!take_number(line, result_text, size) || size != r.size ||
        !take_number(line, result_iteration, number) || number != r.f.iterations ||
        !starts(line, result_score) || !score_text(line.substr(result_score.size()), score))
        return r.fail("esperava o resultado da iteracao " + std::to_string(r.f.iterations));
    size_figures& s = r.f.by_size[static_cast<std::size_t>(r.size)];
    ++s.iterations;
    if (!std::isnan(score)) {
        if (s.numbers == 0 || score < s.lowest) s.lowest = score;
        if (s.numbers == 0 || score > s.highest) {
            s.highest = score;
            s.highest_at = r.f.iterations;
        }
        ++s.numbers;
        s.sum += score;
    }
    // As the program keeps it: only a strictly greater score wins.
    if (score > r.f.best) {
        r.f.best = score;
        r.f.best_size = r.size;
        r.f.best_at = r.f.iterations;
        r.f.best_points = r.sorted;
    }
    ++r.f.iterations;
    r.next = expect::count_or_end;
    return true;
}

// Takes one line (without its line end) of the trace.
bool take_line(reader& r, std::string_view line) {
    ++r.line_number;
    switch (r.next) {
    case expect::prompt:
        if (!starts(line, prompt_line)) return r.fail("nao comeca pelo pedido do nome do ficheiro");
        line.remove_prefix(prompt_line.size());
        if (count_line(r, line)) {
            r.next = expect::count_or_end;
            return true;
        }
        return error_line(r, line) || r.fail("esperava o numero de pontos");
    case expect::count_or_end:
        if (count_line(r, line) || error_line(r, line)) return true;
        if (starts(line, best_text)) {
            r.f.finished = true;
            r.next = expect::nothing;
            return true;
        }
        return r.fail("esperava o numero de pontos ou a linha final");
    case expect::blank:
        r.next = expect::title;
        return line.empty() || r.fail("esperava uma linha vazia");
    case expect::title:
        r.next = expect::drawn;
        return line == title_line || r.fail("esperava o titulo dos pontos");
    case expect::drawn:
        r.next = expect::size;
        return point_list(line, static_cast<std::int32_t>(r.f.by_size.size()) - 1, false, r.size) ||
               r.fail("esperava os pontos escolhidos");
    case expect::size: {
        std::int64_t k = 0;
        r.next = expect::sorted;
        return (take_number(line, chosen_text, k) && line.empty() && k == r.size) ||
               r.fail("esperava o numero de pontos escolhidos");
    }
    case expect::sorted: {
        std::int32_t k = 0;
        r.next = expect::pairs;
        r.sorted.assign(line.substr(0, line.empty() ? 0 : line.size() - 1));
        return (point_list(line, static_cast<std::int32_t>(r.f.by_size.size()) - 1, true, k) &&
                k == r.size) ||
               r.fail("esperava os pontos ordenados");
    }
    case expect::pairs: {
        std::int64_t k = 0;
        std::int64_t pairs = 0;
        r.next = expect::result;
        return (take_number(line, "", k) && k == r.size && take_number(line, pairs_text, pairs) &&
                pairs == k * (k - 1) / 2 && line == pairs_end) ||
               r.fail("esperava o numero de pares");
    }
    case expect::result:
        return result_line(r, line);
    case expect::nothing:
        return r.fail("texto depois do fim do trace");
    }
    return false;
}

} // namespace

// ------------------------------------------------------------------ reading

bool read_trace(std::FILE* in, trace_figures& f, std::string& problem) {
    reader r{f, problem, 0, expect::prompt, 0, {}};
    static char block[1 << 20];
    std::string carry; // a line cut by the end of a block
    for (;;) {
        const std::size_t got = std::fread(block, 1, sizeof block, in);
        if (got == 0) break;
        std::string_view rest(block, got);
        for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos;
             rest.remove_prefix(end + 1)) {
            bool ok = false;
            if (carry.empty()) {
                ok = take_line(r, rest.substr(0, end));
            } else {
                carry.append(rest.substr(0, end));
                ok = take_line(r, carry);
                carry.clear();
            }
            if (!ok) return false;
        }
        carry.append(rest);
        if (carry.size() > (1 << 20)) {
            ++r.line_number;
            return r.fail("linha demasiado longa");
        }
    }
    if (std::ferror(in)) {
        problem = "erro de leitura";
        return false;
    }
    // The prompt and an error line end without a line end when the name was not read.
    if (!carry.empty() && !take_line(r, carry)) return false;
    if (r.next == expect::prompt) return r.fail("vazio: nao e um trace");
    return true;
}

// ------------------------------------------------------------------ reports

void print_table(std::FILE* out, const trace_figures& f) {
    std::fprintf(out, "Resumo do trace: %lld iteracoes sobre %d pontos\n\n",
                 static_cast<long long>(f.iterations), f.points);
    std::fprintf(out, "%5s %10s %12s %12s %12s %10s\n", "K", "iteracoes", "media", "minimo",
                 "maximo", "iteracao");
    for (std::size_t k = 0; k < f.by_size.size(); ++k) {
        const size_figures& s = f.by_size[k];
        if (s.iterations == 0) continue;
        if (s.numbers == 0) {
            std::fprintf(out, "%5zu %10lld %12s %12s %12s %10s\n", k,
                         static_cast<long long>(s.iterations), "nan", "nan", "nan", "-");
            continue;
        }
        std::fprintf(out, "%5zu %10lld %12f %12f %12f %10lld\n", k,
                     static_cast<long long>(s.iterations), s.sum / static_cast<double>(s.numbers),
                     s.lowest, s.highest, static_cast<long long>(s.highest_at));
    }
    std::fprintf(out, "\n(iteracao: a primeira que chegou ao maximo de K)\n");
    if (f.best_size > 0)
        std::fprintf(out, "Melhor: %f com %d pontos, na iteracao %lld: %s\n", f.best, f.best_size,
                     static_cast<long long>(f.best_at), f.best_points.c_str());
    else
        std::fprintf(out, "Melhor: nenhum subconjunto acima de 0\n");
    if (!f.error.empty())
        std::fprintf(out, "A execucao terminou com um erro: %s\n", f.error.c_str());
    else if (!f.finished)
        std::fprintf(out, "O trace esta incompleto: acaba antes da linha final\n");
}

void print_csv(std::FILE* out, const trace_figures& f) {
    std::fprintf(out, "k,iteracoes,media,minimo,maximo,iteracao_do_maximo\n");
    for (std::size_t k = 0; k < f.by_size.size(); ++k) {
        const size_figures& s = f.by_size[k];
        if (s.iterations == 0) continue;
        if (s.numbers == 0) {
            std::fprintf(out, "%zu,%lld,nan,nan,nan,\n", k, static_cast<long long>(s.iterations));
            continue;
        }
        std::fprintf(out, "%zu,%lld,%f,%f,%f,%lld\n", k, static_cast<long long>(s.iterations),
                     s.sum / static_cast<double>(s.numbers), s.lowest, s.highest,
                     static_cast<long long>(s.highest_at));
    }
}

} // namespace subset
