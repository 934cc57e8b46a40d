// The trace's grammar, line by line: each line is checked against what must come after
// the line before, and any line out of place is reported with its number.
#include "summary/grammar.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "data/version.hpp"

namespace subset {

namespace {

// ------------------------------------------------------------------ numbers

// Reads a whole non-negative decimal number that makes up `text`.
bool whole_number(std::string_view text, std::int64_t& v) {
    if (text.empty()) return false;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    return r.ec == std::errc{} && r.ptr == text.data() + text.size() && v >= 0;
}

// A point list: numbers from 1 to n, each followed by one space; counts them into `k`
// and checks that they ascend when `ascending` is set.
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
    if (!line.starts_with(prefix)) return false;
    line.remove_prefix(prefix.size());
    auto r = std::from_chars(line.data(), line.data() + line.size(), v);
    if (r.ec != std::errc{} || r.ptr == line.data()) return false;
    line.remove_prefix(static_cast<std::size_t>(r.ptr - line.data()));
    return true;
}

// ------------------------------------------------------------------ lines

// A count line "nr pontos: N"; false when `line` is not one.
bool count_line(reader& r, std::string_view line) {
    std::int64_t n = 0;
    if (!line.starts_with(count_text) || !whole_number(line.substr(count_text.size()), n) ||
        n < 2 || n > max_points)
        return false;
    if (r.n != n) set_count(r, static_cast<std::int32_t>(n));
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

// Keeps iteration `r.f.iterations`, of r.size points, among those that could be the best:
// the first of its size to print the highest score not below +0 so far.
void note_top(reader& r, double score, std::string_view sorted) {
    top_iterations& t = r.top;
    if (t.any && !(score >= t.score)) return;         // below the top, or no number: most often
    if (!(score >= 0) || std::signbit(score)) return; // below +0 ("-0.000000" is)
    if (!t.any || score > t.score) {
        for (const top_iteration& i : t.first) t.has_size[static_cast<std::size_t>(i.size)] = false;
        t.first.clear();
        t.bytes = 0;
        t.any = true;
        t.score = score;
    }
    if (t.has_size.size() < r.f.by_size.size()) t.has_size.resize(r.f.by_size.size());
    if (t.has_size[static_cast<std::size_t>(r.size)]) return;
    t.has_size[static_cast<std::size_t>(r.size)] = true;
    top_iteration& i = t.first.emplace_back();
    i.size = r.size;
    i.at = r.f.iterations;
    if (t.bytes + sorted.size() <= top_points_bytes) {
        i.points.assign(sorted);
        i.kept = true;
        t.bytes += sorted.size();
    }
}

// Reads the final line's size and score: "Melhor com K numeros: S pontos", K with no
// leading zero; false when the line is written any other way.
bool final_verdict(std::string_view line, std::int32_t& k, double& score) {
    line.remove_prefix(best_text.size());
    const std::size_t digits = std::min(line.find_first_not_of("0123456789"), line.size());
    std::int64_t v = 0;
    if (digits == 0 || (digits > 1 && line[0] == '0') || !whole_number(line.substr(0, digits), v) ||
        v > max_points)
        return false;
    line.remove_prefix(digits);
    if (!line.starts_with(best_score) || line.size() < best_score.size() + best_end.size() ||
        !line.ends_with(best_end))
        return false;
    k = static_cast<std::int32_t>(v);
    return score_text(
        line.substr(best_score.size(), line.size() - best_score.size() - best_end.size()), score);
}

// The final line: the run's own verdict on its best, when it reads as the program writes
// it. The best iteration is then the first that printed that size and score and could
// have been the best; none when no iteration bears the line out.
void final_line(reader& r, std::string_view line) {
    r.f.finished = true;
    r.next = expect::nothing;
    std::int32_t k = 0;
    double score = 0;
    if (!final_verdict(line, k, score)) return; // the best as the printed scores tell
    trace_figures& f = r.f;
    f.best = score;
    f.best_size = k;
    f.best_at = -1;
    f.best_points.clear();
    const top_iterations& t = r.top;
    if (k == 0 || !t.any || !(score == t.score) || std::signbit(score)) return;
    for (const top_iteration& i : t.first) {
        if (i.size != k) continue;
        f.best_at = i.at;
        if (i.kept) f.best_points = i.points;
        break;
    }
}

// An error line that ends a run; false when `line` is not one.
bool error_line(reader& r, std::string_view line) {
    if (!line.starts_with(error_start)) return false;
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
        !line.starts_with(result_score) || !score_text(line.substr(result_score.size()), score))
        return r.fail("esperava o resultado da iteracao " + std::to_string(r.f.iterations));
    count_result(r, score, r.sorted);
    return true;
}

} // namespace

