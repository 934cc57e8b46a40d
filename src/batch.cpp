// The work a worker does on a batch: everything of its iterations but the drawing.
#include "batch.hpp"

#include "lines.hpp"
#include "search/score.hpp"

void batch_reset(batch& b, std::size_t points) {
    b.count = 0;
    b.start[0] = 0;
    b.error = {};
    b.text_used = 0;
    if (b.drawn.size() < points) b.drawn.resize(points);
}

void work_on(batch& b) {
    const std::size_t points = b.start[b.count];
    if (b.sorted.size() < points + 1) b.sorted.resize(points + 1);
    static thread_local std::vector<std::uint8_t> marks;
    marks.resize(static_cast<std::size_t>(b.n) + 1);
    subset_ref subsets[batch_iterations];
    std::size_t room = 0;
    for (int i = 0; i < b.count; ++i) {
        std::int32_t* sorted = b.sorted.data() + b.start[i];
        sort_subset(b.drawn.data() + b.start[i], b.size[i], b.n, marks.data(), sorted);
        subsets[i] = {sorted, b.size[i]};
        room += iteration_room(b.size[i]);
    }
    dist_med(subsets, b.count, b.n, b.score);

    if (b.text.size() < room) b.text.resize(room);
    char* at = b.text.data();
    for (int i = 0; i < b.count; ++i)
        at = put_iteration(at, b.n, b.first + i, b.drawn.data() + b.start[i], subsets[i].sorted,
                           b.size[i], b.score[i]);
    b.text_used = static_cast<std::size_t>(at - b.text.data());
}
