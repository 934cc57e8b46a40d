// Subset scoring. The sum is one chain of float additions in a fixed order; the build
// forbids reordering or contracting it, since the printed decimals depend on the order.
#include "search/score.hpp"

item mySol[max_pairs] = {};

std::int32_t pair_index(std::int32_t a, std::int32_t b, std::int32_t n) {
    // Before point a's pairs come the n - t pairs of every point t < a.
    return (a - 1) * n - a * (a - 1) / 2 + (b - a) - 1;
}

void extract_pairs(const iteration& it, std::int32_t n) {
    std::int32_t k = 0;
    for (std::int32_t i = 0; i < it.size; ++i) {
        const std::int32_t a = it.chosen[i];
        // The pairs of point a are consecutive: (a, b) sits at row + b.
        const std::int32_t row = pair_index(a, a + 1, n) - (a + 1);
        for (std::int32_t j = i + 1; j < it.size; ++j) mySol[k++] = myItems[row + it.chosen[j]];
    }
}

float dist_med(std::int32_t n, std::int32_t count, const item* items, trace& out) {
    trace_int(out, n);
    trace_text(out, " - ");
    trace_int(out, count);
    trace_text(out, " \n");
    float sum = 0;
    for (std::int32_t i = 0; i < count; ++i) sum = items[i].dist + sum;
    return sum / static_cast<float>(n);
}
