// Subset drawing. A point is free exactly while its pool entry is not -1, so each attempt
// is tested in constant time, and walking the pool in order gives the sorted subset.
#include "search/draw.hpp"

#include <array>
#include <cstring>

namespace {

__extension__ using u128 = unsigned __int128;

// "%d " for every point number, made at compile time: the text and its length, in eight
// bytes so that one fixed-size copy moves any of them.
struct point_label {
    char text[7];
    std::uint8_t length;
};
static_assert(sizeof(point_label) == 8);

constexpr std::array<point_label, list_size + 1> point_labels = [] {
    std::array<point_label, list_size + 1> labels{};
    for (int v = 1; v <= list_size; ++v) {
        char digits[8] = {};
        int n = 0;
        for (int rest = v; rest > 0; rest /= 10) digits[n++] = static_cast<char>('0' + rest % 10);
        point_label& label = labels[static_cast<std::size_t>(v)];
        for (int k = 0; k < n; ++k) label.text[k] = digits[n - 1 - k];
        label.text[n] = ' ';
        label.length = static_cast<std::uint8_t>(n + 1);
    }
    return labels;
}();

// Prints `points` (each from 1 to list_size) followed by one space each, then a line end.
void print_points(trace& out, const std::int32_t* points, std::int32_t count) {
    trace_reserve(out, static_cast<std::size_t>(count) * sizeof(point_label) + 1);
    char* at = out.buf + out.used;
    for (std::int32_t i = 0; i < count; ++i) {
        const point_label& label = point_labels[static_cast<std::size_t>(points[i])];
        std::memcpy(at, &label, sizeof label);
        at += label.length;
    }
    *at++ = '\n';
    out.used = static_cast<std::size_t>(at - out.buf);
}

} // namespace

std::int32_t give_rand(std::int32_t a, std::int32_t b, random_source rnd) {
    return a + rnd() % (b - a + 1); // NOLINT(clang-analyzer-core.DivideZero): a <= b
}

void draw_subset(iteration& it, std::int32_t n, random_source rnd, trace& out) {
    for (std::int32_t m = 0; m < n; ++m) it.pool[m] = m + 1;
    it.size = give_rand(2, n, rnd);
    it.subset_pairs = it.size * (it.size - 1) / 2;
    trace_text(out, "\n");

    // An attempt costs a random number, a remainder and a store or two: the remainder by
    // a multiplication (exact for every 32-bit number), and no branch on whether the
    // point was free, which no predictor could guess.
    const std::uint32_t divisor = static_cast<std::uint32_t>(n) + 1;
    const std::uint64_t inverse = UINT64_MAX / divisor + 1;
    it.pool[n] = -1; // the value n + 1 is never a point: it reads as taken
    // The counts live in locals: the random source is an opaque call, and counts kept in
    // `it` would be stored and reloaded around every one.
    const std::int32_t size = it.size;
    std::int32_t count = 0;
    std::int32_t d = 0;
    while (count < size) {
        const std::uint64_t low = inverse * static_cast<std::uint32_t>(rnd());
        const auto value = static_cast<std::int32_t>((static_cast<u128>(low) * divisor) >> 64) + 1;
        // Attempts past the list are not kept: nothing reads an attempt after it is made.
        if (d < list_size) it.draws[d] = value;
        ++d;
        const bool is_free = it.pool[value - 1] != -1;
        it.chosen[count] = value;
        count += is_free;
        it.pool[value - 1] = -1;
    }
    it.chosen_count = count;

    trace_text(out, "Pontos escolhidos aleatoriamente:\n");
    print_points(out, it.chosen, it.size);
    trace_text(out, "Nr pontos aleatorios: ");
    trace_int(out, it.chosen_count);
    trace_text(out, "\n");

    // The taken points, walked in order, are the subset sorted (again without a branch).
    std::int32_t j = 0;
    for (std::int32_t m = 0; m < n; ++m) {
        it.chosen[j] = m + 1;
        j += it.pool[m] == -1;
    }
    print_points(out, it.chosen, it.size);
}
