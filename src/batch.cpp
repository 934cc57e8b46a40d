// Filling a batch, and the work a worker does on it: everything but the drawing.
#include "batch.hpp"

#include <algorithm>
#include <new>

#include "check.hpp"
#include "lines.hpp"
#include "search/score.hpp"
#include "segment.hpp"

namespace subset {

void batch_reset(batch& b, std::size_t points, std::int32_t first, version_ptr from) {
    b.from = std::move(from);
    b.first = first;
    b.job = task::score;
    b.skip = 0;
    b.count = 0;
    b.start[0] = 0;
    b.error = {};
    b.text_used = 0;
    const std::size_t room = std::max<std::size_t>(points, b.from != nullptr ? b.from->points : 0);
    if (b.drawn.size() < room) b.drawn.resize(room);
}

void batch_add(batch& b, draw_state& drawing, random_stream& rnd) {
    SUBSET_CHECK(b.from != nullptr && batch_has_room(b));
    const std::int32_t k =
        draw_subset(drawing, b.from->points, rnd, b.drawn.data() + b.start[b.count]);
    b.size[b.count] = k;
    b.start[b.count + 1] = b.start[b.count] + static_cast<std::uint32_t>(k);
    ++b.count;
}

void batch_text_room(batch& b, std::size_t bytes) {
    b.text.reset();
    b.text_room = 0;
    b.text.reset(new char[bytes]); // NOLINT(cppcoreguidelines-owning-memory): unzeroed on purpose
    b.text_room = bytes;
}

namespace {

void work(batch& b) {
    const version& items = *b.from;
    const std::int32_t n = items.points;
    const std::size_t points = b.start[b.count];
    if (b.sorted.size() < points + 1) b.sorted.resize(points + 1);
    static thread_local std::vector<std::uint64_t> bits;
    bits.resize(static_cast<std::size_t>(n / 64) + 1);
    subset_ref* subsets = b.subsets;
    std::size_t room = 0;
    for (int i = b.skip; i < b.count; ++i) {
        std::int32_t* sorted = b.sorted.data() + b.start[i];
        sort_subset(b.drawn.data() + b.start[i], b.size[i], n, bits.data(), sorted);
        subsets[i] = {sorted, b.size[i]};
        room += iteration_room(b.size[i]);
    }
    dist_med(subsets + b.skip, b.count - b.skip, items, b.score + b.skip, b.how);

    if (b.text_room < room) batch_text_room(b, room);
    char* at = b.text.get();
    for (int i = b.skip; i < b.count; ++i) {
        char* const from = at;
        at = put_iteration(at, n, b.first + (i - b.skip), b.drawn.data() + b.start[i],
                           subsets[i].sorted, b.size[i], b.score[i]);
        SUBSET_CHECK(static_cast<std::size_t>(at - from) <= iteration_room(b.size[i]));
        static_cast<void>(from);
    }
    b.text_used = static_cast<std::size_t>(at - b.text.get());
}

} // namespace

void work_on(batch& b) {
    b.failed = false;
    if (b.job == task::score && b.count == b.skip) return; // nothing, or only an error line
    try {
        if (b.job == task::draw) {
            draw_segment(b);
        } else {
            work(b);
        }
    } catch (...) { // memory for its room; nothing may end a worker
        b.failed = true;
    }
}

} // namespace subset
