// Drawing segments, and following one's chain into the next.
#include "engine/segment.hpp"

#include "base/check.hpp"
#include "engine/batch.hpp"
#include "search/draw.hpp"

namespace subset {

double values_per_iteration(std::int32_t n) {
    // K is uniform on 2..n; taking the (i+1)-th point takes (n + 1) / (n - i) attempts
    // on average, since i points and the value n + 1 are refused.
    double attempts = 0; // for the K points taken so far
    double total = 0;    // over every K
    for (std::int32_t k = 1; k <= n; ++k) {
        attempts += static_cast<double>(n + 1) / (n - (k - 1));
        if (k >= 2) total += attempts;
    }
    return 1 + total / (n - 1);
}

void draw_segment(batch& b, draw_state& drawing) {
    SUBSET_CHECK(b.from != nullptr && b.count == 0 && b.stream.source == nullptr);
    std::int64_t at = position(b.stream);
    while (at < b.stop_at && batch_has_room(b)) {
        b.at[b.count] = at;
        batch_add(b, drawing, b.stream);
        at = position(b.stream);
    }
    b.at[b.count] = at;
}

std::int32_t follow_into(batch& held, const batch& into, draw_state& drawing) {
    std::int64_t at = position(held.stream);
    std::int32_t j = 0; // the first start of `into` not behind `at`
    for (;;) {
        held.at[held.count] = at;
        while (j < into.count && into.at[j] < at) ++j;
        if (into.at[j] == at) return j; // the end, at[count], counts as a start
        if (at > into.at[into.count] || !batch_has_room(held)) return -1;
        batch_add(held, drawing, held.stream);
        at = position(held.stream);
    }
}

} // namespace subset
