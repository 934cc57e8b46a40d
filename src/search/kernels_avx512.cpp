// The AVX-512 kernels (with BMI2 and POPCNT, which every such processor has): the
// block's points sixteen at a time, the small sort by compression, and the packed masked
// sweep. Each function carries its own target, so that nothing of it runs elsewhere.
#include "search/kernels.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#include <bit>
#include <cstdint>
#include <cstring>

#include "search/random.hpp"

namespace subset {

namespace {

// ---- the block's points ----

// Sixteen at a time. A value v (below 2^31) times 1/d in doubles is within 2^-21 of v/d,
// and v/d is at least 1/d (over 2^-17) short of the next whole number: so the truncated
// product is the quotient, or one less when v/d is whole or just above. v - q d is then
// the remainder, or the remainder plus d, and one unsigned minimum with itself minus d
// (which wraps round when it is below d) settles it.
// GCC 12 takes the unset lanes its own conversion intrinsics start from for unset
// variables (its bug 105593); nothing here reads an unset lane.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
__attribute__((target("avx512f"))) void block_points(const std::uint32_t* values,
                                                     std::uint32_t divisor, std::uint32_t* points) {
    const __m512d inverse = _mm512_set1_pd(1.0 / divisor);
    const __m512i d = _mm512_set1_epi32(static_cast<int>(divisor));
    const __m512i one = _mm512_set1_epi32(1);
    for (int i = 0; i < random_block; i += 16) {
        const __m512i v = _mm512_srli_epi32(_mm512_loadu_si512(values + i), 1);
        const __m256i low = _mm512_cvttpd_epi32(
            _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_castsi512_si256(v)), inverse));
        const __m256i high = _mm512_cvttpd_epi32(
            _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(v, 1)), inverse));
        const __m512i q = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
        const __m512i r = _mm512_sub_epi32(v, _mm512_mullo_epi32(q, d));
        const __m512i p = _mm512_add_epi32(_mm512_min_epu32(r, _mm512_sub_epi32(r, d)), one);
        _mm512_storeu_si512(points + i, p);
    }
}
#pragma GCC diagnostic pop

// ---- the small sort ----

// Without a branch on the subset's size but for the steps of sixteen: its bitmap is made
// sixteen points at a time (lanes past its end read point 0, whose bit is then dropped),
// and its points are compressed out of vectors of 0 to 15, 16 to 31, ... by the bitmap's
// sixteen-bit quarters. Writes up to fifteen entries past its end.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized" // GCC 12's bug 105593: see above
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
__attribute__((target("avx512f,popcnt"))) void sort_small(const std::int32_t* drawn, std::int32_t k,
                                                          std::int32_t n, std::int32_t* sorted) {
    const __m512i one = _mm512_set1_epi64(1);
    __m512i bits = _mm512_setzero_si512();
    for (std::int32_t i = 0; i < k; i += 16) {
        const auto in = static_cast<__mmask16>(k - i >= 16 ? 0xffff : (1U << (k - i)) - 1);
        const __m512i v = _mm512_maskz_loadu_epi32(in, drawn + i);
        bits = _mm512_or_si512(
            bits, _mm512_sllv_epi64(one, _mm512_cvtepu32_epi64(_mm512_castsi512_si256(v))));
        bits = _mm512_or_si512(
            bits, _mm512_sllv_epi64(one, _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(v, 1))));
    }
    const std::uint64_t word =
        static_cast<std::uint64_t>(_mm512_reduce_or_epi64(bits)) & ~std::uint64_t{1};
    __m512i numbers = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i sixteen = _mm512_set1_epi32(16);
    std::int32_t j = 0;
    for (std::int32_t q = 0; q <= n / 16; ++q) {
        const auto quarter = static_cast<__mmask16>(word >> (16 * q));
        _mm512_storeu_si512(sorted + j, _mm512_maskz_compress_epi32(quarter, numbers));
        j += _mm_popcnt_u32(quarter);
        numbers = _mm512_add_epi32(numbers, sixteen);
    }
}
#pragma GCC diagnostic pop

// ---- the masked sweep ----

