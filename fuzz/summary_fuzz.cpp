// Fuzz target for the trace reader: any bytes are read by read_trace under several ways of
// taking them (its defaults, a block of 1 to 7 bytes, no reading thread, line by line) and
// by the plain reader kept with the tests; the status, the problem and every figure must
// be the same, or the target aborts naming what differs. The mutator knows the trace's
// lines: it cuts, flips, drops, doubles and swaps them, changes numbers and scores, and
// splices in well-formed iterations.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plain_summary.hpp"

using namespace subset;

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size);

namespace {

// A text cut into its lines (without line ends) and whether the last one had one.
struct text_lines {
    std::vector<std::string> lines;
    bool ended = false;
};

text_lines lines_of(const std::string& text) {
    text_lines t;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        t.lines.push_back(text.substr(start, end - start));
    t.ended = start == text.size();
    if (!t.ended) t.lines.push_back(text.substr(start));
    return t;
}

std::string text_of(const text_lines& t) {
    std::string text;
    for (std::size_t i = 0; i < t.lines.size(); ++i) {
        text += t.lines[i];
        if (i + 1 < t.lines.size() || t.ended) text += '\n';
    }
    return text;
}

// A number from 0 to `below` - 1 (`below` at least 1).
std::size_t pick(std::minstd_rand& rng, std::size_t below) {
    return static_cast<std::size_t>(rng()) % below;
}

// `text` with one of its numbers replaced by a neighbour or a number of another shape.
std::string change_number(std::minstd_rand& rng, const std::string& text) {
    std::vector<std::pair<std::size_t, std::size_t>> runs; // digits from first to end
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] < '0' || text[at] > '9') {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
        runs.emplace_back(at, end);
        at = end;
    }
    if (runs.empty()) return text;
    const auto [at, end] = runs[pick(rng, runs.size())];
    const std::string digits = text.substr(at, end - at);
    const long long v = digits.size() < 18 ? std::stoll(digits) : 0;
    const std::string others[] = {std::to_string(v + 1),
                                  std::to_string(v - 1),
                                  "0" + digits,
                                  "-" + digits,
                                  "0",
                                  "1",
                                  "2",
                                  "65536",
                                  "65537",
                                  "99999",
                                  "100000",
                                  std::to_string(pick(rng, 1000))};
    return text.substr(0, at) + others[pick(rng, std::size(others))] + text.substr(end);
}

// The lines with a well-formed iteration spliced in before an iteration or the final
// line: its count that of the count line before it, its number the iterations before it.
void splice_iteration(std::minstd_rand& rng, text_lines& t) {
    std::vector<std::size_t> places;
    for (std::size_t i = 0; i < t.lines.size(); ++i)
        if (t.lines[i].rfind("nr pontos: ", 0) == 0 || t.lines[i].rfind("Melhor com ", 0) == 0)
            places.push_back(i);
    const std::size_t place = places.empty() ? t.lines.size() : places[pick(rng, places.size())];
    std::int32_t n = 2 + static_cast<std::int32_t>(pick(rng, 11));
    std::int64_t number = 0;
    for (std::size_t i = 0; i < place; ++i) {
        const std::string& line = t.lines[i];
        if (line.rfind("Distancia media para ", 0) == 0) ++number;
        const std::size_t count = line.find("nr pontos: ");
        if (count != std::string::npos) {
            const long v = std::strtol(line.c_str() + count + 11, nullptr, 10);
            if (v >= 2 && v <= 65536) n = static_cast<std::int32_t>(v);
        }
    }
    const auto k = static_cast<std::size_t>(2 + pick(rng, std::min<std::size_t>(n - 1, 30)));
    std::set<std::int32_t> taken;
    std::vector<std::int32_t> drawn;
    while (drawn.size() < k) {
        const auto p = static_cast<std::int32_t>(1 + pick(rng, static_cast<std::size_t>(n)));
        if (taken.insert(p).second) drawn.push_back(p);
    }
    const char* const scores[] = {"1.500000", "-0.250000", "0.000000", "-0.000000", "nan",
                                  "-nan",     "inf",       "-inf",     "123.456789"};
    const std::vector<std::string> lines =
        iteration_lines(n, number, drawn, scores[pick(rng, std::size(scores))]);
    t.lines.insert(t.lines.begin() + static_cast<std::ptrdiff_t>(place), lines.begin(),
                   lines.end());
    if (place == t.lines.size() - lines.size()) t.ended = true;
}