// ------------------------------------------------------------------ the reader

void set_count(reader& r, std::int32_t n) {
    r.n = n;
    // What whole iterations of N start with, as the program writes it.
    const int length =
        std::snprintf(r.head, sizeof r.head, "%.*s%d\n\n%.*s\n", int(count_text.size()),
                      count_text.data(), r.n, int(title_line.size()), title_line.data());
    r.head_length = static_cast<std::uint8_t>(length);
}

bool reader::fail(const std::string& what) {
    problem = "linha " + std::to_string(line_number) + ": " + what;
    return false;
}

void count_result(reader& r, double score, std::string_view sorted) {
    size_figures& s = r.f.by_size[static_cast<std::size_t>(r.size)];
    ++s.iterations;
    if (!std::isnan(score)) {
        // A score printed "0.000000" is at least 0, one printed "-0.000000" at most 0: for
        // the lowest and the highest, the latter is below the former, though equal.
        if (s.numbers == 0 || score < s.lowest ||
            (score == s.lowest && std::signbit(score) && !std::signbit(s.lowest)))
            s.lowest = score;
        if (s.numbers == 0 || score > s.highest ||
            (score == s.highest && !std::signbit(score) && std::signbit(s.highest))) {
            s.highest = score;
            s.highest_at = r.f.iterations;
        }
        ++s.numbers;
        s.sum += score;
    }
    note_top(r, score, sorted);
    // As the program keeps it: only a strictly greater score wins.
    if (score > r.f.best) {
        r.f.best = score;
        r.f.best_size = r.size;
        r.f.best_at = r.f.iterations;
        r.f.best_points.assign(sorted);
    }
    ++r.f.iterations;
    count_up(r.number);
    ++r.f.counts[static_cast<std::size_t>(r.count_index)].second;
    r.next = expect::count_or_end;
}

const size_lines& lines_of(reader& r, std::int32_t k, size_lines& spare) {
    size_lines& l = k < kept_sizes ? r.lines[static_cast<std::size_t>(k)] : spare;
    if (l.size_length == 0 || k >= kept_sizes) {
        const auto pairs = static_cast<std::int64_t>(k) * (k - 1) / 2;
        auto text = [](char* at, std::size_t room, std::string_view a, std::int64_t v,
                       std::string_view b) {
            return static_cast<std::uint8_t>(std::snprintf(at, room, "%.*s%lld%.*s", int(a.size()),
                                                           a.data(), static_cast<long long>(v),
                                                           int(b.size()), b.data()));
        };
        l.size_length = text(l.size, sizeof l.size, chosen_text, k, "\n");
        l.pairs_length = text(l.pairs, sizeof l.pairs, "", k, "");
        l.pairs_length += text(l.pairs + l.pairs_length, sizeof l.pairs - l.pairs_length,
                               pairs_text, pairs, " \n");
        l.result_length = text(l.result, sizeof l.result, result_text, k, result_iteration);
    }
    return l;
}

bool take_line(reader& r, std::string_view line) {
    ++r.line_number;
    switch (r.next) {
    case expect::prompt:
        if (!line.starts_with(prompt_line))
            return r.fail("nao comeca pelo pedido do nome do ficheiro");
        line.remove_prefix(prompt_line.size());
        if (count_line(r, line)) {
            r.next = expect::count_or_end;
            return true;
        }
        return error_line(r, line) || r.fail("esperava o numero de pontos");
    case expect::count_or_end:
        if (count_line(r, line) || error_line(r, line)) return true;
        if (line.starts_with(best_text)) {
            final_line(r, line);
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

} // namespace subset
