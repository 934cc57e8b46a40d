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
    b.partner = nullptr;
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
        draw_subset(drawing, b.from->points, rnd, b.drawn.data() + b.start[b.count], *b.kernels);
    b.size[b.count] = k;
    b.start[b.count + 1] = b.start[b.count] + static_cast<std::uint32_t>(k);
    ++b.count;
}

void batch_text_room(batch& b, std::size_t bytes) {
    b.text.reset();
    b.text_room = 0;
    b.text = aligned_buffer(bytes); // unzeroed on purpose
    b.text_room = bytes;
}

namespace {

// Sorts the iterations of `b` from `skip` on into `sorted`, pointing `subsets` at them.
void sort_all(batch& b) {
    const std::int32_t n = b.from->points;
    const std::size_t points = b.start[b.count];
    if (b.sorted.size() < points + sorted_spare) b.sorted.resize(points + sorted_spare);
    static thread_local std::vector<std::uint64_t> bits;
    bits.resize(static_cast<std::size_t>(n / 64) + 1);
    for (int i = b.skip; i < b.count; ++i) {
        std::int32_t* sorted = b.sorted.data() + b.start[i];
        sort_subset(b.drawn.data() + b.start[i], b.size[i], n, bits.data(), sorted, *b.kernels);
        b.subsets[i] = {sorted, b.size[i]};
    }
}

// Puts the iterations of `b` from `skip` on into text, once sorted and scored.
void put_all(batch& b) {
    std::size_t room = 0;
    for (int i = b.skip; i < b.count; ++i) room += iteration_room(b.size[i]);
    if (b.text_room < room) batch_text_room(b, room);
    char* at = b.text.get();
    decimal number = decimal_of(b.first);
    for (int i = b.skip; i < b.count; ++i, count_up(number)) {
        char* const from = at;
        at = put_iteration(at, b.from->points, number, b.drawn.data() + b.start[i],
                           b.subsets[i].sorted, b.size[i], b.score[i]);
        SUBSET_CHECK(static_cast<std::size_t>(at - from) <= iteration_room(b.size[i]));
        static_cast<void>(from);
    }
    b.text_used = static_cast<std::size_t>(at - b.text.get());
}

void work(batch& b) {
    sort_all(b);
    dist_med(b.subsets + b.skip, b.count - b.skip, *b.from, b.score + b.skip, *b.kernels);
    put_all(b);
}

// Works on `b` and `c`, of one version, scoring their subsets together: a sweep then
// takes subsets of both.
void work_together(batch& b, batch& c) {
    sort_all(b);
    sort_all(c);
    const int in_b = b.count - b.skip;
    const int both = in_b + (c.count - c.skip);
    static thread_local std::vector<subset_ref> subsets;
    static thread_local std::vector<float> scores;
    subsets.resize(static_cast<std::size_t>(both));
    scores.resize(static_cast<std::size_t>(both));
    std::copy(b.subsets + b.skip, b.subsets + b.count, subsets.begin());
    std::copy(c.subsets + c.skip, c.subsets + c.count, subsets.begin() + in_b);
    dist_med(subsets.data(), both, *b.from, scores.data(), *b.kernels);
    std::copy(scores.begin(), scores.begin() + in_b, b.score + b.skip);
    std::copy(scores.begin() + in_b, scores.end(), c.score + c.skip);
    put_all(b);
    put_all(c);
}

} // namespace

namespace {

// work_on for a batch on its own.
void work_alone(batch& b) {
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

} // namespace

void work_on(batch& b) {
    if (b.partner == nullptr) return work_alone(b);
    batch& c = *b.partner;
    if (b.job != task::score || c.job != task::score || b.from != c.from ||
        b.kernels != c.kernels || b.count == b.skip || c.count == c.skip) {
        work_alone(b);
        work_alone(c);
        return;
    }
    b.failed = c.failed = false;
    try {
        work_together(b, c);
    } catch (...) {
        b.failed = c.failed = true;
    }
}

} // namespace subset
