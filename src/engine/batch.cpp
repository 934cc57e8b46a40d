// Filling a batch: its room, and its iterations drawn one by one.
#include "engine/batch.hpp"

#include <algorithm>

#include "base/check.hpp"
#include "search/draw.hpp"
#include "search/score.hpp"
#include "text/lines.hpp"

namespace subset {

namespace {

// The text room of a batch of `points` drawn points: the longest lines of its most
// iterations.
std::size_t text_bytes(std::size_t points) {
    return iteration_room(0) * batch_iterations + 12 * points;
}

} // namespace

void batch_make(batch& b, std::size_t points) {
    b.drawn.reserve(points);
    b.sorted.reserve(points + sorted_spare);
    batch_text_room(b, text_bytes(points));
}

std::size_t batch_bytes(std::size_t points) {
    return sizeof(std::int32_t) * (points + points + sorted_spare) + text_bytes(points);
}

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

} // namespace subset