// The lines with the score of one result line replaced by another of the shapes the
// reader must take or refuse.
void change_score(std::minstd_rand& rng, text_lines& t) {
    std::vector<std::size_t> results;
    for (std::size_t i = 0; i < t.lines.size(); ++i)
        if (t.lines[i].rfind("Distancia media para ", 0) == 0) results.push_back(i);
    if (results.empty()) return;
    std::string& line = t.lines[results[pick(rng, results.size())]];
    const std::size_t score = line.rfind(": ");
    if (score == std::string::npos) return;
    const char* const shapes[] = {"0.000000",  "-0.000000", "nan",        "-nan",      "inf",
                                  "-inf",      "12.500000", "-3.250000",  "03.500000", "3.50000",
                                  "3.5000000", "+3.500000", ".500000",    "-.500000",  "3,500000",
                                  "1e5",       "INF",       "nan(1)",     "3.500000 ", "-",
                                  "00.000000", "infinity",  "0x1.000000", ""};
    line.replace(score + 2, std::string::npos, shapes[pick(rng, std::size(shapes))]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const trace_reading plain = plain_reading(text);
    read_options small;
    small.block = 1 + size % 7;
    read_options no_thread;
    no_thread.reading_thread = false;
    read_options line_by_line;
    line_by_line.whole_iterations = false;
    for (const read_options& o : {read_options{}, small, no_thread, line_by_line}) {
        const std::string d = reading_difference(plain, product_reading(text, o));
        if (!d.empty()) {
            std::fprintf(stderr, "read_trace (%s) differs from the plain reader: %s\n",
                         options_text(o).c_str(), d.c_str());
            std::abort();
        }
    }
    return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned int seed) {
    std::minstd_rand rng(seed);
    std::string text(reinterpret_cast<const char*>(data), size);
    text_lines t = lines_of(text);
    const std::size_t lines = t.lines.size();
    switch (pick(rng, 10)) {
    case 0: // cut anywhere
        text.resize(pick(rng, text.size() + 1));
        break;
    case 1: // one bit of one byte
        if (text.empty()) return LLVMFuzzerMutate(data, size, max_size);
        text[pick(rng, text.size())] ^= static_cast<char>(1 << pick(rng, 8));
        break;
    case 2: // a line twice
        if (lines == 0) return LLVMFuzzerMutate(data, size, max_size);
        {
            const std::size_t i = pick(rng, lines);
            t.lines.insert(t.lines.begin() + static_cast<std::ptrdiff_t>(i), t.lines[i]);
        }
        text = text_of(t);
        break;
    case 3: // a line left out
        if (lines == 0) return LLVMFuzzerMutate(data, size, max_size);
        t.lines.erase(t.lines.begin() + static_cast<std::ptrdiff_t>(pick(rng, lines)));
        text = text_of(t);
        break;
    case 4: // two lines swapped, mostly neighbours
        if (lines < 2) return LLVMFuzzerMutate(data, size, max_size);
        {
            const std::size_t i = pick(rng, lines - 1);
            const std::size_t j = pick(rng, 2) == 0 ? i + 1 : pick(rng, lines);
            std::swap(t.lines[i], t.lines[j]);
        }
        text = text_of(t);
        break;
    case 5:
    case 6:
        text = change_number(rng, text);
        break;
    case 7:
        splice_iteration(rng, t);
        text = text_of(t);
        break;
    case 8:
        change_score(rng, t);
        text = text_of(t);
        break;
    default:
        return LLVMFuzzerMutate(data, size, max_size);
    }
    if (text.size() > max_size) text.resize(max_size);
    std::copy(text.begin(), text.end(), data);
    return text.size();
}