// Up to 128 subsets sit in the lanes of eight 16-lane vectors, and every pair (a, b) of
// the file, walked once in file order, is added to exactly the lanes whose subset holds
// both a and b. Each lane thus adds its own subset's distances in file order, one
// rounding per addition: the same sum, bit for bit, as a chain of single additions.
//
// The subsets' membership is two 64-bit words per point, a bit for each lane. Within row
// a only the subsets that hold a add anything, so their sums are packed together for the
// row (compressed out of the lanes at its start, expanded back at its end: in registers,
// then stored or loaded whole, since AMD's Zen 4 takes a hundred cycles or more for a
// compression straight to memory), and each pair's lanes are the bits of b's words at
// a's set bits (pext). A sum still takes its own pairs in file order, and its bits move
// unchanged. An addition waits four cycles for the one before it in its own vector;
// packing halves the vectors a row needs, so up to 128 subsets cost what 64 did unpacked.
//
// A row that more than 64 packed lanes hold packs each word's subsets apart, the second
// word's from the vector after the first word's last: one vector more at most, but each
// vector's lanes are then sixteen bits of one pext, where packing both words together
// takes a 128-bit shift by a count known only at run time at every step. On Zen 4 that
// made the rows of the largest subsets about a tenth slower.
//
// A row that most lanes hold is not packed at all: each lane keeps its place, and its
// mask at each step is b's lanes, 32 bits broadcast straight from memory, tested against
// a's. A lane that lacks a has no bit there and adds nothing; the others add exactly
// where packing would have them add. Without the pext and the move to a vector register
// a vector's step cost about two thirds of a packed one's on Zen 4 (1.1 against 1.7, in a
// loop made to measure it), so a row goes unpacked when packing would leave it two
// thirds of the vectors or more.

constexpr int sweep_lanes = 128;

// Lanes of a vector.
constexpr std::ptrdiff_t lane_count = 16;

// Room for each point: which lanes hold it, two words.
constexpr std::size_t point_bytes = 2 * sizeof(std::uint64_t);

// A packed step's lanes, 64 of them, as the masks of its vectors: vector `at` takes bits
// 16 at to 16 at + 15. Testing each lane's bit of the word, broadcast, makes the mask in
// the vector unit. On Zen 4, moving sixteen bits from a general register to a mask
// register was what the steps waited on: testing took a step of four vectors about a
// fifth less time, and the whole sweep about a tenth.
struct step_lanes {
    __m512i low;  // the word's low 32 bits in every lane
    __m512i high; // its high 32 bits
};

__attribute__((target("avx512f"))) inline step_lanes lanes_in_vectors(std::uint64_t word) {
    return {_mm512_set1_epi32(static_cast<int>(word)),
            _mm512_set1_epi32(static_cast<int>(word >> 32))};
}

