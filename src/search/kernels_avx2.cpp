// The AVX2 kernels (with POPCNT, on every processor that has AVX2): the block's points
// eight at a time, the small sort by a table of each byte's bits, and a masked sweep of
// 64 subsets in up to eight 8-lane vectors, its rows packed from 400 points on where pext
// is fast (BMI2, not on Zen 1 or 2: the two tables below). Each function carries its own
// target, so that nothing of it runs elsewhere.
#include "search/kernels.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "search/random.hpp"

namespace subset {

namespace {

// ---- the block's points ----

// Eight at a time, by the quotient in doubles as the AVX-512 kernel works it out (see
// there): the truncated product of v and 1/d is the quotient or one less, and one
// unsigned minimum of v - q d with itself minus d settles which.
__attribute__((target("avx2"))) void block_points(const std::uint32_t* values,
                                                  std::uint32_t divisor, std::uint32_t* points) {
    const __m256d inverse = _mm256_set1_pd(1.0 / divisor);
    const __m256i d = _mm256_set1_epi32(static_cast<int>(divisor));
    const __m256i one = _mm256_set1_epi32(1);
    for (int i = 0; i < random_block; i += 8) {
        const __m256i v =
            _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + i)), 1);
        const __m128i low = _mm256_cvttpd_epi32(
            _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(v)), inverse));
        const __m128i high = _mm256_cvttpd_epi32(
            _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1)), inverse));
        const __m256i q = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        const __m256i r = _mm256_sub_epi32(v, _mm256_mullo_epi32(q, d));
        const __m256i p = _mm256_add_epi32(_mm256_min_epu32(r, _mm256_sub_epi32(r, d)), one);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(points + i), p);
    }
}

// ---- the small sort ----

// For every byte, the places of its set bits, lowest first.
constexpr auto byte_bits = [] {
    std::array<std::array<std::uint8_t, 8>, 256> at{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned j = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            if ((byte >> bit & 1) != 0) at[byte][j++] = static_cast<std::uint8_t>(bit);
    }
    return at;
}();

// The whole bitmap in a register, then each byte of it writes the points it holds, from
// the table, eight at once: a step per eight points of the file rather than a branch per
// point of the subset. Writes up to seven entries past its end. (Making the bitmap eight
// points at a time, with masked loads, measured slower.)
__attribute__((target("avx2,popcnt"))) void sort_small(const std::int32_t* drawn, std::int32_t k,
                                                       std::int32_t n, std::int32_t* sorted) {
    std::uint64_t word = 0;
    for (std::int32_t i = 0; i < k; ++i) word |= std::uint64_t{1} << drawn[i];
    std::int32_t j = 0;
    for (std::int32_t q = 0; q <= n / 8; ++q) {
        const auto byte = static_cast<unsigned>(word >> (8 * q)) & 255;
        const __m256i places = _mm256_cvtepu8_epi32(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(byte_bits[byte].data())));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sorted + j),
                            _mm256_add_epi32(places, _mm256_set1_epi32(8 * q)));
        j += _mm_popcnt_u32(byte);
    }
}

// ---- the masked sweep ----

// Up to 64 subsets sit in the lanes of eight 8-lane vectors, and every pair (a, b) of
// the file, walked once in file order, is offered to every lane: a lane adds d(a, b) & m,
// where m, b's mask for the lane, is all ones when its subset holds b and all zeros when
// not. Within row a, the lanes whose subset lacks a are put back at the row's end to what
// they held at its start (a blend by a's masks), so they take nothing of the row.
//
// Why that is each subset's chain, bit for bit: a lane whose subset holds a and b adds
// d(a, b) itself, in file order, one rounding per addition, as the chain does. A lane
// whose subset holds a but not b adds d & 0, which is +0.0. Adding +0.0 leaves a sum x
// unchanged unless x is -0.0 (-0 + +0 is +0): finite and infinite x stay x, and a NaN x
// stays that NaN, sign and payload included, since an addition with one NaN operand
// returns that NaN (quieted, and a sum's NaN is already quiet). No sum is ever -0.0: it
// starts at +0.0, and in round-to-nearest x + y is -0.0 only when x and y both are.
// Every partial sum of a lane is thus its chain's partial sum. (Where d(a, b) is itself
// a NaN and the lane holds b, the lane adds it as its chain does.)
//
// No lane is packed away within a row (AVX2 has no compression): the sweep takes the
// largest subsets of a batch, most of which hold most points.

