// Trace reading. A trace is read line by line with the order of its lines as the only
// grammar: any line out of place is reported with its number.
#include "summary/trace_summary.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

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

// A score as the program prints it: "%f" (an integer part with no leading zero, a point
// and six decimals) or one of "nan", "-nan", "inf", "-inf"; nothing else.
bool score_text(std::string_view text, double& v) {
    if (text == "nan" || text == "-nan") {
        v = std::nan("");
        return true;
    }
    if (text == "inf" || text == "-inf") {
        v = text[0] == '-' ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    const std::size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos || point == sign || text.size() != point + 7 ||
        (text[sign] == '0' && point != sign + 1))
        return false;
    for (std::size_t i = sign; i < text.size(); ++i)
        if (i != point && (text[i] < '0' || text[i] > '9')) return false;
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
    std::int32_t size = 0;        // K of the iteration being read
    std::int32_t n = 0;           // N its count line printed
    std::int64_t count_index = 0; // that N's entry in f.counts
    std::string sorted;           // its sorted points
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
    r.n = static_cast<std::int32_t>(n);
    if (r.f.points == 0) r.f.points = r.n;
    if (r.f.counts.empty() || r.f.counts[static_cast<std::size_t>(r.count_index)].first != r.n) {
        // A count seen before takes its iterations back; a new one gets an entry.
        const auto seen = std::find_if(r.f.counts.begin(), r.f.counts.end(),
                                       [&](const auto& c) { return c.first == r.n; });
        r.count_index = seen - r.f.counts.begin();
        if (seen == r.f.counts.end()) r.f.counts.emplace_back(r.n, 0);
    }
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
    ++r.f.counts[static_cast<std::size_t>(r.count_index)].second;
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
        return point_list(line, r.n, false, r.size) || r.fail("esperava os pontos escolhidos");
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
        return (point_list(line, r.n, true, k) && k == r.size) ||
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

trace_read read_trace(std::FILE* in, trace_figures& f, std::string& problem,
                      const read_options& options) {
    reader r{f, problem, 0, expect::prompt, 0, 0, 0, {}};
    std::vector<char> block(std::max<std::size_t>(options.block, 1));
    std::string carry; // a line cut by the end of a block
    for (;;) {
        const std::size_t got = std::fread(block.data(), 1, block.size(), in);
        if (got == 0) break;
        std::string_view rest(block.data(), got);
        for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos;
             rest.remove_prefix(end + 1)) {
            bool ok = false;
            if (carry.size() + end > longest_line) {
                ++r.line_number;
                r.fail("linha demasiado longa");
                return trace_read::not_trace;
            }
            if (carry.empty()) {
                ok = take_line(r, rest.substr(0, end));
            } else {
                carry.append(rest.substr(0, end));
                ok = take_line(r, carry);
                carry.clear();
            }
            if (!ok) return trace_read::not_trace;
        }
        carry.append(rest);
        if (carry.size() > longest_line) {
            ++r.line_number;
            r.fail("linha demasiado longa");
            return trace_read::not_trace;
        }
    }
    if (std::ferror(in)) {
        problem = "erro de leitura";
        return trace_read::not_trace;
    }
    if (r.line_number == 0 && carry.empty()) {
        problem = "entrada vazia: nao ha trace para resumir";
        return trace_read::not_trace;
    }
    // A whole trace ends with its final line or a line that ends the run, and a line end.
    // Anything else stops early: a line cut short is left out, and so is the iteration it
    // belongs to.
    if (!carry.empty() || (r.next != expect::nothing)) {
        if (r.line_number == 0 && !starts(prompt_line, carry) && !starts(carry, prompt_line)) {
            r.line_number = 1;
            r.fail("nao comeca pelo pedido do nome do ficheiro");
            return trace_read::not_trace;
        }
        f.cut_at = r.line_number + (carry.empty() ? 0 : 1);
        return trace_read::incomplete;
    }
    return trace_read::whole;
}

// ------------------------------------------------------------------ reports

