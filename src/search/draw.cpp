// Subset drawing. A point is free exactly while its pool entry is not -1, so each attempt
// is tested in constant time, and walking the pool in order gives the sorted subset.
#include "search/draw.hpp"

namespace {

// Prints `points` each followed by one space, then a line end.
void print_points(trace& out, const std::int32_t* points, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        trace_int(out, points[i]);
        trace_text(out, " ");
    }
    trace_text(out, "\n");
}

} // namespace

std::int32_t give_rand(std::int32_t a, std::int32_t b, random_source rnd) {
    return a + rnd() % (b - a + 1);
}

void draw_subset(iteration& it, std::int32_t n, random_source rnd, trace& out) {
    for (std::int32_t m = 0; m < n; ++m) it.pool[m] = m + 1;
    it.size = give_rand(2, n, rnd);
    it.subset_pairs = it.size * (it.size - 1) / 2;
    it.chosen_count = 0;
    trace_text(out, "\n");

    std::int32_t d = 0;
    while (it.chosen_count < it.size) {
        std::int32_t value = rnd() % (n + 1) + 1;
        // Attempts past the list are not kept: nothing reads an attempt after it is made.
        if (d < list_size) it.draws[d] = value;
        ++d;
        if (value <= n && it.pool[value - 1] != -1) {
            it.chosen[it.chosen_count++] = value;
            it.pool[value - 1] = -1;
        }
    }
    it.attempts = d;

    trace_text(out, "Pontos escolhidos aleatoriamente:\n");
    print_points(out, it.chosen, it.size);
    trace_text(out, "Nr pontos aleatorios: ");
    trace_int(out, it.chosen_count);
    trace_text(out, "\n");

    std::int32_t j = 0;
    for (std::int32_t m = 0; m < n; ++m)
        if (it.pool[m] == -1) it.chosen[j++] = m + 1;
    print_points(out, it.chosen, it.size);
}
