// Parsing the distance file's text: the count from the run of point 1, then the pairs.
#include "data/parse.hpp"

#include <new>

#include "data/reader.hpp"

namespace subset {

namespace {

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

// Reads one triple at `p` into `it`; on `bad`, `it.p1` holds the first field.
triple_read read_triple(const char*& p, const char* end, item& it) {
    switch (scan_int(p, end, it.p1)) {
    case scan_result::end:
        return triple_read::end;
    case scan_result::bad:
        return triple_read::no_first;
    case scan_result::ok:
        break;
    }
    if (scan_int(p, end, it.p2) != scan_result::ok) return triple_read::bad;
    if (scan_float(p, end, it.dist) != scan_result::ok) return triple_read::bad;
    return triple_read::ok;
}

// Counts N from the run of triples of point 1. The run ends at the first triple that does
// not start with a 1, which counts as one more point, or where the text stops offering
// triples (its end, or a first field that is not a number); a triple of point 1 that
// breaks off is malformed.
file_error count_points(std::string_view text, std::int64_t& n) {
    const char* p = text.data();
    const char* end = p + text.size();
    std::int64_t run = 0;
    for (;;) {
        item it{};
        const triple_read r = read_triple(p, end, it);
        if (r == triple_read::bad && it.p1 == 1) return {file_problem::triple, run + 1};
        if (r != triple_read::ok || it.p1 != 1) break;
        ++run;
    }
    n = run + 1;
    if (n < 2) return {file_problem::too_few, n};
    if (n > max_points) return {file_problem::too_many, n};
    return {};
}

// Loads the n(n-1)/2 triples of the text into `v`, each row followed by its +0.0 end;
// fails at the first triple missing or malformed.
file_error load_pairs(std::string_view text, std::int32_t n, version& v) {
    const char* p = text.data();
    const char* end = p + text.size();
    v.points = n;
    v.dist.resize(table_size(n));
    float* dist = v.dist.data();
    std::int64_t read = 0;
    for (std::int32_t a = 1; a < n; ++a) {
        for (std::int32_t b = a + 1; b <= n; ++b, ++read) {
            item it{};
            if (read_triple(p, end, it) != triple_read::ok) return {file_problem::triple, read + 1};
            *dist++ = it.dist;
        }
        *dist++ = +0.0F;
    }
    return {};
}

} // namespace

parsed parse_distances(std::string_view text) {
    std::int64_t n = 0;
    if (file_error e = count_points(text, n); e.what != file_problem::none) return {nullptr, e};
    try {
        auto v = std::make_shared<version>();
        if (file_error e = load_pairs(text, static_cast<std::int32_t>(n), *v);
            e.what != file_problem::none)
            return {nullptr, e};
        return {std::move(v), {}};
    } catch (const std::bad_alloc&) {
        // No room for the table: the file cannot be used by this run.
        return {nullptr, {file_problem::access, 0}};
    }
}

} // namespace subset