constexpr int sweep_lanes = 64;

// Lanes of a vector.
constexpr std::ptrdiff_t lane_count = 8;

// The steps of row a, its pairs (a, b) in file order, for `vectors` vectors (1 to 8) of
// sums at `sums`: `in_b` holds b's masks for the first step, a vector's worth of lanes
// after another, and the next b's after them; `in_a` holds a's.
template <int vectors>
__attribute__((target("avx2"))) void row_steps(const float* row, const float* in_b,
                                               std::int32_t steps, const float* in_a, float* sums) {
    __m256 sum[vectors];
#pragma GCC unroll 8
    for (int v = 0; v < vectors; ++v) sum[v] = _mm256_load_ps(sums + lane_count * v);
    for (std::int32_t j = 0; j < steps; ++j, in_b += lane_count * vectors) {
        const __m256 d = _mm256_broadcast_ss(row + j);
#pragma GCC unroll 8
        for (int v = 0; v < vectors; ++v)
            sum[v] = _mm256_add_ps(sum[v], _mm256_and_ps(d, _mm256_load_ps(in_b + lane_count * v)));
    }
#pragma GCC unroll 8
    for (int v = 0; v < vectors; ++v)
        _mm256_store_ps(sums + lane_count * v,
                        _mm256_blendv_ps(_mm256_load_ps(sums + lane_count * v), sum[v],
                                         _mm256_load_ps(in_a + lane_count * v)));
}

using row_function = void (*)(const float*, const float*, std::int32_t, const float*, float*);

// The row's steps for 1 to 8 vectors, by vector count less one.
constexpr row_function rows[8] = {row_steps<1>, row_steps<2>, row_steps<3>, row_steps<4>,
                                  row_steps<5>, row_steps<6>, row_steps<7>, row_steps<8>};

// Room for each point: its masks (a float's bits for each of 64 lanes) and which lanes
// hold it.
constexpr std::size_t point_bytes = sweep_lanes * sizeof(float) + sizeof(std::uint64_t);

// The unpacked sweep: every lane at every step, its masks read from `room`.
__attribute__((target("avx2"))) void unpacked_sweep(const subset_ref* subsets, int count,
                                                    const version& items, float* scores,
                                                    char* room) {
    const std::int32_t n = items.points;
    const auto vectors = static_cast<int>((count + lane_count - 1) / lane_count);
    const auto per_point = static_cast<std::size_t>(lane_count * vectors);
    // Each point's masks, on a cache line as `room` is; then which lanes hold each point.
    const std::size_t points = static_cast<std::size_t>(n) + 1;
    auto* masks = reinterpret_cast<std::uint32_t*>(room);
    auto* held = reinterpret_cast<std::uint64_t*>(room + per_point * sizeof(float) * points);
    std::memset(masks, 0, per_point * sizeof(float) * points);
    std::memset(held, 0, sizeof(std::uint64_t) * points);
    for (int s = 0; s < count; ++s)
        for (std::int32_t i = 0; i < subsets[s].size; ++i) {
            const auto p = static_cast<std::size_t>(subsets[s].sorted[i]);
            masks[per_point * p + static_cast<std::size_t>(s)] = 0xffffffffU;
            held[p] |= std::uint64_t{1} << s;
        }
    const auto* in = reinterpret_cast<const float*>(masks);

    alignas(32) float sums[sweep_lanes] = {}; // each subset's sum, in its own lane
    const float* row = items.dist.get();      // the row of point a: pairs (a, a+1) .. (a, n)
    for (std::int32_t a = 1; a < n; row += n - a + 1, ++a) {
        if (held[a] == 0) continue; // no pair of its row counts
        rows[vectors - 1](row, in + per_point * (static_cast<std::size_t>(a) + 1), n - a,
                          in + per_point * static_cast<std::size_t>(a), sums);
    }
    for (int s = 0; s < count; ++s) scores[s] = sums[s] / static_cast<float>(subsets[s].size);
}

// ---- the packed sweep, for large files ----

