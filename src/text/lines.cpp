// The text of the trace. Point numbers come from a table made once at start-up, and the
// score takes an exact integer path where it can: both are most of the trace's bytes.
#include "text/lines.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace subset {

namespace {

// ------------------------------------------------------------------ numbers

char* put_text(char* at, std::string_view s) {
    std::memcpy(at, s.data(), s.size());
    return at + s.size();
}

char* put_int(char* at, std::int64_t v) {
    return std::to_chars(at, at + 24, v).ptr;
}

// "%d " for every point number, made once, by whoever first needs them (a table of 65,537
// is past what compilers agree to work out at compile time): the text and its length, in
// eight bytes so that one fixed-size copy moves any of them.
struct point_label {
    char text[7];
    std::uint8_t length;
};
static_assert(sizeof(point_label) == 8);
static_assert(max_points < 1'000'000, "a label holds six digits and a space");

// Fills `labels` in place (a copy would take half a megabyte of stack).
void fill_point_labels(std::array<point_label, max_points + 1>& labels) {
    for (int v = 1; v <= max_points; ++v) {
        char digits[8] = {};
        int n = 0;
        for (int rest = v; rest > 0; rest /= 10) digits[n++] = static_cast<char>('0' + rest % 10);
        point_label& label = labels[static_cast<std::size_t>(v)];
        for (int k = 0; k < n; ++k) label.text[k] = digits[n - 1 - k];
        label.text[n] = ' ';
        label.length = static_cast<std::uint8_t>(n + 1);
    }
}

// The labels, filled on the first call, from any thread: the filling is a function's
// static's initialisation, which the language runs once and makes every thread wait for.
const point_label* point_labels() {
    static std::array<point_label, max_points + 1> labels; // zero until filled
    static const bool filled = (fill_point_labels(labels), true);
    static_cast<void>(filled);
    return labels.data();
}

// `points` (each from 1 to max_points), one space after each, then a line end. Needs
// 8 bytes a point and one more.
char* put_points(char* at, const std::int32_t* points, std::int32_t count) {
    const point_label* labels = point_labels();
    for (std::int32_t i = 0; i < count; ++i) {
        const point_label& label = labels[points[i]];
        std::memcpy(at, &label, sizeof label);
        at += label.length;
    }
    *at++ = '\n';
    return at;
}

// `v` (from 1 to max_points) in decimal, from the labels' table; writes up to 7 bytes
// past its end.
char* put_small(char* at, std::int32_t v) {
    const point_label& label = point_labels()[v];
    std::memcpy(at, &label, sizeof label);
    return at + label.length - 1;
}

// "00" to "99".
constexpr auto two_digits = [] {
    std::array<std::array<char, 2>, 100> table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = {static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10)};
    return table;
}();

// `v` with six decimals, exactly as printf's "%f" prints it.
char* put_fixed6(char* at, double v) {
    // printf spells a NaN "nan" or "-nan" by its sign bit; keep that spelling exactly.
    if (std::isnan(v)) return put_text(at, std::signbit(v) ? "-nan" : "nan");
    // The largest finite double needs 309 digits before the point: within line_room.
    return std::to_chars(at, at + 330, v, std::chars_format::fixed, 6).ptr;
}

// A float's value times 10^6, rounded to an integer as printf rounds (to nearest, ties
// to even), when that is exact in 64 bits; false for values too large for it.
bool micro_units(float f, std::uint64_t& units) {
    const auto bits = std::bit_cast<std::uint32_t>(f);
    const std::uint32_t exponent = (bits >> 23) & 0xff;
    std::uint64_t mantissa = bits & 0x7fffff;
    int e = -149; // f = mantissa * 2^e
    if (exponent != 0) {
        mantissa |= 0x800000;
        e = static_cast<int>(exponent) - 150;
    }
    // f * 10^6 = mantissa * 5^6 * 2^(e + 6), and mantissa * 5^6 < 2^38.
    const std::uint64_t q = mantissa * 15625;
    const int shift = e + 6;
    if (shift >= 0) {
        if (shift > 25) return false;
        units = q << shift;
        return true;
    }
    if (shift <= -40) { // below half a unit
        units = 0;
        return true;
    }
    const int s = -shift;
    units = q >> s;
    const std::uint64_t rest = q & ((std::uint64_t{1} << s) - 1);
    const std::uint64_t half = std::uint64_t{1} << (s - 1);
    if (rest > half || (rest == half && (units & 1) != 0)) ++units;
    return true;
}

} // namespace

