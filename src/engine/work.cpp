// The work a thread does on a batch: sorting, scoring and text, or a segment's draw.
#include "engine/work.hpp"

#include <algorithm>

#include "base/check.hpp"
#include "engine/batch.hpp"
#include "engine/segment.hpp"
#include "text/lines.hpp"

namespace subset {

void scratch_reserve(worker_scratch& s, std::int32_t n, const kernel_table& kernels, bool draws) {
    s.bits.assign(static_cast<std::size_t>(n / 64) + 1, 0);
    // Two batches scored together hold a batch's iterations each at most.
    s.subsets.reserve(2 * static_cast<std::size_t>(batch_iterations));
    s.scores.reserve(2 * static_cast<std::size_t>(batch_iterations));
    score_reserve(s.scoring, n, 2 * batch_iterations, kernels);
    if (draws && s.drawing == nullptr) s.drawing = std::make_unique<draw_state>();
}

std::size_t scratch_bytes(std::int32_t n, const kernel_table& kernels, bool draws) {
    return sizeof(std::uint64_t) * (static_cast<std::size_t>(n / 64) + 1) +
           (sizeof(subset_ref) + sizeof(float)) * 2 * batch_iterations +
           score_bytes(n, 2 * batch_iterations, kernels) + (draws ? sizeof(draw_state) : 0);
}

namespace {

// Sorts the iterations of `b` from `skip` on into `sorted`, pointing `subsets` at them.
void sort_all(batch& b, std::vector<std::uint64_t>& bits) {
    const std::int32_t n = b.from->points;
    const std::size_t points = b.start[b.count];
    if (b.sorted.size() < points + sorted_spare) b.sorted.resize(points + sorted_spare);
    if (bits.size() < static_cast<std::size_t>(n / 64) + 1)
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

// Sorts, scores and puts into text the iterations of `b`.
void score_batch(batch& b, worker_scratch& scratch) {
    sort_all(b, scratch.bits);
    dist_med(b.subsets + b.skip, b.count - b.skip, *b.from, b.score + b.skip, *b.kernels,
             scratch.scoring);
    put_all(b);
}

// Works on `b` and `c`, of one version, scoring their subsets together: a sweep then
// takes subsets of both.
void score_together(batch& b, batch& c, worker_scratch& scratch) {
    sort_all(b, scratch.bits);
    sort_all(c, scratch.bits);
    const int in_b = b.count - b.skip;
    const int both = in_b + (c.count - c.skip);
    std::vector<subset_ref>& subsets = scratch.subsets;
    std::vector<float>& scores = scratch.scores;
    subsets.resize(static_cast<std::size_t>(both));
    scores.resize(static_cast<std::size_t>(both));
    std::copy(b.subsets + b.skip, b.subsets + b.count, subsets.begin());
    std::copy(c.subsets + c.skip, c.subsets + c.count, subsets.begin() + in_b);
    dist_med(subsets.data(), both, *b.from, scores.data(), *b.kernels, scratch.scoring);
    std::copy(scores.begin(), scores.begin() + in_b, b.score + b.skip);
    std::copy(scores.begin() + in_b, scores.end(), c.score + c.skip);
    put_all(b);
    put_all(c);
}

// work_on for a batch on its own.
void work_alone(batch& b, worker_scratch& scratch) {
    b.failed = false;
    if (b.job == task::score && b.count == b.skip) return; // nothing, or only an error line
    try {
        if (b.job == task::draw) {
            if (scratch.drawing == nullptr) scratch.drawing = std::make_unique<draw_state>();
            draw_segment(b, *scratch.drawing);
        } else {
            score_batch(b, scratch);
        }
    } catch (...) { // memory for its room; nothing may end a worker
        b.failed = true;
    }
}

} // namespace

void work_on(batch& b, worker_scratch& scratch) {
    if (b.partner == nullptr) return work_alone(b, scratch);
    batch& c = *b.partner;
    if (b.job != task::score || c.job != task::score || b.from != c.from ||
        b.kernels != c.kernels || b.count == b.skip || c.count == c.skip) {
        work_alone(b, scratch);
        work_alone(c, scratch);
        return;
    }
    b.failed = c.failed = false;
    try {
        score_together(b, c, scratch);
    } catch (...) {
        b.failed = c.failed = true;
    }
}

} // namespace subset