// Past a few hundred points the masks of the unpacked sweep (256 bytes a point) no longer
// stay in the cache near the core, and reading them is what a step waits on. The packed
// sweep reads one 64-bit word a point, which lanes hold it. Within row a only the subsets
// that hold a add anything, so their sums are packed together for the row, in lane order
// (moved out of their lanes at its start, back at its end: nothing else touches them),
// and the lanes of pair (a, b) are the bits of b's word at a's set bits (pext), packed
// lane k being a's k-th subset. Packed vector v's masks are then those of byte v of that
// word, read from a table of every byte's eight masks (8 KB, which stays in the nearest
// cache): d(a, b) & mask, +0.0 where the subset lacks b, added as in the unpacked sweep,
// so the argument above holds lane for lane. Packed lanes past the row's subsets start
// at +0.0, take only +0.0 and are dropped.
//
// A row of a batch's largest subsets needs about two thirds of the vectors, one of its
// smallest far fewer. A vector's step is a load from the table, an and and an add, and two
// integer operations to find its byte (which run beside the vector ones). Measured on Zen
// 3 against the unpacked sweep: about the same at 300 points, from 400 points faster (a
// sixth at 400 and 500, a third at 2000). Making each vector's masks in registers instead
// (a shift of the word that puts each lane's bit in its sign, and a blend) took 11 to 15%
// more time from 850 to 5000 points, three vector operations a vector against two.

// Files of at least this many points take the packed sweep.
constexpr std::int32_t packed_from = 400;

// Every byte's masks for eight lanes: lane l all ones where bit l of the byte is set.
alignas(32) constexpr auto byte_masks = [] {
    std::array<std::array<std::uint32_t, lane_count>, 256> masks{};
    for (unsigned byte = 0; byte < 256; ++byte)
        for (unsigned lane = 0; lane < lane_count; ++lane)
            masks[byte][lane] = (byte >> lane & 1) != 0 ? 0xffffffffU : 0U;
    return masks;
}();

// The steps of row a for `vectors` packed vectors (1 to 8) at `packed`: the lanes of pair
// (a, b) are the bits of b's first word (in_b[2 j]) at a's lanes `low_a`, then, with
// `two`, those of its second word at `high_a` after them, from bit `cnt_low` (below 64).
template <int vectors, bool two>
__attribute__((target("avx2,bmi2"))) void
packed_steps(const float* row, const std::uint64_t* in_b, std::int32_t steps, std::uint64_t low_a,
             std::uint64_t high_a, int cnt_low, float* packed) {
    __m256 sum[vectors];
#pragma GCC unroll 8
    for (int v = 0; v < vectors; ++v) sum[v] = _mm256_load_ps(packed + lane_count * v);
    const char* table = reinterpret_cast<const char*>(byte_masks.data());
    static_assert(sizeof byte_masks[0] == 32); // a byte's masks: 2^5 bytes, as placed below
    for (std::ptrdiff_t j = 0; j < steps; ++j) {
        const __m256 d = _mm256_broadcast_ss(row + j);
        std::uint64_t lanes = _pext_u64(in_b[2 * j], low_a);
        if constexpr (two) lanes |= _pext_u64(in_b[2 * j + 1], high_a) << cnt_low;
#pragma GCC unroll 8
        for (int v = 0; v < vectors; ++v) {
            // Byte v's place in the table: the word shifted so that the byte lands 5 bits
            // up, then the rest masked off.
            const std::uint64_t at =
                (v == 0 ? lanes << 5 : lanes >> (8 * v - 5)) & (std::uint64_t{255} << 5);
            const __m256 in = _mm256_load_ps(reinterpret_cast<const float*>(table + at));
            sum[v] = _mm256_add_ps(sum[v], _mm256_and_ps(d, in));
        }
    }
#pragma GCC unroll 8
    for (int v = 0; v < vectors; ++v) _mm256_store_ps(packed + lane_count * v, sum[v]);
}

using packed_function = void (*)(const float*, const std::uint64_t*, std::int32_t, std::uint64_t,
                                 std::uint64_t, int, float*);

// The packed row's steps for 1 to 8 vectors, by vector count less one, from one word of
// lanes and from both.
constexpr packed_function packed_rows[2][8] = {
    {packed_steps<1, false>, packed_steps<2, false>, packed_steps<3, false>, packed_steps<4, false>,
     packed_steps<5, false>, packed_steps<6, false>, packed_steps<7, false>,
     packed_steps<8, false>},
    {packed_steps<1, true>, packed_steps<2, true>, packed_steps<3, true>, packed_steps<4, true>,
     packed_steps<5, true>, packed_steps<6, true>, packed_steps<7, true>, packed_steps<8, true>}};

