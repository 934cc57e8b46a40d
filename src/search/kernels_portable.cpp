// The portable kernels, for every processor: the block's points four at a time, the
// small sort by one 64-bit word, and a masked sweep of 32 subsets in 4-lane vectors, the
// vectors written with GCC's vector extensions (SSE2 on every x86-64, Advanced SIMD on
// aarch64).
#include <bit>
#include <cstdint>
#include <cstring>

#include "search/kernels.hpp"
#include "search/random.hpp"

namespace subset {

namespace {

// Four lanes of floats and of their bits.
typedef float lanes_f __attribute__((vector_size(16)));
typedef std::uint32_t lanes_u __attribute__((vector_size(16)));

// ---- the block's points ----

// Four at a time, in vectors, by the quotient in doubles: a value v (below 2^31) times
// 1/d is within 2^-21 of v/d, which is at least 1/d (over 2^-17) short of the next whole
// number, so the truncated product is the quotient or one less, and v - q d is the
// remainder or the remainder plus d (as the AVX-512 kernel argues it).
typedef std::int32_t int4 __attribute__((vector_size(16)));
typedef double double4 __attribute__((vector_size(32)));

void block_points(const std::uint32_t* values, std::uint32_t divisor, std::uint32_t* points) {
    const double inverse = 1.0 / divisor;
    const auto d = static_cast<std::int32_t>(divisor);
    for (int i = 0; i < random_block; i += 4) {
        int4 v;
        std::memcpy(&v, values + i, sizeof v);
        v = (int4)((lanes_u)v >> 1);
        const int4 q = __builtin_convertvector(__builtin_convertvector(v, double4) * inverse, int4);
        int4 r = v - q * d;
        r = r - ((r >= d) & d) + 1;
        std::memcpy(points + i, &r, sizeof r);
    }
}

// ---- the small sort ----

// The whole bitmap in a register, so that no store waits for the one before; then its
// set bits, lowest first.
void sort_small(const std::int32_t* drawn, std::int32_t k, std::int32_t, std::int32_t* sorted) {
    std::uint64_t word = 0;
    for (std::int32_t i = 0; i < k; ++i) word |= std::uint64_t{1} << drawn[i];
    for (std::int32_t j = 0; word != 0; word &= word - 1) sorted[j++] = std::countr_zero(word);
}

// ---- the masked sweep ----

// As the AVX2 sweep does it, in vectors of four: every pair (a, b) of the file, walked
// once in file order, is offered to every lane, which adds d(a, b) & m, m being all ones
// where its subset holds b and all zeros where not; at the end of row a, the lanes whose
// subset lacks a are put back to what they held at its start. Each lane's partial sums
// are thus its chain's, bit for bit: see kernels_avx2.cpp for why adding +0.0 is exact.
// On aarch64 too, an addition with one NaN operand returns that NaN, quiet, as it is.

constexpr int sweep_lanes = 32;

constexpr std::ptrdiff_t lane_count = 4;

lanes_f load(const float* p) {
    lanes_f v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

lanes_u load_mask(const std::uint32_t* p) {
    lanes_u v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The steps of row a for `vectors` vectors (1 to 8) of sums at `sums`: `in_b` holds b's
// masks for the first step, a vector's worth of lanes after another, and the next b's
// after them; `in_a` holds a's.
template <int vectors>
void row_steps(const float* row, const std::uint32_t* in_b, std::int32_t steps,
               const std::uint32_t* in_a, float* sums) {
    lanes_f sum[vectors];
#pragma GCC unroll 8
    for (int v = 0; v < vectors; ++v) sum[v] = load(sums + lane_count * v);
    for (std::int32_t j = 0; j < steps; ++j, in_b += lane_count * vectors) {
        const float x = row[j];
        const lanes_u d = (lanes_u)(lanes_f{x, x, x, x});
#pragma GCC unroll 8
        for (int v = 0; v < vectors; ++v)
            sum[v] = sum[v] + (lanes_f)(d & load_mask(in_b + lane_count * v));
    }
#pragma GCC unroll 8
    for (int v = 0; v < vectors; ++v) {
        const lanes_u a = load_mask(in_a + lane_count * v);
        const lanes_u kept = ((lanes_u)sum[v] & a) | ((lanes_u)load(sums + lane_count * v) & ~a);
        std::memcpy(sums + lane_count * v, &kept, sizeof kept);
    }
}

using row_function = void (*)(const float*, const std::uint32_t*, std::int32_t,
                              const std::uint32_t*, float*);

// The row's steps for 1 to 8 vectors, by vector count less one.
constexpr row_function rows[8] = {row_steps<1>, row_steps<2>, row_steps<3>, row_steps<4>,
                                  row_steps<5>, row_steps<6>, row_steps<7>, row_steps<8>};

// Room for each point: its masks (a float's bits for each of 32 lanes) and which lanes
// hold it.
constexpr std::size_t point_bytes = sweep_lanes * sizeof(float) + sizeof(std::uint32_t);

void sweep(const subset_ref* subsets, int count, const version& items, float* scores, char* room) {
    const std::int32_t n = items.points;
    const auto vectors = static_cast<int>((count + lane_count - 1) / lane_count);
    const auto per_point = static_cast<std::size_t>(lane_count * vectors);
    // Each point's masks, then which lanes hold each point.
    const std::size_t points = static_cast<std::size_t>(n) + 1;
    auto* masks = reinterpret_cast<std::uint32_t*>(room);
    auto* held = reinterpret_cast<std::uint32_t*>(room + per_point * sizeof(float) * points);
    std::memset(masks, 0, per_point * sizeof(float) * points);
    std::memset(held, 0, sizeof(std::uint32_t) * points);
    for (int s = 0; s < count; ++s)
        for (std::int32_t i = 0; i < subsets[s].size; ++i) {
            const auto p = static_cast<std::size_t>(subsets[s].sorted[i]);
            masks[per_point * p + static_cast<std::size_t>(s)] = 0xffffffffU;
            held[p] |= std::uint32_t{1} << s;
        }

    float sums[sweep_lanes] = {};        // each subset's sum, in its own lane
    const float* row = items.dist.get(); // the row of point a: pairs (a, a+1) .. (a, n)
    for (std::int32_t a = 1; a < n; row += n - a + 1, ++a) {
        if (held[a] == 0) continue; // no pair of its row counts
        rows[vectors - 1](row, masks + per_point * (static_cast<std::size_t>(a) + 1), n - a,
                          masks + per_point * static_cast<std::size_t>(a), sums);
    }
    for (int s = 0; s < count; ++s) scores[s] = sums[s] / static_cast<float>(subsets[s].size);
}

// The lane-additions of `sweep`: every lane of its vectors at every step of each row that
// some subset's point starts.
std::int64_t sweep_lane_adds(const subset_ref* subsets, int count, std::int32_t n, char* room) {
    auto* held = reinterpret_cast<std::uint32_t*>(room);
    std::memset(held, 0, sizeof(std::uint32_t) * (static_cast<std::size_t>(n) + 1));
    for (int s = 0; s < count; ++s)
        for (std::int32_t i = 0; i < subsets[s].size; ++i)
            held[subsets[s].sorted[i]] |= std::uint32_t{1} << s;
    const std::int64_t lanes = lane_count * ((count + lane_count - 1) / lane_count);
    std::int64_t adds = 0;
    for (std::int32_t a = 1; a < n; ++a)
        if (held[a] != 0) adds += lanes * (n - a);
    return adds;
}

} // namespace

// A sweep's step, of 32 lanes, costs about five additions of a chain: full runs at 141
// and 1000 points took the least time from 4 to 6.
const kernel_table portable_kernels = {
    .name = "portable",
    .block_points = block_points,
    .sort_small = sort_small,
    .sweep = sweep,
    .sweep_lanes = sweep_lanes,
    .sweep_point_bytes = point_bytes,
    .sweep_step_cost = 5.0,
    .sweep_lane_adds = sweep_lane_adds,
};

} // namespace subset
