// Parsing the distance file as it streams in: the count from the run of point 1, then the
// pairs, in one pass through a fixed buffer.
#include "data/parse.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "data/reader.hpp"

namespace subset {

namespace {

// ------------------------------------------------------------------ the byte stream

// The bytes in hand. Numbers never hold whitespace, so the buffer is read up to its last
// whitespace only (`usable`): a number is always whole within it, and what follows is
// carried to the front at the next refill.
struct byte_stream {
    const byte_source& source;
    std::vector<char> buf;
    const char* p = nullptr;      // the next byte to read
    const char* usable = nullptr; // the end of the bytes that may be read now
    std::size_t filled = 0;       // bytes of `buf` in hand
    bool ended = false;           // the source has no more bytes
    bool failed = false;          // the source could not be read
};

// Brings in more bytes once `p` has reached `usable`; false when there are none.
bool refill(byte_stream& s) {
    if (s.ended) return false;
    const auto carry = static_cast<std::size_t>(s.buf.data() + s.filled - s.usable);
    std::memmove(s.buf.data(), s.usable, carry);
    s.filled = carry;
    for (;;) {
        if (s.filled == s.buf.size()) s.buf.resize(s.buf.size() * 2); // one long number
        const std::ptrdiff_t got = s.source(s.buf.data() + s.filled, s.buf.size() - s.filled);
        if (got < 0) s.failed = true;
        if (got <= 0) {
            s.ended = true;
            break;
        }
        const auto start = static_cast<std::ptrdiff_t>(s.filled);
        s.filled += static_cast<std::size_t>(got);
        // Whitespace among the new bytes: the numbers before it are whole.
        const char* first = s.buf.data() + start;
        const char* last = s.buf.data() + s.filled;
        while (last != first && !is_space(last[-1])) --last;
        if (last != first) {
            s.p = s.buf.data();
            s.usable = last;
            return true;
        }
    }
    s.p = s.buf.data();
    s.usable = s.buf.data() + s.filled;
    return s.filled != 0;
}

scan_result next_int(byte_stream& s, std::int32_t& v) {
    for (;;) {
        const scan_result r = scan_int(s.p, s.usable, v);
        if (r != scan_result::end || !refill(s)) return r;
    }
}

scan_result next_float(byte_stream& s, float& v) {
    for (;;) {
        const scan_result r = scan_float(s.p, s.usable, v);
        if (r != scan_result::end || !refill(s)) return r;
    }
}

// ------------------------------------------------------------------ triples

// One triple of the file, fields in file order.
struct item {
    std::int32_t p1; // first point number
    std::int32_t p2; // second point number
    float dist;      // distance between them
};

enum class triple_read {
    ok,       // the whole triple was read
    end,      // the text ends before the triple starts
    no_first, // its first field is not a number
    bad,      // its first field was read, a later one is missing or malformed
};

// Reads one triple into `it`; on `bad`, `it.p1` holds the first field.
triple_read read_triple(byte_stream& s, item& it) {
    switch (next_int(s, it.p1)) {
    case scan_result::end:
        return triple_read::end;
    case scan_result::bad:
        return triple_read::no_first;
    case scan_result::ok:
        break;
    }
    if (next_int(s, it.p2) != scan_result::ok) return triple_read::bad;
    if (next_float(s, it.dist) != scan_result::ok) return triple_read::bad;
    return triple_read::ok;
}

// ------------------------------------------------------------------ the file

// Counts N from the run of triples of point 1, keeping their distances in `first_row`.
// The run ends at the first triple that does not start with a 1, which counts as one more
// point and, when whole, is the first pair of point 2 (`next`); or where the text stops
// offering triples (its end, or a first field that is not a number). A triple of point 1
// that breaks off is malformed.
file_error count_points(byte_stream& s, std::vector<float>& first_row, std::int64_t& n,
                        bool& has_next, float& next) {
    has_next = false;
    for (;;) {
        item it{};
        const triple_read r = read_triple(s, it);
        if (r == triple_read::bad && it.p1 == 1)
            return {file_problem::triple, static_cast<std::int64_t>(first_row.size()) + 1};
        if (r == triple_read::ok && it.p1 == 1) {
            // Past the limit, counting goes on without keeping what nothing will use.
            if (first_row.size() < static_cast<std::size_t>(max_points))
                first_row.push_back(it.dist);
            ++n;
            continue;
        }
        has_next = r == triple_read::ok;
        next = it.dist;
        break;
    }
    ++n;
    if (n < 2) return {file_problem::too_few, n};
    if (n > max_points) return {file_problem::too_many, n};
    return {};
}

// Loads the table of n points: row 1 from the count, then every later row from the
// stream, each row followed by its +0.0 end; fails at the first triple missing or
// malformed.
file_error load_pairs(byte_stream& s, const std::vector<float>& first_row, bool has_next,
                      float next, std::int32_t n, float* dist) {
    dist = std::copy(first_row.begin(), first_row.end(), dist);
    *dist++ = +0.0F;
    std::int64_t read = n - 1;
    for (std::int32_t a = 2; a < n; ++a) {
        for (std::int32_t b = a + 1; b <= n; ++b, ++read) {
            if (has_next) { // the triple that ended the count
                has_next = false;
                *dist++ = next;
                continue;
            }
            item it{};
            if (read_triple(s, it) != triple_read::ok) return {file_problem::triple, read + 1};
            *dist++ = it.dist;
        }
        *dist++ = +0.0F;
    }
    return {};
}

// parse_distances, but for the memory its buffers take.
version_ptr parse_stream(const byte_source& source, file_error& why, std::size_t buffer) {
    byte_stream s{source, std::vector<char>(std::max<std::size_t>(buffer, 1))};
    s.p = s.usable = s.buf.data();
    std::vector<float> first_row;
    std::int64_t n = 0;
    bool has_next = false;
    float next = 0;
    try {
        why = count_points(s, first_row, n, has_next, next);
    } catch (const std::bad_alloc&) {
        why = {file_problem::memory, n + 1};
    }
    if (s.failed) why = {file_problem::access, 0};
    if (why.what != file_problem::none) return nullptr;

    const auto points = static_cast<std::int32_t>(n);
    std::shared_ptr<version> v;
    try {
        v = std::make_shared<version>();
        // Not zeroed: the pages of a large table cost nothing until they are written.
        v->dist.reset(new (std::nothrow) float[table_size(points)]);
    } catch (const std::bad_alloc&) {
        v = nullptr;
    }
    if (v == nullptr || v->dist == nullptr) {
        why = {file_problem::memory, n};
        return nullptr;
    }
    v->points = points;
    why = load_pairs(s, first_row, has_next, next, points, v->dist.get());
    if (s.failed) why = {file_problem::access, 0};
    if (why.what != file_problem::none) return nullptr;
    return v;
}

} // namespace

version_ptr parse_distances(const byte_source& source, file_error& why, std::size_t buffer) {
    try {
        return parse_stream(source, why, buffer);
    } catch (const std::bad_alloc&) {
        // The buffer, or a number longer than the memory left: nothing to do but say so.
        why = {file_problem::memory, 0};
        return nullptr;
    }
}

version_ptr parse_distances(std::string_view text, file_error& why, std::size_t buffer) {
    buffer = std::min(buffer, text.size() + 1); // a short text needs no large buffer
    std::size_t at = 0;
    return parse_distances(
        [&](char* into, std::size_t room) {
            const std::size_t n = std::min(room, text.size() - at);
            std::memcpy(into, text.data() + at, n);
            at += n;
            return static_cast<std::ptrdiff_t>(n);
        },
        why, buffer);
}

} // namespace subset