// The packed sweep takes two groups of 64 subsets at once, a word of lanes each: a row
// that their subsets hold 64 times or fewer packs both words' lanes together, and more
// take one walk of the row for each word's. A group of a batch's smallest subsets holds
// few of a row's points, so alone it takes one or two vectors a step, whose sums then wait
// on the addition before them (a chain a vector); beside a group of larger ones its
// subsets fill out their last vector instead. At 5000 points, where two batches make two
// groups, one walk for both took a sixth less time than two.
constexpr int call_lanes = 2 * sweep_lanes;

// The vectors the packed sweep takes for a row that `low` and `high` hold: both words'
// lanes together up to 64, else each word's apart.
int packed_vectors(std::uint64_t low, std::uint64_t high) {
    const int cnt_low = std::popcount(low);
    const int cnt_high = std::popcount(high);
    if (cnt_low + cnt_high <= sweep_lanes)
        return (cnt_low + cnt_high + lane_count - 1) / lane_count;
    return (cnt_low + lane_count - 1) / lane_count + (cnt_high + lane_count - 1) / lane_count;
}

// Marks in `room` which lanes hold each point, and returns the marks: two words a point,
// lane l at bit l % 64 of word l / 64. The packed sweep and its count of lane-additions
// both start so.
std::uint64_t* mark_held(const subset_ref* subsets, int count, std::int32_t n, char* room) {
    auto* held = reinterpret_cast<std::uint64_t*>(room);
    std::memset(held, 0, 2 * sizeof(std::uint64_t) * (static_cast<std::size_t>(n) + 1));
    for (int s = 0; s < count; ++s)
        for (std::int32_t i = 0; i < subsets[s].size; ++i)
            held[2 * static_cast<std::size_t>(subsets[s].sorted[i]) +
                 static_cast<std::size_t>(s / 64)] |= std::uint64_t{1} << (s % 64);
    return held;
}

__attribute__((target("avx2,bmi2,popcnt"))) void packed_sweep(const subset_ref* subsets, int count,
                                                              const version& items, float* scores,
                                                              char* room) {
    const std::int32_t n = items.points;
    if (n < packed_from) { // each group of 64 by an unpacked sweep of its own
        for (int first = 0; first < count; first += sweep_lanes)
            unpacked_sweep(subsets + first, std::min(sweep_lanes, count - first), items,
                           scores + first, room);
        return;
    }
    const std::uint64_t* held = mark_held(subsets, count, n, room);

    float sums[call_lanes] = {};               // each subset's sum, in its own lane
    alignas(32) float packed[call_lanes] = {}; // the sums of the row's subsets
    const float* row = items.dist.get();       // the row of point a: pairs (a, a+1) .. (a, n)
    for (std::int32_t a = 1; a < n; row += n - a + 1, ++a) {
        const std::uint64_t low = held[2 * static_cast<std::size_t>(a)];
        const std::uint64_t high = held[2 * static_cast<std::size_t>(a) + 1];
        if ((low | high) == 0) continue; // no pair of its row counts
        const int cnt_low = std::popcount(low);
        const bool together = cnt_low + std::popcount(high) <= sweep_lanes;
        const int low_vectors = (cnt_low + lane_count - 1) / lane_count;
        const int vectors = packed_vectors(low, high);
        // The second word's lanes start right after the first's, or a vector of their own.
        const int high_at = together ? cnt_low : lane_count * low_vectors;
        for (int k = 0; k < lane_count * vectors; ++k) packed[k] = 0.0F;
        int k = 0;
        for (std::uint64_t w = low; w != 0; w &= w - 1) packed[k++] = sums[std::countr_zero(w)];
        k = high_at;
        for (std::uint64_t w = high; w != 0; w &= w - 1)
            packed[k++] = sums[64 + std::countr_zero(w)];
        const std::uint64_t* in_b = held + 2 * (static_cast<std::size_t>(a) + 1);
        if (together && low != 0 && high != 0)
            packed_rows[1][vectors - 1](row, in_b, n - a, low, high, cnt_low, packed);
        else if (together) // one word: the second's lanes are read as a first's
            packed_rows[0][vectors - 1](row, low != 0 ? in_b : in_b + 1, n - a,
                                        low != 0 ? low : high, 0, 0, packed);
        else { // both words hold lanes here, each word's walked apart
            packed_rows[0][low_vectors - 1](row, in_b, n - a, low, 0, 0, packed);
            packed_rows[0][vectors - low_vectors - 1](row, in_b + 1, n - a, high, 0, 0,
                                                      packed + high_at);
        }
        k = 0;
        for (std::uint64_t w = low; w != 0; w &= w - 1) sums[std::countr_zero(w)] = packed[k++];
        k = high_at;
        for (std::uint64_t w = high; w != 0; w &= w - 1)
            sums[64 + std::countr_zero(w)] = packed[k++];
    }
    for (int s = 0; s < count; ++s) scores[s] = sums[s] / static_cast<float>(subsets[s].size);
}

