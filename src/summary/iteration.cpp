// Whole iterations: one comparison for the count, empty and title lines, the point lists
// scanned by vectors, the size, pair and result lines compared with texts made once per
// size, and the score's digits read straight into an integer.
#include "summary/iteration.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "summary/points.hpp"

namespace subset {

namespace {

// Whether the `length` bytes at `at`, all before `end`, are `text`.
bool is(const char* at, const char* end, const char* text, std::size_t length) {
    return static_cast<std::size_t>(end - at) >= length && std::memcmp(at, text, length) == 0;
}

// Reads a score "%f" prints with at most nine digits before the point, up to its line
// end before `end`; returns the line end, or nullptr for any other text. Its value is
// the scaled integer over 10^6: both are exact doubles (below 2^53), so their quotient,
// rounded once, is the double nearest the decimal, as a conversion of the text gives.
const char* score_at(const char* at, const char* end, double& score) {
    const bool negative = *at == '-';
    const char* digits = at + (negative ? 1 : 0);
    const char* p = digits;
    std::uint64_t whole = 0;
    while (p < end && static_cast<unsigned char>(*p - '0') < 10 && p - digits < 10)
        whole = whole * 10 + static_cast<std::uint64_t>(*p++ - '0');
    const auto length = p - digits;
    if (length == 0 || length > 9 || (*digits == '0' && length > 1) || end - p < 8 || *p != '.' ||
        p[7] != '\n')
        return nullptr;
    std::uint64_t micro = whole;
    unsigned bad = 0;
    for (int i = 1; i <= 6; ++i) {
        const auto d = static_cast<unsigned char>(p[i] - '0');
        bad |= d > 9 ? 1U : 0U;
        micro = micro * 10 + d;
    }
    if (bad != 0) return nullptr;
    const double v = static_cast<double>(micro) / 1e6;
    score = negative ? -v : v;
    return p + 7;
}

} // namespace

bool read_iteration(reader& r, const char* at, const char* end, whole_iteration& it) {
    const char* p = at;
    if (!is(p, end, r.head, r.head_length)) return false;
    p += r.head_length;
    // Each point list must start before `end`: then its line ends there at the latest.
    if (p == end) return false;
    std::int32_t k = 0;
    const char* line_end = scan_points(p, r.n, false, k);
    // More points than N cannot be sorted into a list of N: the grammar says where.
    if (line_end == nullptr || k > r.n) return false;
    size_lines spare;
    const size_lines& lines = lines_of(r, k, spare);
    p = line_end + 1;
    if (!is(p, end, lines.size, lines.size_length)) return false;
    p += lines.size_length;
    if (p == end) return false;
    const char* sorted = p;
    std::int32_t sorted_count = 0;
    line_end = scan_points(p, r.n, true, sorted_count);
    if (line_end == nullptr || sorted_count != k) return false;
    it.sorted = std::string_view(sorted, static_cast<std::size_t>(line_end - 1 - sorted));
    p = line_end + 1;
    if (!is(p, end, lines.pairs, lines.pairs_length)) return false;
    p += lines.pairs_length;
    if (!is(p, end, lines.result, lines.result_length)) return false;
    p += lines.result_length;
    const auto digits = static_cast<std::size_t>(r.number.length);
    if (!is(p, end, r.number.digits, digits)) return false;
    p += digits;
    static_assert(result_score == ": ");
    if (end - p < 2 || p[0] != ':' || p[1] != ' ') return false;
    p += 2;
    line_end = score_at(p, end, it.score);
    if (line_end == nullptr) return false;
    it.size = k;
    it.length = static_cast<std::size_t>(line_end + 1 - at);
    return true;
}

std::size_t take_iteration(reader& r, const char* at, const char* end) {
    whole_iteration it;
    if (!read_iteration(r, at, end, it)) return 0;
    r.size = it.size;
    count_result(r, it.score, it.sorted);
    r.line_number += 8;
    return it.length;
}

} // namespace subset