char* put_score(char* at, float score) {
    std::uint64_t units = 0;
    if (!std::isfinite(score) || !micro_units(score, units)) return put_fixed6(at, score);
    if (std::signbit(score)) *at++ = '-';
    at = put_int(at, static_cast<std::int64_t>(units / 1'000'000));
    *at++ = '.';
    // The six decimals two at a time: three divisions that do not wait on each other.
    const auto fraction = static_cast<std::uint32_t>(units % 1'000'000);
    std::memcpy(at, two_digits[fraction / 10'000].data(), 2);
    std::memcpy(at + 2, two_digits[fraction / 100 % 100].data(), 2);
    std::memcpy(at + 4, two_digits[fraction % 100].data(), 2);
    return at + 6;
}

// ------------------------------------------------------------------ lines

char* put_count(char* at, std::int32_t n) {
    at = put_text(at, count_text);
    at = put_int(at, n);
    return put_text(at, "\n");
}

char* put_file_error(char* at, const file_error& why) {
    switch (why.what) {
    case file_problem::none:
        return at;
    case file_problem::access:
        return put_text(at, "Erro no acesso ao ficheiro dos dados\n");
    case file_problem::too_few:
        return put_text(at, "Erro no ficheiro dos dados: sao precisos pelo menos 2 pontos\n");
    case file_problem::too_many:
        at = put_text(at, "Erro no ficheiro dos dados: ");
        at = put_int(at, why.detail);
        at = put_text(at, " pontos excedem o maximo de ");
        at = put_int(at, max_points);
        return put_text(at, "\n");
    case file_problem::triple:
        at = put_text(at, "Erro no ficheiro dos dados: triplo ");
        at = put_int(at, why.detail);
        return put_text(at, " em falta ou mal formado\n");
    case file_problem::memory:
        if (why.detail == 0)
            return put_text(at, "Erro no ficheiro dos dados: sem memoria para o ler\n");
        at = put_text(at, "Erro no ficheiro dos dados: sem memoria para ");
        at = put_int(at, why.detail);
        return put_text(at, " pontos\n");
    }
    return at;
}

decimal decimal_of(std::int64_t v) {
    decimal d{};
    d.length =
        static_cast<int>(std::to_chars(d.digits, d.digits + sizeof d.digits, v).ptr - d.digits);
    return d;
}

void count_up(decimal& d) {
    int i = d.length - 1;
    for (; i >= 0 && d.digits[i] == '9'; --i) d.digits[i] = '0';
    if (i >= 0) {
        ++d.digits[i];
        return;
    }
    std::memmove(d.digits + 1, d.digits, static_cast<std::size_t>(d.length)); // 99 to 100
    d.digits[0] = '1';
    ++d.length;
}

namespace {

// "%d" of k(k-1)/2, the pair count of a subset of k points: from the labels' table up to
// max_points pairs (a subset of up to 362 points), else from to_chars, whose cost is
// nothing beside such an iteration's text. Writes up to 7 bytes past its end.
char* put_pair_count(char* at, std::int32_t k) {
    const std::int64_t pairs = std::int64_t{k} * (k - 1) / 2;
    if (pairs >= 1 && pairs <= max_points) return put_small(at, static_cast<std::int32_t>(pairs));
    return std::to_chars(at, at + 20, pairs).ptr;
}

} // namespace

char* put_iteration(char* at, std::int32_t n, const decimal& number, const std::int32_t* drawn,
                    const std::int32_t* sorted, std::int32_t k, float score) {
    // Counts and sizes are point numbers at most: their text comes from the labels' table.
    at = put_text(at, count_text);
    at = put_small(at, n);
    at = put_text(at, "\n\n");
    at = put_text(at, title_line);
    at = put_text(at, "\n");
    at = put_points(at, drawn, k);
    at = put_text(at, chosen_text);
    at = put_small(at, k);
    at = put_text(at, "\n");
    at = put_points(at, sorted, k);
    at = put_small(at, k);
    at = put_text(at, pairs_text);
    at = put_pair_count(at, k);
    at = put_text(at, pairs_end);
    at = put_text(at, "\n");
    at = put_text(at, result_text);
    at = put_small(at, k);
    at = put_text(at, result_iteration);
    std::memcpy(at, number.digits, sizeof number.digits);
    at += number.length;
    at = put_text(at, result_score);
    at = put_score(at, score);
    return put_text(at, "\n");
}

char* put_best(char* at, std::int32_t size, float score) {
    at = put_text(at, best_text);
    at = put_int(at, size);
    at = put_text(at, best_score);
    at = put_score(at, score);
    at = put_text(at, best_end);
    return put_text(at, "\n");
}

char* put_progress(char* at, std::int64_t done, std::int64_t total, double seconds, float best,
                   std::int32_t best_size) {
    at = put_text(at, "iteracao ");
    at = put_int(at, done);
    at = put_text(at, " de ");
    at = put_int(at, total);
    at = put_text(at, " (");
    const double share = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1;
    at = std::to_chars(at, at + 24, 100 * share, std::chars_format::fixed, 1).ptr;
    at = put_text(at, "%)");
    if (done == 0 || seconds <= 0) return at; // no rate yet
    const double rate = static_cast<double>(done) / seconds;
    at = put_text(at, ", ");
    at = put_int(at, static_cast<std::int64_t>(rate));
    at = put_text(at, " iteracoes/s, faltam ");
    auto left = static_cast<std::int64_t>(static_cast<double>(total - done) / rate);
    if (left >= 3600) {
        at = put_int(at, left / 3600);
        at = put_text(at, " h ");
        left %= 3600;
    }
    if (left >= 60) {
        at = put_int(at, left / 60);
        at = put_text(at, " min ");
        left %= 60;
    }
    at = put_int(at, left);
    at = put_text(at, " s, melhor ");
    at = put_score(at, best);
    at = put_text(at, " com ");
    at = put_int(at, best_size);
    return put_text(at, " pontos");
}

char* put_best_subset(char* at, std::int64_t iteration, const std::int32_t* points,
                      std::int32_t size) {
    if (size == 0) return put_text(at, "Nenhum subconjunto passou de 0\n");
    at = put_text(at, "Melhor subconjunto, da iteracao ");
    at = put_int(at, iteration);
    at = put_text(at, ": ");
    at = put_points(at, points, size);
    at[-2] = '\n'; // the list's last space goes
    return at - 1;
}

} // namespace subset
