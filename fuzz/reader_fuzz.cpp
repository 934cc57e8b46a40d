// Fuzz target for the distance file reader: any bytes either load, with the point count
// and the pairs that the C library's formatted input reads from them, or are refused with
// the one line the program prints for them. The expected outcome is worked out here with
// fscanf over the same bytes; and a parse through a buffer of a few bytes must equal the
// parse of the whole.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "data/parse.hpp"
#include "text/lines.hpp"

using namespace subset;

namespace {

struct triple {
    long p1 = 0;
    long p2 = 0;
    float dist = 0;
};

enum class got { ok, end, no_first, bad };

bool fits(long v) {
    return v >= INT32_MIN && v <= INT32_MAX;
}

// One triple by formatted input; integers outside 32 bits count as unreadable.
got read_triple(std::FILE* f, triple& t) {
    int r = std::fscanf(f, " %ld", &t.p1);
    if (r == EOF) return got::end;
    if (r != 1 || !fits(t.p1)) return got::no_first;
    if (std::fscanf(f, " %ld", &t.p2) != 1 || !fits(t.p2)) return got::bad;
    if (std::fscanf(f, " %f", &t.dist) != 1) return got::bad;
    return got::ok;
}

struct expectation {
    std::string line;
    std::vector<triple> pairs;
};

std::string triple_line(long t) {
    return "Erro no ficheiro dos dados: triplo " + std::to_string(t) + " em falta ou mal formado\n";
}

// What the program must make of `size` bytes at `data`.
expectation expect(const std::uint8_t* data, std::size_t size) {
    const std::string too_few = "Erro no ficheiro dos dados: sao precisos pelo menos 2 pontos\n";
    if (size == 0) return {too_few, {}};
    std::vector<char> bytes(data, data + size);
    std::FILE* f = fmemopen(bytes.data(), size, "r");
    long run = 0;
    for (;;) {
        triple t;
        got g = read_triple(f, t);
        if (g == got::bad && t.p1 == 1) {
            std::fclose(f);
            return {triple_line(run + 1), {}};
        }
        if (g != got::ok || t.p1 != 1) break;
        ++run;
    }
    std::fclose(f);
    const long n = run + 1;
    if (n < 2) return {too_few, {}};
    if (n > max_points)
        return {"Erro no ficheiro dos dados: " + std::to_string(n) +
                    " pontos excedem o maximo de " + std::to_string(max_points) + "\n",
                {}};
    f = fmemopen(bytes.data(), size, "r");
    expectation e{"nr pontos: " + std::to_string(n) + "\n", {}};
    for (long i = 0; i < n * (n - 1) / 2; ++i) {
        triple t;
        if (read_triple(f, t) != got::ok) {
            std::fclose(f);
            return {triple_line(i + 1), {}};
        }
        e.pairs.push_back(t);
    }
    std::fclose(f);
    return e;
}

bool same_float(float a, float b) {
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    file_error got_error;
    const version_ptr got = parse_distances(text, got_error);
    const std::int32_t max = got != nullptr ? got->points : 0;
    const std::int64_t pairs = got != nullptr ? std::int64_t{max} * (max - 1) / 2 : -1;
    char line[line_room];
    const std::string printed(line,
                              pairs >= 0 ? put_count(line, max) : put_file_error(line, got_error));

    const expectation want = expect(data, size);
    if (printed != want.line) {
        std::fprintf(stderr, "printed %s expected %s", printed.c_str(), want.line.c_str());
        std::abort();
    }
    if (pairs != static_cast<std::int64_t>(want.pairs.size()) && pairs >= 0) std::abort();
    // The pairs, row by row, each row ended by +0.
    std::size_t i = 0;
    for (std::int32_t a = 1; a < max && pairs >= 0; ++a) {
        for (std::int32_t b = a + 1; b <= max + 1; ++b) {
            const float read = got->dist[static_cast<std::size_t>(pair_index(a, b, max))];
            if (!same_float(read, b <= max ? want.pairs[i++].dist : +0.0F)) {
                std::fprintf(stderr, "pair (%d, %d) differs\n", a, b);
                std::abort();
            }
        }
    }
    // Through a buffer of a few bytes, every boundary falls somewhere inside the text:
    // the parse must not change.
    file_error small_error;
    const version_ptr small = parse_distances(text, small_error, 1 + size % 7);
    if ((small == nullptr) != (got == nullptr) || small_error.what != got_error.what ||
        small_error.detail != got_error.detail) {
        std::fprintf(stderr, "a small buffer changed the outcome\n");
        std::abort();
    }
    for (std::size_t t = 0; got != nullptr && t < table_size(max); ++t) {
        if (!same_float(small->dist[t], got->dist[t])) {
            std::fprintf(stderr, "a small buffer changed entry %zu\n", t);
            std::abort();
        }
    }
    return 0;
}