// The lane-additions of the unpacked sweep on up to 64 subsets: every lane of its vectors
// at each step of each row that some subset's point starts.
std::int64_t unpacked_lane_adds(const subset_ref* subsets, int count, std::int32_t n, char* room) {
    auto* held = reinterpret_cast<std::uint64_t*>(room);
    std::memset(held, 0, sizeof(std::uint64_t) * (static_cast<std::size_t>(n) + 1));
    for (int s = 0; s < count; ++s)
        for (std::int32_t i = 0; i < subsets[s].size; ++i)
            held[subsets[s].sorted[i]] |= std::uint64_t{1} << s;
    const auto lanes =
        static_cast<std::int64_t>(lane_count * ((count + lane_count - 1) / lane_count));
    std::int64_t adds = 0;
    for (std::int32_t a = 1; a < n; ++a)
        if (held[a] != 0) adds += lanes * (n - a);
    return adds;
}

// The lane-additions of packed_sweep: under packed_from points each group's unpacked
// sweep's, else each row's packed vectors at each of its steps.
std::int64_t packed_lane_adds(const subset_ref* subsets, int count, std::int32_t n, char* room) {
    std::int64_t adds = 0;
    if (n < packed_from) {
        for (int first = 0; first < count; first += sweep_lanes)
            adds +=
                unpacked_lane_adds(subsets + first, std::min(sweep_lanes, count - first), n, room);
        return adds;
    }
    const std::uint64_t* held = mark_held(subsets, count, n, room);
    for (std::int32_t a = 1; a < n; ++a)
        adds += lane_count *
                packed_vectors(held[2 * static_cast<std::size_t>(a)],
                               held[2 * static_cast<std::size_t>(a) + 1]) *
                std::int64_t{n - a};
    return adds;
}

} // namespace

// A sweep's step, of 64 lanes, costs about four additions of a chain: full runs at 141
// and 1000 points took the least time from 3 to 6 with the unpacked sweep, which runs
// under 400 points. The packed sweep's step costs one: scoring within one process, the
// better of ten, at 500, 2000 and 3000 points was flat from 1 to 4, at 1000 points 1 was
// 7% faster than 4, and at 5000 points (where the table outgrows the last cache and the
// chains wait on memory) 0.5 to 2 were about a third faster than 4.
const kernel_table avx2_kernels = {
    .name = "avx2",
    .block_points = block_points,
    .sort_small = sort_small,
    .sweep = packed_sweep,
    .sweep_lanes = sweep_lanes,
    .sweep_call_lanes = call_lanes,
    .sweep_point_bytes = point_bytes,
    .sweep_step_cost = 4.0,
    .large_points = packed_from,
    .sweep_step_cost_large = 1.0,
    .sweep_lane_adds = packed_lane_adds,
};

// Where pext is slow (microcoded on AMD's Zen 1 and 2), the unpacked sweep at every size.
const kernel_table avx2_unpacked_kernels = {
    .name = "avx2-unpacked",
    .block_points = block_points,
    .sort_small = sort_small,
    .sweep = unpacked_sweep,
    .sweep_lanes = sweep_lanes,
    .sweep_point_bytes = point_bytes,
    .sweep_step_cost = 4.0,
    .sweep_lane_adds = unpacked_lane_adds,
};

} // namespace subset

#endif