// Lane l's bit among each 32 bits: l for vectors that take the low sixteen, 16 + l else.
__attribute__((target("avx512f"))) inline __m512i lane_bits(int at) {
    const __m512i bit =
        _mm512_sllv_epi32(_mm512_set1_epi32(1),
                          _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    return at % 2 == 0 ? bit : _mm512_slli_epi32(bit, 16);
}

// The mask of vector `at` (0 to 3) of the step's lanes `l`; `bits` is lane_bits(at).
__attribute__((target("avx512f"))) inline __mmask16 vector_mask(const step_lanes& l, int at,
                                                                __m512i bits) {
    return _mm512_test_epi32_mask(at < 2 ? l.low : l.high, bits);
}

// The steps of one row, a's pairs (a, b) in file order, with `vectors` packed sums (1 to 4)
// in `packed`: for each b, the packed lanes that hold b add d(a, b). `cnt_low` is the
// number of a's lanes among the first 64.
template <int vectors>
__attribute__((target("avx512f,bmi2"))) void
row_steps(const float* row, const std::uint64_t* in_b, std::int32_t steps, std::uint64_t low_a,
          std::uint64_t high_a, int cnt_low, float* packed) {
    __m512 sum[vectors];
#pragma GCC unroll 4
    for (int v = 0; v < vectors; ++v) sum[v] = _mm512_loadu_ps(packed + lane_count * v);
    const __m512i even = lane_bits(0);
    const __m512i odd = lane_bits(1);
    for (std::ptrdiff_t j = 0; j < steps; ++j) {
        const std::uint64_t low = _pext_u64(in_b[2 * j], low_a);
        const std::uint64_t high = _pext_u64(in_b[2 * j + 1], high_a);
        const __m512 d = _mm512_set1_ps(row[j]);
        // At most 64 lanes: when the first word holds all 64, the second holds none.
        const step_lanes lanes = lanes_in_vectors(low | (high << (cnt_low & 63)));
#pragma GCC unroll 4
        for (int v = 0; v < vectors; ++v)
            sum[v] = _mm512_mask_add_ps(sum[v], vector_mask(lanes, v, v % 2 == 0 ? even : odd),
                                        sum[v], d);
    }
#pragma GCC unroll 4
    for (int v = 0; v < vectors; ++v) _mm512_storeu_ps(packed + lane_count * v, sum[v]);
}

using row_function = void (*)(const float*, const std::uint64_t*, std::int32_t, std::uint64_t,
                              std::uint64_t, int, float*);

// The row's steps for 1 to 4 packed vectors, by vector count less one.
constexpr row_function rows[4] = {row_steps<1>, row_steps<2>, row_steps<3>, row_steps<4>};

// The steps of a row with `low_vectors` packed vectors (1 to 4) from the first word's
// subsets and then `high_vectors` (1 to 4) from the second's, at `packed`.
template <int low_vectors, int high_vectors>
__attribute__((target("avx512f,bmi2"))) void
split_steps(const float* row, const std::uint64_t* in_b, std::int32_t steps, std::uint64_t low_a,
            std::uint64_t high_a, float* packed) {
    constexpr int vectors = low_vectors + high_vectors;
    __m512 sum[vectors];
#pragma GCC unroll 8
    for (int v = 0; v < vectors; ++v) sum[v] = _mm512_loadu_ps(packed + lane_count * v);
    const __m512i even = lane_bits(0);
    const __m512i odd = lane_bits(1);
    for (std::ptrdiff_t j = 0; j < steps; ++j) {
        const step_lanes low = lanes_in_vectors(_pext_u64(in_b[2 * j], low_a));
        const step_lanes high = lanes_in_vectors(_pext_u64(in_b[2 * j + 1], high_a));
        const __m512 d = _mm512_set1_ps(row[j]);
#pragma GCC unroll 8
        for (int v = 0; v < vectors; ++v) {
            const int at = v < low_vectors ? v : v - low_vectors;
            const __mmask16 in =
                vector_mask(v < low_vectors ? low : high, at, at % 2 == 0 ? even : odd);
            sum[v] = _mm512_mask_add_ps(sum[v], in, sum[v], d);
        }
    }
#pragma GCC unroll 8
    for (int v = 0; v < vectors; ++v) _mm512_storeu_ps(packed + lane_count * v, sum[v]);
}

using split_function = void (*)(const float*, const std::uint64_t*, std::int32_t, std::uint64_t,
                                std::uint64_t, float*);

// The split row's steps, by each word's vector count less one.
constexpr split_function split_rows[4][4] = {
    {split_steps<1, 1>, split_steps<1, 2>, split_steps<1, 3>, split_steps<1, 4>},
    {split_steps<2, 1>, split_steps<2, 2>, split_steps<2, 3>, split_steps<2, 4>},
    {split_steps<3, 1>, split_steps<3, 2>, split_steps<3, 3>, split_steps<3, 4>},
    {split_steps<4, 1>, split_steps<4, 2>, split_steps<4, 3>, split_steps<4, 4>}};

// The steps of a row left unpacked, for `vectors` vectors (1 to 8) of sums at `sums`, each
// lane in its own place: for each b, the lanes that hold both a and b add d(a, b), their
// masks tested straight from b's words (32 bits broadcast from memory) against a's lanes'
// bits, `in_a`, one vector of them for each vector of sums. Lanes that lack a never add.
// (x86 is little-endian: lanes 32 i to 32 i + 31 are bytes 4 i to 4 i + 3 of b's words.)
template <int vectors>
__attribute__((target("avx512f"))) void unpacked_steps(const float* row, const char* in_b,
                                                       std::int32_t steps, const __m512i* in_a,
                                                       float* sums) {
    __m512 sum[vectors];
    __m512i a_bits[vectors];
#pragma GCC unroll 8
    for (int v = 0; v < vectors; ++v) {
        sum[v] = _mm512_load_ps(sums + lane_count * v);
        a_bits[v] = in_a[v];
    }
    for (std::ptrdiff_t j = 0; j < steps; ++j) {
        const __m512 d = _mm512_set1_ps(row[j]);
        const char* b = in_b + point_bytes * static_cast<std::size_t>(j);
#pragma GCC unroll 8
        for (int v = 0; v < vectors; ++v) {
            std::int32_t word = 0; // 32 of b's lanes, broadcast from memory as compiled
            std::memcpy(&word, b + sizeof word * (v / 2), sizeof word);
            const __m512i b_bits = _mm512_set1_epi32(word);
            sum[v] =
                _mm512_mask_add_ps(sum[v], _mm512_test_epi32_mask(b_bits, a_bits[v]), sum[v], d);
        }
    }
#pragma GCC unroll 8
    for (int v = 0; v < vectors; ++v) _mm512_store_ps(sums + lane_count * v, sum[v]);
}

using unpacked_function = void (*)(const float*, const char*, std::int32_t, const __m512i*, float*);

// The unpacked row's steps for 1 to 8 vectors, by vector count less one.
constexpr unpacked_function unpacked_rows[8] = {
    unpacked_steps<1>, unpacked_steps<2>, unpacked_steps<3>, unpacked_steps<4>,
    unpacked_steps<5>, unpacked_steps<6>, unpacked_steps<7>, unpacked_steps<8>};

// The lanes of vector v (16 of them) that `low` and `high` hold.
__mmask16 lanes_of(int v, std::uint64_t low, std::uint64_t high) {
    return static_cast<__mmask16>((v < 4 ? low : high) >> (16 * (v % 4)));
}

// Marks in `room` which lanes hold each point, and returns the marks: bit l % 64 of the
// point's word l / 64, for lane l. The sweep and its count of lane-additions both start so.
std::uint64_t* mark_lanes(const subset_ref* subsets, int count, std::int32_t n, char* room) {
    auto* lanes = reinterpret_cast<std::uint64_t*>(room);
    std::memset(lanes, 0, point_bytes * (static_cast<std::size_t>(n) + 1));
    for (int s = 0; s < count; ++s)
        for (std::int32_t i = 0; i < subsets[s].size; ++i)
            lanes[2 * static_cast<std::size_t>(subsets[s].sorted[i]) + s / 64] |= std::uint64_t{1}
                                                                                  << (s % 64);
    return lanes;
}

__attribute__((target("avx512f,bmi2,popcnt"))) void
sweep(const subset_ref* subsets, int count, const version& items, float* scores, char* room) {
    const std::int32_t n = items.points;
    std::uint64_t* lanes = mark_lanes(subsets, count, n, room);

    const int vectors = (count + 15) / 16;    // unpacked: the lanes from count on hold nothing
    alignas(64) float sums[sweep_lanes] = {}; // each subset's sum, in its own lane
    // The sums of the row's subsets, packed; a vector's room more, since each vector's
    // packed lanes are stored as a whole vector (a split row's second word starts at
    // lane 64 at most, and holds 64 lanes at most).
    alignas(64) float packed[sweep_lanes + lane_count] = {};
    const float* row = items.dist.get(); // the row of point a: pairs (a, a+1) .. (a, n)
    for (std::int32_t a = 1; a < n; row += n - a + 1, ++a) {
        const std::uint64_t low_a = lanes[2 * static_cast<std::size_t>(a)];
        const std::uint64_t high_a = lanes[2 * static_cast<std::size_t>(a) + 1];
        if ((low_a | high_a) == 0) continue; // no subset holds a: no pair of its row counts
        const int cnt_low = __builtin_popcountll(low_a);
        const int cnt = cnt_low + __builtin_popcountll(high_a);
        if (3 * ((cnt + 15) / 16) >= 2 * vectors) {
            // Packing would save too few vectors to pay for its masks (see above).
            __m512i in_a[sweep_lanes / 16];
            for (int v = 0; v < vectors; ++v)
                in_a[v] = _mm512_and_si512(lane_bits(v),
                                           _mm512_set1_epi32(static_cast<int>(
                                               (v < 4 ? low_a : high_a) >> (32 * (v / 2 % 2)))));
            unpacked_rows[vectors - 1](row, room + point_bytes * (static_cast<std::size_t>(a) + 1),
                                       n - a, in_a, sums);
            continue;
        }
        // Past 64 packed lanes, the second word's subsets start a vector of their own.
        const bool split = cnt > 64;
        const int high_at = split ? 16 * ((cnt_low + 15) / 16) : cnt_low;
        int at = 0;
        for (int v = 0; v < sweep_lanes / 16; ++v) {
            if (v == 4) at = high_at;
            const __mmask16 in = lanes_of(v, low_a, high_a);
            _mm512_storeu_ps(packed + at,
                             _mm512_maskz_compress_ps(in, _mm512_load_ps(sums + lane_count * v)));
            at += __builtin_popcount(in);
        }
        const std::uint64_t* in_b = lanes + 2 * (static_cast<std::size_t>(a) + 1);
        if (split) // both words hold over 0 lanes, as neither holds over 64
            split_rows[(cnt_low + 15) / 16 - 1][(cnt - cnt_low + 15) / 16 - 1](
                row, in_b, n - a, low_a, high_a, packed);
        else
            rows[(cnt + 15) / 16 - 1](row, in_b, n - a, low_a, high_a, cnt_low, packed);
        at = 0;
        for (int v = 0; v < sweep_lanes / 16; ++v) {
            if (v == 4) at = high_at;
            const __mmask16 in = lanes_of(v, low_a, high_a);
            const __m512 back = _mm512_mask_expand_ps(_mm512_load_ps(sums + lane_count * v), in,
                                                      _mm512_loadu_ps(packed + at));
            _mm512_store_ps(sums + lane_count * v, back);
            at += __builtin_popcount(in);
        }
    }
    for (int s = 0; s < count; ++s) scores[s] = sums[s] / static_cast<float>(subsets[s].size);
}

// The lane-additions of `sweep`, row by row as it chooses: an unpacked row's vectors, a
// packed row's packed ones, a split row's from each word apart; sixteen lanes a vector.
std::int64_t sweep_lane_adds(const subset_ref* subsets, int count, std::int32_t n, char* room) {
    const std::uint64_t* lanes = mark_lanes(subsets, count, n, room);
    const int vectors = (count + 15) / 16;
    std::int64_t adds = 0;
    for (std::int32_t a = 1; a < n; ++a) {
        const int cnt_low = std::popcount(lanes[2 * static_cast<std::size_t>(a)]);
        const int cnt = cnt_low + std::popcount(lanes[2 * static_cast<std::size_t>(a) + 1]);
        if (cnt == 0) continue;
        int row_vectors = (cnt + 15) / 16;
        if (3 * row_vectors >= 2 * vectors)
            row_vectors = vectors;
        else if (cnt > 64)
            row_vectors = (cnt_low + 15) / 16 + (cnt - cnt_low + 15) / 16;
        adds += std::int64_t{16} * row_vectors * (n - a);
    }
    return adds;
}

} // namespace

// A sweep's step costs about three additions of a chain: measured with bench_driver at
// 141 and 1000 points, and again once rows could go unpacked (2, 2.5 and 3 were within
// the noise of each other there).
const kernel_table avx512_kernels = {
    .name = "avx512",
    .block_points = block_points,
    .sort_small = sort_small,
    .sweep = sweep,
    .sweep_lanes = sweep_lanes,
    .sweep_point_bytes = point_bytes,
    .sweep_step_cost = 3.0,
    .sweep_lane_adds = sweep_lane_adds,
};

} // namespace subset

#endif