namespace {

// A figure as "%f" prints it, but a NaN is "nan" whatever its sign (a mean over both
// infinities is one).
std::string figure(double v) {
    if (std::isnan(v)) return "nan";
    char text[400];
    std::snprintf(text, sizeof text, "%f", v);
    return text;
}

// The header's account of the point counts: "N pontos", or, when the file changed during
// the run, the iterations at each count.
std::string counts_text(const trace_figures& f) {
    if (f.counts.size() <= 1) return " sobre " + std::to_string(f.points) + " pontos";
    std::string text = ":";
    for (std::size_t i = 0; i < f.counts.size(); ++i)
        text += (i == 0 ? " " : ", ") + std::to_string(f.counts[i].second) + " sobre " +
                std::to_string(f.counts[i].first) + " pontos";
    return text;
}

} // namespace

void print_table(std::FILE* out, const trace_figures& f) {
    if (f.iterations == 0 && !f.error.empty() && !f.finished) {
        std::fprintf(out, "A execucao foi recusada: %s\n", f.error.c_str());
        return;
    }
    std::fprintf(out, "Resumo do trace: %lld iteracoes%s\n\n", static_cast<long long>(f.iterations),
                 counts_text(f).c_str());
    std::fprintf(out, "%5s %10s %10s %12s %12s %12s %10s\n", "K", "iteracoes", "nan", "media",
                 "minimo", "maximo", "iteracao");
    for (std::size_t k = 0; k < f.by_size.size(); ++k) {
        const size_figures& s = f.by_size[k];
        if (s.iterations == 0) continue;
        const bool any = s.numbers > 0;
        std::fprintf(
            out, "%5zu %10lld %10lld %12s %12s %12s %10s\n", k,
            static_cast<long long>(s.iterations), static_cast<long long>(s.iterations - s.numbers),
            any ? figure(s.sum / static_cast<double>(s.numbers)).c_str() : "nan",
            any ? figure(s.lowest).c_str() : "nan", any ? figure(s.highest).c_str() : "nan",
            any ? std::to_string(s.highest_at).c_str() : "-");
    }
    std::fprintf(out, "\n(iteracao: a primeira que chegou ao maximo de K; media, minimo e maximo "
                      "sobre as pontuacoes que sao numeros)\n");
    if (f.best_size > 0)
        std::fprintf(out, "Melhor: %s com %d pontos, na iteracao %lld: %s\n",
                     figure(f.best).c_str(), f.best_size, static_cast<long long>(f.best_at),
                     f.best_points.c_str());
    else
        std::fprintf(out, "Melhor: nenhum subconjunto acima de 0\n");
    if (!f.error.empty())
        std::fprintf(out, "A execucao terminou com um erro: %s\n", f.error.c_str());
    else if (f.cut_at > 0)
        std::fprintf(out,
                     "O trace esta incompleto: acaba na linha %lld, antes da linha final; "
                     "resumido ate a ultima iteracao inteira\n",
                     static_cast<long long>(f.cut_at));
}

void print_csv(std::FILE* out, const trace_figures& f) {
    std::fprintf(out, "k,iteracoes,nan,media,minimo,maximo,iteracao_do_maximo\n");
    for (std::size_t k = 0; k < f.by_size.size(); ++k) {
        const size_figures& s = f.by_size[k];
        if (s.iterations == 0) continue;
        const long long nans = s.iterations - s.numbers;
        if (s.numbers == 0) {
            std::fprintf(out, "%zu,%lld,%lld,nan,nan,nan,\n", k,
                         static_cast<long long>(s.iterations), nans);
            continue;
        }
        std::fprintf(out, "%zu,%lld,%lld,%s,%s,%s,%lld\n", k, static_cast<long long>(s.iterations),
                     nans, figure(s.sum / static_cast<double>(s.numbers)).c_str(),
                     figure(s.lowest).c_str(), figure(s.highest).c_str(),
                     static_cast<long long>(s.highest_at));
    }
}

} // namespace subset
